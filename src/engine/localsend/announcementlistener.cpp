#include "localsend/announcementlistener.h"

#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "localsend/announcement.h"
#include "localsend/devicebook.h"
#include "platform/localaddress.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QNetworkReply>

namespace
{

const QHostAddress kGroup(QStringLiteral("224.0.0.167"));
// Anyone can flood the port: one turn of the event loop reads at most this many, and the
// socket reports the rest at once for the next turn.
constexpr int kTurnDatagrams = 100;

bool canMulticast(const QNetworkInterface& face)
{
    const auto flags = face.flags();
    if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
        !flags.testFlag(QNetworkInterface::CanMulticast))
        return false;
    const QList<QNetworkAddressEntry> entries = face.addressEntries();
    return std::any_of(entries.begin(), entries.end(), [](const QNetworkAddressEntry& entry) {
        return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
    });
}

} // namespace

AnnouncementListener::AnnouncementListener(const AddressBook& book, DeviceBook& devices,
                                           Clock& clock, QObject* parent)
    : QObject(parent), book_(book), devices_(devices), clock_(clock), client_(devices)
{
    client_.setIdleTimeout(kRegisterTimeout);
    connect(&socket_, &QUdpSocket::readyRead, this, &AnnouncementListener::readDatagrams);
}

AnnouncementListener::~AnnouncementListener()
{
    for (QNetworkReply* reply : std::as_const(registering_)) {
        reply->disconnect(this);
        reply->abort();
    }
}

std::optional<SocketError> AnnouncementListener::listen(const QHostAddress& address, quint16 port)
{
    close();
    const bool anywhere = address == QHostAddress::Any || address == QHostAddress::AnyIPv4;
    const QHostAddress local = anywhere ? QHostAddress(QHostAddress::AnyIPv4) : address;
    // LocalSend's own apps on this computer hear the group on this port as well.
    if (!socket_.bind(local, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return socketError(socket_.error(), socket_.errorString());
    if (anywhere)
        joinGroup();
    return std::nullopt;
}

// An interface that cannot join leaves the others: what is sent to this computer's own
// address still arrives.
void AnnouncementListener::joinGroup()
{
    const QList<QNetworkInterface> faces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& face : faces) {
        if (canMulticast(face))
            socket_.joinMulticastGroup(kGroup, face);
    }
}

void AnnouncementListener::readDatagrams()
{
    for (int turn = 0; turn < kTurnDatagrams && socket_.hasPendingDatagrams(); ++turn) {
        // One byte over the cap is enough to know the datagram is too long.
        const QNetworkDatagram datagram = socket_.receiveDatagram(kMaxAnnouncementBytes + 1);
        if (!datagram.isValid())
            break;
        heard(dottedAddress(datagram.senderAddress()), datagram.data());
    }
}

// A stranger's datagram is not even parsed: all it costs is a look at the address book.
void AnnouncementListener::heard(const QString& address, const QByteArray& datagram)
{
    if (!isFriendsDevice(address))
        return;
    const std::optional<Announcement> announcement = readAnnouncement(datagram);
    if (!announcement || !announcement->asksForAnswer || !announcement->https)
        return;
    if (!own_.fingerprint.isEmpty() && announcement->device.fingerprint == own_.fingerprint)
        return;
    if (!mayAnswer(address))
        return;
    const quint16 port = announcement->device.port;
    answer(address, port ? port : DeviceBook::kDefaultPort);
}

// The first entry with the address decides, as it does for sending: a person with a Quillo
// key, or an entry chosen to speak Quillo's protocols, is never reached by LocalSend's.
bool AnnouncementListener::isFriendsDevice(const QString& address) const
{
    if (hasKey(book_, address))
        return false;
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        if (entry.IPaddress == address)
            return !entry.speaksChosen || entry.speaks == Speaks::LocalSend;
    }
    return false;
}

bool AnnouncementListener::mayAnswer(const QString& address)
{
    if (registering_.contains(address))
        return false;
    const std::chrono::milliseconds now = clock_.steadyTime();
    for (auto it = lastAnswered_.begin(); it != lastAnswered_.end();)
        it = now - it.value() >= kAnswerInterval ? lastAnswered_.erase(it) : std::next(it);
    if (lastAnswered_.contains(address))
        return false;
    lastAnswered_.insert(address, now);
    return true;
}

void AnnouncementListener::answer(const QString& address, quint16 port)
{
    Q_EMIT answering(address, port);
    QNetworkReply* reply =
        client_.post(deviceUrl(address, port, QStringLiteral("register")), infoDocument(own_));
    registering_.insert(address, reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, address] { registered(reply, address); });
}

void AnnouncementListener::registered(QNetworkReply* reply, const QString& address)
{
    reply->deleteLater();
    registering_.remove(address);
    if (DeviceClient::certificateRefused(reply)) {
        const QString name = client_.refusedName();
        if (!refusalTold_.contains(address)) {
            refusalTold_.insert(address);
            Q_EMIT certificateRefused(name, address);
        }
        Q_EMIT answered(address, keyNotShownText(name, address));
        return;
    }
    const int status = DeviceClient::status(reply);
    if (status == 0) {
        Q_EMIT answered(address, reply->errorString());
        return;
    }
    if (status < 200 || status >= 300) {
        Q_EMIT answered(address, QStringLiteral("the device answered HTTP %1").arg(status));
        return;
    }
    // What answered over a connection with the pinned certificate is the device itself.
    if (const std::optional<DeviceInfo> info = readDeviceInfo(reply->readAll()))
        devices_.remember(address, Speaks::LocalSend, info->deviceType);
    Q_EMIT answered(address, {});
}
