#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <optional>

class AddressBook;

// Presence and chat travel as UDP datagrams between port 1071 of one copy and port 1071
// of another. The whole datagram is the message, in the system's 8-bit encoding (UTF-8
// on Linux), with no header and no line end:
//
//   presence  = "ONLINE"            exactly these six bytes
//   chat line = <the typed text>    any other datagram, the empty one included
//
// Nothing in a datagram names its sender: the receiver looks the source address up in
// its own address book. A chat line from the address of an entry that holds a key may be
// forged, that person's lines coming privately: its name then says "(unverified)".

constexpr quint16 kDatagramPort = 1071;

// The name that a chat line from an address outside the address book is shown under.
QString unknownSenderName();

QByteArray presenceDatagram();
QByteArray chatDatagram(const QString& line);

// What one arriving datagram means to the receiver.
struct Arrival {
    enum class Kind {
        Ignored,  // presence from someone not in the address book
        Presence, // name is online
        Chat,     // name says text
    };
    Kind kind = Kind::Ignored;
    QString name;
    QString text;
};

Arrival classifyDatagram(const AddressBook& book, const QHostAddress& source,
                         const QByteArray& payload);
