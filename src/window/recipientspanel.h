#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

class Station;
struct MainUi;
struct RecipientState;

// The sender panel while a batch goes to several people: how many have ended ("2 of 5
// People"), whom it is sending to, the transfer of the first of them, and in a tooltip on
// the count and the status every recipient with where they stand.
class RecipientsPanel : public QObject
{
    Q_OBJECT

public:
    // Recipients change on every block confirmed; the panel shows them this often at most.
    static constexpr auto kRefreshInterval = std::chrono::milliseconds(200);

    RecipientsPanel(const MainUi& ui, const Station& station, QObject* parent = nullptr);

private:
    void refresh();
    void showEnded();
    void showPeople();

    const MainUi& ui_;
    const Station& station_;
    QTimer refresh_;
};

// One line of the tooltip: "Anna: sent", "Bea: sending photo.jpg, 40 %"...
QString recipientStateText(const RecipientState& state);
