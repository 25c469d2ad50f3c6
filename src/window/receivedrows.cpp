#include "window/receivedrows.h"

#include <QFileInfo>
#include <QHash>

QList<ReceivedRow> receivedRows(const QList<ReceivedEntry>& entries)
{
    QList<ReceivedRow> rows;
    QHash<QString, qsizetype> folderRows; // a folder's path: its row
    for (const ReceivedEntry& entry : entries) {
        if (entry.folder.isEmpty()) {
            rows.append({entry, 1});
            continue;
        }
        if (const auto row = folderRows.constFind(entry.folder); row != folderRows.cend()) {
            rows[*row].entry.size += entry.size;
            ++rows[*row].files;
            continue;
        }
        ReceivedEntry folder = entry;
        folder.name = QFileInfo(entry.folder).fileName();
        folder.path = entry.folder;
        folderRows.insert(entry.folder, rows.size());
        rows.append({folder, 1});
    }
    return rows;
}
