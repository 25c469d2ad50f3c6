#pragma once

#include "platform/socketerror.h"
#include "transfer/protocol.h"
#include "transfer/receivefile.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <optional>

struct MainUi;

// The receiving side: listens on the file port, serves one connection at a time, writes
// the announced file into the save folder and shows its progress in the receiver panel.
class FileReceiver : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);

    FileReceiver(const MainUi& ui, const QHostAddress& bindAddress);
    ~FileReceiver() override;

    void setSaveFolder(const QString& folder) { saveFolder_ = folder; }
    void setIdleTimeout(std::chrono::milliseconds timeout) { idle_.setInterval(timeout); }

    // Starts listening anew. Returns the error when the port cannot be had.
    std::optional<SocketError> listen();
    // Stops listening and ends a connection in progress, keeping what it received.
    void close();

    void FileRecieveSocket_ConnectionRequest();
    void FileRecieveSocket_DataArrival();
    void FileRecieveSocket_Close();
    void FileRecieveSocket_Error(QAbstractSocket::SocketError error);
    void TimerRecieveSpeed_Timer();

private:
    enum class State { Listening, AwaitingHeader, Receiving };

    bool takeHeader();
    void receive(const QByteArray& bytes);
    void reply(qint64 total);
    void send(const QByteArray& bytes);
    void sendPendingCount();
    // Whether the announced size has been received in full.
    bool isWhole() const;
    void showStatus(const QString& text, const QString& toolTip = {});
    void resetPanel();
    // Ends the connection: the panel is reset, the file closed (and named, when whole),
    // the status set, and the receiver listens again.
    void endConnection(const QString& status, const QString& toolTip = {});
    void dropConnection();

    const MainUi& ui_;
    QHostAddress bindAddress_;
    QString saveFolder_;
    QTcpServer FileRecieveSocket;
    QPointer<QTcpSocket> connection_;
    QTimer idle_;
    State state_ = State::Listening;
    HeaderParser header_;
    ReceiveFile file_;
    qint64 size_ = 0;
    qint64 total_ = 0;
    std::optional<qint64> unsentCount_;
    int seconds_ = 0;
};
