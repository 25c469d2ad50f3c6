#include "platform/durablewrite.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int writeAll(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        next += written;
        left -= written;
    }
    return 0;
}

int syncAndClose(int fd)
{
    if (fd < 0)
        return EBADF;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

int syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    return fd < 0 ? errno : syncAndClose(fd);
}
