#include "cli/onlinecommand.h"

#include "addressbook/addressbook.h"
#include "cli/console.h"
#include "cli/outputlines.h"
#include "presence/datagram.h"
#include "station/station.h"

#include <chrono>

OnlineCommand::OnlineCommand(Station& station, int waitSeconds, Console& console, Clock& clock,
                             QObject* parent)
    : Command(parent), station_(station), book_(std::as_const(station).addressBook()),
      clock_(clock), wait_(waitSeconds), waitAlarm_(clock.makeAlarm([this] { report(); })),
      console_(console)
{
    connect(&station_, &Station::peerOnline, this,
            [this](const QString&, const QString& address) { seen(address); });
}

std::optional<int> OnlineCommand::start()
{
    if (book_.count() == 0) {
        console_.printProblem(QStringLiteral("the address book is empty"));
        return kExitNotDone;
    }
    if (const std::optional<SocketError> error = station_.bindPresence()) {
        console_.printProblem(QStringLiteral("cannot receive on UDP port %1: Error %2: %3")
                                  .arg(QString::number(kDatagramPort),
                                       QString::number(error->number), error->description));
        return kExitNotDone;
    }
    waitAlarm_->set(wait_);
    return std::nullopt;
}

void OnlineCommand::seen(const QString& address)
{
    peers_.seen(address, clock_.timeOfDay());
    if (everyoneSeen())
        report();
}

bool OnlineCommand::everyoneSeen() const
{
    const QTime now = clock_.timeOfDay();
    for (int slot = 0; slot < book_.count(); ++slot) {
        if (!peers_.isOnline(book_.entry(slot).IPaddress, now))
            return false;
    }
    return true;
}

void OnlineCommand::report()
{
    if (reported_)
        return;
    reported_ = true;
    waitAlarm_->cancel();
    const QTime now = clock_.timeOfDay();
    for (int slot = 0; slot < book_.count(); ++slot) {
        const AddressBookEntry& entry = book_.entry(slot);
        console_.printLine(
            onlineStateLine(entry.Name, entry.IPaddress, peers_.isOnline(entry.IPaddress, now)));
    }
    Q_EMIT finished(kExitDone);
}
