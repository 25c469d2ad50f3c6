#pragma once

#include <QByteArray>

// Tells the service manager that started this process, when one did (NOTIFY_SOCKET is
// set), how it is: "READY=1" once it works, "STATUS=..." for what it does. Nothing
// happens otherwise, and a message that cannot be sent is dropped: the service manager
// then sees the process as it would without it.
void tellServiceManager(const QByteArray& state);
