#include "platform/runtimefolder.h"

#include <QStandardPaths>

QString userRuntimeFolder()
{
    // Asked without it, Qt would make a folder of its own in /tmp, saying so.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return {};
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}
