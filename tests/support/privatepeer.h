#pragma once

#include "identity/identity.h"
#include "platform/checksum.h"
#include "secure/messagereader.h"
#include "secure/privatemessage.h"
#include "support/peertls.h"

#include <QHostAddress>
#include <QList>
#include <QSslSocket>
#include <QTemporaryDir>

#include <optional>

// A sender on the private port with an identity of its own, made in a folder of its own;
// it writes whatever messages a test gives it and keeps every message the receiver sends.
class PrivatePeer
{
public:
    PrivatePeer()
    {
        QString error;
        identity = Identity::open(folder.path(), &error);
        QObject::connect(&socket, &QSslSocket::readyRead, [this] {
            reader.feed(socket.readAll());
            PrivateMessage message;
            while (reader.next(message) == MessageReader::Result::Message)
                messages.append(message);
        });
    }

    // Connects from the address "from" and begins the handshake.
    void connectTo(const QHostAddress& from, const QHostAddress& address)
    {
        socket.setSslConfiguration(privateTlsConfiguration(*identity));
        socket.bind(from);
        socket.connectToHostEncrypted(address.toString(), kPrivatePort);
    }
    bool isEncrypted() const { return socket.isEncrypted(); }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    const QByteArray& key() const { return identity->key(); }

    void send(const QByteArray& bytes) { socket.write(bytes); }
    // FILE, then (without waiting for ACCEPT) content in one DATA and END with digest;
    // by default the check of content itself.
    void sendFile(const QByteArray& name, const QByteArray& content,
                  const std::optional<QByteArray>& digest = std::nullopt)
    {
        send(fileMessage(content.size(), name));
        if (!content.isEmpty())
            send(encodeMessage(MessageType::Data, content));
        send(endMessage(digest.value_or(Checksum::of(check, content))));
    }

    // How many messages of type came so far.
    int count(MessageType type) const
    {
        return int(std::count_if(messages.cbegin(), messages.cend(),
                                 [type](const PrivateMessage& m) { return m.type == type; }));
    }
    // The reason of the last message of type (REFUSE, FAILED or ERROR).
    Reason lastReason(MessageType type) const
    {
        for (auto m = messages.crbegin(); m != messages.crend(); ++m)
            if (m->type == type)
                return parseReason(m->body).value_or(ReasonText{}).reason;
        return Reason::Unknown;
    }

    // The check END carries: as a HELLO with all of this copy's features agrees.
    Checksum::Kind check = fileCheckOf(kOurFeatures);
    QTemporaryDir folder;
    std::optional<Identity> identity;
    QSslSocket socket;
    MessageReader reader;
    QList<PrivateMessage> messages;
};
