#include "cli/listencommand.h"

#include "cli/console.h"
#include "presence/datagram.h"
#include "presence/notices.h"

ListenCommand::ListenCommand(const QHostAddress& bindAddress, const AddressBook& book,
                             Console& console, QObject* parent)
    : Command(parent), presence_(book), bindAddress_(bindAddress), console_(console)
{
    connect(&presence_, &Presence::peerOnline, this, [this](const QString& name) {
        console_.printLine(onlineNotice(name, QTime::currentTime()));
    });
    connect(&presence_, &Presence::chatReceived, this, [this](const QList<ChatLine>& lines) {
        for (const ChatLine& line : lines) {
            for (const ShownLine& shown : shownChatLines(receivedLineSpeaker(line.name), line.text))
                console_.printLine(shown.speaker + shown.text);
        }
    });
}

std::optional<int> ListenCommand::start()
{
    if (const std::optional<SocketError> error = presence_.bind(bindAddress_)) {
        console_.printProblem(QStringLiteral("cannot receive on UDP port %1: Error %2: %3")
                                  .arg(QString::number(kDatagramPort),
                                       QString::number(error->number), error->description));
        return kExitNotDone;
    }
    return std::nullopt;
}
