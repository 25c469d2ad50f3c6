#pragma once

#include "platform/heldfolder.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

// Syncs files and folders on the disk worker, in groups: whatever is asked for while the
// worker syncs one group waits and goes with the next, so a burst of small files costs
// about as many waits for the disk as there are groups, not as there are files. Within a
// group every file is first given to the system to write, then synced; a folder asked for
// several times in a group is synced once.
//
// The order callers rely on is theirs to keep: a file's name is made only once its sync
// has come back, and the sync of its folder is asked for only after that.
class GroupedSync : public QObject
{
    Q_OBJECT

public:
    // Gets 0 or the system's error number.
    using Done = std::function<void(int error)>;

    // The program's syncs, made on first use; use it from the event loop's thread only.
    static GroupedSync& instance();

    // Syncs the file open as fd, a descriptor the caller gives up (it is closed after);
    // done follows on the event loop unless context is gone by then.
    void syncFile(QObject* context, int fd, Done done);
    // The same for a folder; folder tells it from others in the group.
    void syncFolder(QObject* context, int fd, FileIdentity folder, Done done);

    // What a group does with the descriptors it was given, in order, before they are
    // closed: each result is 0 or the system's error number. Runs on the worker; tests
    // may stand in for it.
    struct Item {
        int fd = -1;
        bool isFolder = false;
        FileIdentity folder;
    };
    using Syncer = std::function<QList<int>(const QList<Item>& items)>;
    void setSyncer(Syncer syncer) { syncer_ = std::move(syncer); }
    static QList<int> syncAll(const QList<Item>& items);

private:
    static int waitForWrites(int fd);
    struct Request {
        Item item;
        QPointer<QObject> context;
        Done done;
    };

    GroupedSync();
    void ask(Request request);
    void startGroup();
    void groupDone(const QList<Request>& group, const QList<int>& errors);

    QList<Request> waiting_;
    bool syncing_ = false;
    bool startAsked_ = false; // a group starts in the loop's next turn
    Syncer syncer_ = &GroupedSync::syncAll;
};
