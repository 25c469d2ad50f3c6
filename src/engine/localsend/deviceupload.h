#pragma once

#include "localsend/deviceclient.h"
#include "platform/tcpdialer.h"
#include "transfer/outgoingfile.h"

#include <QObject>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <chrono>

class DeviceBook;

// One upload to a device: a POST whose body is read from the file as the connection takes
// it, over a TLS connection of its own, the certificate judged as DeviceClient judges it.
// QNetworkAccessManager's HTTP/1 channel fetches a QIODevice's bytes from the loop's
// thread to its own 16 KiB at a time and keeps no more than 32 KiB in the socket, so that
// a big file crosses threads tens of thousands of times and goes at half the speed the
// connection takes. This keeps a megabyte in flight from the loop's thread, as Quillo's
// own senders do. The answer's status line and headers are all that is read of it.
class DeviceUpload : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    static constexpr std::chrono::milliseconds kIdleTimeout = DeviceClient::kIdleTimeout;

    // The pins of devices, which must outlive the upload, judge the certificates.
    explicit DeviceUpload(DeviceBook& devices, QObject* parent = nullptr);
    ~DeviceUpload() override;

    // A connection that moves nothing for this long ends with a timeout.
    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
    // Opens the file at path to post its size bytes to url; false, with error(), when it
    // cannot be read. finished() follows a start that succeeds, never from inside.
    bool start(const QUrl& url, const QString& path, qint64 size);
    const QString& error() const { return file_.error(); }
    // Ends the upload at once, quietly.
    void abort();

Q_SIGNALS:
    // How much of the body the connection has taken.
    void progressed(qint64 sent);
    void finished(const DeviceAnswer& answer);

private:
    void dialed(qintptr descriptor);
    void encrypted();
    void feed();
    void readAnswer();
    void fail(QAbstractSocket::SocketError error, const QString& description);
    void end(const DeviceAnswer& answer);
    void release();

    DeviceBook& devices_;
    TcpDialer dialer_;
    QPointer<QSslSocket> socket_;
    QTimer idle_;
    std::chrono::milliseconds idleTimeout_ = kIdleTimeout;
    QUrl url_;
    OutgoingFile file_;
    qint64 size_ = 0;
    qint64 handed_ = 0; // the body's bytes given to the socket
    QByteArray answer_;
};
