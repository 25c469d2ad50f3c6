#include "window/onlinemarks.h"

#include "platform/clock.h"
#include "station/station.h"

#include <QListWidget>
#include <QPainter>
#include <QTimer>

namespace
{

constexpr int kMarkSize = 12;

// A green dot with a darker rim; offline rows get an empty mark of the same size, so that
// every name starts at the same place.
QIcon drawMark(bool online)
{
    QPixmap pixmap(kMarkSize, kMarkSize);
    pixmap.fill(Qt::transparent);
    if (online) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0, 110, 0), 1.5));
        painter.setBrush(QColor(40, 200, 40));
        painter.drawEllipse(QRectF(2, 2, kMarkSize - 4, kMarkSize - 4));
    }
    return QIcon(pixmap);
}

// A LocalSend device, which never announces itself: a phone upright, or a computer's
// screen on its foot.
QIcon drawDevice(bool handheld)
{
    QPixmap pixmap(kMarkSize, kMarkSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), 1.2));
    painter.setBrush(QColor(150, 190, 230));
    if (handheld) {
        painter.drawRoundedRect(QRectF(3, 0.5, 6, 11), 1.5, 1.5);
    } else {
        painter.drawRect(QRectF(0.5, 1.5, 11, 7));
        painter.drawLine(QPointF(6, 8.5), QPointF(6, 11));
        painter.drawLine(QPointF(3, 11), QPointF(9, 11));
    }
    return QIcon(pixmap);
}

QString deviceDescription(const AddressBookEntry& entry)
{
    return entry.certificate.isEmpty()
               ? QStringLiteral("Works with LocalSend devices; its certificate is pinned on "
                                "first contact")
               : QStringLiteral("Works with LocalSend devices; its certificate is pinned");
}

} // namespace

OnlineMarks::OnlineMarks(QListWidget& list, const Station& station, const Clock& clock,
                         QTimer& refreshTimer, QObject* parent)
    : QObject(parent), list_(list), book_(station.addressBook()), clock_(clock),
      online_(drawMark(true)), offline_(drawMark(false)), phone_(drawDevice(true)),
      computer_(drawDevice(false))
{
    list_.setIconSize(QSize(kMarkSize, kMarkSize));
    connect(&station, &Station::peerOnline, this,
            [this](const QString&, const QString& address) { seen(address); });
    connect(&refreshTimer, &QTimer::timeout, this, &OnlineMarks::refresh);
}

bool OnlineMarks::isOnline(const QString& address) const
{
    return peers_.isOnline(address, clock_.timeOfDay());
}

void OnlineMarks::seen(const QString& address)
{
    peers_.seen(address, clock_.timeOfDay());
    refresh();
}

void OnlineMarks::refresh()
{
    const QTime now = clock_.timeOfDay();
    peers_.expire(now);
    // Row i stands for slot i; rows just added or removed are caught up within a second.
    const int rows = std::min(list_.count(), book_.count());
    for (int row = 0; row < rows; ++row) {
        const QString& address = book_.entry(row).IPaddress;
        QListWidgetItem* item = list_.item(row);
        const AddressBookEntry& entry = book_.entry(row);
        const bool device = entry.speaks == Speaks::LocalSend && entry.Key.isEmpty();
        const QString description =
            device ? deviceDescription(entry) : peers_.description(address, now);
        const QIcon& mark = device ? (isHandheld(entry.deviceType) ? phone_ : computer_)
                            : peers_.isOnline(address, now) ? online_
                                                            : offline_;
        if (item->toolTip() != description)
            item->setToolTip(description);
        if (item->data(Qt::AccessibleDescriptionRole).toString() != description)
            item->setData(Qt::AccessibleDescriptionRole, description);
        if (item->icon().cacheKey() != mark.cacheKey())
            item->setIcon(mark);
    }
}
