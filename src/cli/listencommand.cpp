#include "cli/listencommand.h"

#include "cli/console.h"
#include "presence/datagram.h"
#include "presence/notices.h"
#include "station/station.h"

ListenCommand::ListenCommand(Station& station, Console& console, QObject* parent)
    : Command(parent), station_(station), console_(console)
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
    return std::nullopt;
}
