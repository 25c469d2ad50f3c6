#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QHostInfo;
class QSocketNotifier;

// Makes one TCP connection and hands its descriptor on, for a QTcpSocket or QSslSocket to
// take. Qt's own connecting starts over, on the same socket and without a word, when the
// peer resets the connection before it has been seen as made: a port that accepts and
// resets at once draws connections as fast as the loop turns. This connects once to each
// address the host has, and a reset then fails like any other error.
class TcpDialer : public QObject
{
    Q_OBJECT

public:
    explicit TcpDialer(QObject* parent = nullptr);
    ~TcpDialer() override;

    // A new socket bound to port of from (0: the system chooses); false, with error(),
    // when it cannot be had. Unbound, the connection goes from wherever the system says.
    bool bind(const QHostAddress& from, quint16 port);
    QAbstractSocket::SocketError error() const { return bindError_; }
    // Connects to port of host; connected() or failed() follows, never from inside.
    void connectTo(const QString& host, quint16 port);
    // Ends the attempt quietly and closes what it holds.
    void abort();
    bool isActive() const { return descriptor_ >= 0 || lookup_ >= 0; }
    // The addresses the last host stood for, once known; kept until the next connectTo().
    const QList<QHostAddress>& resolved() const { return resolved_; }

Q_SIGNALS:
    // The connection is made, and the descriptor the receiver's to keep.
    void connected(qintptr descriptor);
    // A peer that took the connection and reset it at once fails with RemoteHostClosedError.
    void failed(QAbstractSocket::SocketError error, const QString& description);

private:
    bool open(const QHostAddress& from, quint16 port);
    void lookedUp(const QHostInfo& info);
    void tryNext();
    void writable();
    // The last address failed with errno code: the next one is tried, or failed() comes.
    void addressFailed(int code);
    void close();

    QHostAddress from_;
    int descriptor_ = -1;
    int lookup_ = -1;
    QAbstractSocket::SocketError bindError_ = QAbstractSocket::UnknownSocketError;
    quint16 port_ = 0;
    QList<QHostAddress> addresses_;
    QList<QHostAddress> resolved_;
    QPointer<QSocketNotifier> notifier_;
    QTimer next_; // the next step, from the event loop
    int lastError_ = 0;
};
