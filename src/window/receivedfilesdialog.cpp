#include "window/receivedfilesdialog.h"

#include "window/desktop.h"
#include "window/receivedrows.h"
#include "window/traytexts.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{

enum Column { Time, Name, Size, From, Private, SavedAs };

QTreeWidgetItem* newRow(const ReceivedRow& row)
{
    const ReceivedEntry& entry = row.entry;
    const bool there =
        entry.folder.isEmpty() ? QFileInfo(entry.path).isFile() : QFileInfo(entry.path).isDir();
    const QString name = entry.folder.isEmpty()
                             ? entry.name
                             : QStringLiteral("%1, %2 files").arg(entry.name).arg(row.files);
    auto* item = new QTreeWidgetItem(
        {QLocale().toString(entry.time, QLocale::ShortFormat), name, readableSize(entry.size),
         entry.peer, entry.isPrivate ? QStringLiteral("Yes") : QStringLiteral("No"),
         there ? entry.path : QStringLiteral("Gone: %1").arg(entry.path)});
    item->setData(SavedAs, Qt::UserRole, there ? entry.path : QString());
    item->setTextAlignment(Size, Qt::AlignRight | Qt::AlignVCenter);
    if (!there) {
        for (int column = Time; column <= SavedAs; ++column)
            item->setForeground(column, QPalette().brush(QPalette::Disabled, QPalette::Text));
        item->setToolTip(SavedAs, QStringLiteral("The file is no longer there."));
    }
    return item;
}

} // namespace

ReceivedFilesDialog::ReceivedFilesDialog(Desktop& desktop, QWidget* parent)
    : QDialog(parent), desktop_(desktop), list_(new QTreeWidget(this))
{
    setWindowTitle(QStringLiteral("Received Files"));
    list_->setHeaderLabels({QStringLiteral("Received"), QStringLiteral("Name"),
                            QStringLiteral("Size"), QStringLiteral("From"),
                            QStringLiteral("Private"), QStringLiteral("Saved As")});
    list_->setAccessibleName(QStringLiteral("Received Files"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->header()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    open_ = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::ActionRole);
    showInFolder_ =
        buttons->addButton(QStringLiteral("Show in Folder"), QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(open_, &QPushButton::clicked, this, [this] { desktop_.openFile(selectedPath()); });
    connect(showInFolder_, &QPushButton::clicked, this,
            [this] { desktop_.showInFolder(selectedPath()); });
    connect(list_, &QTreeWidget::itemActivated, this, [this] {
        if (!selectedPath().isEmpty())
            desktop_.openFile(selectedPath());
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            &ReceivedFilesDialog::selectionChanged);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    resize(720, 360);
    selectionChanged();
}

void ReceivedFilesDialog::showEntries(const QList<ReceivedEntry>& entries)
{
    list_->clear();
    for (const ReceivedRow& row : receivedRows(entries))
        list_->addTopLevelItem(newRow(row));
    for (int column = Time; column < SavedAs; ++column)
        list_->resizeColumnToContents(column);
    // The newest file is the one most often wanted: Enter opens it.
    if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
    selectionChanged();
}

// The path of the selected file, or the empty text when none is selected or it is gone.
QString ReceivedFilesDialog::selectedPath() const
{
    const QTreeWidgetItem* item = list_->currentItem();
    return item && item->isSelected() ? item->data(SavedAs, Qt::UserRole).toString() : QString();
}

void ReceivedFilesDialog::selectionChanged()
{
    const bool usable = !selectedPath().isEmpty();
    open_->setEnabled(usable);
    showInFolder_->setEnabled(usable);
}
