#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// One file that arrived whole.
struct ReceivedEntry {
    QDateTime time;
    QString name; // as the sender announced it
    qint64 size = 0;
    QString peer;           // the sender: the address book's name for the address, or the address
    QString path;           // where it was saved
    bool isPrivate = false; // it came on the private port
    QString folder = {};    // the received folder it went into; empty for a loose file
};

// The files received lately, newest first, kept in a JSON file of their own so that they
// are there after a restart. Only the last kKept are kept.
//
// The file is written on the disk worker, never on the event loop: a burst of small files
// would otherwise rewrite and sync it once for each. Entries added while a write is under
// way go together in the one write after it.
class ReceivedHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int kKept = 100;

    // Reads what the file holds. A missing file is an empty history; entries that cannot
    // be understood are skipped.
    explicit ReceivedHistory(const QString& filePath, QObject* parent = nullptr);
    // Finishes the writes: the program may be ending.
    ~ReceivedHistory() override;

    const QString& filePath() const { return filePath_; }
    const QList<ReceivedEntry>& entries() const { return entries_; }
    // Reads the file anew, as another copy of this user may have added to it.
    void reload();

    // Puts the entry first at once; the file follows on the disk worker.
    void add(const ReceivedEntry& entry);
    // Calls then once the file holds every entry added so far, or could not be written; at
    // once when nothing is left to write. For handing the ports to another copy, which
    // reads the file as it takes them.
    void whenWritten(std::function<void()> then);
    // Writes what is not written yet and waits for it, for the end of the program.
    void finishWrites();

Q_SIGNALS:
    // The file could not be written; the entries stay in memory all the same. Told once,
    // until a write works again.
    void notWritten(const QString& why);

private:
    bool isAheadOfFile() const { return writes_ > 0 || dirty_ || failing_; }
    void write();
    void written(const QString& error);

    QString filePath_;
    QList<ReceivedEntry> entries_;
    int writes_ = 0;       // writes under way on the disk worker
    bool dirty_ = false;   // entries were added since the last write took its bytes
    bool failing_ = false; // the last write failed, and that was told
    QList<std::function<void()>> whenWritten_;
};
