#include "transfer/sendoutcome.h"

#include "platform/socketerror.h"

SendStatus SendStatus::notSent(NotSentReason reason, const QString& text)
{
    SendStatus status = at(Stage::NotSent);
    status.reason = reason;
    if (reason == NotSentReason::Unreadable)
        status.description = text;
    else
        status.told = text;
    return status;
}

SendStatus SendStatus::fromSocketError(QAbstractSocket::SocketError error,
                                       const QString& description)
{
    const SocketError shown = ::socketError(error, description);
    SendStatus status = at(Stage::SocketError);
    status.socketError = error;
    status.errorNumber = shown.number;
    status.description = shown.description;
    return status;
}
