#include "shell/mainwindow.h"

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/localaddress.h"
#include "platform/nonclientskininterface.h"
#include "platform/settingsstore.h"
#include "platform/socketerror.h"
#include "shell/clocktext.h"
#include "shell/savefolder.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace
{

constexpr int kClientWidth = 797;
constexpr int kClientHeight = 521;

const QString kSettingsSection = QStringLiteral("Settings");
const QString kSaveDirKey = QStringLiteral("SaveDir");

} // namespace

Main::Main(const Platform& platform, const QHostAddress& bindAddress)
    : platform_(platform), bindAddress_(bindAddress), ui_(buildMainUi(*this)),
      addressBook_(*ui_.ListIPaddress, platform.dialogs), receiver_(ui_, bindAddress),
      sender_(ui_, platform.dialogs, platform.random, bindAddress),
      sendQueue_(ui_, addressBook_, platform.dialogs, sender_),
      presenceChat_(ui_, addressBook_.book(), platform.clock, bindAddress)
{
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("Q U I L L O  v1.00"));
    resize(kClientWidth, kClientHeight);
    ui_.ListIPaddress->setFocus();

    connect(ui_.BUTTaddNewAddress, &QPushButton::clicked, this,
            [this] { addressBook_.BUTTaddNewAddress_Click(); });
    connect(ui_.BUTTdeleteAddress, &QPushButton::clicked, this,
            [this] { addressBook_.BUTTdeleteAddress_Click(); });
    connect(ui_.BUTTeditAddress, &QPushButton::clicked, this,
            [this] { addressBook_.BUTTeditAddress_Click(); });
    connect(ui_.BUTTsendFile, &QPushButton::clicked, this,
            [this] { sendQueue_.BUTTsendFile_Click(); });
    connect(ui_.BUTclearsends, &QPushButton::clicked, this,
            [this] { sendQueue_.BUTclearsends_Click(); });
    connect(ui_.BUTsendthesefiles, &QPushButton::clicked, this,
            [this] { sendQueue_.BUTsendthesefiles_Click(); });
    connect(ui_.TimerOneSecond, &QTimer::timeout, this, &Main::TimerOneSecond_Timer);

    // These two run from the window's creation, also while start-up asks its questions.
    ui_.Timer1min->start();
    ui_.TimerOneSecond->start();
}

Main::~Main() = default;

bool Main::Form_Load()
{
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
    addressBook_.load(platform_.settings);

    saveFolder_ = platform_.settings.read(kSettingsSection, kSaveDirKey, QString());
    if (saveFolder_.isEmpty()) {
        saveFolder_ = askForSaveFolder(platform_.dialogs);
        platform_.settings.write(kSettingsSection, kSaveDirKey, saveFolder_);
        platform_.settings.save();
    }
    receiver_.setSaveFolder(saveFolder_);

    if (!startListening())
        return false;
    loaded_ = true;
    return true;
}

// A settings file that cannot be read at all stops the program, since shut-down would
// overwrite it. One that is only partly readable is copied aside before anything writes
// to it, and the program goes on with what it could read.
bool Main::settingsUsable()
{
    SettingsStore& settings = platform_.settings;
    if (const auto error = settings.readError()) {
        fatal(QStringLiteral("Quillo cannot read its settings file %1.").arg(settings.fileName()),
              error->number, error->description);
        return false;
    }
    if (settings.isDamaged()) {
        const QString copy = settings.keepCopyAside();
        const QString kept = copy.isEmpty()
                                 ? QStringLiteral("A copy of it could not be made.")
                                 : QStringLiteral("The file as it was is kept in %1.").arg(copy);
        platform_.dialogs.message(
            QStringLiteral("Part of the settings file %1 could not be read. %2 Quillo starts with "
                           "the settings it could read.")
                .arg(settings.fileName(), kept));
    }
    return true;
}

bool Main::startListening()
{
    const std::optional<SocketError> error = receiver_.listen();
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
    // Every step runs whatever became of the one before.
    addressBook_.store(platform_.settings);
    platform_.settings.save();
    sender_.close();
    receiver_.close();
}

void Main::TimerOneSecond_Timer()
{
    ui_.StatusPanel2->setText(clockText(platform_.clock.timeOfDay()));
}
