#include "transfer/receivefile.h"

#include "transfer/receivedname.h"

#include <QDir>
#include <QFileInfo>

namespace
{

const QString kPartSuffix = QStringLiteral(".part");

bool isTaken(const QDir& folder, const QString& name)
{
    for (const QString& candidate : {name, name + kPartSuffix}) {
        const QFileInfo info(folder.filePath(candidate));
        if (info.exists() || info.isSymLink())
            return true;
    }
    return false;
}

} // namespace

bool ReceiveFile::create(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    finalName_ = firstFreeName(name, [&dir](const QString& n) { return isTaken(dir, n); });
    folder_ = folder;
    if (finalName_.isEmpty()) {
        error_ = QStringLiteral("every numbered variant of the name is taken");
        return false;
    }
    named_ = false;
    part_.setFileName(dir.filePath(finalName_ + kPartSuffix));
    // NewOnly creates exclusively: it fails on an existing file or link of that name.
    if (!part_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
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
    finalName_ = firstFreeName(finalName_, [&dir](const QString& n) {
        const QFileInfo info(dir.filePath(n));
        return info.exists() || info.isSymLink();
    });
    if (!finalName_.isEmpty() && QFile::rename(partPath, dir.filePath(finalName_))) {
        named_ = true;
        return true;
    }
    error_ = QStringLiteral("the finished file could not take its name");
    return false;
}

QString ReceiveFile::path() const
{
    return named_ ? QDir(folder_).filePath(finalName_) : part_.fileName();
}
