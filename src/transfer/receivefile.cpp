#include "transfer/receivefile.h"

#include "transfer/receivedname.h"

#include <QDir>
#include <QFileInfo>

namespace
{

const QString kPartSuffix = QStringLiteral(".part");

// Whether anything, a dangling link included, stands under name.
bool exists(const QDir& folder, const QString& name)
{
    const QFileInfo info(folder.filePath(name));
    return info.exists() || info.isSymLink();
}

} // namespace

bool ReceiveFile::create(const QString& folder, const QString& name, QSet<QString>* leftovers)
{
    const QDir dir(folder);
    const auto isLeftover = [&dir, leftovers](const QString& n) {
        const QString part = dir.filePath(n + kPartSuffix);
        return leftovers && leftovers->contains(part) && !QFileInfo(part).isSymLink();
    };
    finalName_ = firstFreeName(name, [&](const QString& n) {
        return exists(dir, n) || (exists(dir, n + kPartSuffix) && !isLeftover(n));
    });
    folder_ = folder;
    if (finalName_.isEmpty()) {
        error_ = QStringLiteral("every numbered variant of the name is taken");
        return false;
    }
    named_ = false;
    part_.setFileName(dir.filePath(finalName_ + kPartSuffix));
    // NewOnly creates exclusively: it fails on an existing file or link of that name.
    // Only a leftover of our own is written over.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (isLeftover(finalName_)) {
        leftovers->remove(part_.fileName());
        mode |= QIODevice::Truncate;
    } else {
        mode |= QIODevice::NewOnly;
    }
    if (!part_.open(mode)) {
        error_ = part_.errorString();
        return false;
    }
    return true;
}

bool ReceiveFile::write(const QByteArray& bytes)
{
    if (part_.write(bytes) == bytes.size())
        return true;
    error_ = part_.errorString();
    return false;
}

bool ReceiveFile::close(bool complete)
{
    if (!part_.isOpen())
        return true;
    part_.close();
    if (!complete)
        return true;
    // Another file may have taken the final name meanwhile; rename never replaces it.
    const QDir dir(folder_);
    const QString partPath = part_.fileName();
    finalName_ = firstFreeName(finalName_, [&dir](const QString& n) { return exists(dir, n); });
    if (!finalName_.isEmpty() && QFile::rename(partPath, dir.filePath(finalName_))) {
        named_ = true;
        return true;
    }
    error_ = QStringLiteral("the finished file could not take its name");
    return false;
}

void ReceiveFile::discard()
{
    if (!part_.isOpen())
        return;
    part_.close();
    part_.remove();
}

QString ReceiveFile::path() const
{
    return named_ ? QDir(folder_).filePath(finalName_) : part_.fileName();
}
