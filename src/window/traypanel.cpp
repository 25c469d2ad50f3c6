#include "window/traypanel.h"

#include "addressbook/peername.h"
#include "plain/protocol.h"
#include "station/station.h"
#include "transfer/receivetext.h"
#include "transfer/sendtext.h"
#include "window/peertextview.h"
#include "window/tray.h"

#include <QFileInfo>

namespace
{

const QString kFilesFrom = QStringLiteral("%1 files from %2");

QStringList speakers(const QList<ChatLine>& lines)
{
    QStringList names;
    for (const ChatLine& line : lines) {
        if (!names.contains(line.name))
            names.append(line.name);
    }
    return names;
}

} // namespace

TrayPanel::TrayPanel(Tray& tray, Station& station, std::function<bool()> windowActive,
                     QObject* parent)
    : QObject(parent), tray_(tray), station_(station),
      notices_([this](const QString& title, const QString& text, const QString& filePath) {
          tray_.notify(title, notificationBody(text), filePath);
      }),
      folders_([this](const QString& folder, const QString& peer, int files, qint64 bytes) {
          notices_.add(QStringLiteral("File Received"),
                       receivedFolderNotice(folder, files, bytes, peer), folder, kFilesFrom, files,
                       {peer});
      }),
      windowActive_(std::move(windowActive))
{
    connect(&station, &Station::incomingFileStarted, this, &TrayPanel::showFileStarted);
    connect(&station, &Station::incomingProgressed, this, &TrayPanel::showReceived);
    connect(&station, &Station::incomingEnded, this, &TrayPanel::receiveEnded);
    followSending(station);
    connect(&station, &Station::chatReceived, this, &TrayPanel::showChatReceived);
    showActivity();
}

// Both the queue and the deliveries that waited send on the one sender, one at a time.
void TrayPanel::followSending(Station& station)
{
    connect(&station, &Station::rowStarted, this, [this](BatchKind, int row, int rows) {
        activity_.sendingRow = row + 1;
        activity_.sendingRows = rows;
        showActivity();
    });
    connect(&station, &Station::rowSkipped, this,
            [this](BatchKind, int, int, const QString& path, const QString& host,
                   const QString& reason) { sendFailed(path, host, reason); });
    connect(&station, &Station::rowFinished, this, [this](BatchKind, int, const SendEnd& end) {
        if (end.outcome != SendOutcome::Sent)
            sendFailed(end.path, end.address, sendStatusText(end.status));
    });
    connect(&station, &Station::batchFinished, this, [this] {
        activity_.sendingRow = 0;
        showActivity();
    });
}

void TrayPanel::showFileStarted(int connection, const QString& name, qint64)
{
    arriving_.insert(connection, name);
    shownConnection_ = connection;
    activity_.receiving = name;
    activity_.receivedPercent = 0;
    showActivity();
}

void TrayPanel::showReceived(int connection, qint64 received, qint64 size)
{
    if (connection != shownConnection_)
        return;
    activity_.receivedPercent = percentage(received, size);
    showActivity();
}

void TrayPanel::receiveEnded(const ReceiveEnd& end)
{
    // A connection that never announced a file, such as one turned away, is not news.
    const auto arriving = arriving_.constFind(end.connection);
    if (arriving == arriving_.cend())
        return;
    const QString name = *arriving;
    arriving_.erase(arriving);
    const QString peer = station_.senderOf(end);
    if (end.outcome == ReceiveEnd::Outcome::Saved && !end.folder.isEmpty()) {
        folders_.add(end.folder, peer, end.size);
    } else if (end.outcome == ReceiveEnd::Outcome::Saved) {
        notices_.add(QStringLiteral("File Received"),
                     receivedNotice(QFileInfo(end.path).fileName(), end.size, peer), end.path,
                     kFilesFrom, 1, {peer});
    } else {
        notices_.add(QStringLiteral("Receiving Failed"),
                     QStringLiteral("%1 from %2: %3").arg(name, peer, receiveStatusText(end)), {},
                     kFilesFrom, 1, {peer});
    }
    if (end.connection == shownConnection_) {
        activity_.receiving.clear();
        showActivity();
    }
}

void TrayPanel::sendFailed(const QString& path, const QString& host, const QString& why)
{
    const QString peer = nameOrAddress(station_.addressBook(), host);
    notices_.add(QStringLiteral("Sending Failed"),
                 QStringLiteral("%1 to %2: %3").arg(QFileInfo(path).fileName(), peer, why), {},
                 QStringLiteral("%1 files to %2"), 1, {peer});
}

void TrayPanel::showChatReceived(const QList<ChatLine>& lines)
{
    if (!windowActive_() && !lines.isEmpty()) {
        notices_.add(QStringLiteral("Mini Chat"), chatNotice(lines), {},
                     QStringLiteral("%1 lines from %2"), int(lines.size()), speakers(lines));
    }
}

// Only a change reaches the desktop: progress arrives far more often than the percentage
// moves.
void TrayPanel::showActivity()
{
    const QString toolTip = trayToolTip(activity_);
    if (toolTip == toolTip_)
        return;
    toolTip_ = toolTip;
    tray_.setToolTip(toolTip);
}
