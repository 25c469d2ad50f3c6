#include "platform/sparefiles.h"

#include "platform/diskworker.h"

#include <unistd.h>

namespace
{

constexpr int kCapacity = 64;            // more are made once half of them are taken
constexpr std::chrono::seconds kIdle{5}; // a burst's files follow each other closer

void closeAll(const std::vector<int>& fds)
{
    for (const int fd : fds)
        ::close(fd);
}

} // namespace

SpareFiles& SpareFiles::instance()
{
    // Left to the end of the program, with the worker whose results it takes.
    static SpareFiles* const spares = new SpareFiles;
    return *spares;
}

SpareFiles::SpareFiles()
{
    idle_.setSingleShot(true);
    idle_.setInterval(kIdle);
    connect(&idle_, &QTimer::timeout, this, &SpareFiles::drop);
}

SpareFiles::~SpareFiles()
{
    drop();
}

int SpareFiles::take(const QString& saveFolder, const HeldFolder& folder)
{
    if (saveFolder != home_) {
        drop();
        home_ = saveFolder;
    }
    idle_.start();
    const int fd = folder.isOpen() ? takeFor(folder.identity().device) : -1;
    if (int(spares_.size()) <= kCapacity / 2)
        makeMore();
    return fd;
}

bool SpareFiles::await(QObject* context, const HeldFolder& folder, std::function<void(int fd)> then)
{
    if (barren_ || home_.isEmpty() || !folder.isOpen())
        return false;
    waiters_.push_back({context, folder.identity().device, std::move(then)});
    makeMore();
    return true;
}

int SpareFiles::takeFor(quint64 device)
{
    if (spares_.empty() || device != homeIdentity_.device)
        return -1;
    const int fd = spares_.back();
    spares_.pop_back();
    return fd;
}

void SpareFiles::makeMore()
{
    if (making_ || barren_ || home_.isEmpty())
        return;
    making_ = true;
    const int count = kCapacity - int(spares_.size()) + int(waiters_.size());
    DiskWorker::instance().run(
        this,
        [home = home_, count] {
            Made made;
            const HeldFolder folder = HeldFolder::open(home);
            if (!folder.isOpen())
                return made;
            made.home = folder.identity();
            for (int i = 0; i < count; ++i) {
                const int fd = folder.makeUnnamed();
                if (fd < 0)
                    break;
                made.fds.push_back(fd);
            }
            return made;
        },
        [this, home = home_](Made result) { made(home, std::move(result)); });
}

void SpareFiles::made(const QString& home, Made made)
{
    making_ = false;
    if (home != home_ || !made.home.isKnown()) {
        closeAll(made.fds); // the save folder changed meanwhile, or could not be opened
        barren_ = home == home_;
    } else {
        // The save folder's path leads to another folder now: what was made in the one
        // before goes.
        if (made.home != homeIdentity_) {
            closeAll(std::exchange(spares_, {}));
            homeIdentity_ = made.home;
        }
        // A file system that cannot make files with no name is not asked again.
        barren_ = made.fds.empty();
        spares_.insert(spares_.end(), made.fds.begin(), made.fds.end());
    }
    serveWaiters();
    if (!waiters_.empty())
        makeMore();
}

// In the order they came; one whose folder the spares cannot serve makes its own.
void SpareFiles::serveWaiters()
{
    while (!waiters_.empty()) {
        Waiter& next = waiters_.front();
        if (!next.context) {
            waiters_.pop_front();
            continue;
        }
        const bool serves = next.device == homeIdentity_.device && !home_.isEmpty();
        if (serves && spares_.empty() && !barren_)
            return;
        const Waiter waiter = std::move(next);
        waiters_.pop_front();
        waiter.then(serves ? takeFor(waiter.device) : -1);
    }
}

void SpareFiles::drop()
{
    closeAll(std::exchange(spares_, {}));
    homeIdentity_ = {};
    home_.clear();
    barren_ = false;
}
