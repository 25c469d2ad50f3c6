#include "transfer/sendtext.h"

#include "addressbook/peerkeys.h"
#include "text/resumetext.h"

QString notSentText(const SendStatus& status)
{
    switch (status.reason) {
    case NotSentReason::None:
        return {};
    case NotSentReason::Unreadable:
        return status.description;
    case NotSentReason::Refused:
    case NotSentReason::FailedOnArrival:
        return status.told;
    case NotSentReason::ReceiverEnded:
        return status.told.isEmpty() ? QStringLiteral("the receiver ended") : status.told;
    case NotSentReason::BrokeProtocol:
        return QStringLiteral("the receiver did not keep to the private protocol");
    case NotSentReason::ClosedPrivately:
        return QStringLiteral("the receiver closed the private connection");
    case NotSentReason::KeyKnown:
        return QStringLiteral("private transfers are off, and nothing goes in the clear to "
                              "someone whose key is known");
    case NotSentReason::CutBefore:
        return QStringLiteral("the connection broke off before it");
    case NotSentReason::KeyRefused:
        return status.told;
    }
    return {};
}

QString sendStatusText(const SendStatus& status)
{
    switch (status.stage) {
    case SendStatus::Stage::None:
        return {};
    case SendStatus::Stage::Connected:
        return QStringLiteral("Connected");
    case SendStatus::Stage::Sending:
        return QStringLiteral("Sending File");
    case SendStatus::Stage::Resuming:
        return resumingText(status.offset, status.size);
    case SendStatus::Stage::SendingAgain:
        return QStringLiteral("Sending again whole: ") + status.told;
    case SendStatus::Stage::Sent:
        return QStringLiteral("File Sent");
    case SendStatus::Stage::NotSent:
        return QStringLiteral("Not sent: ") + notSentText(status);
    case SendStatus::Stage::NoAnswer:
        return QStringLiteral("Closed: no answer for %1 seconds").arg(status.seconds);
    case SendStatus::Stage::SocketError:
        return QStringLiteral("Error %1").arg(status.errorNumber);
    case SendStatus::Stage::KeyNotShown:
        return keyNotShownText(status.keyName, status.address);
    }
    return {};
}

QString sendStatusDetail(const SendStatus& status)
{
    if (status.stage == SendStatus::Stage::KeyNotShown)
        return keyAdvice(status.keyName);
    if (status.stage != SendStatus::Stage::SocketError)
        return {};
    if (!status.privatePortRefused)
        return status.description;
    return status.description +
           QStringLiteral(". The private port did not take the connection, and nothing goes in "
                          "the clear to someone whose key is known");
}
