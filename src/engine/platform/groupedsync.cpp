#include "platform/groupedsync.h"

#include "platform/diskworker.h"

#include <QHash>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

GroupedSync::GroupedSync() = default;

GroupedSync& GroupedSync::instance()
{
    // Left to the end of the program, with the worker whose results it takes.
    static GroupedSync* const syncs = new GroupedSync;
    return *syncs;
}

void GroupedSync::syncFile(QObject* context, int fd, Done done)
{
    ask({{fd, false, {}}, context, std::move(done)});
}

void GroupedSync::syncFolder(QObject* context, int fd, FileIdentity folder, Done done)
{
    ask({{fd, true, folder}, context, std::move(done)});
}

// A group starts in the loop's next turn at the earliest, so that every file finished in
// this turn (a burst of small files read at once) goes with it, in one journal commit.
void GroupedSync::ask(Request request)
{
    waiting_.append(std::move(request));
    if (syncing_ || std::exchange(startAsked_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            startAsked_ = false;
            if (!syncing_ && !waiting_.isEmpty())
                startGroup();
        },
        Qt::QueuedConnection);
}

void GroupedSync::startGroup()
{
    QList<Request> group = std::exchange(waiting_, {});
    QList<Item> items;
    items.reserve(group.size());
    for (const Request& request : group)
        items.append(request.item);
    syncing_ = true;
    DiskWorker::instance().run(
        this,
        [syncer = syncer_, items] {
            const QList<int> errors = syncer(items);
            for (const Item& item : items)
                ::close(item.fd);
            return errors;
        },
        [this, group](const QList<int>& errors) { groupDone(group, errors); });
}

void GroupedSync::groupDone(const QList<Request>& group, const QList<int>& errors)
{
    // What the results ask for next (a folder once its file is named) goes together.
    for (qsizetype i = 0; i < group.size(); ++i) {
        if (group[i].context)
            group[i].done(i < errors.size() ? errors[i] : EIO);
    }
    syncing_ = false;
    if (!waiting_.isEmpty())
        startGroup();
}

QList<int> GroupedSync::syncAll(const QList<Item>& items)
{
    // Every file's writing begins before the first wait, so that the disk takes them all
    // in one go rather than one after another. Only once all of it is written are the files
    // synced: a file's fsync then has only its size and blocks left to record, and the
    // journal takes those of the whole group in a few commits rather than one per file.
    for (const Item& item : items) {
        if (!item.isFolder)
            ::sync_file_range(item.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    // The system tells a failed write to the disk once to each opening of the file, to
    // whichever call waits for it first: the fsync after this wait would not hear of it.
    QList<int> errors(items.size(), 0);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!items[i].isFolder)
            errors[i] = waitForWrites(items[i].fd);
    }
    QHash<QPair<quint64, quint64>, int> folders; // each folder's result, synced once
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        const auto key = qMakePair(item.folder.device, item.folder.inode);
        int error = 0;
        if (item.isFolder && folders.contains(key)) {
            error = folders.value(key);
        } else {
            error = ::fsync(item.fd) == 0 ? 0 : errno;
            if (item.isFolder)
                folders.insert(key, error);
        }
        if (errors[i] == 0)
            errors[i] = error;
    }
    return errors;
}

int GroupedSync::waitForWrites(int fd)
{
    const int flags =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (::sync_file_range(fd, 0, 0, flags) == 0)
        return 0;
    // Where the system does not take the hint for this file, the fsync does all the work.
    return errno == EINVAL || errno == ESPIPE || errno == ENOSYS ? 0 : errno;
}
