#include "window/receiverpanel.h"

#include "station/station.h"
#include "text/resumetext.h"
#include "text/speedtext.h"
#include "text/timelefttext.h"
#include "transfer/receivetext.h"
#include "window/mainlayout.h"
#include "window/peertextview.h"
#include "window/privacymark.h"
#include "window/transferprogress.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>

ReceiverPanel::ReceiverPanel(const MainUi& ui, Station& station, QObject* parent)
    : QObject(parent), ui_(ui), station_(station),
      progress_([this](qint64 received, qint64 size) { showProgress(received, size); })
{
    connect(&station, &Station::incomingOpened, this, &ReceiverPanel::showConnectionOpened);
    connect(&station, &Station::incomingPrivacyKnown, this, &ReceiverPanel::showPrivacyKnown);
    connect(&station, &Station::incomingFileStarted, this, &ReceiverPanel::showFileStarted);
    connect(&station, &Station::incomingResumed, this, &ReceiverPanel::showResumed);
    connect(&station, &Station::incomingProgressed, this, &ReceiverPanel::showProgressed);
    connect(&station, &Station::incomingEnded, this, &ReceiverPanel::showFinished);
    connect(&station, &Station::incomingSpeed, this, &ReceiverPanel::TimerRecieveSpeed_Timer);

    openSaveFolder_ = new QAction(QStringLiteral("Open Save Folder"), this);
    changeSaveFolder_ = new QAction(QStringLiteral("Change Save Folder\u2026"), this);
    receivedFiles_ = new QAction(QStringLiteral("Received Files"), this);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    for (QAction* action : {openSaveFolder_, changeSaveFolder_, receivedFiles_, separator})
        addToMenu(action);
}

void ReceiverPanel::addToMenu(QAction* action)
{
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui_.LABrecieveLocalIP, ui_.LABrecieveRemoteIP, ui_.LABrecieveStatus,
             ui_.LABrecieveFileName, ui_.LABrecieveBytesSent, ui_.LABrecieveFileSize,
             ui_.ProgressRecieve, ui_.LABprogressRecieve, ui_.LABrecieveSpeed}) {
        widget->setContextMenuPolicy(Qt::ActionsContextMenu);
        widget->addAction(action);
    }
}

void ReceiverPanel::offerOnlyKnownSenders()
{
    addOption(QStringLiteral("Accept Files Only From My Address Book"), station_.onlyKnownSenders(),
              [this](bool only) { station_.setOnlyKnownSenders(only, true); });
}

void ReceiverPanel::offerAnswerLocalSend()
{
    addOption(QStringLiteral("Answer LocalSend Devices In My Address Book"),
              station_.answersLocalSend(),
              [this](bool answer) { station_.setAnswerLocalSend(answer, true); });
}

void ReceiverPanel::addOption(const QString& text, bool checked,
                              std::function<void(bool checked)> toggled)
{
    auto* option = new QAction(text, this);
    option->setCheckable(true);
    option->setChecked(checked);
    connect(option, &QAction::toggled, this, std::move(toggled));
    addToMenu(option);
}

void ReceiverPanel::showConnectionOpened(int connection, const QString& peer)
{
    shown_ = connection;
    progress_.cancel();
    ui_.LABrecieveRemoteIP->setText(peer);
    showStatus(QStringLiteral("Connected"));
}

void ReceiverPanel::showPrivacyKnown(int connection, bool isPrivate, const QString& name)
{
    if (connection != shown_)
        return;
    if (isPrivate)
        ui_.receivePrivacyMark->showPrivate(name, keyCompared(station_.addressBook(), name));
    else
        ui_.receivePrivacyMark->showPlain();
}

void ReceiverPanel::showFileStarted(int connection, const QString& name, qint64 size)
{
    timed_ = connection;
    timedSize_ = size;
    if (connection != shown_)
        return;
    ui_.LABrecieveFileName->setText(name);
    ui_.LABrecieveFileSize->setText(QString::number(size));
    showStatus(QStringLiteral("Recieving file"));
}

void ReceiverPanel::showResumed(int connection, qint64 offset, qint64 size)
{
    if (connection == timed_)
        timedSize_ = size - offset;
    if (connection != shown_)
        return;
    showStatus(resumingText(offset, size));
    progress_.update(offset, size);
}

void ReceiverPanel::showProgressed(int connection, qint64 received, qint64 size)
{
    if (connection == shown_)
        progress_.update(received, size);
}

void ReceiverPanel::showProgress(qint64 received, qint64 size)
{
    showTransferProgress(*ui_.LABrecieveBytesSent, *ui_.LABprogressRecieve, *ui_.ProgressRecieve,
                         received, size);
}

void ReceiverPanel::showFinished(const ReceiveEnd& end)
{
    if (end.connection == timed_) {
        timed_ = 0;
        ui_.ProgressRecieve->setToolTip({});
    }
    if (end.connection != shown_)
        return;
    progress_.cancel();
    resetPanel();
    showStatus(receiveStatusText(end), end.detail);
}

void ReceiverPanel::TimerRecieveSpeed_Timer(qint64 bytes, int seconds)
{
    ui_.LABrecieveSpeed->setText(speedText(bytes, seconds));
    if (timed_ != 0)
        ui_.ProgressRecieve->setToolTip(timeLeftText(timedSize_ - bytes, bytes, seconds));
}

void ReceiverPanel::showStatus(const QString& text, const QString& toolTip)
{
    ui_.LABrecieveStatus->setText(text);
    ui_.LABrecieveStatus->setToolTip(plainToolTip(toolTip));
}

void ReceiverPanel::resetPanel()
{
    ui_.LABrecieveRemoteIP->setText(QStringLiteral("0.0.0.0"));
    ui_.LABrecieveFileName->clear();
    ui_.LABrecieveBytesSent->setText(QStringLiteral("0"));
    ui_.LABrecieveFileSize->setText(QStringLiteral("0"));
    ui_.LABprogressRecieve->setText(QStringLiteral("0 %"));
    ui_.LABrecieveSpeed->setText(QStringLiteral("0 K per Second"));
    setBarValue(*ui_.ProgressRecieve, 0);
    ui_.receivePrivacyMark->clear();
}
