#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

// The one thread on which this program waits for the disk: syncs, and reading back what
// it wrote. Everything else, sockets, timers and the window, stays on the event loop,
// which a slow disk must never hold up.
//
// Tasks run one at a time, in the order given. A task takes values (descriptors of its
// own among them, which it closes) and returns a value; nothing else is shared. Its result
// comes back on the event loop, to whoever asked, unless that object is gone by then.
//
// Tasks and results cross between the two threads through the worker's own queues, under
// its own lock, and nowhere else: a hand-over through Qt's queues is made under locks that
// ThreadSanitizer cannot see, as Qt is not built with it. The loop is woken by a signal
// that carries nothing; who asked, and what is to be done with the result, stay on the loop.
class DiskWorker : public QObject
{
    Q_OBJECT

public:
    // The program's worker, made on first use; use it from the event loop's thread only.
    static DiskWorker& instance();
    ~DiskWorker() override;

    // Runs task on the worker, then done(its result) on the event loop, unless context
    // is deleted first.
    template <typename Task, typename Done> void run(QObject* context, Task task, Done done)
    {
        using Result = std::decay_t<std::invoke_result_t<Task&>>;
        queue(
            context,
            [task = std::move(task)]() mutable -> std::unique_ptr<Outcome> {
                return std::make_unique<OutcomeOf<Result>>(task());
            },
            [done = std::move(done)](Outcome& outcome) mutable {
                done(std::move(static_cast<OutcomeOf<Result>&>(outcome).result));
            });
    }

    // Waits until every task given so far has run; their results still come through the
    // event loop. For the end of the program.
    void waitForIdle();

Q_SIGNALS:
    // Sent from the worker for each result it queues.
    void resultWaiting(QPrivateSignal);

private:
    // A task's result, whatever its type, on its way to the loop.
    struct Outcome {
        virtual ~Outcome() = default;
    };
    template <typename Result> struct OutcomeOf : Outcome {
        explicit OutcomeOf(Result made) : result(std::move(made)) {}
        Result result;
    };
    using Job = std::function<std::unique_ptr<Outcome>()>;
    using Finish = std::function<void(Outcome&)>;
    struct Asker {
        QPointer<QObject> context;
        Finish done;
    };

    DiskWorker();
    void queue(QObject* context, Job job, Finish done);
    void work();
    void deliver();

    // The loop's own: one for each task whose result it has not yet taken, in order.
    std::deque<Asker> askers_;

    std::mutex mutex_;
    std::condition_variable taskGiven_;
    std::condition_variable idle_;
    // Guarded by mutex_.
    std::deque<Job> jobs_;
    std::deque<std::unique_ptr<Outcome>> results_;
    int unfinished_ = 0; // given, and not yet run with its result queued
    bool stopping_ = false;

    std::thread thread_;
};
