#pragma once

#include "platform/heldfolder.h"
#include "transfer/filerefusal.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// Where one connection's files go when their paths have several parts. The first file
// under a top folder "Trip" makes "Trip" in the save folder, or the first free "Trip (1)",
// "Trip (2)"... when the name is taken, so that nothing is ever merged into; the later
// files of the connection under "Trip" go into that same folder. Folders are made only
// for a file that is taken, and removed again when its part file cannot be made.
class ReceivedTree
{
public:
    // Where a file goes.
    struct Place {
        QString folder; // the folder the file is made in
        QString top;    // the top folder as saved, full path; empty for a loose file
        QString inside; // the folders from the save folder down, "Trip (1)/day 1/"
        QByteArray name;
        QStringList folders;  // the folders from the save folder down, as saved
        QString announcedTop; // the top folder's name as the sender announced it
        bool newTop = false;  // the top folder is to be made anew
        int newFolders = 0;   // how many folders making it takes
    };

    explicit ReceivedTree(const QString& saveFolder) : saveFolder_(saveFolder) {}

    const QString& saveFolder() const { return saveFolder_; }
    // The files and folders made for this connection's files.
    int made() const { return made_; }

    // Checks path and where its file would go, making nothing yet; a path of one part is a
    // loose file, its name checked when the file is made. Nothing when place was filled in.
    std::optional<FileRefusal> place(const QByteArray& path, Place& place);
    // Where a file named name goes when no folders are made for it, whatever it holds.
    Place loose(const QByteArray& name) const;
    // Makes place's folders, for a file about to be made, and holds the one it goes in
    // as folder; then keep() once it is made, or undo() to remove the folders made for it.
    // A file in the same folders as the one made before goes in the folder that one went
    // in, held since, wherever it has been moved meanwhile; when it has been removed, the
    // folders are made anew.
    std::optional<FileRefusal> make(const Place& place, HeldFolder& folder);
    // The folder place's file goes in, walked to from the save folder as make() walks but
    // making nothing; not open when it is not there as a folder.
    HeldFolder walk(const Place& place) const;
    void keep();
    void undo();
    // 0, or the system's error number when a folder made for this connection's files
    // could not be synced: none of them is saved then. Syncs asked for before a file's own
    // are done before it, so that, checked once that is, this covers its folders.
    int syncError() const { return *syncError_; }

    // A connection that continues partPath, a part file left for path, goes on in the top
    // folder the part file is in, when path has one and no file of the connection has
    // placed that top folder yet.
    void continueIn(const QByteArray& path, const QString& partPath);

private:
    // The name the top folder announced is saved under, and whether it is yet to be made;
    // nothing when every numbered variant of it is taken.
    std::optional<QString> savedTop(const QString& announced, bool& isNew) const;
    // Asks for the folders new ones were made in to be synced.
    void syncGrown(const std::vector<HeldFolder>& grown);

    QString saveFolder_;
    QHash<QString, QString> tops_; // the announced top folder's name: the name it was saved under
    Place making_;                 // what make() made last
    int madeFolders_ = 0;          // of it, the folders that were not there
    QStringList lastFolders_;      // the folders, as saved, the last file made went in
    HeldFolder lastFolder_;        // the innermost of them, held
    int made_ = 0;
    std::shared_ptr<int> syncError_ = std::make_shared<int>(0);
};
