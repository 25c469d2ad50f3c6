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
