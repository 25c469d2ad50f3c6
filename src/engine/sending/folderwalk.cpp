#include "sending/folderwalk.h"

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
struct FolderWalk::Folder {
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

FolderWalk::FolderWalk(const QStringList& paths) : paths_(paths), collator_(fileManagerOrder()) {}

FolderWalk::~FolderWalk() = default;

bool FolderWalk::step(int entries)
{
    for (int done = 0; done < entries && !finished(); ++done) {
        if (folders_.empty())
            take(paths_.at(next_++));
        else
            walkInside(*folders_.back());
        while (!folders_.empty() && folders_.back()->done()) {
            folders_.pop_back();
            if (folders_.empty())
                folderDone();
        }
    }
    return finished();
}

void FolderWalk::take(const QString& path)
{
    const QFileInfo info(path);
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    if (info.isHidden() || seen_.contains(clean))
        return;
    seen_.insert(clean);
    if (info.isDir()) {
        folderRow_ = {clean, true, 0, 0};
        enter(clean);
    } else if (info.isFile()) {
        result_.files.append(clean);
        result_.rows.append({clean, false, 1, info.size()});
    }
}

void FolderWalk::folderDone()
{
    if (folderRow_.files > 0)
        result_.rows.append(folderRow_);
}

void FolderWalk::enter(const QString& folder)
{
    folders_.push_back(std::make_unique<Folder>(folder));
}

void FolderWalk::walkInside(Folder& folder)
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
        add(folder.dir.filePath(folder.files.at(folder.nextFile++)));
    else if (folder.nextSubfolder < folder.subfolders.size())
        enter(folder.dir.filePath(folder.subfolders.at(folder.nextSubfolder++)));
}

void FolderWalk::sort(QStringList& names) const
{
    std::sort(names.begin(), names.end(), [this](const QString& a, const QString& b) {
        const int order = collator_.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
}

void FolderWalk::add(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    result_.files.append(clean);
    ++result_.fromFolders;
    ++folderRow_.files;
    folderRow_.bytes += QFileInfo(clean).size();
}

WalkedFiles walkFiles(const QStringList& paths)
{
    FolderWalk walk(paths);
    walk.step(std::numeric_limits<int>::max());
    return walk.result();
}

QString pathInFolder(const QString& folder, const QString& file)
{
    return QFileInfo(folder).fileName() + '/' + QDir(folder).relativeFilePath(file);
}
