#pragma once

#include "platform/clock.h"
#include "platform/datagramsocket.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>
#include <memory>
#include <optional>

class AddressBook;
class QHostAddress;

// A chat line as it arrived: the sender's name from the address book (or the unknown
// sender's name), the text, and the sender's address, dotted.
struct ChatLine {
    QString name;
    QString text;
    QString address;
};

// Presence and the mini chat on UDP port 1071. Once announcing, it tells everyone in the
// address book that this copy is online, three seconds after the start and then every
// minute; a chat line goes to everyone in the address book; and whatever arrives is
// reported under the sender's name.
class Presence : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kFirstAnnouncement = std::chrono::seconds(3);
    static constexpr std::chrono::milliseconds kAnnouncementPeriod = std::chrono::minutes(1);

    // The clock times the announcements.
    explicit Presence(const AddressBook& book, Clock& clock = systemClock(),
                      QObject* parent = nullptr);

    // Takes the port on address, so that datagrams arrive. Returns the error when it
    // cannot; sending still works then.
    std::optional<SocketError> bind(const QHostAddress& address);
    // Takes the port on address to send from, or any port there when the port is taken (by
    // a window on this computer, say): a datagram then still leaves from that address.
    std::optional<SocketError> bindToSend(const QHostAddress& address);
    // Gives up the port, and with it announcements and chat lines, until the next bind().
    void release();
    bool isBound() const { return bound_; }

    // Starts announcing: the first time after kFirstAnnouncement, then every period.
    void startAnnouncing();
    // Announces no more until started again.
    void stopAnnouncing() { announcer_->cancel(); }
    bool isAnnouncing() const { return announcer_->isSet(); }
    // One announcement to everyone in the address book at once; while announcing, the next
    // is then a period away.
    void announce();

    // Sends one chat line to everyone in the address book but the addresses in except.
    void sendLine(const QString& text, const QSet<QString>& except = {});
    // Sends one chat line to host alone; done tells whether it left.
    void sendLineTo(const QString& host, const QString& text, DatagramSocket::Sent done);

Q_SIGNALS:
    void peerOnline(const QString& name, const QString& address);
    // Any presence datagram, from the address book or not, by its source address.
    void announced(const QString& address);
    // The lines of one turn of the receive path, oldest first.
    void chatReceived(const QList<ChatLine>& lines);

private:
    void readDatagrams();
    void sendToEveryone(const QByteArray& payload, const QSet<QString>& except = {});

    const AddressBook& book_;
    std::unique_ptr<Alarm> announcer_;
    DatagramSocket socket_;
    bool bound_ = false;
};
