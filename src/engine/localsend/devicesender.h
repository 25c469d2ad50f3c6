#pragma once

#include "localsend/deviceclient.h"
#include "localsend/deviceupload.h"
#include "localsend/messages.h"
#include "platform/clock.h"
#include "transfer/sendoutcome.h"
#include "transfer/speedmeter.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <memory>

class DeviceBook;
class QNetworkReply;

// A file waiting to go, as the sender of a batch knows it: its path here, the name it goes
// by (its path inside a queued folder, with '/'), and its size.
struct UpcomingFile {
    QString path;
    QString name;
    qint64 size = 0;
};

// The sending side of LocalSend's upload API, one file at a time as the other senders go:
// the first file to a device offers it and the files after it in one prepare-upload, so
// that the person at the device answers once, and each file then goes in an upload of its
// own, read from disk as it goes. There are no byte ranges: a cut file cannot go on.
class DeviceSender : public QObject
{
    Q_OBJECT

public:
    // How long the person at a device may take to accept an offer.
    static constexpr std::chrono::milliseconds kDecisionTimeout = std::chrono::minutes(10);

    explicit DeviceSender(DeviceBook& devices, Clock& clock = systemClock(),
                          QObject* parent = nullptr);
    ~DeviceSender() override;

    void setIdleTimeout(std::chrono::milliseconds timeout)
    {
        client_.setIdleTimeout(timeout);
        upload_.setIdleTimeout(timeout);
    }
    // A device that answers busy (409), or whose port refuses, is asked again as a refused
    // port is: this many times, up to longestWait apart.
    void setRetries(int count, std::chrono::milliseconds longestWait);
    void setOwnInfo(const DeviceInfo& info) { own_ = info; }
    // The PIN to offer host from now on (from the command line, or the person's answer).
    void setPin(const QString& host, const QString& pin) { pins_.insert(host, pin); }

    bool isBusy() const { return busy_; }
    // Asks host whether it speaks LocalSend's protocol, once; probed() tells.
    void probe(const QString& host);
    // Sends the file at path, as name, to host; upcoming are the batch's files after it,
    // offered with it when a new session begins. finished() follows however it ended.
    void send(const UpcomingFile& file, const QString& host, const QList<UpcomingFile>& upcoming);
    // The answer to pinNeeded(): an empty one ends the file not sent.
    void answerPin(const QString& pin);
    // Ends a transfer in progress at once, quietly, telling the device the session is over.
    void cancel();
    // The batch is over: a session with files never sent is ended at the device.
    void endBatch();

Q_SIGNALS:
    void statusChanged(const SendStatus& status);
    void progressed(qint64 confirmed, qint64 size);
    void readFailed(const SendStatus& status);
    void speedTicked(qint64 bytes, int seconds);
    void finished(SendOutcome outcome);
    // Right before finished(): the batch's other files to this device would end the same.
    void triesUsedUp();
    // The device at address showed another certificate than the one name's entry holds.
    void keyChanged(const QString& name, const QString& address);
    // The device asks for a PIN; wrong when the one offered was not it. answerPin() goes on.
    void pinNeeded(const QString& host, bool wrong);
    void probed(const QString& host, bool answered);

private:
    void offer();
    void offerAnswered(QNetworkReply* reply);
    void upload();
    void uploadAnswered(const DeviceAnswer& answer);
    // Ends the file in hand as the answer's failure says; true when it was one.
    bool failed(const DeviceAnswer& answer, bool offering);
    void end(SendOutcome outcome, const SendStatus& status);
    void sendCancel();

    DeviceClient client_;
    DeviceUpload upload_;
    DeviceBook& devices_;
    std::unique_ptr<Alarm> retry_;
    SpeedMeter speed_{this};
    DeviceInfo own_;
    QHash<QString, QString> pins_;
    int retriesAllowed_ = 0;
    int retriesLeft_ = 0;
    std::chrono::milliseconds longestRetryWait_{0};
    bool busy_ = false;
    // The session with a device: its files by path, and the tokens of those accepted.
    QString host_;
    QString sessionId_;
    QString notTaken_; // once the device answered: why a file it did not accept is not sent
    QHash<QString, QString> ids_;    // path -> file id
    QHash<QString, QString> tokens_; // file id -> token
    QSet<QString> uploaded_;
    QList<UpcomingFile> offered_;
    // The file in hand.
    UpcomingFile file_;
    QPointer<QNetworkReply> reply_;
};
