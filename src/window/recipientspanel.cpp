#include "window/recipientspanel.h"

#include "station/station.h"
#include "transfer/sendtext.h"
#include "window/mainlayout.h"
#include "window/peertextview.h"
#include "window/transferprogress.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>

RecipientsPanel::RecipientsPanel(const MainUi& ui, const Station& station, QObject* parent)
    : QObject(parent), ui_(ui), station_(station)
{
    refresh_.setSingleShot(true);
    refresh_.setInterval(kRefreshInterval);
    connect(&refresh_, &QTimer::timeout, this, &RecipientsPanel::refresh);
    connect(&station_, &Station::recipientChanged, this, [this] {
        if (!refresh_.isActive())
            refresh_.start();
    });
    connect(&station_, &Station::recipientsFinished, this, &RecipientsPanel::showEnded);
}

void RecipientsPanel::refresh()
{
    if (!station_.isSendingToSeveral())
        return;
    showPeople();
    QStringList sendingTo;
    const RecipientState* shown = nullptr;
    for (const RecipientState& state : station_.recipients()) {
        if (state.stage != RecipientState::Stage::Sending)
            continue;
        sendingTo.append(state.who.name);
        if (!shown)
            shown = &state;
    }
    ui_.LABSendStatus->setText(QStringLiteral("Sending to ") +
                               sendingTo.join(QStringLiteral(", ")));
    if (!shown)
        return;
    ui_.LABSendFileName->setText(shown->path);
    ui_.LABSendRemoteIP->setText(shown->who.address);
    ui_.LABSendFileSize->setText(QString::number(shown->size));
    showTransferProgress(*ui_.LABSendBytesSent, *ui_.LABprogressSend, *ui_.ProgressSend,
                         shown->confirmed, shown->size);
}

// The count and the tooltip that lists everyone.
void RecipientsPanel::showPeople()
{
    const QList<RecipientState>& states = station_.recipients();
    ui_.LABtotalProgress->setText(
        QStringLiteral("%1 of %2 People").arg(station_.recipientsEnded()).arg(states.size()));
    QStringList lines;
    for (const RecipientState& state : states)
        lines.append(recipientStateText(state));
    const QString tip = plainToolTip(lines.join(QLatin1Char('\n')));
    ui_.LABtotalProgress->setToolTip(tip);
    ui_.LABSendStatus->setToolTip(tip);
}

void RecipientsPanel::showEnded()
{
    refresh_.stop();
    showPeople();
    QStringList notSent;
    for (const RecipientState& state : station_.recipients()) {
        if (state.stage != RecipientState::Stage::Sent)
            notSent.append(state.who.name);
    }
    const int people = int(station_.recipients().size());
    ui_.LABSendStatus->setText(notSent.isEmpty()
                                   ? QStringLiteral("Sent to all %1 People").arg(people)
                                   : QStringLiteral("Not sent to %1 of %2 People: %3")
                                         .arg(notSent.size())
                                         .arg(people)
                                         .arg(notSent.join(QStringLiteral(", "))));
    ui_.LABSendFileName->clear();
    ui_.LABSendRemoteIP->setText(QStringLiteral("0.0.0.0"));
    ui_.LABSendFileSize->setText(QStringLiteral("0"));
    showTransferProgress(*ui_.LABSendBytesSent, *ui_.LABprogressSend, *ui_.ProgressSend, 0, 0);
}

QString recipientStateText(const RecipientState& state)
{
    const QString& name = state.who.name;
    switch (state.stage) {
    case RecipientState::Stage::Queued:
        return QStringLiteral("%1: waiting its turn").arg(name);
    case RecipientState::Stage::Sending: {
        const int percent = state.size > 0 ? int(state.confirmed * 100 / state.size) : 0;
        return QStringLiteral("%1: sending %2, %3 %")
            .arg(name, QFileInfo(state.path).fileName())
            .arg(percent);
    }
    case RecipientState::Stage::Sent:
        return QStringLiteral("%1: has every file").arg(name);
    case RecipientState::Stage::NotSent:
        break;
    }
    QString why = state.skipReason;
    if (why.isEmpty()) {
        const QString detail = sendStatusDetail(state.lastFailure.status);
        why = sendStatusText(state.lastFailure.status) +
              (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    }
    return QStringLiteral("%1: %2 of %3 files not sent (%4)")
        .arg(name)
        .arg(state.failed)
        .arg(state.failed + state.sent)
        .arg(why);
}
