#pragma once

#include "window/notificationthrottle.h"
#include "window/receivedfolders.h"
#include "window/traytexts.h"

#include <QHash>
#include <QObject>

#include <functional>

class Station;
class Tray;
struct ChatLine;
struct ReceiveEnd;

// Tells the tray what the program is doing, and notifies what a person away from the
// window wants to know: a file arrived whole, a transfer failed, a chat line came in while
// the window was not active. Files are sent by the send queue's batch and by the deliveries
// that wait for their person; it follows them all. Notifications are held back and summed
// up in a flood, and every text in them is shown as it is, never as markup.
class TrayPanel : public QObject
{
    Q_OBJECT

public:
    TrayPanel(Tray& tray, Station& station, std::function<bool()> windowActive,
              QObject* parent = nullptr);

private:
    void followSending(Station& station);
    void showFileStarted(int connection, const QString& name, qint64 size);
    void showReceived(int connection, qint64 received, qint64 size);
    void receiveEnded(const ReceiveEnd& end);
    void sendFailed(const QString& path, const QString& host, const QString& why);
    void showChatReceived(const QList<ChatLine>& lines);
    void showActivity();

    Tray& tray_;
    const Station& station_;
    NotificationThrottle notices_;
    ReceivedFolders folders_; // a received folder is news once, when it is complete
    std::function<bool()> windowActive_;
    QHash<int, QString> arriving_; // the connections that announced a file, and its name
    int shownConnection_ = 0;      // the one the tooltip follows: the last to start
    TrayActivity activity_;
    QString toolTip_;
};
