#include "transfer/partnaming.h"

#include <cerrno>
#include <unistd.h>

int PartNaming::run() const
{
    const int error = linkOpenFile(folderFd, fd, name);
    drop();
    return error;
}

int PartNaming::drop() const
{
    ::close(fd);
    ::close(folderFd);
    return ECANCELED;
}
