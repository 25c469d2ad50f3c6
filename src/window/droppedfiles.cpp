#include "window/droppedfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <limits>

namespace
{

// The order of a file manager: by name, case aside, numbers by their value.
QCollator fileManagerOrder()
{
    // The C locale's collation compares code points and knows no numbers.
    const bool plain = QLocale().language() == QLocale::C;
    QCollator collator(plain ? QLocale(QLocale::English) : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

// A folder is read name by name, then its files are taken in order, then its subfolders
// are walked in order.
struct DropWalk::Folder {
    explicit Folder(const QString& path)
        : dir(path),
          reading(path, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)
    {
    }

    bool done() const
    {
        return sorted && nextFile == files.size() && nextSubfolder == subfolders.size();
    }

    QDir dir;
    QDirIterator reading;
    bool sorted = false; // all names read, and put in order
    QStringList files;
    QStringList subfolders;
    qsizetype nextFile = 0;
    qsizetype nextSubfolder = 0;
};

DropWalk::DropWalk(const QStringList& dropped) : dropped_(dropped), collator_(fileManagerOrder()) {}

DropWalk::~DropWalk() = default;

bool DropWalk::step(int entries)
{
    for (int done = 0; done < entries && !finished(); ++done) {
        if (folders_.empty())
            take(dropped_.at(next_++));
        else
            walkInside(*folders_.back());
        while (!folders_.empty() && folders_.back()->done())
            folders_.pop_back();
    }
    return finished();
}

void DropWalk::take(const QString& path)
{
    const QFileInfo info(path);
    if (info.isHidden())
        return;
    if (info.isDir())
        enter(info.absoluteFilePath());
    else if (info.isFile())
        add(info.absoluteFilePath(), false);
}

void DropWalk::enter(const QString& folder)
{
    folders_.push_back(std::make_unique<Folder>(folder));
}

void DropWalk::walkInside(Folder& folder)
{
    if (!folder.sorted) {
        if (folder.reading.hasNext()) {
            const QFileInfo entry = folder.reading.nextFileInfo();
            (entry.isDir() ? folder.subfolders : folder.files).append(entry.fileName());
        }
        if (!folder.reading.hasNext()) {
            sort(folder.files);
            sort(folder.subfolders);
            folder.sorted = true;
        }
        return;
    }
    if (folder.nextFile < folder.files.size())
        add(folder.dir.filePath(folder.files.at(folder.nextFile++)), true);
    else if (folder.nextSubfolder < folder.subfolders.size())
        enter(folder.dir.filePath(folder.subfolders.at(folder.nextSubfolder++)));
}

void DropWalk::sort(QStringList& names) const
{
    std::sort(names.begin(), names.end(), [this](const QString& a, const QString& b) {
        const int order = collator_.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
}

void DropWalk::add(const QString& path, bool inFolder)
{
    const QString clean = QDir::cleanPath(path);
    if (seen_.contains(clean))
        return;
    seen_.insert(clean);
    result_.files.append(clean);
    if (inFolder)
        ++result_.fromFolders;
}

DroppedFiles filesInDrop(const QStringList& dropped)
{
    DropWalk walk(dropped);
    walk.step(std::numeric_limits<int>::max());
    return walk.result();
}
