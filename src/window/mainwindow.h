#pragma once

#include "station/station.h"
#include "window/addressbookpanel.h"
#include "window/chatpanel.h"
#include "window/keyspanel.h"
#include "window/mainlayout.h"
#include "window/onlinemarks.h"
#include "window/platform.h"
#include "window/receivedfilesdialog.h"
#include "window/receiverpanel.h"
#include "window/recipientspanel.h"
#include "window/senderpanel.h"
#include "window/sendqueuepanel.h"
#include "window/traypanel.h"
#include "window/waitingpanel.h"

#include <QHostAddress>
#include <QPointer>
#include <QWidget>

#include <memory>

class NonClientSkinInterface;
class Tray;

// The program's one window, Main. It owns every control and the station that does the
// work, and shows what the station reports. Its handlers are named after the control and
// event that raise them.
class Main : public QWidget
{
    Q_OBJECT

public:
    // The program binds to every address; tests bind each window to a loopback address
    // of its own so that several can listen on the same ports in one process.
    explicit Main(const Platform& platform, const QHostAddress& bindAddress = QHostAddress::Any);
    ~Main() override;

    // Brings the program into its working state. Returns false after a failure that the
    // program cannot run with; the user has then been told, and the window must not be
    // shown.
    bool Form_Load();
    // Whether Form_Load() found another window of this user, brought it to the front and
    // did nothing more: the program then ends as if it had done its work.
    bool gaveWayToAnotherWindow() const { return ports_ == Ports::OtherWindow; }

    const MainUi& ui() const { return ui_; }
    Station& station() { return station_; }

    // Shows the save folder in the file manager.
    void openSaveFolder();
    // Asks for another save folder; the receiver saves there from the next file on.
    void chooseSaveFolder();

    // Brings the window to the front, as the tray's menu does.
    void showWindow();
    // Shows the files received lately, in a window of their own.
    void showReceivedFiles();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Files and folders dropped anywhere on the window go to the send queue.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool Skin(QWidget& window, NonClientSkinInterface& skin);
    void useSystemFrame();
    bool settingsUsable();
    bool startListening();
    void takePresence();
    void takePorts();
    void fatal(const QString& what, int number, const QString& description);
    void Form_Unload();

    void TimerOneSecond_Timer();
    void showInTray();
    void showReceived();

    Platform platform_;
    QHostAddress bindAddress_;
    MainUi ui_;
    std::unique_ptr<NonClientSkinInterface> skinObject_;
    // The station that does the work, then the panels that show it: the panels go first.
    Station station_;
    AddressBookPanel addressBook_;
    KeysPanel keysPanel_;
    ReceiverPanel receiverPanel_;
    SenderPanel senderPanel_;
    RecipientsPanel recipientsPanel_;
    SendQueuePanel sendQueuePanel_;
    ChatPanel chatPanel_;
    OnlineMarks onlineMarks_;
    WaitingPanel waitingPanel_;
    QPointer<ReceivedFilesDialog> receivedFiles_;
    std::unique_ptr<Tray> tray_;
    std::unique_ptr<TrayPanel> trayPanel_;
    bool loaded_ = false;
    // Whether the ports are this window's, or wait for a serve or receive of this user to
    // give them up (see Station::claimPorts).
    enum class Ports { Free, Waiting, OtherWindow };
    Ports ports_ = Ports::Free;
};
