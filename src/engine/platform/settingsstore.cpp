#include "platform/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// QSettings quietly treats a file it cannot read as empty, and would then overwrite it.
// We look first, so that such a file is reported instead.
std::optional<SettingsStore::ReadError> probeReadable(const QString& filePath)
{
    const QByteArray path = QFile::encodeName(filePath);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return SettingsStore::ReadError{errno, QString::fromLocal8Bit(std::strerror(errno))};
    }
    char byte = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    const int readErrno = errno;
    ::close(fd);
    if (got < 0)
        return SettingsStore::ReadError{readErrno,
                                        QString::fromLocal8Bit(std::strerror(readErrno))};
    return std::nullopt;
}

// A line QSettings could have written: blank, a comment, a [section] or a key=value, all
// of it text.
bool isSettingsLine(QStringView line)
{
    if (line.endsWith(u'\r'))
        line.chop(1);
    for (const QChar c : line) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
            return false;
    }
    const QStringView trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#'))
        return true;
    if (trimmed.startsWith(u'['))
        return trimmed.size() > 2 && trimmed.endsWith(u']');
    return trimmed.indexOf(u'=') > 0;
}

// QSettings reads past bytes that are not text and lines it cannot make sense of without a
// word, and would write the file back without them. We look first, so that the file is
// kept aside instead.
bool isWellFormed(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return true; // missing; one that cannot be read is caught by probeReadable
    // A leading BOM is skipped, as QSettings does.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(file.readAll());
    if (utf8.hasError())
        return false;
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    return std::all_of(lines.begin(), lines.end(), isSettingsLine);
}

// True when the file reads back as exactly the keys and values held in memory. QSettings
// keeps only the first error it meets, so after a damaged file a failed write goes
// unreported; reading back is the one sure test. It reads a copy, because QSettings shares
// one in-memory state per path, unwritten changes included.
bool fileHolds(const QString& filePath, const QSettings& expected)
{
    QTemporaryFile copy;
    if (!copy.open())
        return false;
    QFile file(filePath);
    if (file.open(QIODevice::ReadOnly)) {
        if (copy.write(file.readAll()) < 0)
            return false;
    } else if (file.exists()) {
        return false;
    }
    copy.close();

    const QSettings onDisk(copy.fileName(), QSettings::IniFormat);
    QStringList keys = expected.allKeys();
    QStringList keysOnDisk = onDisk.allKeys();
    keys.sort();
    keysOnDisk.sort();
    if (keys != keysOnDisk)
        return false;
    return std::all_of(keys.cbegin(), keys.cend(), [&](const QString& key) {
        return onDisk.value(key) == expected.value(key);
    });
}

QString sectionKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

SettingsStore::SettingsStore(const QString& filePath)
    : filePath_(filePath), readError_(probeReadable(filePath)),
      damaged_(!readError_ && !isWellFormed(filePath)), settings_(filePath, QSettings::IniFormat)
{
}

QString SettingsStore::userFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillo/Quillo.conf");
}

bool SettingsStore::isDamaged() const
{
    // Not QSettings' FormatError: it is set only once the section at fault is read, and it
    // counts a '#' comment as damage.
    return damaged_;
}

QString SettingsStore::keepCopyAside() const
{
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    const QString copyPath = filePath_ + QStringLiteral(".damaged-") + stamp;
    return QFile::copy(filePath_, copyPath) ? copyPath : QString();
}

QString SettingsStore::read(const QString& section, const QString& key,
                            const QString& fallback) const
{
    return settings_.value(sectionKey(section, key), fallback).toString();
}

void SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    settings_.setValue(sectionKey(section, key), value);
}

void SettingsStore::removeSection(const QString& section)
{
    settings_.remove(section);
}

void SettingsStore::remove(const QString& section, const QString& key)
{
    settings_.remove(section + QLatin1Char('/') + key);
}

bool SettingsStore::save()
{
    settings_.sync();
    return fileHolds(filePath_, settings_);
}
