#include "window/waitingpanel.h"

#include "addressbook/peername.h"
#include "station/station.h"
#include "window/addressbookpanel.h"
#include "window/mainlayout.h"
#include "window/onlinemarks.h"
#include "window/peertextview.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>

namespace
{

const QString kWaitingFor = QStringLiteral("Waiting for ");

} // namespace

WaitingPanel::WaitingPanel(const MainUi& ui, const AddressBookPanel& addressBook, Station& station,
                           const OnlineMarks& marks, QObject* parent)
    : QObject(parent), ui_(ui), addressBook_(addressBook), station_(station), marks_(marks)
{
    ui_.LSTsends->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_.LSTsends, &QWidget::customContextMenuRequested, this,
            &WaitingPanel::LSTsends_ContextMenu);
    connect(&station_, &Station::waitingChanged, this, &WaitingPanel::showWaiting);
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
    const bool several = addressBook_.isSeveralSelected();
    const QString name = several    ? addressBook_.selectedNames()
                         : slot < 0 ? QStringLiteral("the Selected Person")
                                    : station_.addressBook().entry(slot).Name;
    const QString text = several ? QStringLiteral("Send These Files When %1 Come Online")
                                 : QStringLiteral("Send These Files When %1 Comes Online");
    QAction* send = menu.addAction(text.arg(menuText(name)), this, &WaitingPanel::sendWhenOnline);
    // The queue's rows move into the waiting delivery, which cannot happen while they are
    // sent.
    send->setEnabled((slot >= 0 || several) && !station_.queuedPaths().isEmpty() &&
                     !station_.isSending());
    for (const WaitingBatches::Batch& batch : station_.waitingBatches()) {
        const QString address = batch.address;
        const QString files = batch.files.size() == 1
                                  ? QStringLiteral("the File")
                                  : QStringLiteral("the %1 Files").arg(batch.files.size());
        menu.addAction(QStringLiteral("Cancel Sending %1 Waiting for %2")
                           .arg(files, menuText(nameOrAddress(station_.addressBook(), address))),
                       this, [this, address] { station_.cancelWaiting(address); });
    }
}

void WaitingPanel::sendWhenOnline()
{
    if (addressBook_.isSeveralSelected()) {
        // Each person waits apart, and gets the files when they come online.
        QStringList addresses;
        QSet<QString> online;
        for (const Recipient& who : addressBook_.selectedRecipients()) {
            addresses.append(who.address);
            if (marks_.isOnline(who.address))
                online.insert(who.address);
        }
        if (!addresses.isEmpty())
            station_.sendQueueWhenOnline(addresses, online);
        return;
    }
    const int slot = addressBook_.selectedSlot();
    if (slot < 0)
        return;
    const QString address = station_.addressBook().entry(slot).IPaddress;
    station_.sendQueueWhenOnline(address, marks_.isOnline(address));
}

// Shown while the sender is idle; a transfer in progress shows its own status.
void WaitingPanel::showWaiting()
{
    if (station_.isDeliveringWaiting() || station_.isSending())
        return;
    QStringList names;
    for (const WaitingBatches::Batch& batch : station_.waitingBatches())
        names.append(nameOrAddress(station_.addressBook(), batch.address));
    QLabel& status = *ui_.LABSendStatus;
    if (!names.isEmpty()) {
        status.setText(kWaitingFor + names.join(QStringLiteral(", ")));
        status.setToolTip({});
    } else if (status.text().startsWith(kWaitingFor)) {
        status.setText(QStringLiteral("Disconnected"));
    }
}
