#pragma once

#include "sending/recipienttransfer.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// Where one recipient of a fan-out stands.
struct RecipientState {
    enum class Stage {
        Queued,  // waiting for one of the parallel places
        Sending, // its transfer runs
        Sent,    // every file arrived whole
        NotSent, // at least one file did not: lastFailure says how the last one ended
    };

    Recipient who;
    Stage stage = Stage::Queued;
    int sent = 0;   // files that arrived whole
    int failed = 0; // files tried that did not
    // The file in hand while Sending.
    QString path;
    qint64 confirmed = 0;
    qint64 size = 0;
    SendEnd lastFailure;
    QString skipReason; // when the last file not sent was skipped rather than tried
};

// One batch sent to several people: each recipient is a transfer of its own, and at most
// kParallel of them run at once, the others queued in order. They share this computer's
// link, so more at once would not finish the batch sooner; a few at once keep one slow or
// silent receiver from holding up everyone after it.
//
// Memory does not grow with the number of recipients: a queued one is its state alone,
// and only the running ones hold a transfer with its sockets and buffers. Each transfer
// reads its files itself: the receivers take them at their own pace and from their own
// resume offsets, so one shared read would tie every receiver to the slowest. Running
// close together, they read blocks the system's file cache has just read for another.
class FanOut : public QObject
{
    Q_OBJECT

public:
    static constexpr int kParallel = 3;
    // The most recipients a batch takes, as many as the address book holds people.
    static constexpr int kMostRecipients = 51;

    // Makes the transfer for a recipient at the moment its turn comes.
    using TransferMaker = std::function<std::unique_ptr<RecipientTransfer>(const Recipient&)>;

    explicit FanOut(TransferMaker make, QObject* parent = nullptr);
    ~FanOut() override;

    bool isRunning() const { return running_; }
    const QList<RecipientState>& recipients() const { return states_; }
    // How many recipients have ended, sent or not.
    int ended() const;
    // Sends files to every recipient; one listed twice (by address) gets them once, and those
    // after the first kMostRecipients none. Does nothing while a batch runs or when there is
    // nothing or no one to send to.
    void start(const QList<Recipient>& recipients, const QList<QueuedFile>& files);
    // Ends every transfer at once and quietly; those queued do not start.
    void stop();

Q_SIGNALS:
    // recipients()[index] changed: its stage, its file in hand or its progress.
    void recipientChanged(int index);
    void rowFinished(const Recipient& who, int row, const SendEnd& end);
    void rowSkipped(const Recipient& who, int row, int rows, const QString& path,
                    const QString& reason);
    void keyChanged(const QString& name, const QString& address);
    void loosened(const QString& name);
    // Every recipient has ended.
    void finished();

private:
    void startNext();
    void bind(int index, RecipientTransfer& transfer);
    void transferEnded(int index);

    TransferMaker make_;
    QList<RecipientState> states_;
    QList<QueuedFile> files_; // shared by every transfer: one copy of the list
    // The running transfers, by recipient index; at most kParallel are non-null.
    std::vector<std::unique_ptr<RecipientTransfer>> transfers_;
    int next_ = 0; // the first recipient not started yet
    int runningCount_ = 0;
    bool running_ = false;
};
