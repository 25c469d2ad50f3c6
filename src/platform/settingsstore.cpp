#include "platform/settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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

QString sectionKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

SettingsStore::SettingsStore(const QString& filePath)
    : filePath_(filePath), readError_(probeReadable(filePath)),
      settings_(filePath, QSettings::IniFormat)
{
}

QString SettingsStore::userFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillo/Quillo.conf");
}

bool SettingsStore::isDamaged() const
{
    return settings_.status() == QSettings::FormatError;
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

bool SettingsStore::save()
{
    settings_.sync();
    return settings_.status() != QSettings::AccessError;
}
