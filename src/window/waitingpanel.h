#pragma once

#include <QObject>

class AddressBookPanel;
class OnlineMarks;
class QMenu;
class QPoint;
class Station;
struct MainUi;

// Sending when a person comes online: the send queue's context menu asks the station to
// move the queued files into a delivery that waits for the selected person, or to cancel a
// waiting delivery, and the sender's status tells who is waited for.
class WaitingPanel : public QObject
{
    Q_OBJECT

public:
    WaitingPanel(const MainUi& ui, const AddressBookPanel& addressBook, Station& station,
                 const OnlineMarks& marks, QObject* parent = nullptr);

private:
    // The entries of the send queue's context menu.
    void fillMenu(QMenu& menu);
    // Moves the queued files into a delivery that waits for the selected person.
    void sendWhenOnline();
    void LSTsends_ContextMenu(const QPoint& position);
    void showWaiting();

    const MainUi& ui_;
    const AddressBookPanel& addressBook_;
    Station& station_;
    const OnlineMarks& marks_;
};
