#include "cli/readylines.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "plain/protocol.h"
#include "platform/servicemanager.h"
#include "presence/notices.h"
#include "secure/privatemessage.h"
#include "station/station.h"

#include <QDir>

QString shownFolder(const QString& folder)
{
    QString shown = QDir::cleanPath(folder);
    const QString home = QDir::cleanPath(QDir::homePath());
    if (shown == home)
        return QStringLiteral("~");
    if (shown.startsWith(home + QLatin1Char('/')) && home != QLatin1String("/"))
        shown.replace(0, home.size(), QStringLiteral("~"));
    return shown;
}

QString receivingNote(const Station& station)
{
    const QString ports =
        station.receivesPrivately()
            ? QStringLiteral("TCP %1 and %2 (private)").arg(kFilePort).arg(kPrivatePort)
            : QStringLiteral("TCP %1 only (not privately)").arg(kFilePort);
    return QStringLiteral("receiving into %1 on %2").arg(shownFolder(station.saveFolder()), ports);
}

QString announcingNote(const Station& station)
{
    const int people = station.addressBook().count();
    return QStringLiteral("announcing to %1 %2")
        .arg(people)
        .arg(people == 1 ? QStringLiteral("person") : QStringLiteral("people"));
}

void printPresenceLines(const Station& station, Console& console, const QObject* receiver)
{
    QObject::connect(&station, &Station::peerOnline, receiver,
                     [&console](const QString& name, const QString& address) {
                         console.printLine(onlineStateLine(name, address, true));
                     });
    QObject::connect(&station, &Station::chatReceived, receiver,
                     [&console](const QList<ChatLine>& lines) {
                         for (const ChatLine& line : lines)
                             console.printLine(chatLine(line.name, line.address, line.text));
                     });
    QObject::connect(&station, &Station::chatDropped, receiver,
                     [&console](const QString& name, const QString& address, int count) {
                         const QString where =
                             name == address ? QString() : QStringLiteral(" (%1)").arg(address);
                         console.printProblem(droppedChatNotice(name, count) + where);
                     });
}

void lendPortsToWindow(Station& station, const QString& folder, Console& console,
                       const QObject* receiver, std::function<QString()> ready)
{
    QObject::connect(&station, &Station::portsLent, receiver, [&console] {
        const QString lent =
            QStringLiteral("the window took the ports, and receives until it closes");
        console.printProblem(lent);
        tellServiceManager("STATUS=" + lent.toUtf8());
    });
    QObject::connect(&station, &Station::portsTakenBack, receiver, [&console, ready] {
        const QString back = QStringLiteral("the window has closed: ") + ready();
        console.printProblem(back);
        tellServiceManager("STATUS=" + back.toUtf8());
    });
    QObject::connect(&station, &Station::portsNotTakenBack, receiver,
                     [&console](const SocketError& error) {
                         console.printProblem(
                             QStringLiteral("the ports cannot be taken back from the window yet: "
                                            "Error %1: %2; trying again")
                                 .arg(QString::number(error.number), error.description));
                     });
    station.lendPorts(folder);
}
