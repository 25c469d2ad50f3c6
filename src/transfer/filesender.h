#pragma once

#include "transfer/replylines.h"

#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

class Dialogs;
class RandomSource;
struct MainUi;

// The sending side of one transfer: connects to a receiver, announces the file, streams
// it once accepted and follows the receiver's counts in the sender panel until the last
// one. Every wait is a state: each step runs when the event that ends its wait arrives.
class FileSender : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);
    static constexpr qint64 kBlockBytes = 1024;
    // Bounds on streaming: what the socket holds unsent, and how long one turn may take
    // before the event loop gets to run again.
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    static constexpr std::chrono::milliseconds kTimeSlice = std::chrono::milliseconds(5);

    FileSender(const MainUi& ui, Dialogs& dialogs, RandomSource& random,
               const QHostAddress& bindAddress);
    ~FileSender() override;

    void setIdleTimeout(std::chrono::milliseconds timeout) { idle_.setInterval(timeout); }
    // A receiver that has not gone back to listening yet refuses; such a refusal is
    // tried again this many times, this far apart, before it counts as an error.
    void setRefusalRetries(int count, std::chrono::milliseconds interval);

    // Sends the file at path, of the size measured before, to port 1052 of host.
    // finished() follows once the connection is closed again, however it ended.
    void send(const QString& path, qint64 size, const QString& host);
    // Ends a transfer in progress at once.
    void close();

    void FileSendSocket_Connect();
    void FileSendSocket_DataArrival();
    void FileSendSocket_Close();
    void FileSendSocket_Error(QAbstractSocket::SocketError error);
    void TimerSendSpeed_Timer();

Q_SIGNALS:
    void finished();

private:
    enum class State { Closed, Connecting, AwaitingAcceptance, Streaming };

    quint16 nextLocalPort();
    void connectSocket();
    void dropSocket();
    void accepted();
    void countArrived(const QByteArray& line);
    // Hands the socket the next blocks of the file, while it has room for them.
    void SendFile();
    void sendFileFailed(const QString& description);
    void complete();
    void showStatus(const QString& text, const QString& toolTip = {});
    void resetPanel();
    void closeSocket();

    const MainUi& ui_;
    Dialogs& dialogs_;
    RandomSource& random_;
    QHostAddress bindAddress_;
    QPointer<QTcpSocket> socket_;
    QTimer idle_;
    QTimer retry_;
    int retriesAllowed_ = 6;
    int retriesLeft_ = 0;
    int portDrawsLeft_ = 0;
    quint16 localPort_ = 0;
    State state_ = State::Closed;
    ReplyLineSplitter replies_;
    QString path_;
    QString host_;
    qint64 size_ = 0;
    qint64 handed_ = 0;
    qint64 confirmed_ = 0;
    QFile file_;
    int seconds_ = 0;
};
