#include "platform/diskworker.h"

#include <QSemaphore>
#include <QtTest>

#include <memory>
#include <vector>

namespace
{

constexpr int kWaitMs = 10000;

} // namespace

// The worker's hand-overs to and from the event loop. Built with ThreadSanitizer, these
// are where a task or a result that crossed without an order would show.
class TestDiskWorker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void manyTasksComeBackInOrder();
    void aResultForAnAskerGoneIsDropped();
    void aDoneThatTurnsTheLoopMeetsTheResultsAfterItInOrder();
};

// Tasks given while the worker is busy wait their turn, each with values of its own, and
// each result goes to the done given with its task.
void TestDiskWorker::manyTasksComeBackInOrder()
{
    constexpr int kTasks = 500;
    QObject asker;
    QSemaphore hold;
    std::vector<int> seen;
    DiskWorker& worker = DiskWorker::instance();
    worker.run(
        &asker,
        [&hold] {
            hold.acquire();
            return -1;
        },
        [&seen](int first) { seen.push_back(first); });
    for (int i = 0; i < kTasks; ++i) {
        worker.run(
            &asker, [values = std::vector<int>(8, i)] { return values; },
            [&seen, i](const std::vector<int>& values) {
                if (values == std::vector<int>(8, i))
                    seen.push_back(i);
            });
    }
    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(int(seen.size()), kTasks + 1, kWaitMs);
    for (int i = 0; i <= kTasks; ++i)
        QCOMPARE(seen[std::size_t(i)], i - 1);
}

// Only the asker still there is told; once the worker is idle, its result is already on
// the way.
void TestDiskWorker::aResultForAnAskerGoneIsDropped()
{
    auto gone = std::make_unique<QObject>();
    QObject kept;
    QList<int> told;
    DiskWorker& worker = DiskWorker::instance();
    worker.run(
        gone.get(), [] { return 1; }, [&told](int result) { told.append(result); });
    worker.run(
        &kept, [] { return 2; }, [&told](int result) { told.append(result); });
    gone.reset();
    worker.waitForIdle();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(told, QList<int>{2});
}

// A done may ask for more and wait for it on a loop of its own; the results already
// waiting still come first.
void TestDiskWorker::aDoneThatTurnsTheLoopMeetsTheResultsAfterItInOrder()
{
    QObject asker;
    QList<int> told;
    DiskWorker& worker = DiskWorker::instance();
    const auto append = [&told](int result) { told.append(result); };
    worker.run(
        &asker, [] { return 1; },
        [&](int result) {
            told.append(result);
            worker.run(
                &asker, [] { return 4; }, append);
            QTRY_VERIFY_WITH_TIMEOUT(told.size() >= 3, kWaitMs);
        });
    worker.run(
        &asker, [] { return 2; }, append);
    worker.run(
        &asker, [] { return 3; }, append);
    QTRY_COMPARE_WITH_TIMEOUT(told.size(), 4, kWaitMs);
    QCOMPARE(told, (QList<int>{1, 2, 3, 4}));
}

QTEST_GUILESS_MAIN(TestDiskWorker)
#include "tst_diskworker.moc"
