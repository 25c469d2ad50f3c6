#pragma once

#include "sending/filesender.h"
#include "sending/sendbatch.h"
#include "transfer/sendtext.h"

#include <QList>
#include <QStringList>

// Keeps what a sender and its batch have reported: the status in the sender's own words,
// the last count, the batch's place, and how each file ended.
struct SenderWatch {
    SenderWatch(FileSender& sender, SendBatch& batch)
    {
        QObject::connect(&sender, &FileSender::statusChanged, [this](const SendStatus& s) {
            status = sendStatusText(s);
            detail = sendStatusDetail(s);
        });
        QObject::connect(&sender, &FileSender::progressed,
                         [this](qint64 c, qint64) { confirmed = c; });
        QObject::connect(&sender, &FileSender::readFailed,
                         [this](const SendStatus& s) { readFailures.append(notSentText(s)); });
        QObject::connect(&sender, &FileSender::finished, [this](const SendEnd& end) {
            outcomes.append(end.outcome);
            ends.append(end);
            confirmed = 0;
        });
        QObject::connect(&batch, &SendBatch::rowStarted,
                         [this](int row, int rows, const QString& p, const QString&, qint64) {
                             place = QStringLiteral("%1 of %2").arg(row + 1).arg(rows);
                             path = p;
                             status = QStringLiteral("Connecting...");
                         });
        QObject::connect(
            &batch, &SendBatch::rowSkipped,
            [this](int row, int rows, const QString& p, const QString&, const QString& reason) {
                place = QStringLiteral("%1 of %2").arg(row + 1).arg(rows);
                path = p;
                skipped.append(reason);
            });
    }

    QString status;
    QString detail;
    qint64 confirmed = 0;
    QString place; // "2 of 3"
    QString path;
    QList<SendOutcome> outcomes;
    QList<SendEnd> ends;
    QStringList readFailures;
    QStringList skipped;
};
