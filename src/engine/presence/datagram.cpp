#include "presence/datagram.h"

#include "addressbook/addressbook.h"
#include "platform/localaddress.h"
#include "platform/peertext.h"

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

std::optional<QString> senderName(const AddressBook& book, const QString& address)
{
    for (int slot = 0; slot < book.count(); ++slot) {
        const AddressBookEntry& entry = book.entry(slot);
        if (entry.IPaddress == address)
            return entry.Name;
    }
    return std::nullopt;
}

QString nameOrAddress(const AddressBook& book, const QString& address)
{
    return senderName(book, address).value_or(address);
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
    return {Arrival::Kind::Chat, name.value_or(unknownSenderName()), text};
}
