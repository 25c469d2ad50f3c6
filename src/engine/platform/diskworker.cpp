#include "platform/diskworker.h"

#include <QCoreApplication>

DiskWorker::DiskWorker()
{
    // One thread: the tasks run in order, and the disk sees one of them at a time.
    pool_.setMaxThreadCount(1);
    pool_.setObjectName(QStringLiteral("disk"));
}

DiskWorker& DiskWorker::instance()
{
    // Left to the end of the program: a task may still be running when the last object
    // that asked for one is gone.
    static DiskWorker* const worker = [] {
        auto* made = new DiskWorker;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, made,
                         [made] { made->waitForIdle(); });
        return made;
    }();
    return *worker;
}
