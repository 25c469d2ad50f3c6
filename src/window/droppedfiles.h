#pragma once

#include <QCollator>
#include <QDirIterator>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

// The files a drop of files and folders puts in the send queue.
struct DroppedFiles {
    QStringList files;         // each path once, in the order below
    qsizetype fromFolders = 0; // how many of them were found inside dropped folders
};

// Walks the dropped paths in the order given, a few entries at a time, so that the window
// can go on between the steps. A dropped file counts as the add dialog's choice would: an
// ordinary file that is not hidden, a link to one included. A dropped folder gives the
// ordinary files inside it, at any depth, as a file manager sorts them by name: first its
// own files, then each subfolder in turn; links and hidden files and folders inside it are
// left out. A path met a second time, dropped again or found in a dropped folder, is left
// out there.
class DropWalk
{
public:
    explicit DropWalk(const QStringList& dropped);
    ~DropWalk();

    // Walks at most about `entries` more entries: files taken and names read from folders.
    // Returns true once everything has been walked.
    bool step(int entries);
    bool finished() const { return next_ == dropped_.size() && folders_.empty(); }
    const DroppedFiles& result() const { return result_; }

private:
    struct Folder;

    void take(const QString& path);
    void enter(const QString& folder);
    // One step inside the innermost folder being walked.
    void walkInside(Folder& folder);
    void add(const QString& path, bool inFolder);
    void sort(QStringList& names) const;

    QStringList dropped_;
    qsizetype next_ = 0;
    std::vector<std::unique_ptr<Folder>> folders_; // the folders being walked, innermost last
    DroppedFiles result_;
    QSet<QString> seen_;
    QCollator collator_;
};

// The whole walk at once.
DroppedFiles filesInDrop(const QStringList& dropped);
