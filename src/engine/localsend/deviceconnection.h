#pragma once

#include "addressbook/peerkeys.h"
#include "localsend/httprequestreader.h"
#include "transfer/fileintake.h"
#include "transfer/incomingconnection.h"
#include "transfer/receiverlimits.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <functional>

class UploadSessions;

// What every connection from LocalSend devices shares.
struct DeviceService {
    UploadSessions* sessions = nullptr;
    QByteArray info; // this side's register and info answer
    // Whom files are taken from, by address; none: anyone.
    std::function<bool(const QString& peer)> accepts;
    // Judges the fingerprint of a certificate a device showed as its client's.
    std::function<KeyCheck(const QString& peer, const QByteArray& fingerprint)> judge;
};

// One connection to the LocalSend port, from the accept to its end: the TLS handshake,
// then HTTP requests one after the other (register, info, prepare-upload, upload, cancel)
// until either side closes. An upload's body goes straight into the file it is for, which
// is told as any connection's files are: shown(), fileStarted(), progressed() and one
// fileEnded(). The connection's own end is told through ended() only when it cuts a file
// short; otherwise it is closed().
class DeviceConnection : public IncomingConnection
{
    Q_OBJECT

public:
    // The encryption starts at once; service must outlive the connection.
    DeviceConnection(int id, QSslSocket* socket, const QSslConfiguration& tls,
                     const DeviceService& service, const QString& saveFolder,
                     const ReceiverLimits& limits, PartFiles& parts, QObject* parent = nullptr);
    // Lets go quietly; a file in progress stays a part file.
    ~DeviceConnection() override;

    SeatHolder seat() const override;
    void stop() override;
    void giveWay() override;

private:
    enum class State { Handshake, Waiting, Reading, Uploading, Saving, Ended };
    enum class Route { None, Info, Register, PrepareUpload, Upload, Cancel };

    static Route routeOf(const QByteArray& path);

    void judgePeer();
    void readArrival();
    bool answersPileUp() const;
    void takeHead();
    void takeBody(const QByteArray& bytes);
    void takeRequest();
    void takeOffer();
    void takeMessage(const QString& text);
    void cancelSession();
    void beginUpload();
    void uploadRefused(const FileRefusal& refusal, qint64 size);
    void writeUpload(const QByteArray& bytes);
    void finishUpload();
    void uploadSettled(ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
    void uploadEnded(ReceiveEnd::Outcome outcome, const ReceiveReason& reason, int status);
    void sessionCancelled(const QString& sessionId);
    void answer(int status, const QByteArray& document = {});
    // Answers and closes, the rest of the request unread.
    void answerAndClose(int status);
    void show();
    void end(ReceiveEnd::Outcome outcome, const ReceiveReason& reason, const QString& detail = {});
    ReceiveEnd fileEnd(ReceiveEnd::Outcome outcome, const ReceiveReason& reason) const;
    void dropSocket(bool graceful);

    QPointer<QSslSocket> socket_;
    const DeviceService& service_;
    ReceiverLimits limits_;
    QString saveFolder_;
    State state_ = State::Handshake;
    Route route_ = Route::None;
    HttpRequestReader reader_;
    QByteArray document_;
    QString sessionId_; // the upload's
    QString fileId_;
    QString keyName_;       // the entry whose pinned certificate the device showed
    bool verified_ = false; // it showed one
    bool shown_ = false;
    bool reading_ = false;
    QTimer deadline_; // the handshake and each request's head and document
    QTimer idle_;     // an upload's bytes
    QElapsedTimer age_;
    FileIntake file_;
    qint64 uploadedBytes_ = 0; // of every file so far, for the seat
};
