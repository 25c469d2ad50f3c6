#include "localsend/uploadsessions.h"

#include "platform/clock.h"
#include "transfer/receivedpath.h"

#include <QRandomGenerator>

#include <algorithm>

namespace
{

// Session ids and tokens: 128 bits from the system's generator, in hex.
QString secret()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(words), sizeof(words)).toHex());
}

} // namespace

UploadSessions::UploadSessions(const Clock& clock, QObject* parent) : QObject(parent), clock_(clock)
{
}

std::optional<Acceptance> UploadSessions::open(const QString& peer, const QList<OfferedFile>& files,
                                               const QString& saveFolder)
{
    if (goesOn() && peer != peer_)
        return std::nullopt;
    if (!id_.isEmpty())
        Q_EMIT cancelled(std::exchange(id_, {}));
    id_ = secret();
    peer_ = peer;
    files_.clear();
    tree_ = std::make_shared<ReceivedTree>(saveFolder);
    Acceptance acceptance{id_, {}};
    for (const OfferedFile& file : files) {
        const QString token = secret();
        files_.insert(file.id, {file, token});
        acceptance.tokens.insert(file.id, token);
    }
    lastHeard_ = clock_.steadyTime();
    return acceptance;
}

std::optional<UploadSessions::Upload> UploadSessions::take(const QString& peer,
                                                           const QString& sessionId,
                                                           const QString& fileId,
                                                           const QString& token)
{
    if (id_.isEmpty() || sessionId != id_ || peer != peer_)
        return std::nullopt;
    const auto file = files_.find(fileId);
    if (file == files_.end() || file->taken || file->token != token)
        return std::nullopt;
    file->taken = true;
    file->uploading = true;
    lastHeard_ = clock_.steadyTime();
    return Upload{file->offer, tree_};
}

void UploadSessions::release(const QString& sessionId, const QString& fileId)
{
    if (sessionId != id_)
        return;
    const auto file = files_.find(fileId);
    if (file != files_.end())
        file->uploading = false;
    lastHeard_ = clock_.steadyTime();
    endIfOver();
}

bool UploadSessions::cancel(const QString& peer, const QString& sessionId)
{
    if (id_.isEmpty() || sessionId != id_ || peer != peer_)
        return false;
    id_.clear();
    files_.clear();
    Q_EMIT cancelled(sessionId);
    return true;
}

bool UploadSessions::goesOn() const
{
    if (id_.isEmpty())
        return false;
    const bool uploading = std::any_of(files_.cbegin(), files_.cend(),
                                       [](const File& file) { return file.uploading; });
    return uploading || clock_.steadyTime() - lastHeard_ < kQuietSession;
}

void UploadSessions::endIfOver()
{
    const bool over = std::all_of(files_.cbegin(), files_.cend(),
                                  [](const File& file) { return file.taken && !file.uploading; });
    if (over) {
        id_.clear();
        files_.clear();
    }
}

QList<OfferedFile> takeableFiles(const QList<OfferedFile>& files)
{
    QList<OfferedFile> takeable;
    for (const OfferedFile& file : files) {
        if (receivedPathParts(file.fileName.toUtf8()))
            takeable.append(file);
    }
    return takeable;
}
