#include "presence/datagram.h"

#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "addressbook/peername.h"
#include "platform/localaddress.h"
#include "text/peertext.h"

namespace
{

const QString kOnline = QStringLiteral("ONLINE");

} // namespace

QString unknownSenderName()
{
    return QStringLiteral("UNKNOWN");
}

QByteArray presenceDatagram()
{
    return kOnline.toLocal8Bit();
}

QByteArray chatDatagram(const QString& line)
{
    return line.toLocal8Bit();
}

Arrival classifyDatagram(const AddressBook& book, const QHostAddress& source,
                         const QByteArray& payload)
{
    const QString text = textFromPeer(payload);
    const std::optional<QString> name = senderName(book, dottedAddress(source));
    if (text == kOnline) {
        if (!name)
            return {};
        return {Arrival::Kind::Presence, *name, {}};
    }
    // Anyone can send a datagram from that address: the person it names talks privately.
    if (name && hasKey(book, dottedAddress(source)))
        return {Arrival::Kind::Chat, *name + QStringLiteral(" (unverified)"), text};
    return {Arrival::Kind::Chat, name.value_or(unknownSenderName()), text};
}
