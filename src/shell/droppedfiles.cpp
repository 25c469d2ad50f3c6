#include "shell/droppedfiles.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <algorithm>

namespace
{

class DropWalk
{
public:
    DroppedFiles result;

    void take(const QString& path)
    {
        const QFileInfo info(path);
        if (info.isHidden())
            return;
        if (info.isDir())
            walk(info.absoluteFilePath());
        else if (info.isFile())
            add(info.absoluteFilePath(), false);
    }

private:
    // The order of a file manager: by name, case aside, numbers by their value.
    QStringList sorted(const QDir& folder, QDir::Filters filters) const
    {
        QStringList names = folder.entryList(filters | QDir::NoDotAndDotDot | QDir::NoSymLinks);
        std::sort(names.begin(), names.end(), [this](const QString& a, const QString& b) {
            const int order = collator_.compare(a, b);
            return order != 0 ? order < 0 : a < b;
        });
        return names;
    }

    void walk(const QString& folder)
    {
        const QDir dir(folder);
        for (const QString& name : sorted(dir, QDir::Files))
            add(dir.filePath(name), true);
        for (const QString& name : sorted(dir, QDir::Dirs))
            walk(dir.filePath(name));
    }

    void add(const QString& path, bool inFolder)
    {
        const QString clean = QDir::cleanPath(path);
        if (seen_.contains(clean))
            return;
        seen_.insert(clean);
        result.files.append(clean);
        if (inFolder)
            ++result.fromFolders;
    }

    QCollator collator_ = [] {
        // The C locale's collation compares code points and knows no numbers.
        const bool plain = QLocale().language() == QLocale::C;
        QCollator collator(plain ? QLocale(QLocale::English) : QLocale());
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        return collator;
    }();
    QSet<QString> seen_;
};

} // namespace

DroppedFiles filesInDrop(const QStringList& dropped)
{
    DropWalk walk;
    for (const QString& path : dropped)
        walk.take(path);
    return walk.result;
}
