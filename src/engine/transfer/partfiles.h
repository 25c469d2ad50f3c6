#pragma once

#include "platform/heldfolder.h"
#include "transfer/partnaming.h"
#include "transfer/receiverlimits.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

// Who a part file comes from: the sender's address and, on the private port, its key.
struct PartSender {
    QString address;
    QByteArray key;        // as the address book holds it; empty on the plain port
    bool keyKnown = false; // an entry of the address book held the key
};

// The part files this receiver made and that are not whole yet, each tied to the sender
// that began it. Only such a file, and only for that sender, is ever taken over by a new
// transfer of the same name; anything else under a ".part" name is left alone. The index
// lives in a small JSON file, so that a leftover is still ours after a restart; each
// entry keeps the file's device and inode, so that a file put in its place since is not
// mistaken for ours. A part file left untouched for a week is removed, and so is one
// whose sender's key the address book no longer holds.
//
// The index is written on the disk worker, in order, and the event loop never waits for
// it. A file is made with no name (ReceiveFile) and takes its part name only after the
// index that knows it is on the disk, so that no crash can leave a part file the index
// never knew: a large file at once, a small one only if its transfer is let go of before
// the end. Until then it is counted as any other, and its part name is spoken for.
//
// Where the system cannot make a file with no name, the part file is made at once and
// announced to the index, without waiting for that write: a crash between the two can
// leave a part file the index does not know, which is then left alone. An entry found
// without a device and inode after a crash takes the file under its name if that is a
// regular file of this user's with no other name.
//
// A part file from the private port can be continued: the same key offering the same
// path and size again finds it through resumable(), wherever the sender is now.
//
// Senders outside the address book share a bounded room: their part files may together
// take at most strangerBytes (counted at the sizes their senders announced), and never
// more than half of what the disk has free for them, nor be more than strangerFiles. The
// files and folders made for them are counted too, against caps per connection and for
// all of them while the receiver runs, and against half of the disk's free inodes. A
// sender on the plain port is a stranger unless its address's entry holds no key: an
// entry with a key sends only privately, so plain bytes from its address may be anyone's.
class PartFiles : public QObject
{
    Q_OBJECT

public:
    using KnownSenders = std::function<bool(const QString& peer, bool privately)>;
    using HeldKeys = std::function<bool(const QByteArray& key)>;
    // The inodes free for us in folder's file system; nothing when it does not say.
    using FreeInodes = std::function<std::optional<qint64>(const QString& folder)>;

    explicit PartFiles(QObject* parent = nullptr);
    // Writes what has changed since the last write, and waits for the writes under way:
    // the end of the program is the one time it waits for the disk.
    ~PartFiles() override;

    // Reads the index from filePath, the first time only. A missing or damaged index is an
    // empty one. Entries whose file is gone or is another file now are dropped.
    void open(const QString& filePath);
    void setKnownSenders(KnownSenders known) { known_ = std::move(known); }
    // Which keys the address book holds; without it, none is ever taken as forgotten.
    void setHeldKeys(HeldKeys held) { held_ = std::move(held); }
    void setStrangerLimits(const ReceiverLimits& limits);
    void setFreeInodes(FreeInodes free) { freeInodes_ = std::move(free); }

    // What the part file at path was recorded as, when it is one of ours from sender that
    // no transfer writes now and it may be taken over; nothing otherwise.
    std::optional<FileIdentity> leftover(const QString& path, const PartSender& sender) const;
    // What the part file of ours at path was recorded as; nothing when it is none.
    std::optional<FileIdentity> recorded(const QString& path) const;
    // The part file of ours that key began for the file offered as offered, of size bytes;
    // the newest when there are several. One that a transfer writes now is let go first:
    // the sender has given that connection up, which this side may not have noticed yet.
    std::optional<QString> resumable(const QByteArray& key, const QByteArray& offered, qint64 size);
    // How the transfer writing path is ended, for resumable(); until it keeps or forgets it.
    void setLetGo(const QString& path, std::function<void()> letGo);
    // A part file is about to be made at path for begin(), where no file with no name could
    // be made: it is recorded, and the index written at once.
    void announce(const QString& path, const PartSender& sender, const QByteArray& offered,
                  qint64 size);
    // A transfer from sender now writes path, the file identity, made anew or taken over,
    // for the file offered as offered (its path on the private port, its name on the plain
    // one), of size bytes. An unnamed one has no name yet, and path is the part name it
    // would take.
    void begin(const QString& path, const PartSender& sender, const QByteArray& offered,
               qint64 size, FileIdentity identity, bool unnamed = false);
    // Whether a transfer writes a file that has, or will have, path as its part name.
    bool reserves(const QString& path) const;
    // Writes the index with path's entry in it, then gives the file its part name through
    // naming, on the worker. If the name is taken by then, the entry goes; if the entry went
    // meanwhile (the file whole, or discarded), the name given goes again.
    void nameWhenIndexed(const QString& path, PartNaming naming);
    // The transfer writing path has ended and leaves it a part file; written at once. A
    // file with no name yet takes path through naming, as nameWhenIndexed() does. False
    // when path is not recorded (any more), and nothing is kept.
    bool keep(const QString& path, std::optional<PartNaming> naming = std::nullopt);
    // path is no part file of ours any more: it is whole, or removed.
    void forget(const QString& path);
    // Whether a file of size bytes from sender may begin in saveFolder, making inodes files
    // and folders where its connection made madeBefore, after removing the oldest part
    // files of other senders outside the address book if that makes room. Always true for
    // the senders in the address book. The inodes are counted as made from then on.
    bool makeRoom(const PartSender& sender, qint64 size, const QString& saveFolder, int inodes,
                  int madeBefore);
    // Inodes that makeRoom() counted and that were not made after all.
    void giveBack(const PartSender& sender, int inodes);
    // Removes the part files of keys that the address book held once and holds no more.
    void removeForgotten();

    // Runs then once the index holds what is known now, and the part names on their way
    // have come: at once when nothing is being written.
    void whenWritten(std::function<void()> then);

    // The problem met writing the index since last asked, if any.
    std::optional<QString> takeProblem() { return std::exchange(problem_, std::nullopt); }

private:
    struct Entry {
        QString peer;
        QByteArray key;
        bool keyKnown = false;
        QByteArray offered;
        qint64 size = 0;
        QDateTime since;             // when a transfer last began or left it
        FileIdentity identity;       // not known yet between announce() and begin()
        bool busy = false;           // a transfer writes it now; not kept in the index
        bool unnamed = false;        // has no name yet: not in the index
        bool naming = false;         // its part name is on its way from the worker
        std::function<void()> letGo; // ends that transfer
    };

    // What part files of strangers take.
    struct Use {
        qint64 announced = 0;
        qint64 onDisk = 0;
        int files = 0;
    };

    Use strangerUse(bool busyOnly) const;
    qint64 strangerRoom(const QString& folder) const;
    bool isOurs(const QString& path, const Entry& entry) const;
    bool adopt(const QString& path, Entry& entry) const;
    bool isStranger(const QString& peer, const QByteArray& key) const;
    bool hasInodesFor(int inodes, int madeBefore, const QString& folder) const;
    void removeStale();
    void remove(const QString& path);
    std::optional<QString> oldestIdleStranger() const;
    void load();
    QByteArray serialized() const;
    void saveLater();
    void save();
    void write(const QString& path, std::optional<PartNaming> naming);
    void written(const QString& error);
    void named(const QString& path, FileIdentity identity, int error);

    QString filePath_;
    QMap<QString, Entry> entries_; // by the part file's path
    KnownSenders known_;
    HeldKeys held_;
    FreeInodes freeInodes_;
    ReceiverLimits limits_;
    int strangerMade_ = 0; // files and folders made for strangers while the receiver runs
    QTimer saveTimer_;
    QByteArray saved_; // what the index file holds once the writes under way are done
    int writes_ = 0;   // under way on the disk worker
    QString dropping_; // a file with no name being let go of, not to be kept
    QList<std::function<void()>> whenWritten_;
    std::optional<QString> problem_;
};
