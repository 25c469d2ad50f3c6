#pragma once

#include "sending/folderwalk.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class AddressBookPanel;
class Dialogs;
class Station;
struct MainUi;

// The send queue: the list of files waiting to be sent to the selected peer, its three
// buttons, and the batch's place in it ("2 of 5 Files"). The list shows the station's
// queue; the place is that of whichever batch the station sends, the queue or a delivery
// that waited for its person.
class SendQueuePanel : public QObject
{
    Q_OBJECT

public:
    SendQueuePanel(const MainUi& ui, const AddressBookPanel& addressBook, Dialogs& dialogs,
                   Station& station, QObject* parent = nullptr);

    void BUTTsendFile_Click();
    void BUTclearsends_Click();
    void BUTsendthesefiles_Click();
    // Files and folders dropped on the window, queued once the drop has been walked: a file
    // as the add command queues it, a folder as one row, "Trip (214 files, 1.2 MB)". The
    // walk goes in steps between which the window goes on; it asks first as soon as more
    // than kManyDroppedFiles files come from folders. Drops made meanwhile are walked in
    // turn.
    void filesDropped(const QStringList& paths);
    bool isWalkingDrop() const { return walk_ != nullptr; }

    static constexpr qsizetype kManyDroppedFiles = 1000;

private:
    void queueFiles(const QStringList& paths);
    void sendToSeveral();
    void queueRows(const QList<WalkedRow>& rows);
    void showRowStarted(int row, int rows, const QString& path, const QString& host, qint64 size);
    void showRowSkipped(int row, int rows, const QString& path, const QString& host,
                        const QString& reason);
    void showRow(int row, int rows, const QString& path, const QString& host, qint64 size);
    void noPeerSelected();
    void walkNextDrop();
    void walkDrop();
    void askAboutManyFiles(bool walked);
    void endDrop(bool queue);

    const MainUi& ui_;
    const AddressBookPanel& addressBook_;
    Dialogs& dialogs_;
    Station& station_;
    QList<QStringList> drops_; // dropped, not yet walked
    std::unique_ptr<FolderWalk> walk_;
    bool asked_ = false; // whether the walk in progress asked about many files
    QTimer walkTimer_;   // the next step of the walk, from the event loop
};
