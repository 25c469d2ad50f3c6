#pragma once

#include "plain/protocol.h"
#include "transfer/fileintake.h"
#include "transfer/incomingconnection.h"
#include "transfer/receiveend.h"
#include "transfer/receiverlimits.h"
#include "transfer/receiverseats.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

// One connection to the receiver, from its acceptance to its end: it takes the header,
// writes the file and answers with the acceptance and the counts. Once its last byte has
// come, the file is synced and takes its final name, off the event loop, before the last
// count goes out. The connection ends by itself when the
// sender closes, fails, falls silent or crawls, sends more than it announced, or lingers
// after a whole file, and reports how in ended().
class ReceiveConnection : public IncomingConnection
{
    Q_OBJECT

public:
    // parts: the part files this receiver made, which a new transfer of the same name
    // from the same sender may take over; shared by all connections.
    ReceiveConnection(int id, QTcpSocket* socket, const QString& saveFolder,
                      const ReceiverLimits& limits, PartFiles& parts, QObject* parent = nullptr);
    // Lets go quietly; a file in progress stays a part file.
    ~ReceiveConnection() override;

    SeatHolder seat() const override;
    void stop() override;
    void giveWay() override;

private:
    enum class State { AwaitingHeader, Receiving, Saving, Whole, Ended };

    void readArrival();
    void peerClosed();
    void socketFailed(QAbstractSocket::SocketError error);

    bool takeHeader();
    void receive(const QByteArray& bytes);
    void fileIsWhole();
    void saved(ReceiveEnd::Outcome outcome, const ReceiveReason& reason);
    void endOnceSaved();
    void reply(qint64 total);
    void send(const QByteArray& bytes);
    void sendPendingCount();
    bool isWhole() const;
    void end(ReceiveEnd::Outcome outcome, const ReceiveReason& reason, const QString& detail = {});
    void dropSocket();

    QPointer<QTcpSocket> socket_;
    ReceiverLimits limits_;
    QTimer idle_;
    QTimer headerDeadline_;
    QTimer closeGrace_;
    QElapsedTimer age_;
    State state_ = State::AwaitingHeader;
    HeaderParser header_;
    FileIntake file_;
    std::optional<qint64> unsentCount_;
    bool endsOnceSaved_ = false;
};
