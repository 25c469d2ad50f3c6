#include "cli/servecommand.h"

#include "cli/console.h"
#include "cli/outputlines.h"
#include "cli/readylines.h"
#include "cli/receiveends.h"
#include "plain/protocol.h"
#include "platform/servicemanager.h"
#include "presence/datagram.h"

namespace
{

QString portProblem(const char* protocol, quint16 port, const SocketError& error)
{
    return QStringLiteral("cannot serve: %1 port %2 is taken or cannot be had: Error %3: %4")
        .arg(QLatin1String(protocol), QString::number(port), QString::number(error.number),
             error.description);
}

} // namespace

ServeCommand::ServeCommand(Station& station, const QString& folder, bool onlyKnown,
                           Console& console, QObject* parent)
    : Command(parent), station_(station), console_(console)
{
    station_.setSaveFolder(folder, false);
    if (onlyKnown)
        station_.setOnlyKnownSenders(true, false);

    connect(&station_, &Station::incomingEnded, this,
            [this](const ReceiveEnd& end) { printReceiveEnd(console_, end, stopping_); });
    printPresenceLines(station_, console_, this);
    connect(&station_, &Station::rowFinished, this, &ServeCommand::deliveryEnded);
    connect(&station_, &Station::problem, this,
            [this](const QString& message) { console_.printProblem(message); });
    connect(&station_, &Station::personMoved, this,
            [this](const QString& name, const QString& address) {
                console_.printProblem(personMovedText(name, address));
            });
    // Only a compared key moves its entry: serve has nobody to ask.
    connect(&station_, &Station::keyAtNewAddress, this,
            [this](const QString& name, const QString& address) {
                console_.printProblem(keyAtNewAddressText(name, address) +
                                      QStringLiteral(": the address book is left as it is. Compare "
                                                     "codes (quillo key %1), then mark them "
                                                     "compared (quillo key %1 --compared)")
                                          .arg(name));
            });
}

std::optional<int> ServeCommand::start()
{
    // Without an identity, everything goes in the clear; that is told once.
    if (const std::optional<QString> problem = station_.openIdentity())
        console_.printProblem(*problem);
    // Both ports or neither: a window on this computer holds them both.
    if (const std::optional<SocketError> error = station_.listen()) {
        console_.printProblem(portProblem("TCP", kFilePort, *error));
        return kExitNotDone;
    }
    if (const std::optional<SocketError> error = station_.bindPresence()) {
        station_.stop();
        console_.printProblem(portProblem("UDP", kDatagramPort, *error));
        return kExitNotDone;
    }
    station_.startAnnouncing();
    station_.hearAnnouncements();
    const auto readyNote = [this] {
        return receivingNote(station_) + QStringLiteral(", ") + announcingNote(station_);
    };
    lendPortsToWindow(station_, sharingFolder_, console_, this, readyNote);
    const QString ready = readyNote();
    console_.printProblem(ready);
    tellServiceManager("READY=1\nSTATUS=" + ready.toUtf8());
    return std::nullopt;
}

void ServeCommand::stop()
{
    // A file in progress ends as if its sender had closed: what came is kept.
    stopping_ = true;
    station_.stop();
    Q_EMIT finished(kExitDone);
}

// serve sends only the files that waited for their person.
void ServeCommand::deliveryEnded(BatchKind, int, const SendEnd& end)
{
    if (end.outcome == SendOutcome::Sent)
        console_.printLine(
            sentLine(end.path, end.size, end.address, end.isPrivate, end.isLocalSend));
    else
        console_.printProblem(sendProblem(end));
}
