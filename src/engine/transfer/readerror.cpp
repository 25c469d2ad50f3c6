#include "transfer/readerror.h"

#include <QFile>

#include <unistd.h>

QString shortReadText(const QFileDevice& file)
{
    return file.error() != QFileDevice::NoError
               ? file.errorString()
               : QStringLiteral("The file has become shorter than it was");
}

BlockRead readBlockAt(int fd, qint64 from, qint64 length)
{
    BlockRead read;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        read.error = file.errorString();
    } else if (!file.seek(from)) {
        read.error = file.errorString();
    } else if (read.bytes = file.read(length); read.bytes.size() != length) {
        read.error = shortReadText(file);
    }
    return read;
}
