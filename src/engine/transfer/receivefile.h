#pragma once

#include <QFile>
#include <QString>

#include <functional>
#include <optional>

// The file being received. It is written as "<name>.part" and takes its final name only
// once it is whole and on the disk, so a file under its final name is always complete,
// power cut or not. Neither name may exist before: nothing in the save folder is ever
// replaced, and a link planted under either name is never followed. The one exception is
// a part file that this receiver left behind itself, from a transfer of the same name
// from the same sender that broke off: that sender trying again takes it over, instead
// of leaving one more part file each time.
class ReceiveFile
{
public:
    // Whether the part file at path is a leftover that may be taken over.
    using IsLeftover = std::function<bool(const QString& path)>;

    // Creates the part file for a received name in folder, or takes over a leftover.
    // Returns false when it could not be created; error() then says why.
    bool create(const QString& folder, const QString& name, const IsLeftover& isLeftover);
    // Opens partPath, a leftover part file of a file of size bytes, to go on writing at
    // its end. Returns the bytes it holds, or nothing when it cannot be continued.
    std::optional<qint64> resume(const QString& partPath, qint64 size);
    // The name the file will have once whole.
    const QString& finalName() const { return finalName_; }

    // Returns false when not every byte could be written; error() then says why.
    bool write(const QByteArray& bytes);
    // Closes the file. A complete file is synced and takes its final name, and its folder
    // is synced; one that is not stays a part file. Returns false when the complete file
    // could not be synced or named; it then stays a part file too.
    bool close(bool complete);
    // Closes the file and removes it, giving its space back.
    void discard();

    bool isOpen() const { return part_.isOpen(); }
    // Where the bytes are: the final path once whole and named, the part file before.
    QString path() const;

    const QString& error() const { return error_; }

private:
    bool takeFinalName();
    void writeBack();

    QFile part_;
    QString partPath_;
    QString folder_;
    QString finalName_;
    QString error_;
    bool named_ = false;
    qint64 written_ = 0;     // bytes written since the file was opened
    qint64 writtenBack_ = 0; // of those, how many the system was asked to write out
};
