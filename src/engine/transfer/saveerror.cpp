#include "transfer/saveerror.h"

#include <cerrno>
#include <cstring>

QString saveErrorText(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("your disk quota is used up");
    case EFBIG:
        return QStringLiteral("the file is larger than this system lets a program write");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}
