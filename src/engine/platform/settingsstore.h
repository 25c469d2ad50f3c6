#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// The per-user store of texts, addressed by section and key. It is an INI file; the
// program's own one lives at $XDG_CONFIG_HOME/Quillo/Quillo.conf.
class SettingsStore
{
public:
    struct ReadError {
        int number = 0;
        QString description;
    };

    explicit SettingsStore(const QString& filePath);

    static QString userFilePath();

    QString fileName() const { return filePath_; }
    // Set when the file exists but cannot be read at all.
    std::optional<ReadError> readError() const { return readError_; }
    // True when part of the file could not be understood: it holds something other than
    // UTF-8 text in lines QSettings would write.
    bool isDamaged() const;
    // Copies the file as it is now next to itself, with the date and time in the new
    // name. Returns the copy's path, or the empty text when the copy failed.
    QString keepCopyAside() const;

    QString read(const QString& section, const QString& key, const QString& fallback) const;
    void write(const QString& section, const QString& key, const QString& value);
    void removeSection(const QString& section);
    void remove(const QString& section, const QString& key);
    // Writes the changes to the file. Returns false when the file does not hold them
    // afterwards.
    bool save();
    // Takes what another copy wrote to the file since.
    void reload() { settings_.sync(); }

private:
    QString filePath_;
    std::optional<ReadError> readError_;
    bool damaged_ = false;
    QSettings settings_;
};
