#include "presence/presence.h"

#include "addressbook/addressbook.h"
#include "platform/localaddress.h"
#include "presence/datagram.h"

#include <QElapsedTimer>

namespace
{

// Anyone can flood the port, and the program must stay responsive all the same. One turn
// of the receive path reads until the socket is empty or the turn has had this much; the
// lines are then handed on together. As a datagram was read, the socket reports the rest
// at once and the next turn goes on.
constexpr int kTurnDatagrams = 200;
constexpr qsizetype kTurnBytes = 64 * 1024;
constexpr qint64 kTurnMs = 10;

} // namespace

Presence::Presence(const AddressBook& book, Clock& clock, QObject* parent)
    : QObject(parent), book_(book), announcer_(clock.makeAlarm([this] {
          announcer_->set(kAnnouncementPeriod);
          announce();
      }))
{
    connect(&socket_, &DatagramSocket::readyRead, this, &Presence::readDatagrams);
}

std::optional<SocketError> Presence::bind(const QHostAddress& address)
{
    std::optional<SocketError> error = socket_.bind(address, kDatagramPort);
    bound_ = !error;
    return error;
}

void Presence::release()
{
    socket_.close();
    bound_ = false;
}

std::optional<SocketError> Presence::bindToSend(const QHostAddress& address)
{
    if (!bind(address))
        return std::nullopt;
    return socket_.bind(address, 0);
}

void Presence::startAnnouncing()
{
    announcer_->set(kFirstAnnouncement);
}

void Presence::announce()
{
    if (announcer_->isSet())
        announcer_->set(kAnnouncementPeriod);
    sendToEveryone(presenceDatagram());
}

void Presence::sendLine(const QString& text, const QSet<QString>& except)
{
    sendToEveryone(chatDatagram(text), except);
}

void Presence::sendLineTo(const QString& host, const QString& text, DatagramSocket::Sent done)
{
    socket_.sendOne(chatDatagram(text), host, kDatagramPort, std::move(done));
}

void Presence::readDatagrams()
{
    QElapsedTimer turn;
    turn.start();
    int datagrams = 0;
    qsizetype bytes = 0;
    QList<ChatLine> lines;
    // At least one datagram is read in every turn, or the socket would report no more.
    while (socket_.hasPendingDatagrams() && datagrams < kTurnDatagrams && bytes < kTurnBytes &&
           (datagrams == 0 || turn.elapsed() < kTurnMs)) {
        const QNetworkDatagram datagram = socket_.receive();
        // A failed read has no sender and no text: there is nothing to show for it.
        if (!datagram.isValid())
            break;
        ++datagrams;
        bytes += datagram.data().size();
        const Arrival arrival = classifyDatagram(book_, datagram.senderAddress(), datagram.data());
        switch (arrival.kind) {
        case Arrival::Kind::Ignored: // presence from outside the address book
            Q_EMIT announced(dottedAddress(datagram.senderAddress()));
            break;
        case Arrival::Kind::Presence: {
            const QString address = dottedAddress(datagram.senderAddress());
            Q_EMIT peerOnline(arrival.name, address);
            Q_EMIT announced(address);
            break;
        }
        case Arrival::Kind::Chat:
            lines.append({arrival.name, arrival.text, dottedAddress(datagram.senderAddress())});
            break;
        }
    }
    if (!lines.isEmpty())
        Q_EMIT chatReceived(lines);
}

void Presence::sendToEveryone(const QByteArray& payload, const QSet<QString>& except)
{
    for (int slot = 0; slot < book_.count(); ++slot)
        if (!except.contains(book_.entry(slot).IPaddress))
            socket_.send(payload, book_.entry(slot).IPaddress, kDatagramPort);
}
