#include "private/privatechat.h"

#include "platform/socketerror.h"
#include "transfer/sendtext.h"

PrivateChat::PrivateChat(const Identity& identity, PeerKeys& keys, const QHostAddress& bindAddress,
                         Clock& clock, QObject* parent)
    : QObject(parent), link_(identity, keys, bindAddress, clock, this)
{
    connect(&link_, &PrivateLink::ready, this, [this] {
        link_.write(chatMessage(line_));
        link_.awaitAnswer();
    });
    connect(&link_, &PrivateLink::arrived, this, [this](const PrivateMessage& message) {
        if (message.type != MessageType::Heard) {
            link_.abort();
            finish(notSentText(SendStatus::notSent(NotSentReason::BrokeProtocol)));
            return;
        }
        link_.bye();
        finish({});
    });
    connect(&link_, &PrivateLink::keyChanged, this,
            [this](const QString& name) { finish(keyNotShownText(name, link_.host())); });
    connect(&link_, &PrivateLink::keyRefused, this, &PrivateChat::finish);
    connect(&link_, &PrivateLink::silent, this, [this](int seconds) {
        finish(QStringLiteral("no answer for %1 seconds").arg(seconds));
    });
    connect(&link_, &PrivateLink::closed, this,
            [this] { finish(QStringLiteral("the receiver closed the connection")); });
    connect(&link_, &PrivateLink::failed, this,
            [this](QAbstractSocket::SocketError error, const QString& description) {
                const SocketError shown = socketError(error, description);
                finish(QStringLiteral("Error %1: %2").arg(shown.number).arg(shown.description));
            });
    connect(&link_, &PrivateLink::ended, this, [this](const QString& told) {
        finish(notSentText(SendStatus::notSent(NotSentReason::ReceiverEnded, told)));
    });
    connect(&link_, &PrivateLink::brokeProtocol, this,
            [this] { finish(notSentText(SendStatus::notSent(NotSentReason::BrokeProtocol))); });
}

void PrivateChat::send(const QString& host, const QString& line)
{
    line_ = line;
    link_.open(host);
}

void PrivateChat::finish(const QString& problem)
{
    if (done_)
        return;
    done_ = true;
    Q_EMIT done(problem);
}
