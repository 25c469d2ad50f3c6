#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QIODevice>

#include <deque>
#include <memory>

class QSocketNotifier;
class TlsContext;
typedef struct ssl_st SSL;

// A TLS connection straight on a connected TCP socket's descriptor. The record layer reads
// from and writes to the socket itself, and a read decrypts into the reader's own buffer,
// so a byte is copied once on its way in and encrypted from the writer's array on its way
// out. Nothing is buffered in the clear beyond what has been written and not yet taken by
// the system; what arrives stays in the system until it is read.
//
// It speaks as Qt's sockets do, from the event loop only: readyRead() when bytes came (read
// until read() gives fewer than asked, or hear nothing more), bytesWritten() when the
// system took some, disconnected() when the peer closed, errorOccurred() when it broke off.
class TlsSocket : public QIODevice
{
    Q_OBJECT

public:
    // Takes the descriptor as its own; the handshake starts with one of the two below.
    TlsSocket(qintptr descriptor, std::shared_ptr<const TlsContext> context,
              QObject* parent = nullptr);
    ~TlsSocket() override;

    // peerName, when it is a host name rather than an address, goes in the greeting.
    void startClientEncryption(const QString& peerName);
    void startServerEncryption();

    QAbstractSocket::SocketState state() const;
    bool isEncrypted() const { return stage_ == Stage::Encrypted; }
    QHostAddress peerAddress() const { return peerAddress_; }
    qintptr socketDescriptor() const { return descriptor_; }
    // The certificate the peer showed, DER encoded; empty when it showed none.
    QByteArray peerCertificate() const;
    void setLowDelay();

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    using QIODevice::write;
    // Keeps bytes, not a copy, until the system has taken them.
    qint64 write(const QByteArray& bytes);

    // Closes at once, saying nothing more.
    void abort();
    // Sends what it holds, then the close, and waits for the peer's close:
    // disconnected() follows.
    void disconnectFromHost();

Q_SIGNALS:
    void encrypted();
    void disconnected();
    void errorOccurred(QAbstractSocket::SocketError error);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    enum class Stage { Idle, Handshake, Encrypted, Closing, Closed };

    bool start();
    void gatherWrites();
    void readable();
    void writable();
    void handshake();
    void flush();
    bool send();
    // Waits for the socket as OpenSSL asks after result, or tells how the connection ended;
    // OpenSSL's error code for it.
    int awaitSocket(int result, const char* step);
    void brokeOff(int number);
    void closeOnceFlushed();
    void drain();
    void peerClosed();
    void fail(QAbstractSocket::SocketError error, const QString& description);
    void shut();
    void tellWritten();

    int descriptor_;
    std::shared_ptr<const TlsContext> context_;
    SSL* ssl_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QHostAddress peerAddress_;
    Stage stage_ = Stage::Idle;
    std::deque<QByteArray> unsent_;
    qsizetype unsentStart_ = 0; // of the first array
    qint64 unsentBytes_ = 0;
    qint64 written_ = 0; // taken by the system since bytesWritten() was last told
    bool writeWaitsForRead_ = false;
    bool readWaitsForWrite_ = false;
    bool tellingWritten_ = false;
    bool quiet_ = false; // aborted: nothing more is told
};
