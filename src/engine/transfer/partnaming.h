#pragma once

#include "platform/heldfolder.h"

#include <QByteArray>

// What the disk worker needs to give a file with no name its part name: descriptors of its
// own for the folder and the file, which it closes, the name, and which file that is.
struct PartNaming {
    int folderFd = -1;
    int fd = -1;
    QByteArray name;
    FileIdentity identity;

    // Links the file under name, never over another; returns 0 or the system's error
    // number. Closes both descriptors. For the disk worker.
    int run() const;
    // Closes both descriptors; returns ECANCELED, as the name was not given.
    int drop() const;
};
