#pragma once

#include "sending/filesender.h"
#include "sending/sendbatch.h"
#include "station/station.h"
#include "transfer/sendtext.h"

#include <QList>
#include <QStringList>

// Keeps what a sender and its batch, or a station's sending and its queue, have reported:
// the status in the sender's own words, the last count, the batch's place, and how each
// file ended.
struct SenderWatch {
    SenderWatch(FileSender& sender, SendBatch& batch)
    {
        watchSender(sender, &FileSender::statusChanged, &FileSender::progressed,
                    &FileSender::readFailed, &FileSender::finished);
        QObject::connect(&batch, &SendBatch::rowStarted,
                         [this](int row, int rows, const QString& p) { started(row, rows, p); });
        QObject::connect(&batch, &SendBatch::rowSkipped,
                         [this](int row, int rows, const QString& p, const QString&,
                                const QString& reason) { wasSkipped(row, rows, p, reason); });
    }
    explicit SenderWatch(Station& station)
    {
        watchSender(station, &Station::sendStatusChanged, &Station::sendProgressed,
                    &Station::sendReadFailed, &Station::sendFinished);
        QObject::connect(&station, &Station::rowStarted,
                         [this](BatchKind kind, int row, int rows, const QString& p) {
                             if (kind == BatchKind::Queue)
                                 started(row, rows, p);
                         });
        QObject::connect(&station, &Station::rowSkipped,
                         [this](BatchKind kind, int row, int rows, const QString& p, const QString&,
                                const QString& reason) {
                             if (kind == BatchKind::Queue)
                                 wasSkipped(row, rows, p, reason);
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

private:
    template <typename Source, typename Status, typename Progressed, typename ReadFailed,
              typename Finished>
    void watchSender(Source& source, Status status, Progressed progressed, ReadFailed readFailed,
                     Finished finished)
    {
        QObject::connect(&source, status, [this](const SendStatus& s) {
            this->status = sendStatusText(s);
            detail = sendStatusDetail(s);
        });
        QObject::connect(&source, progressed, [this](qint64 c, qint64) { confirmed = c; });
        QObject::connect(&source, readFailed,
                         [this](const SendStatus& s) { readFailures.append(notSentText(s)); });
        QObject::connect(&source, finished, [this](const SendEnd& end) {
            outcomes.append(end.outcome);
            ends.append(end);
            confirmed = 0;
        });
    }
    void started(int row, int rows, const QString& p)
    {
        place = QStringLiteral("%1 of %2").arg(row + 1).arg(rows);
        path = p;
        status = QStringLiteral("Connecting...");
    }
    void wasSkipped(int row, int rows, const QString& p, const QString& reason)
    {
        place = QStringLiteral("%1 of %2").arg(row + 1).arg(rows);
        path = p;
        skipped.append(reason);
    }
};
