#include "transfer/partfiles.h"

#include "platform/diskworker.h"
#include "platform/durablewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace
{

// A part file nobody has written for this long is not coming back.
constexpr qint64 kStaleAfterSeconds = 7 * 24 * 60 * 60;
// Changes other than a part file about to be made wait this long before they are
// written, so that a run of small files, each whole within moments, writes them once.
constexpr std::chrono::milliseconds kSaveDelay = std::chrono::seconds(1);

// A regular file's identity; nothing for a link, a folder or a missing file. With
// soleOwn, only for a file of this user's that has no other name.
std::optional<FileIdentity> identityOf(const QString& path, bool soleOwn = false)
{
    struct stat info {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (soleOwn && (info.st_nlink != 1 || info.st_uid != ::geteuid())))
        return std::nullopt;
    return FileIdentity{quint64(info.st_dev), quint64(info.st_ino)};
}

// What statvfs says of folder's file system; nothing when it cannot say. One call, where
// QStorageInfo would read the system's whole table of mounts for every file offered.
std::optional<struct statvfs> fileSystemOf(const QString& folder)
{
    struct statvfs info {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return std::nullopt;
    return info;
}

// A file system that keeps no count of inodes (f_files 0) has no limit on them to share.
std::optional<qint64> statvfsFreeInodes(const QString& folder)
{
    const std::optional<struct statvfs> info = fileSystemOf(folder);
    if (!info || info->f_files == 0)
        return std::nullopt;
    return qint64(info->f_favail);
}

// Removes the file at path only while it is still the one we made, in the folder checked.
void removeIfStill(const QString& path, FileIdentity identity)
{
    const QFileInfo info(path);
    HeldFolder::open(info.path()).removeIf(QFile::encodeName(info.fileName()), identity);
}

// Numbers are written as text: a JSON number loses precision above 2^53.
QString asJsonText(quint64 value)
{
    return QString::number(value);
}

} // namespace

PartFiles::PartFiles(QObject* parent) : QObject(parent), freeInodes_(statvfsFreeInodes)
{
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelay);
    connect(&saveTimer_, &QTimer::timeout, this, &PartFiles::save);
}

PartFiles::~PartFiles()
{
    // The results come back to no one, which the worker allows for.
    save();
    if (writes_ > 0)
        DiskWorker::instance().waitForIdle();
}

void PartFiles::open(const QString& filePath)
{
    if (!filePath_.isEmpty())
        return;
    filePath_ = filePath;
    load();
    removeStale();
    removeForgotten();
    save();
}

void PartFiles::setStrangerLimits(const ReceiverLimits& limits)
{
    limits_ = limits;
}

std::optional<FileIdentity> PartFiles::leftover(const QString& path, const PartSender& sender) const
{
    const auto entry = entries_.constFind(path);
    if (entry == entries_.cend() || entry->busy || entry->peer != sender.address ||
        entry->key != sender.key)
        return std::nullopt;
    return recorded(path);
}

std::optional<FileIdentity> PartFiles::recorded(const QString& path) const
{
    const auto entry = entries_.constFind(path);
    if (entry == entries_.cend() || !entry->identity.isKnown())
        return std::nullopt;
    return entry->identity;
}

std::optional<QString> PartFiles::resumable(const QByteArray& key, const QByteArray& offered,
                                            qint64 size)
{
    std::optional<QString> newest;
    for (auto entry = entries_.cbegin(); entry != entries_.cend(); ++entry) {
        if (key.isEmpty() || entry->key != key || entry->offered != offered ||
            entry->size != size || (entry->busy && !entry->letGo) ||
            (!entry->unnamed && !isOurs(entry.key(), *entry)))
            continue;
        if (!newest || entry->since > entries_.value(*newest).since)
            newest = entry.key();
    }
    if (newest && entries_.value(*newest).busy) {
        const std::function<void()> letGo = entries_.value(*newest).letGo;
        // A file with no name would have its name only after the next index write: it is
        // dropped instead, and sent again whole under the same name.
        if (entries_.value(*newest).unnamed)
            dropping_ = *newest;
        letGo(); // leaves it kept, or removed
        dropping_.clear();
        if (!entries_.contains(*newest) || entries_.value(*newest).busy ||
            !isOurs(*newest, entries_.value(*newest)))
            return std::nullopt;
    }
    return newest;
}

void PartFiles::setLetGo(const QString& path, std::function<void()> letGo)
{
    if (const auto entry = entries_.find(path); entry != entries_.end() && entry->busy)
        entry->letGo = std::move(letGo);
}

void PartFiles::announce(const QString& path, const PartSender& sender, const QByteArray& offered,
                         qint64 size)
{
    begin(path, sender, offered, size, {});
    save();
}

void PartFiles::begin(const QString& path, const PartSender& sender, const QByteArray& offered,
                      qint64 size, FileIdentity identity, bool unnamed)
{
    entries_.insert(path, {sender.address,
                           sender.key,
                           sender.keyKnown,
                           offered,
                           size,
                           QDateTime::currentDateTimeUtc(),
                           identity,
                           true,
                           unnamed,
                           false,
                           {}});
    removeStale();
    saveLater();
}

// A busy part file with a name stands in the folder anyway.
bool PartFiles::reserves(const QString& path) const
{
    const auto entry = entries_.constFind(path);
    return entry != entries_.cend() && (entry->busy || entry->naming);
}

void PartFiles::nameWhenIndexed(const QString& path, PartNaming naming)
{
    if (const auto entry = entries_.find(path); entry != entries_.end()) {
        entry->unnamed = false;
        entry->naming = true;
    }
    write(path, std::move(naming));
}

bool PartFiles::keep(const QString& path, std::optional<PartNaming> naming)
{
    const auto entry = entries_.find(path);
    if (entry == entries_.end() || path == dropping_) {
        if (naming)
            naming->drop();
        return false;
    }
    entry->busy = false;
    entry->unnamed = false;
    entry->naming = entry->naming || naming.has_value();
    entry->letGo = nullptr;
    entry->since = QDateTime::currentDateTimeUtc();
    write(path, std::move(naming));
    return true;
}

void PartFiles::forget(const QString& path)
{
    if (entries_.remove(path) > 0)
        saveLater();
}

bool PartFiles::makeRoom(const PartSender& sender, qint64 size, const QString& saveFolder,
                         int inodes, int madeBefore)
{
    if (!isStranger(sender.address, sender.key))
        return true;
    const qint64 room = strangerRoom(saveFolder);
    const auto fits = [&](const Use& use) {
        return use.announced + size <= room && use.files < limits_.maxStrangerParts;
    };
    if (!hasInodesFor(inodes, madeBefore, saveFolder) || !fits(strangerUse(true)))
        return false;
    while (!fits(strangerUse(false))) {
        const std::optional<QString> oldest = oldestIdleStranger();
        if (!oldest)
            return false;
        remove(*oldest);
    }
    strangerMade_ += inodes;
    saveLater();
    return true;
}

void PartFiles::giveBack(const PartSender& sender, int inodes)
{
    if (isStranger(sender.address, sender.key))
        strangerMade_ -= inodes;
}

// What strangers made is counted as free: their share is half of what was free before them.
bool PartFiles::hasInodesFor(int inodes, int madeBefore, const QString& folder) const
{
    if (madeBefore + inodes > limits_.maxStrangerMadePerConnection ||
        strangerMade_ + inodes > limits_.maxStrangerMade)
        return false;
    const std::optional<qint64> free = freeInodes_(folder);
    return !free || strangerMade_ + inodes <= (*free + strangerMade_) / 2;
}

void PartFiles::removeForgotten()
{
    if (!held_)
        return;
    const qsizetype before = entries_.size();
    for (const QString& path : entries_.keys()) {
        const Entry& entry = entries_[path];
        if (!entry.busy && entry.keyKnown && !held_(entry.key))
            remove(path);
    }
    if (entries_.size() != before)
        saveLater();
}

PartFiles::Use PartFiles::strangerUse(bool busyOnly) const
{
    Use use;
    for (auto entry = entries_.cbegin(); entry != entries_.cend(); ++entry) {
        if (!isStranger(entry->peer, entry->key) || (busyOnly && !entry->busy))
            continue;
        use.announced += entry->size;
        use.onDisk += QFileInfo(entry.key()).size();
        ++use.files;
    }
    return use;
}

qint64 PartFiles::strangerRoom(const QString& folder) const
{
    const std::optional<struct statvfs> info = fileSystemOf(folder);
    if (!info)
        return limits_.maxStrangerPartBytes;
    // What strangers' part files hold now would be free without them.
    const qint64 free = qint64(info->f_bavail) * qint64(info->f_frsize);
    return std::min(limits_.maxStrangerPartBytes, (free + strangerUse(false).onDisk) / 2);
}

bool PartFiles::isOurs(const QString& path, const Entry& entry) const
{
    return entry.identity.isKnown() && identityOf(path) == entry.identity;
}

// An entry written just before its file was made, and not again since: the file under its
// name is taken for the one made when nobody but this user could have put it there.
bool PartFiles::adopt(const QString& path, Entry& entry) const
{
    if (entry.identity.isKnown())
        return isOurs(path, entry);
    const std::optional<FileIdentity> identity = identityOf(path, true);
    entry.identity = identity.value_or(FileIdentity{});
    return identity.has_value();
}

// A part file begun privately keeps its sender's key; one from the plain port has none.
bool PartFiles::isStranger(const QString& peer, const QByteArray& key) const
{
    return !known_ || !known_(peer, !key.isEmpty());
}

void PartFiles::removeStale()
{
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addSecs(-kStaleAfterSeconds);
    for (const QString& path : entries_.keys()) {
        const Entry& entry = entries_[path];
        // One whose name is on its way has none to tell its age by yet.
        if (!entry.busy && !entry.naming && QFileInfo(path).lastModified() < oldest)
            remove(path);
    }
}

void PartFiles::remove(const QString& path)
{
    const FileIdentity identity = entries_.value(path).identity;
    if (identity.isKnown())
        removeIfStill(path, identity);
    entries_.remove(path);
}

std::optional<QString> PartFiles::oldestIdleStranger() const
{
    std::optional<QString> oldest;
    for (auto entry = entries_.cbegin(); entry != entries_.cend(); ++entry) {
        if (entry->busy || !isStranger(entry->peer, entry->key))
            continue;
        if (!oldest || entry->since < entries_.value(*oldest).since)
            oldest = entry.key();
    }
    return oldest;
}

void PartFiles::load()
{
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    saved_ = file.readAll();
    const QJsonArray parts =
        QJsonDocument::fromJson(saved_).object().value(QStringLiteral("parts")).toArray();
    for (const QJsonValue& value : parts) {
        const QJsonObject part = value.toObject();
        Entry entry;
        const QString path = part.value(QStringLiteral("path")).toString();
        entry.peer = part.value(QStringLiteral("peer")).toString();
        entry.key = QByteArray::fromHex(part.value(QStringLiteral("key")).toString().toLatin1());
        entry.keyKnown = part.value(QStringLiteral("keyKnown")).toBool();
        // The offered path as it came, in Base64: it need not be valid UTF-8.
        entry.offered =
            QByteArray::fromBase64(part.value(QStringLiteral("offered")).toString().toLatin1());
        entry.size = part.value(QStringLiteral("size")).toString().toLongLong();
        entry.since =
            QDateTime::fromString(part.value(QStringLiteral("since")).toString(), Qt::ISODate);
        entry.identity.device = part.value(QStringLiteral("device")).toString().toULongLong();
        entry.identity.inode = part.value(QStringLiteral("inode")).toString().toULongLong();
        if (!entry.peer.isEmpty() && entry.since.isValid() && adopt(path, entry))
            entries_.insert(path, entry);
    }
}

QByteArray PartFiles::serialized() const
{
    QJsonArray parts;
    for (auto entry = entries_.cbegin(); entry != entries_.cend(); ++entry) {
        if (entry->unnamed)
            continue;
        parts.append(
            QJsonObject{{QStringLiteral("path"), entry.key()},
                        {QStringLiteral("peer"), entry->peer},
                        {QStringLiteral("key"), QString::fromLatin1(entry->key.toHex())},
                        {QStringLiteral("keyKnown"), entry->keyKnown},
                        {QStringLiteral("offered"), QString::fromLatin1(entry->offered.toBase64())},
                        {QStringLiteral("size"), asJsonText(entry->size)},
                        {QStringLiteral("since"), entry->since.toString(Qt::ISODate)},
                        {QStringLiteral("device"), asJsonText(entry->identity.device)},
                        {QStringLiteral("inode"), asJsonText(entry->identity.inode)}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("parts"), parts}}).toJson();
}

void PartFiles::saveLater()
{
    if (!saveTimer_.isActive())
        saveTimer_.start();
}

void PartFiles::save()
{
    write({}, std::nullopt);
}

// On the worker, in order: the index, then the part name it knows, only once it is written.
void PartFiles::write(const QString& path, std::optional<PartNaming> naming)
{
    saveTimer_.stop();
    QByteArray data = serialized();
    // A name always follows a write of its own, which may stand in for one that failed.
    if (!naming && (filePath_.isEmpty() || data == saved_))
        return;
    if (filePath_.isEmpty())
        data.clear(); // no index to write
    else
        saved_ = data;
    struct Done {
        QString error;
        int naming = 0;
    };
    ++writes_;
    DiskWorker::instance().run(
        this,
        [filePath = filePath_, data, naming] {
            Done done;
            if (!data.isEmpty())
                done.error = saveDurably(filePath, data);
            if (naming)
                done.naming = done.error.isEmpty() ? naming->run() : naming->drop();
            return done;
        },
        [this, path, naming](const Done& done) {
            written(done.error);
            if (naming)
                named(path, naming->identity, done.naming);
            if (writes_ == 0)
                for (const std::function<void()>& then : std::exchange(whenWritten_, {}))
                    then();
        });
}

void PartFiles::whenWritten(std::function<void()> then)
{
    save();
    if (writes_ == 0)
        then();
    else
        whenWritten_.append(std::move(then));
}

void PartFiles::written(const QString& error)
{
    --writes_;
    if (error.isEmpty())
        return;
    saved_.clear(); // tried again with the next change
    problem_ = QStringLiteral("Part files cannot be remembered in %1: %2")
                   .arg(QDir::toNativeSeparators(filePath_), error);
}

void PartFiles::named(const QString& path, FileIdentity identity, int error)
{
    const auto entry = entries_.find(path);
    const bool wanted = entry != entries_.end() && entry->identity == identity;
    if (wanted)
        entry->naming = false;
    if (error == 0 && !wanted) {
        // Whole, discarded or forgotten meanwhile: the name came too late, and goes again.
        removeIfStill(path, identity);
    } else if (error != 0 && wanted) {
        // The name was taken meanwhile: what stands there stays, and the entry goes.
        entries_.erase(entry);
        saveLater();
    }
}
