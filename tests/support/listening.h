#pragma once

#include <QFile>
#include <QHostAddress>
#include <QtEndian>

// Whether a TCP socket listens on address and port, as the system's table of sockets
// says: a test can wait for another process to listen without connecting to it.
inline bool isListening(const QHostAddress& address, quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // Addresses are in the kernel's byte order (little-endian here), ports in hex.
    const quint32 ip = address.toIPv4Address();
    const QByteArray local =
        QByteArray::number(qToBigEndian(ip), 16).toUpper().rightJustified(8, '0') + ':' +
        QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}
