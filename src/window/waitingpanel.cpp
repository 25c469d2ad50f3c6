#include "window/waitingpanel.h"

#include "addressbook/peername.h"
#include "sending/sendbatch.h"
#include "sending/waitingbatches.h"
#include "station/station.h"
#include "window/addressbookpanel.h"
#include "window/mainlayout.h"
#include "window/onlinemarks.h"
#include "window/peertextview.h"
#include "window/sendqueuepanel.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>

namespace
{

const QString kWaitingFor = QStringLiteral("Waiting for ");

} // namespace

WaitingPanel::WaitingPanel(const MainUi& ui, const AddressBookPanel& addressBook,
                           SendQueuePanel& queue, Station& station, const OnlineMarks& marks,
                           QObject* parent)
    : QObject(parent), ui_(ui), addressBook_(addressBook), queue_(queue), station_(station),
      now_(station.batch()), waiting_(station.waiting()), marks_(marks)
{
    ui_.LSTsends->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_.LSTsends, &QWidget::customContextMenuRequested, this,
            &WaitingPanel::LSTsends_ContextMenu);
    connect(&waiting_, &WaitingBatches::changed, this, &WaitingPanel::showWaiting);
    queue_.follow(waiting_.delivery());
}

void WaitingPanel::LSTsends_ContextMenu(const QPoint& position)
{
    auto* menu = new QMenu(ui_.LSTsends);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(*menu);
    menu->popup(ui_.LSTsends->viewport()->mapToGlobal(position));
}

void WaitingPanel::fillMenu(QMenu& menu)
{
    const int slot = addressBook_.selectedSlot();
    const QString name =
        slot < 0 ? QStringLiteral("the Selected Person") : addressBook_.book().entry(slot).Name;
    QAction* send =
        menu.addAction(QStringLiteral("Send These Files When %1 Comes Online").arg(menuText(name)),
                       this, &WaitingPanel::sendWhenOnline);
    // The queue's rows move into the waiting batch, which cannot happen while they are sent.
    send->setEnabled(slot >= 0 && !now_.paths().isEmpty() && !now_.isRunning());
    for (const WaitingBatches::Batch& batch : waiting_.batches()) {
        const QString address = batch.address;
        const QString files = batch.files.size() == 1
                                  ? QStringLiteral("the File")
                                  : QStringLiteral("the %1 Files").arg(batch.files.size());
        menu.addAction(QStringLiteral("Cancel Sending %1 Waiting for %2")
                           .arg(files, menuText(nameOrAddress(addressBook_.book(), address))),
                       this, [this, address] { cancelWaiting(address); });
    }
}

void WaitingPanel::sendWhenOnline()
{
    const int slot = addressBook_.selectedSlot();
    if (slot < 0 || now_.paths().isEmpty() || now_.isRunning())
        return;
    const QString address = addressBook_.book().entry(slot).IPaddress;
    const QStringList paths = now_.paths();
    queue_.BUTclearsends_Click();
    station_.sendWhenOnline(address, paths, marks_.isOnline(address));
}

void WaitingPanel::cancelWaiting(const QString& address)
{
    waiting_.cancel(address);
}

// Shown while the sender is idle; a transfer in progress shows its own status.
void WaitingPanel::showWaiting()
{
    if (waiting_.isDelivering() || now_.isRunning())
        return;
    QStringList names;
    for (const WaitingBatches::Batch& batch : waiting_.batches())
        names.append(nameOrAddress(addressBook_.book(), batch.address));
    QLabel& status = *ui_.LABSendStatus;
    if (!names.isEmpty()) {
        status.setText(kWaitingFor + names.join(QStringLiteral(", ")));
        status.setToolTip({});
    } else if (status.text().startsWith(kWaitingFor)) {
        status.setText(QStringLiteral("Disconnected"));
    }
}
