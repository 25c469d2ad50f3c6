#include "window/mainwindow.h"

#include "plain/protocol.h"
#include "platform/clock.h"
#include "platform/localaddress.h"
#include "platform/settingsstore.h"
#include "presence/datagram.h"
#include "text/clocktext.h"
#include "window/accessibility.h"
#include "window/desktop.h"
#include "window/dialogs.h"
#include "window/firstrunquestion.h"
#include "window/receivedfilesdialog.h"
#include "window/savefolder.h"
#include "window/skin/nonclientskininterface.h"
#include "window/tray.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace
{

constexpr int kClientWidth = 797;
constexpr int kClientHeight = 521;

// The files and folders of this machine among what is dragged.
QStringList localPaths(const QMimeData& dragged)
{
    QStringList paths;
    for (const QUrl& url : dragged.urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

Main::Main(const Platform& platform, const QHostAddress& bindAddress)
    : platform_(platform), bindAddress_(bindAddress), ui_(buildMainUi(*this)),
      station_(platform.settings, platform.random, platform.dataFolder, bindAddress,
               platform.clock),
      addressBook_(*ui_.ListIPaddress, platform.dialogs, station_),
      keysPanel_(*ui_.ListIPaddress, platform.dialogs, addressBook_, station_),
      receiverPanel_(ui_, station_), senderPanel_(ui_, station_, platform.dialogs),
      recipientsPanel_(ui_, station_),
      sendQueuePanel_(ui_, addressBook_, platform.dialogs, station_),
      chatPanel_(ui_, platform.clock, station_),
      onlineMarks_(*ui_.ListIPaddress, station_, platform.clock, *ui_.TimerOneSecond),
      waitingPanel_(ui_, addressBook_, station_, onlineMarks_)
{
    setObjectName(QStringLiteral("Main"));
    platform.dialogs.showOver(this);
    setWindowTitle(QStringLiteral("Q U I L L O  v1.00"));
    resize(kClientWidth, kClientHeight);
    makeAccessible(*this, ui_);
    ui_.ListIPaddress->setFocus();

    connect(ui_.BUTTaddNewAddress, &QPushButton::clicked, this,
            [this] { addressBook_.BUTTaddNewAddress_Click(); });
    connect(ui_.BUTTdeleteAddress, &QPushButton::clicked, this,
            [this] { addressBook_.BUTTdeleteAddress_Click(); });
    connect(ui_.BUTTeditAddress, &QPushButton::clicked, this,
            [this] { addressBook_.BUTTeditAddress_Click(); });
    connect(ui_.BUTTsendFile, &QPushButton::clicked, this,
            [this] { sendQueuePanel_.BUTTsendFile_Click(); });
    connect(ui_.BUTclearsends, &QPushButton::clicked, this,
            [this] { sendQueuePanel_.BUTclearsends_Click(); });
    connect(ui_.BUTsendthesefiles, &QPushButton::clicked, this,
            [this] { sendQueuePanel_.BUTsendthesefiles_Click(); });
    connect(ui_.TimerOneSecond, &QTimer::timeout, this, &Main::TimerOneSecond_Timer);
    connect(receiverPanel_.openSaveFolder(), &QAction::triggered, this, &Main::openSaveFolder);
    connect(receiverPanel_.changeSaveFolder(), &QAction::triggered, this, &Main::chooseSaveFolder);
    connect(receiverPanel_.receivedFiles(), &QAction::triggered, this, &Main::showReceivedFiles);
    setAcceptDrops(true);
    ui_.ChatTX->installEventFilter(this);
    connect(&station_, &Station::received, this, &Main::showReceived);
    connect(&station_, &Station::problem, this,
            [this](const QString& message) { platform_.dialogs.notice(message); });

    // A serve of this user gives its ports up to the window, unasked: the window says
    // nothing of it unless the ports then cannot be had.
    connect(&station_, &Station::raiseRequested, this, &Main::showWindow);
    connect(&station_, &Station::portsFree, this, &Main::takePorts);
    switch (station_.claimPorts(platform.runtimeFolder)) {
    case Station::PortClaim::Free:
        takePresence();
        break;
    case Station::PortClaim::Waiting:
        ports_ = Ports::Waiting;
        break;
    case Station::PortClaim::OtherWindow:
        ports_ = Ports::OtherWindow;
        break;
    }
    // It runs from the window's creation, also while start-up asks its questions.
    ui_.TimerOneSecond->start();
}

// Presence and chat arrive from the window's creation on, or from when a serve has given
// the ports up. When the port cannot be had, the first status bar panel says so and the
// rest of the window carries on.
void Main::takePresence()
{
    if (const auto error = station_.bindPresence()) {
        ui_.StatusPanel1->setText(
            QStringLiteral("Cannot receive presence and chat on UDP port %1: Error %2: %3")
                .arg(QString::number(kDatagramPort), QString::number(error->number),
                     error->description));
    }
    station_.startAnnouncing();
    station_.hearAnnouncements();
}

// The settings were read anew, as the serve may have changed them. Before Form_Load() is
// done, it listens itself.
void Main::takePorts()
{
    ports_ = Ports::Free;
    takePresence();
    if (!loaded_ || startListening())
        return;
    close();
    QCoreApplication::exit(1);
}

Main::~Main() = default;

bool Main::Form_Load()
{
    if (ports_ == Ports::OtherWindow)
        return false;
    // The skinning object draws the frame for as long as the window lives.
    if (platform_.newSkin)
        skinObject_ = platform_.newSkin();
    if (!skinObject_ || !Skin(*this, *skinObject_))
        useSystemFrame();

    const QString localIP = localIPv4Address(bindAddress_);
    ui_.LABSendLocalIP->setText(localIP);
    ui_.LABrecieveLocalIP->setText(localIP);

    if (!settingsUsable())
        return false;
    station_.load();
    // Without an identity everything goes in the clear; the person is told once.
    if (const std::optional<QString> problem = station_.openIdentity())
        platform_.dialogs.notice(*problem);
    receiverPanel_.offerOnlyKnownSenders();
    receiverPanel_.offerAnswerLocalSend();
    onlineMarks_.refresh();

    const QString stored = station_.storedSaveFolder();
    if (stored.isEmpty())
        station_.setSaveFolder(askForSaveFolder(platform_.dialogs), true);
    else
        station_.setSaveFolder(stored, false);

    if (ports_ == Ports::Free && !startListening())
        return false;
    loaded_ = true;
    showInTray();
    return true;
}

void Main::showInTray()
{
    if (!platform_.newTray)
        return;
    tray_ = platform_.newTray(TrayActions{[this] { showWindow(); }, [this] { openSaveFolder(); },
                                          [this] { showReceivedFiles(); }, [this] { close(); }});
    if (tray_) {
        trayPanel_ =
            std::make_unique<TrayPanel>(*tray_, station_, [this] { return isActiveWindow(); });
    }
}

void Main::showWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void Main::showReceivedFiles()
{
    if (!receivedFiles_) {
        receivedFiles_ = new ReceivedFilesDialog(platform_.desktop, this);
        receivedFiles_->setAttribute(Qt::WA_DeleteOnClose);
    }
    receivedFiles_->showEntries(station_.receivedFiles());
    receivedFiles_->show();
    receivedFiles_->raise();
    receivedFiles_->activateWindow();
}

void Main::showReceived()
{
    if (receivedFiles_)
        receivedFiles_->showEntries(station_.receivedFiles());
}

// A settings file that cannot be read at all stops the program, since shut-down would
// overwrite it. One that is only partly readable is copied aside before anything writes
// to it, and the program goes on with what it could read.
bool Main::settingsUsable()
{
    const SettingsCheck check = station_.checkSettings();
    switch (check.state) {
    case SettingsCheck::State::Usable:
        return true;
    case SettingsCheck::State::Unreadable:
        fatal(QStringLiteral("Quillo cannot read its settings file %1.").arg(check.file),
              check.number, check.description);
        return false;
    case SettingsCheck::State::DamagedKept:
    case SettingsCheck::State::DamagedNoCopy:
        break;
    }
    const QString kept = check.state == SettingsCheck::State::DamagedNoCopy
                             ? QStringLiteral("A copy of it could not be made.")
                             : QStringLiteral("The file as it was is kept in %1.").arg(check.copy);
    platform_.dialogs.message(
        QStringLiteral("Part of the settings file %1 could not be read. %2 Quillo starts with "
                       "the settings it could read.")
            .arg(check.file, kept));
    return true;
}

void Main::openSaveFolder()
{
    // An empty save folder is the working folder, where the files then go.
    platform_.desktop.openFolder(QDir(station_.saveFolder()).absolutePath());
}

void Main::chooseSaveFolder()
{
    const QString start =
        station_.saveFolder().isEmpty() ? QDir::homePath() : station_.saveFolder();
    platform_.dialogs.chooseFolder(
        QStringLiteral("Choose a folder where you want to save downloaded files"), start,
        [self = QPointer(this)](const QString& chosen) {
            if (!self)
                return;
            const QFileInfo folder(chosen);
            if (!folder.isDir() || !folder.isWritable()) {
                self->platform_.dialogs.notice(
                    QStringLiteral("Quillo cannot save files in %1. Received files still go "
                                   "to %2.")
                        .arg(QDir::toNativeSeparators(chosen),
                             QDir::toNativeSeparators(self->station_.saveFolder())));
                return;
            }
            self->station_.setSaveFolder(saveFolderPath(chosen), true);
        });
}

void Main::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localPaths(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Main::dropEvent(QDropEvent* event)
{
    const QStringList paths = localPaths(*event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    sendQueuePanel_.filesDropped(paths);
}

// The chat line takes dropped text, but files dropped on it go to the send queue, as
// anywhere else on the window.
bool Main::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == ui_.ChatTX &&
        (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!localPaths(*drag->mimeData()).isEmpty()) {
            if (type == QEvent::Drop)
                dropEvent(drag);
            else
                drag->acceptProposedAction();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool Main::startListening()
{
    const std::optional<SocketError> error = station_.listen();
    if (!error)
        return true;
    fatal(QStringLiteral("Quillo cannot receive files on port %1.").arg(kFilePort), error->number,
          error->description);
    return false;
}

void Main::fatal(const QString& what, int number, const QString& description)
{
    platform_.dialogs.message(
        QStringLiteral("%1\n\nError %2: %3").arg(what, QString::number(number), description));
}

void Main::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void Main::Form_Unload()
{
    if (!loaded_)
        return;
    loaded_ = false;
    // Nothing is news any more: what the closing ends is not a failure to tell.
    trayPanel_.reset();
    tray_.reset();
    if (receivedFiles_)
        receivedFiles_->close();
    // Nothing more is sent once the window starts to close (a file going privately waits
    // for its person, to go on where it stopped), the address book is stored, and what
    // arrives ends as if its senders had closed.
    const bool saved = station_.stop();
    // Told last, once nothing runs any more, since the message waits for the user.
    if (!saved) {
        platform_.dialogs.message(
            QStringLiteral("Quillo could not write its settings file %1. The changes to the "
                           "address book were not saved.")
                .arg(platform_.settings.fileName()));
    }
}

void Main::TimerOneSecond_Timer()
{
    ui_.StatusPanel2->setText(clockText(platform_.clock.timeOfDay()));
}
