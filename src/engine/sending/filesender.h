#pragma once

#include "localsend/devicesender.h"
#include "plain/plainsender.h"
#include "platform/clock.h"
#include "transfer/nextfile.h"
#include "transfer/sendoutcome.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>

#include <chrono>
#include <functional>
#include <memory>

class DeviceBook;
class Identity;
class PeerKeys;
class PrivateSender;
class RandomSource;

// The sender of every file: privately on port 1053 where the receiver speaks the private
// protocol, on the plain port 1052 where it does not (docs/protocol.md, "Choosing the
// port"). Without an identity everything goes plain. Files of one batch to one receiver
// share one private connection; endBatch() closes it.
//
// A receiver that refused or closed every try of a file, its retries too, is not tried
// again in the same batch: its later files end at once as that one did. So one batch
// makes about kRefusalRetries tries at such a port, however many files it holds.
class FileSender : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = PlainSender::kIdleTimeout;
    static constexpr int kRefusalRetries = PlainSender::kRefusalRetries;

    // The clock, which must outlive the sender, times the connection to a private port and
    // the waits before a refused file is tried again.
    explicit FileSender(RandomSource& random, const QHostAddress& bindAddress,
                        Clock& clock = systemClock(), QObject* parent = nullptr);
    // Ends a transfer in progress quietly.
    ~FileSender() override;

    void setIdleTimeout(std::chrono::milliseconds timeout);
    // As PlainSender's; on the private port only a connection closed before its acceptance
    // is tried again, a refusal never.
    void setRefusalRetries(int count, std::chrono::milliseconds longestWait);
    // From the next file on, files go privately where they can; identity and keys must
    // outlive the sender. A null identity sends plain, and nothing to the people whose
    // key keys holds.
    void setPrivacy(const Identity* identity, PeerKeys* keys);

    // From the next file on, entries that speak LocalSend's protocol are sent to by it, and
    // an entry whose protocol is unknown is asked whether it does when its private port
    // refuses, before its plain port is tried. devices must outlive the sender.
    void setDevices(DeviceBook* devices, const DeviceInfo& own);
    // The files of the batch after the one about to be sent, asked when a LocalSend
    // session begins, so that they are offered with it.
    void setUpcoming(std::function<QList<UpcomingFile>()> upcoming)
    {
        upcoming_ = std::move(upcoming);
    }
    // Where the private sender takes the batch's next files before their turn, to offer
    // them while the one before is being answered; they are then sent in their turn.
    void setAhead(NextFileSource ahead);
    void setLocalSendPin(const QString& host, const QString& pin);
    // The answer to pinNeeded(); an empty one ends the file not sent.
    void answerPin(const QString& pin);

    bool isBusy() const;
    // Whether the file in hand goes on the private port.
    bool isSendingPrivately() const;
    // Sends the file at path, of the size measured before, to host. finished() follows
    // however it ended. announced is the file's path inside a queued folder, relative to
    // the folder's parent ("Trip/day 1/a.jpg"); empty for a loose file, which goes by its
    // bare name, as does every file to a receiver that takes files only.
    void send(const QString& path, qint64 size, const QString& host, const QString& announced = {});
    // Ends a transfer in progress at once, quietly: no signal, and nothing follows.
    void cancel();
    // The batch is over: a private connection still open says BYE and closes.
    void endBatch();

Q_SIGNALS:
    // Where the file in hand stands: connected, sending, sent, an error...
    // (transfer/sendtext.h words it).
    void statusChanged(const SendStatus& status);
    void progressed(qint64 confirmed, qint64 size);
    // The file could not be read, or the receiver could not take it, as status says; the
    // transfer ends NotSent.
    void readFailed(const SendStatus& status);
    void speedTicked(qint64 bytes, int seconds);
    // However the file in hand ended; end.status is its last statusChanged().
    void finished(const SendEnd& end);
    // How the file in hand goes, before its "Connected": privately, and then name is the
    // address book entry whose key was checked (empty for a stranger, outside the book),
    // or in the clear, and then name is empty.
    void privacyKnown(bool isPrivate, const QString& name);
    // The receiver at address showed a key other than the one name's entry holds: nothing
    // was sent.
    void keyChanged(const QString& name, const QString& address);
    // Once a batch: a folder's files go to a receiver that takes files only (a plain peer,
    // or a private one without the folders feature), so they arrive loose. name is the
    // address book's name for the receiver, or its address.
    void loosened(const QString& name);
    // As PrivateSender's: the file in hand goes on from offset, or was cut off.
    void resumed(qint64 offset, qint64 size);
    void cutOff();
    // The LocalSend device at host asks for a PIN; wrong when the one given was not it.
    void pinNeeded(const QString& host, bool wrong);

private:
    void tellLoosened(const QString& name);
    void sendPlain();
    // Sends plain, once a device whose protocol is unknown was asked for LocalSend's.
    void probeThenSendPlain();
    void sendToDevice();
    void refuseInTheClear();
    // The file in hand ends without a connection.
    void endUnsent(SendOutcome outcome, const SendStatus& status);
    void finishFile(SendOutcome outcome);
    template <typename Sender> void forward(Sender& sender);

    PlainSender plain_;
    std::unique_ptr<PrivateSender> private_;
    DeviceBook* devices_ = nullptr;
    std::unique_ptr<DeviceSender> device_;
    std::function<QList<UpcomingFile>()> upcoming_;
    NextFileSource ahead_;
    QHostAddress bindAddress_;
    Clock& clock_;
    PeerKeys* keys_ = nullptr;
    std::chrono::milliseconds idleTimeout_ = kIdleTimeout;
    int retries_ = kRefusalRetries;
    std::chrono::milliseconds longestRetryWait_ = PlainSender::kLongestRetryWait;
    // Receivers whose private port refused while their plain port took the connection:
    // plain only, for the rest of this run. One that took neither may be restarting.
    QSet<QString> plainHosts_;
    QString refusedPrivately_; // the host of the file in hand, when its private port refused
    // Receivers that took a private connection in this run: never taken for plain only, so
    // that a receiver restarting is waited for, not sent the whole file in the clear.
    QSet<QString> privateHosts_;
    // Receivers that used up every try in this batch, with how their last file ended.
    struct GaveUp {
        SendOutcome outcome = SendOutcome::Failed;
        SendStatus status;
    };
    QHash<QString, GaveUp> gaveUp_;
    bool usedUp_ = false; // the file in hand used up its tries
    SendEnd end_;         // the file in hand, and how far it has come
    QString announced_;
    bool toldLoosened_ = false; // in this batch
};

// What a person is told once loosened(name) came.
QString loosenedMessage(const QString& name);
