#include "platform/diskworker.h"

#include <QCoreApplication>

#include <pthread.h>

DiskWorker::DiskWorker()
{
    connect(this, &DiskWorker::resultWaiting, this, &DiskWorker::deliver, Qt::QueuedConnection);
    // One thread: the tasks run in order, and the disk sees one of them at a time.
    thread_ = std::thread([this] { work(); });
    ::pthread_setname_np(thread_.native_handle(), "disk");
}

DiskWorker::~DiskWorker()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    taskGiven_.notify_one();
    thread_.join();
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

void DiskWorker::waitForIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return unfinished_ == 0; });
}

void DiskWorker::queue(QObject* context, Job job, Finish done)
{
    askers_.push_back({context, std::move(done)});
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        ++unfinished_;
    }
    taskGiven_.notify_one();
}

void DiskWorker::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        taskGiven_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping, with every task run
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        std::unique_ptr<Outcome> outcome = job();
        job = nullptr; // the values the task took go here, on the worker
        lock.lock();
        results_.push_back(std::move(outcome));
        // One wake-up for each result, each taking one: a done that turns the loop meets
        // the results that follow its own, in order.
        lock.unlock();
        Q_EMIT resultWaiting(QPrivateSignal());
        lock.lock();
        // Only now, so that the loop is sure to be woken once waitForIdle() returns.
        if (--unfinished_ == 0)
            idle_.notify_all();
    }
}

void DiskWorker::deliver()
{
    std::unique_ptr<Outcome> outcome;
    {
        const std::lock_guard lock(mutex_);
        outcome = std::move(results_.front());
        results_.pop_front();
    }
    // Taken before done runs, which may ask for more.
    const Asker asker = std::move(askers_.front());
    askers_.pop_front();
    if (asker.context)
        asker.done(*outcome);
}
