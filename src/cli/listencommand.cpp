#include "cli/listencommand.h"

#include "cli/console.h"
#include "cli/readylines.h"
#include "presence/datagram.h"
#include "presence/notices.h"
#include "secure/privatemessage.h"
#include "station/station.h"

ListenCommand::ListenCommand(Station& station, bool human, Console& console, QObject* parent)
    : Command(parent), station_(station), console_(console)
{
    if (human)
        printInWords();
    else
        printPresenceLines(station_, console_, this);
}

void ListenCommand::printInWords()
{
    connect(&station_, &Station::peerOnline, this, [this](const QString& name) {
        console_.printLine(onlineNotice(name, QTime::currentTime()));
    });
    connect(&station_, &Station::chatReceived, this, [this](const QList<ChatLine>& lines) {
        for (const ChatLine& line : lines) {
            for (const ShownLine& shown : shownChatLines(receivedLineSpeaker(line.name), line.text))
                console_.printLine(shown.speaker + shown.text);
        }
    });
}

std::optional<int> ListenCommand::start()
{
    if (const std::optional<SocketError> error = station_.bindPresence()) {
        console_.printProblem(QStringLiteral("cannot receive on UDP port %1: Error %2: %3")
                                  .arg(QString::number(kDatagramPort),
                                       QString::number(error->number), error->description));
        return kExitNotDone;
    }
    // Without an identity, told already, only datagrams are heard.
    QString privately;
    if (!station_.identity()) {
        privately = QStringLiteral(" (not private chat lines: this copy has no key)");
    } else if (const std::optional<SocketError> error = station_.listenForChat()) {
        privately = QStringLiteral(" (not private chat lines: TCP port %1: Error %2: %3)")
                        .arg(QString::number(kPrivatePort), QString::number(error->number),
                             error->description);
    } else {
        privately = QStringLiteral(" and private chat lines on TCP %1").arg(kPrivatePort);
    }
    console_.printProblem(QStringLiteral("listening for announcements and chat lines on UDP %1%2")
                              .arg(QString::number(kDatagramPort), privately));
    return std::nullopt;
}

void ListenCommand::stop()
{
    station_.stop();
    Q_EMIT finished(kExitDone);
}
