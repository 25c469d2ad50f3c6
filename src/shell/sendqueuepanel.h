#pragma once

#include <QObject>

class AddressBookPanel;
class Dialogs;
class SendBatch;
struct MainUi;

// The send queue: the list of files waiting to be sent to the selected peer, its three
// buttons, and the batch's place in it ("2 of 5 Files"). The list shows the batch's rows.
class SendQueuePanel : public QObject
{
    Q_OBJECT

public:
    SendQueuePanel(const MainUi& ui, const AddressBookPanel& addressBook, Dialogs& dialogs,
                   SendBatch& batch, QObject* parent = nullptr);

    void BUTTsendFile_Click();
    void BUTclearsends_Click();
    void BUTsendthesefiles_Click();
    // Files and folders dropped on the window, queued as the add command queues files;
    // a drop that brings more than kManyDroppedFiles files from folders asks first.
    void filesDropped(const QStringList& paths);

    static constexpr qsizetype kManyDroppedFiles = 1000;

    // Shows the rows of another batch on the same sender as it shows its own.
    void follow(SendBatch& batch);

private:
    void queueFiles(const QStringList& paths);
    void rowStarted(int row, int rows, const QString& path, const QString& host, qint64 size);
    void rowSkipped(int row, int rows, const QString& path, const QString& host,
                    const QString& reason);
    void showRow(int row, int rows, const QString& path, const QString& host, qint64 size);
    void noPeerSelected();

    const MainUi& ui_;
    const AddressBookPanel& addressBook_;
    Dialogs& dialogs_;
    SendBatch& batch_;
};
