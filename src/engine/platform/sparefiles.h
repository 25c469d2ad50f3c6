#pragma once

#include "platform/heldfolder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <vector>

// Files with no name, made ahead in the save folder on the disk worker. Making a file can
// keep the file system looking for a free place for it for milliseconds on end (ext4
// without a journal walks past every place freed in the last minutes), and a burst of
// small files makes one each: made on the event loop, they would hold up the window and
// every transfer. A file taken from here costs the loop nothing; when none is ready, the
// caller waits for one or makes its own.
//
// A spare goes wherever a file made in the save folder would: into the save folder, or
// into a folder made inside it, which took from it what a new file takes from its folder
// (the group of a set-group folder, the default access list), as long as it is on the
// same file system.
class SpareFiles : public QObject
{
    Q_OBJECT

public:
    // The program's spares, made on first use; use it from the event loop's thread only.
    static SpareFiles& instance();
    ~SpareFiles() override;

    // A file with no name made in saveFolder, open for writing, the caller's to close, for
    // a file to be made in folder; -1 when none is ready for folder. More are made as the
    // spares run low, in saveFolder as its path leads now.
    int take(const QString& saveFolder, const HeldFolder& folder);

    // For a caller that can wait: then(fd) follows on the event loop with a file for folder,
    // as take() gives it, once one is made, or with -1 when none can be; never inside this
    // call, and not once context is gone. False when none is on its way: the caller makes
    // its own.
    bool await(QObject* context, const HeldFolder& folder, std::function<void(int fd)> then);

    int ready() const { return int(spares_.size()); }
    // The spares go once none has been taken for this long, so that open files of ours do
    // not keep the save folder's file system busy (a drive about to be taken out).
    void setIdleTime(std::chrono::milliseconds time) { idle_.setInterval(time); }

private:
    // What the worker made: the files, and the save folder's identity they were made in.
    struct Made {
        FileIdentity home;
        std::vector<int> fds;
    };

    struct Waiter {
        QPointer<QObject> context;
        quint64 device = 0; // of the folder the file is for
        std::function<void(int fd)> then;
    };

    SpareFiles();
    // One for a file to be made on device, or -1.
    int takeFor(quint64 device);
    void makeMore();
    void serveWaiters();
    void made(const QString& home, Made made);
    void drop();

    QString home_; // the save folder's path
    FileIdentity homeIdentity_;
    std::vector<int> spares_;
    std::deque<Waiter> waiters_;
    QTimer idle_;
    bool making_ = false;
    bool barren_ = false; // the save folder's file system made none
};
