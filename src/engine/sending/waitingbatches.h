#pragma once

#include "platform/clock.h"
#include "sending/sendbatch.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

class SettingsStore;

// Files that wait for their person: one batch per address, sent when an announcement
// comes from that address. The batches are kept in the settings store, each file until it
// has been delivered whole, so that a restart neither loses nor resends one. Files added
// or cancelled are saved at once. Files delivered are crossed off at once in memory, and
// on disk with the others delivered within kSaveDelay, and at the end of each attempt:
// only a crash within that delay sends a file again. A save that fails is told.
//
// They share the one sender with the send queue. A waiting batch starts only while the
// send queue is idle, and gives way when the user sends files now: the file in hand is
// abandoned and sent again, whole, once the sender is free.
//
// A file that fails while its person is online (refused, cut off) keeps waiting and is
// tried again at that person's next announcement. Announcements come a minute apart: one
// starts an attempt no sooner than kAttemptSpacing after the one an announcement started
// before, and more of them meanwhile, forged or not, start no more attempts. A batch cut
// off is tried once more at once as well, once until an attempt of it ends uncut. A file
// that is no longer there is dropped from its batch.
//
// A batch whose computer did not show the key the address book holds for it waits until
// the keys change (retryRefusedKeys()) or files are added to it: an announcement, which anyone
// can forge, does not start it meanwhile.
class WaitingBatches : public QObject
{
    Q_OBJECT

public:
    struct Batch {
        QString address; // as in the address book
        QList<QueuedFile> files;
        bool due = false;        // its person has announced themselves since the last attempt
        bool keyRefused = false; // the computer there showed another key than the book's
        bool cutRetried = false; // tried at once after a cut, and not ended uncut since
        bool announced = false;  // due because of an announcement
        // The clock's steady time when an announcement last started an attempt.
        std::optional<std::chrono::milliseconds> announcedAt;

        qsizetype fileIndex(const QString& path) const;
    };

    static constexpr std::chrono::milliseconds kSaveDelay{1000};
    static constexpr std::chrono::milliseconds kAttemptSpacing = std::chrono::seconds(20);

    // The clock spaces the attempts that announcements start and times the saves of files
    // delivered; it must outlive this object.
    WaitingBatches(SettingsStore& store, FileSender& sender, SendBatch& now,
                   Clock& clock = systemClock(), QObject* parent = nullptr);
    // Whether the batches are written to the settings store; they are unless told
    // otherwise, and then they live as long as this object.
    void setStored(bool stored) { stored_ = stored; }

    // Reads the batches the settings hold, in place of those held; they wait for the next
    // announcement.
    void load();
    const QList<Batch>& batches() const { return batches_; }
    const Batch* batchFor(const QString& address) const;

    // Adds the files to address's batch, or starts one.
    void add(const QString& address, const QStringList& paths);
    void add(const QString& address, const QList<QueuedFile>& files);
    // Forgets address's batch; a file of it in hand is abandoned.
    void cancel(const QString& address);
    // Forgets these files of address's batch, and the batch once it is empty; a delivery
    // to address in progress is abandoned.
    void cancel(const QString& address, const QStringList& paths);
    // An announcement came from address.
    void personOnline(const QString& address);
    // address's batch is to be tried at once, as asked for or after a cut, whatever the
    // announcements before.
    void tryNow(const QString& address);
    // A key in the address book was pinned or forgotten: batches refused for a key may go.
    void retryRefusedKeys();

    bool isDelivering() const { return delivery_.isRunning(); }
    // The batch that sends the files of one person, for the window to follow.
    SendBatch& delivery() { return delivery_; }
    // Ends a delivery in progress quietly and saves what is left; nothing more starts
    // until resume().
    void stop();
    void resume() { stopped_ = false; }

Q_SIGNALS:
    // Batches were added, cancelled, emptied or ended an attempt.
    void changed();
    // The settings file could not be written. Told once, until a save succeeds again.
    void saveFailed(const QString& message);

private:
    int batchIndex(const QString& address) const;
    Batch* batchFor(const QString& address);
    void startDue();
    // Ends a delivery to address in progress; the next due batch starts.
    void abandonDelivery(const QString& address);
    // How long batch must still wait for its spacing; zero when it may go.
    std::chrono::milliseconds waitLeft(const Batch& batch) const;
    void giveWay();
    void fileSent(const QString& path);
    void fileFailed();
    void deliveryFinished();
    // Whether the batches as they are now must be written out, all of them or only the
    // batch at index.
    void changedAll();
    void changedBatch(qsizetype index);
    void save();
    void writeBatch(qsizetype index);

    SettingsStore& store_;
    FileSender& sender_;
    SendBatch& now_;
    SendBatch delivery_;
    QTimer kick_; // starts the next due batch from the event loop
    Clock& clock_;
    std::unique_ptr<Alarm> spaced_;    // starts a due batch once its spacing is over
    std::unique_ptr<Alarm> saveAlarm_; // saves the files delivered meanwhile
    QList<Batch> batches_;
    QString deliveringTo_;
    int failed_ = 0;   // files of the delivery in progress that were not sent
    bool cut_ = false; // the delivery in progress was cut off mid-file
    int storedSections_ = 0;
    bool allChanged_ = false;
    QSet<QString> changedAddresses_; // batches to write out, when not all of them
    bool saveFailedTold_ = false;
    bool stopped_ = false;
    bool stored_ = true;
};
