#include "transfer/fileintake.h"

#include "platform/diskworker.h"
#include "platform/groupedsync.h"
#include "platform/sparefiles.h"
#include "transfer/receivedname.h"
#include "transfer/saveerror.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace
{

// A file up to this size keeps no name until it is whole, or let go of: a crash leaves
// nothing of it, so it is sent again whole. A larger one takes its part name as soon as
// the index knows it, so that a crash in the middle can be continued.
constexpr qint64 kUnnamedUpTo = 8 * 1024 * 1024;

} // namespace

FileIntake::FileIntake(const QString& saveFolder, const ReceiverLimits& limits, PartFiles& parts,
                       QObject* parent)
    : QObject(parent), limits_(limits), parts_(parts),
      tree_(std::make_shared<ReceivedTree>(saveFolder))
{
    progressCheck_.setInterval(limits_.progressWindow);
    connect(&progressCheck_, &QTimer::timeout, this, &FileIntake::checkProgress);
    connect(&digest_, &FileDigest::finished, this, &FileIntake::digested);
    connect(&digest_, &FileDigest::failed, this, &FileIntake::readBackFailed);
}

FileIntake::~FileIntake()
{
    keepPart();
}

void FileIntake::shareTree(std::shared_ptr<ReceivedTree> tree)
{
    tree_ = std::move(tree);
}

std::optional<FileRefusal> FileIntake::admit(const Offer& offer)
{
    keepPart();
    ++inHand_;
    size_ = offset_ = received_ = 0;
    made_ = false;
    problem_ = {};
    return open(offer);
}

std::optional<FileRefusal> FileIntake::open(const Offer& offer)
{
    if (!limits_.takesFiles)
        return FileRefusal{ReceiveEnd::Outcome::Refused,
                           ReceiveReason::of(ReceiveReason::Code::ChatOnly)};
    const std::optional<QString> part =
        offer.resumes ? parts_.resumable(offer.sender.key, offer.path, offer.size) : std::nullopt;
    if (part)
        tree_->continueIn(offer.path, *part);
    if (!offer.folders)
        place_ = tree_->loose(offer.path);
    else if (std::optional<FileRefusal> refusal = tree_->place(offer.path, place_))
        return refusal;
    if (const std::optional<qint64> held = resume(offer, part)) {
        begin(offer, *held);
        return std::nullopt;
    }
    if (std::optional<FileRefusal> refusal = make(offer))
        return refusal;
    if (!awaiting_)
        begin(offer, 0);
    return std::nullopt;
}

std::optional<FileRefusal> FileIntake::make(const Offer& offer)
{
    using Code = ReceiveReason::Code;
    using Outcome = ReceiveEnd::Outcome;
    const std::optional<QString> name = receivedFileName(place_.name);
    if (!name)
        return FileRefusal{Outcome::Refused, ReceiveReason::of(Code::NameUnusable)};
    if (tree_->saveFolder().isEmpty())
        return FileRefusal{Outcome::CannotSave, ReceiveReason::of(Code::NoSaveFolder)};
    const int inodes = 1 + place_.newFolders;
    if (!parts_.makeRoom(offer.sender, offer.size, tree_->saveFolder(), inodes, tree_->made()))
        return FileRefusal{Outcome::Refused, ReceiveReason::of(Code::NoRoom)};
    HeldFolder folder;
    std::optional<FileRefusal> refusal = tree_->make(place_, folder);
    if (!refusal && !create(offer, std::move(folder), *name)) {
        tree_->undo();
        refusal =
            FileRefusal{Outcome::CannotSave, ReceiveReason::with(Code::CannotSave, file_.error())};
    }
    if (refusal) {
        parts_.giveBack(offer.sender, inodes);
        return refusal;
    }
    tree_->keep();
    return std::nullopt;
}

bool FileIntake::create(const Offer& offer, HeldFolder folder, const QString& name)
{
    // Only a part file of ours from this sender is written over.
    const auto leftover = [this, &offer](const QString& path) {
        return parts_.leftover(path, offer.sender);
    };
    const auto reserved = [this](const QString& path) { return parts_.reserves(path); };
    if (!file_.choose(std::move(folder), place_.folder, name, leftover, reserved))
        return false;
    if (file_.takesOver())
        return openNamed(offer);
    // The folders a tree makes are made inside the save folder, so a spare made there
    // carries what one made in them would.
    SpareFiles& spares = SpareFiles::instance();
    const int spare = spares.take(tree_->saveFolder(), file_.folder());
    if (spare < 0 && reserves_ &&
        spares.await(this, file_.folder(),
                     [this, file = inHand_](int fd) { spareCame(file, fd); })) {
        awaiting_ = offer;
        return true;
    }
    return file_.openUnnamed(spare) || openNamed(offer);
}

bool FileIntake::openNamed(const Offer& offer)
{
    const QString path = file_.path();
    if (!file_.takesOver())
        parts_.announce(path, offer.sender, offer.path, offer.size);
    if (file_.open())
        return true;
    if (!file_.takesOver())
        parts_.forget(path);
    return false;
}

// The part file the intake waited for, made off the event loop; -1 when it is to make its
// own after all.
void FileIntake::spareCame(quint64 file, int fd)
{
    if (file != inHand_) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    const Offer offer = *std::exchange(awaiting_, std::nullopt);
    if (!file_.openUnnamed(fd) && !openNamed(offer)) {
        parts_.giveBack(offer.sender, 1);
        problem_ = ReceiveReason::with(ReceiveReason::Code::CannotSave, file_.error());
        Q_EMIT settled(ReceiveEnd::Outcome::CannotSave, problem_);
        return;
    }
    begin(offer, 0);
    if (!reserving_)
        Q_EMIT diskReady();
}

std::optional<qint64> FileIntake::resume(const Offer& offer, const std::optional<QString>& part)
{
    // Only where the file would go now: not after the save folder has changed.
    if (!part || QFileInfo(*part).absolutePath() != QDir(place_.folder).absolutePath())
        return std::nullopt;
    const std::optional<FileIdentity> recorded = parts_.recorded(*part);
    if (!recorded)
        return std::nullopt;
    return file_.resume(tree_->walk(place_), *part, *recorded, offer.size);
}

void FileIntake::begin(const Offer& offer, qint64 offset)
{
    made_ = true;
    size_ = offer.size;
    offset_ = received_ = receivedAtLastCheck_ = offset;
    std::optional<PartNaming> naming;
    if (offer.size > kUnnamedUpTo)
        naming = file_.takePartNaming();
    // Recorded as the sender's until it is whole or removed.
    parts_.begin(file_.path(), offer.sender, offer.path, offer.size, file_.identity(),
                 file_.isUnnamed());
    if (naming)
        parts_.nameWhenIndexed(file_.path(), std::move(*naming));
    parts_.setLetGo(file_.path(), [this] { Q_EMIT takenOver(); });
    if (setsRoomAside())
        reserve(offer.size);
    digested_ = offer.digested.has_value();
    if (digested_) // nothing to read back at 0
        digest_.start(offset > 0 ? file_.readBack() : -1, offset, *offer.digested);
    if (missing() > 0)
        progressCheck_.start();
}

bool FileIntake::setsRoomAside() const
{
    return reserves_ && size_ > kUnnamedUpTo;
}

void FileIntake::reserve(qint64 size)
{
    const std::optional<ReceiveFile::Reservation> task = file_.reservation(size);
    if (!task)
        return; // the space is found as the file is written back, as without
    reserving_ = true;
    DiskWorker::instance().run(
        this, [task = *task] { return task.run(); },
        [this, file = inHand_](int error) { reserved(file, error); });
}

void FileIntake::reserved(quint64 file, int error)
{
    if (file != inHand_)
        return;
    reserving_ = false;
    if (error == 0) {
        Q_EMIT diskReady();
        return;
    }
    problem_ = ReceiveReason::with(ReceiveReason::Code::CannotSave, saveErrorText(error));
    discard();
    Q_EMIT settled(ReceiveEnd::Outcome::CannotSave, problem_);
}

bool FileIntake::write(const QByteArray& bytes)
{
    if (!file_.write(bytes)) {
        // A disk that is full stays full: the space this file took is given back.
        problem_ = ReceiveReason::with(ReceiveReason::Code::CannotSave, file_.error());
        discard();
        return false;
    }
    if (digested_)
        digest_.add(bytes);
    received_ += bytes.size();
    writeBack();
    if (missing() == 0)
        progressCheck_.stop();
    return true;
}

// One step at a time on the disk worker; a step that comes due meanwhile waits for the
// next write, which then covers it too.
void FileIntake::writeBack()
{
    if (writingBack_)
        return;
    const ReceiveFile::WriteBack step = file_.takeWriteBack();
    if (step.fd < 0)
        return;
    writingBack_ = true;
    DiskWorker::instance().run(
        this,
        [step] {
            step.run();
            return true;
        },
        [this](bool) { writingBack_ = false; });
}

void FileIntake::save()
{
    stopWatching();
    saving_ = true;
    const int fd = file_.syncHandle();
    if (fd < 0) {
        // Told from the loop, as every other outcome.
        const QString why = file_.error();
        QMetaObject::invokeMethod(
            this, [this, why] { notSaved(why); }, Qt::QueuedConnection);
        return;
    }
    // The bytes reach the disk before the file takes its name.
    GroupedSync::instance().syncFile(this, fd, [this](int error) { synced(error); });
}

void FileIntake::synced(int error)
{
    if (!saving_)
        return; // let go of meanwhile: it stays a part file
    FileIdentity folder;
    const int fd = takeName(error, folder);
    if (fd < 0) {
        notSaved(problem_.why);
        return;
    }
    GroupedSync::instance().syncFolder(this, fd, folder, [this](int error) {
        if (error == 0)
            error = tree_->syncError();
        if (error != 0)
            notSaved(saveErrorText(error));
        else if (std::exchange(saving_, false))
            Q_EMIT settled(ReceiveEnd::Outcome::Saved,
                           ReceiveReason::of(ReceiveReason::Code::Closed));
    });
}

int FileIntake::takeName(int syncError, FileIdentity& folder)
{
    const QString part = file_.path();
    const bool named = syncError == 0 && file_.takeName();
    if (syncError != 0)
        file_.close();
    // A whole file is never taken over, whether it got its name or not; nor is whatever
    // stood under its final name before.
    parts_.forget(part);
    parts_.forget(file_.path());
    const int fd = named ? file_.folderSyncHandle(folder) : -1;
    if (fd < 0)
        problem_ = ReceiveReason::with(ReceiveReason::Code::CannotSave,
                                       syncError != 0 ? saveErrorText(syncError) : file_.error());
    return fd;
}

void FileIntake::notSaved(const QString& why)
{
    if (!std::exchange(saving_, false))
        return;
    problem_ = ReceiveReason::with(ReceiveReason::Code::CannotSave, why);
    Q_EMIT settled(ReceiveEnd::Outcome::CannotSave, problem_);
}

void FileIntake::check(const QByteArray& digest)
{
    progressCheck_.stop();
    announced_ = digest;
    checking_ = true;
    // A continued file's first bytes may still be read back from the disk.
    digest_.finish();
}

void FileIntake::digested(const QByteArray& digest)
{
    if (!std::exchange(checking_, false))
        return;
    if (digest != announced_) {
        discard();
        Q_EMIT settled(ReceiveEnd::Outcome::Failed,
                       ReceiveReason::of(ReceiveReason::Code::Mismatch));
        return;
    }
    save();
}

void FileIntake::readBackFailed(const QString& description)
{
    problem_ = ReceiveReason::with(ReceiveReason::Code::CannotSave, description);
    discard();
    Q_EMIT settled(ReceiveEnd::Outcome::CannotSave, problem_);
}

void FileIntake::keepPart()
{
    ++inHand_;
    awaiting_.reset();
    stopWatching();
    if (!file_.isOpen())
        return;
    const QString part = file_.path();
    // A part file waits with what it holds, not with the room the whole file would take.
    if (setsRoomAside()) {
        const ReceiveFile::RoomBack task = file_.roomBack();
        DiskWorker::instance().run(
            this,
            [task] {
                task.run();
                return true;
            },
            [](bool) {});
    }
    if (!file_.isUnnamed()) {
        parts_.keep(part);
        file_.close();
        return;
    }
    // The index knows a file with no name yet before it takes its part name, which must
    // be free.
    std::optional<PartNaming> naming;
    if (file_.partNameFree())
        naming = file_.takePartNaming();
    if (!naming || !parts_.keep(part, std::move(naming))) {
        parts_.forget(part);
        made_ = false; // nothing of it is kept
    }
    file_.close();
}

void FileIntake::discard()
{
    ++inHand_;
    awaiting_.reset();
    stopWatching();
    made_ = false;
    if (!file_.isOpen())
        return;
    file_.discard();
    parts_.forget(file_.path());
}

// A sender that trickles a byte now and then would hold its file open for ever.
void FileIntake::checkProgress()
{
    if (received_ - receivedAtLastCheck_ < limits_.minProgressBytes) {
        Q_EMIT tooSlow(ReceiveReason::after(ReceiveReason::Code::TooSlow, limits_.progressWindow,
                                            limits_.minProgressBytes));
        return;
    }
    receivedAtLastCheck_ = received_;
}

void FileIntake::stopWatching()
{
    saving_ = false;
    progressCheck_.stop();
    digest_.stop();
    checking_ = false;
}

QString FileIntake::shownName() const
{
    return place_.inside + file_.finalName();
}

QString FileIntake::path() const
{
    return made_ ? file_.path() : QString();
}
