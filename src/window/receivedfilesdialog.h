#pragma once

#include "receiving/receivedhistory.h"

#include <QDialog>

class Desktop;
class QPushButton;
class QTreeWidget;

// "Received Files": the files received lately, newest first, with their time, size,
// sender and where they were saved. Open and Show in Folder act on the selected one; a
// file that is no longer where it was saved is shown as gone.
class ReceivedFilesDialog : public QDialog
{
    Q_OBJECT

public:
    ReceivedFilesDialog(Desktop& desktop, QWidget* parent = nullptr);

    void showEntries(const QList<ReceivedEntry>& entries);
    QTreeWidget& list() { return *list_; }

private:
    QString selectedPath() const;
    void selectionChanged();

    Desktop& desktop_;
    QTreeWidget* list_;
    QPushButton* open_;
    QPushButton* showInFolder_;
};
