#pragma once

#include <QCollator>
#include <QDirIterator>
#include <QList>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

// One row of the send queue that a walk found: a file, or a folder that goes as one row.
struct WalkedRow {
    QString path;
    bool isFolder = false;
    qsizetype files = 0; // 1 for a file
    qint64 bytes = 0;
};

// What a walk found.
struct WalkedFiles {
    QStringList files;         // every file, in the order below
    qsizetype fromFolders = 0; // how many of them were found inside folders
    QList<WalkedRow> rows;     // each path given once, as it goes in the send queue
};

// Walks the given files and folders in the order given, a few entries at a time, so that
// whoever walks can go on between the steps. A file given counts as the add dialog's choice
// would: an ordinary file that is not hidden, a link to one included. A folder gives the
// ordinary files inside it, at any depth, as a file manager sorts them by name: first its
// own files, then each subfolder in turn; links and hidden files and folders inside it are
// left out. A path given a second time is left out there, and so is a folder with no file
// to send.
class FolderWalk
{
public:
    explicit FolderWalk(const QStringList& paths);
    ~FolderWalk();

    // Walks at most about `entries` more entries: files taken and names read from folders.
    // Returns true once everything has been walked.
    bool step(int entries);
    bool finished() const { return next_ == paths_.size() && folders_.empty(); }
    const WalkedFiles& result() const { return result_; }

private:
    struct Folder;

    void take(const QString& path);
    void enter(const QString& folder);
    // One step inside the innermost folder being walked.
    void walkInside(Folder& folder);
    void add(const QString& path);
    void sort(QStringList& names) const;
    // The walk of the folder given last is over.
    void folderDone();

    QStringList paths_;
    qsizetype next_ = 0;
    std::vector<std::unique_ptr<Folder>> folders_; // the folders being walked, innermost last
    WalkedFiles result_;
    QSet<QString> seen_;
    WalkedRow folderRow_; // the folder given that is being walked
    QCollator collator_;
};

// The whole walk at once.
WalkedFiles walkFiles(const QStringList& paths);
// The path a file inside a folder row goes under: relative to the folder's parent, with
// "/" between its parts ("Trip/day 1/a.jpg").
QString pathInFolder(const QString& folder, const QString& file);
