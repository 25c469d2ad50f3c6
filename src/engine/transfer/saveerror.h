#pragma once

#include <QString>

// What went wrong writing a received file, from the system's error number, in words a
// user acts on: "the disk is full" rather than the system's own "No space left on device".
QString saveErrorText(int error);
