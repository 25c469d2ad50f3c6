#include "platform/localaddress.h"

#include <QNetworkInterface>

QString localIPv4Address(const QHostAddress& boundAddress)
{
    if (boundAddress.protocol() == QAbstractSocket::IPv4Protocol &&
        boundAddress != QHostAddress::AnyIPv4)
        return boundAddress.toString();

    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return QHostAddress(QHostAddress::LocalHost).toString();
}

QString dottedAddress(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

QHostAddress preferredAddress(const QList<QHostAddress>& addresses)
{
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return addresses.isEmpty() ? QHostAddress() : addresses.first();
}
