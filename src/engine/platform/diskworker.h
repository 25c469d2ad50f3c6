#pragma once

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <utility>

// The one thread on which this program waits for the disk: syncs, and reading back what
// it wrote. Everything else, sockets, timers and the window, stays on the event loop,
// which a slow disk must never hold up.
//
// Tasks run one at a time, in the order given. A task takes values (descriptors of its
// own among them, which it closes) and returns a value; nothing else is shared. Its result
// comes back on the event loop, to whoever asked, unless that object is gone by then.
class DiskWorker : public QObject
{
    Q_OBJECT

public:
    // The program's worker, made on first use; use it from the event loop's thread only.
    static DiskWorker& instance();

    // Runs task on the worker, then done(its result) on the event loop, unless context
    // is deleted first.
    template <typename Task, typename Done> void run(QObject* context, Task task, Done done)
    {
        const QPointer<QObject> guard(context);
        pool_.start([this, guard, task = std::move(task), done = std::move(done)]() mutable {
            auto result = task();
            QMetaObject::invokeMethod(
                this,
                [guard, done = std::move(done), result = std::move(result)]() mutable {
                    if (guard)
                        done(std::move(result));
                },
                Qt::QueuedConnection);
        });
    }

    // Waits until every task given so far has run; their results still come through the
    // event loop. For the end of the program.
    void waitForIdle() { pool_.waitForDone(); }

private:
    DiskWorker();

    QThreadPool pool_;
};
