#include "window/senderpanel.h"

#include "station/station.h"
#include "text/speedtext.h"
#include "text/timelefttext.h"
#include "transfer/sendtext.h"
#include "window/dialogs.h"
#include "window/mainlayout.h"
#include "window/peertextview.h"
#include "window/privacymark.h"
#include "window/transferprogress.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>

SenderPanel::SenderPanel(const MainUi& ui, Station& station, Dialogs& dialogs, QObject* parent)
    : QObject(parent), ui_(ui), dialogs_(dialogs),
      progress_([this](qint64 confirmed, qint64 size) { showProgress(confirmed, size); })
{
    connect(&station, &Station::sendStatusChanged, this, &SenderPanel::showStatus);
    connect(&station, &Station::sendProgressed, this, [this](qint64 confirmed, qint64 size) {
        timedSize_ = size;
        progress_.update(confirmed, size);
    });
    connect(&station, &Station::sendResumed, this, [this](qint64 offset) { timedFrom_ = offset; });
    connect(&station, &Station::sendReadFailed, this, &SenderPanel::sendFileFailed);
    connect(&station, &Station::sendSpeed, this, &SenderPanel::TimerSendSpeed_Timer);
    connect(&station, &Station::sendFinished, this, &SenderPanel::showFinished);
    connect(&station, &Station::sendPrivacyKnown, this,
            [this, &station](bool isPrivate, const QString& name) {
                if (isPrivate)
                    ui_.sendPrivacyMark->showPrivate(name,
                                                     keyCompared(station.addressBook(), name));
                else
                    ui_.sendPrivacyMark->showPlain();
            });
    connect(&station, &Station::sendKeyChanged, this,
            [this](const QString& name, const QString& address) {
                dialogs_.notice(keyNotShownMessage(name, address));
            });
    // A LocalSend device that asks for a PIN waits for the person's answer; none ends it.
    connect(&station, &Station::sendPinNeeded, this,
            [this, &station](const QString& name, const QString&, bool wrong) {
                const QString question =
                    wrong ? QStringLiteral("That was not the PIN. Type the PIN %1 shows")
                          : QStringLiteral("%1 asks for a PIN before it takes the files. Type "
                                           "the PIN it shows");
                const QPointer<SenderPanel> self(this);
                dialogs_.input(question.arg(name), QStringLiteral("PIN"), {},
                               [self, &station](const QString& pin) {
                                   if (self)
                                       station.answerPin(pin.trimmed());
                               });
            });
    connect(&station, &Station::sendLoosened, this,
            [this](const QString& name) { dialogs_.notice(loosenedMessage(name)); });
}

void SenderPanel::showStatus(const SendStatus& status)
{
    ui_.LABSendStatus->setText(sendStatusText(status));
    ui_.LABSendStatus->setToolTip(plainToolTip(sendStatusDetail(status)));
}

void SenderPanel::showProgress(qint64 confirmed, qint64 size)
{
    showTransferProgress(*ui_.LABSendBytesSent, *ui_.LABprogressSend, *ui_.ProgressSend, confirmed,
                         size);
}

void SenderPanel::sendFileFailed(const SendStatus& status)
{
    dialogs_.notice(notSentText(status) + QStringLiteral(" During SendFile"));
}

void SenderPanel::TimerSendSpeed_Timer(qint64 bytes, int seconds)
{
    ui_.LABsendSpeed->setText(speedText(bytes, seconds));
    if (timedSize_ >= 0)
        ui_.ProgressSend->setToolTip(timeLeftText(timedSize_ - timedFrom_ - bytes, bytes, seconds));
}

void SenderPanel::showFinished(const SendEnd& end)
{
    timedSize_ = -1;
    timedFrom_ = 0;
    ui_.ProgressSend->setToolTip({});
    // An error leaves the panel as it was, but for its status.
    if (end.outcome == SendOutcome::Failed)
        return;
    progress_.cancel();
    resetPanel();
}

void SenderPanel::resetPanel()
{
    ui_.LABSendRemoteIP->setText(QStringLiteral("0.0.0.0"));
    ui_.LABSendFileName->clear();
    ui_.LABSendBytesSent->setText(QStringLiteral("0"));
    ui_.LABSendFileSize->setText(QStringLiteral("0"));
    ui_.LABprogressSend->setText(QStringLiteral("0 %"));
    ui_.LABsendSpeed->setText(QStringLiteral("0 K per second"));
    setBarValue(*ui_.ProgressSend, 0);
    ui_.sendPrivacyMark->clear();
}
