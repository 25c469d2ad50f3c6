#pragma once

#include "addressbook/recipients.h"
#include "sending/sendbatch.h"
#include "transfer/sendoutcome.h"

#include <QList>
#include <QObject>
#include <QString>

// One recipient's share of a batch sent to several people: the same files, sent on its own
// connections in whatever protocol that person speaks. FanOut knows only this face, so a
// protocol plugs in by deriving from it and being made by the FanOut's TransferMaker.
//
// Every file started is told rowStarted() or rowSkipped(); every one started ends with
// rowFinished(); finished() follows the last, after start() has returned.
class RecipientTransfer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Sends files in order, each once, whatever became of the one before.
    virtual void start(const QList<QueuedFile>& files) = 0;
    // Ends at once and quietly: no further signal.
    virtual void stop() = 0;

Q_SIGNALS:
    void rowStarted(int row, int rows, const QString& path, qint64 size);
    void rowSkipped(int row, int rows, const QString& path, const QString& reason);
    void progressed(qint64 confirmed, qint64 size);
    void rowFinished(int row, const SendEnd& end);
    // The receiver showed another key than name's entry holds; nothing went to it.
    void keyChanged(const QString& name, const QString& address);
    // A folder's files arrive loose there (see FileSender::loosened).
    void loosened(const QString& name);
    void finished();
};
