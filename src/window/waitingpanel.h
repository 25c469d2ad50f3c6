#pragma once

#include <QObject>

class AddressBookPanel;
class OnlineMarks;
class QMenu;
class QPoint;
class SendBatch;
class SendQueuePanel;
class Station;
class WaitingBatches;
struct MainUi;

// Sending when a person comes online: the send queue's context menu hands the queued files
// to a batch that waits for the selected person, or cancels a waiting batch, and the
// sender's status tells who is waited for.
class WaitingPanel : public QObject
{
    Q_OBJECT

public:
    WaitingPanel(const MainUi& ui, const AddressBookPanel& addressBook, SendQueuePanel& queue,
                 Station& station, const OnlineMarks& marks, QObject* parent = nullptr);

    // The entries of the send queue's context menu.
    void fillMenu(QMenu& menu);
    // Moves the queued files into a batch that waits for the selected person.
    void sendWhenOnline();
    void cancelWaiting(const QString& address);

private:
    void LSTsends_ContextMenu(const QPoint& position);
    void showWaiting();

    const MainUi& ui_;
    const AddressBookPanel& addressBook_;
    SendQueuePanel& queue_;
    Station& station_;
    SendBatch& now_;
    WaitingBatches& waiting_;
    const OnlineMarks& marks_;
};
