#pragma once

#include <QFile>
#include <QHostAddress>
#include <QtEndian>

// Whether the system's table of sockets (/proc/net/tcp or /proc/net/udp) has one on
// address and port in state: a test can wait for another process to listen without
// connecting to it.
inline bool isInSocketTable(const QString& table, const QHostAddress& address, quint16 port,
                            const QByteArray& state)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Addresses are in the kernel's byte order (little-endian here), ports in hex.
    const quint32 ip = address.toIPv4Address();
    const QByteArray local =
        QByteArray::number(qToBigEndian(ip), 16).toUpper().rightJustified(8, '0') + ':' +
        QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == state)
            return true;
    }
    return false;
}

// Whether a TCP socket listens on address and port.
inline bool isListening(const QHostAddress& address, quint16 port)
{
    return isInSocketTable(QStringLiteral("/proc/net/tcp"), address, port, "0A");
}

// Whether a UDP socket is bound to address and port.
inline bool isBoundUdp(const QHostAddress& address, quint16 port)
{
    return isInSocketTable(QStringLiteral("/proc/net/udp"), address, port, "07");
}
