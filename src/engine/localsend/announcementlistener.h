#pragma once

#include "localsend/deviceclient.h"
#include "localsend/messages.h"
#include "platform/clock.h"
#include "platform/socketerror.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QUdpSocket>

#include <chrono>
#include <optional>

class AddressBook;
class DeviceBook;
class QNetworkReply;

// Hears LocalSend devices' multicast announcements and answers those from the address
// book's devices with a register over HTTPS, so that a friend's phone lists this computer.
// It never announces and never answers by datagram. A stranger's announcement gets nothing
// and is not even read; a forged one from a friend's address reaches only the certificate
// pinned for that address, since the register goes over a connection judged by it.
class AnnouncementListener : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPort = 53317;
    // A device announces a few times as it starts, and again whenever its person looks
    // for devices; an address is answered at most once in this time however often.
    static constexpr std::chrono::milliseconds kAnswerInterval = std::chrono::seconds(5);
    // A register that moves nothing for this long is given up.
    static constexpr std::chrono::milliseconds kRegisterTimeout = std::chrono::seconds(10);

    // book and devices must outlive the listener; the clock times kAnswerInterval.
    AnnouncementListener(const AddressBook& book, DeviceBook& devices, Clock& clock,
                         QObject* parent = nullptr);
    ~AnnouncementListener() override;

    // Who this side is, as the register tells it.
    void setOwnInfo(const DeviceInfo& own) { own_ = own; }

    // Takes port on address, shared with any other program that hears the group. On any
    // address it joins the group on every interface that can multicast; bound to one
    // address, it hears only announcements sent to that address itself.
    std::optional<SocketError> listen(const QHostAddress& address, quint16 port = kPort);
    void close() { socket_.close(); }
    bool isListening() const { return socket_.state() == QAbstractSocket::BoundState; }

Q_SIGNALS:
    // A register goes to the device at address, to the port its announcement named.
    void answering(const QString& address, quint16 port);
    // It ended; problem is empty when the device took it.
    void answered(const QString& address, const QString& problem);
    // The device at address showed another certificate than the one name's entry holds,
    // and was sent nothing. Told once per address.
    void certificateRefused(const QString& name, const QString& address);

private:
    void joinGroup();
    void readDatagrams();
    void heard(const QString& address, const QByteArray& datagram);
    bool isFriendsDevice(const QString& address) const;
    bool mayAnswer(const QString& address);
    void answer(const QString& address, quint16 port);
    void registered(QNetworkReply* reply, const QString& address);

    const AddressBook& book_;
    DeviceBook& devices_;
    Clock& clock_;
    DeviceClient client_;
    QUdpSocket socket_;
    DeviceInfo own_;
    // Both hold addresses of the address book only, so they stay as small as it is.
    QHash<QString, std::chrono::milliseconds> lastAnswered_;
    QHash<QString, QNetworkReply*> registering_;
    QSet<QString> refusalTold_;
};
