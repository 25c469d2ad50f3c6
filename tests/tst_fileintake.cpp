#include "platform/diskworker.h"
#include "platform/groupedsync.h"
#include "platform/sparefiles.h"
#include "support/filesizelimit.h"
#include "support/testfiles.h"
#include "transfer/fileintake.h"
#include "transfer/partfiles.h"
#include "transfer/receivetext.h"

#include <QDir>
#include <QDirIterator>
#include <QMutex>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kWaitMs = 5000;
const PartSender kSam{QStringLiteral("10.0.0.1"), "key of Sam", false};
const PartSender kAnn{QStringLiteral("10.0.0.2"), "key of Ann", false};

constexpr Checksum::Kind kQuick = Checksum::Kind::Xxh3_128;

// A file as the private port offers it: folders, resuming and a check of kind.
FileIntake::Offer privateOffer(const PartSender& sender, const QByteArray& path, qint64 size,
                               Checksum::Kind kind = kQuick)
{
    return {sender, path, size, true, true, kind};
}

// Why the intake refused offer; nothing when it took it.
std::optional<ReceiveReason::Code> refused(FileIntake& intake, const FileIntake::Offer& offer)
{
    const std::optional<FileRefusal> refusal = intake.admit(offer);
    return refusal ? std::optional(refusal->reason.code) : std::nullopt;
}

// A burst of files as a receiver that is killed takes it, in a process of its own:
// the first group's files, saved in one turn, then the second's once those are saved.
// Larger than 8 MiB, a file has a part name from its first byte.
const QList<std::pair<QByteArray, qint64>> kFirstGroup = {
    {"Trip/a.bin", 4096}, {"Trip/b.bin", 100}, {"c.bin", 9 * 1024 * 1024}};
const QList<std::pair<QByteArray, qint64>> kSecondGroup = {{"Trip/d.bin", 4096}, {"e.bin", 10}};

// The same bytes for a name in both processes.
QByteArray burstContent(const QByteArray& name, qint64 size)
{
    QRandomGenerator random(qChecksum(name)); // not qHash: its seed differs in each process
    QList<quint32> words(size / 4 + 1);
    random.fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

// Where the killed receiver dies: as its first group's sync starts, once that group's
// bytes are synced but before their names, or as the second group's sync starts.
enum class KillAt { FirstSync, FirstSynced, SecondSync };

// The receiver: saves the burst into folder, saying "saved NAME" of each file saved,
// until it kills itself where it was told to.
int runKilledReceiver(const QString& folder, KillAt at)
{
    // The second group starts only once every file of the first is saved.
    std::atomic<bool> secondGroup = false;
    GroupedSync::instance().setSyncer([&](const QList<GroupedSync::Item>& items) {
        const bool files =
            std::any_of(items.begin(), items.end(),
                        [](const GroupedSync::Item& item) { return !item.isFolder; });
        if (files && (at == KillAt::FirstSync || (at == KillAt::SecondSync && secondGroup)))
            std::raise(SIGKILL);
        QList<int> results = GroupedSync::syncAll(items);
        if (files && at == KillAt::FirstSynced)
            std::raise(SIGKILL);
        return results;
    });
    PartFiles parts;
    // One sender's files share their folders, as those of one connection do.
    const auto tree = std::make_shared<ReceivedTree>(folder);
    std::vector<std::unique_ptr<FileIntake>> intakes;
    int unsaved = 0;
    const auto saveAll = [&](const QList<std::pair<QByteArray, qint64>>& burst,
                             const std::function<void()>& then) {
        unsaved = int(burst.size());
        for (const auto& [name, size] : burst) {
            auto& intake =
                intakes.emplace_back(std::make_unique<FileIntake>(folder, ReceiverLimits(), parts));
            intake->shareTree(tree);
            QObject::connect(intake.get(), &FileIntake::settled,
                             [&, name = name, then](ReceiveEnd::Outcome outcome) {
                                 if (outcome != ReceiveEnd::Outcome::Saved)
                                     std::exit(2);
                                 std::printf("saved %s\n", name.constData());
                                 std::fflush(stdout);
                                 if (--unsaved == 0)
                                     then();
                             });
            if (intake->admit(privateOffer(kSam, name, size)) ||
                !intake->write(burstContent(name, size)))
                std::exit(2);
            intake->check(Checksum::of(kQuick, burstContent(name, size)));
        }
    };
    saveAll(kFirstGroup, [&] {
        secondGroup = true;
        saveAll(kSecondGroup, [] { std::exit(3); });
    });
    return QCoreApplication::exec();
}

} // namespace

Q_DECLARE_METATYPE(KillAt)

// The one way a received file goes, fed by hand as a connection feeds it.
class TestFileIntake : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void aFileIsAdmittedWrittenCheckedAndNamed();
    void refusedOffersLeaveNothingBehind();
    void aCutFileGoesOnWhereItStopped();
    void failuresAreToldAndGiveTheSpaceBack();
    void aLargeFilesRoomIsSetAsideBeforeItsBytes();
    void slowSendersAndStrangersMeetTheCaps();
    void savesLastInOrderAndInGroups();
    void aFileLetGoWhileSavingStaysAPart();
    // A folder made for a file lasts once the folder it was made in is synced: on the
    // disk worker, before the file's own folder; where that fails, the file is not saved.
    void aNewFolderIsSyncedBeforeItsFile();
    // Part files made ahead on the disk worker: an intake that may wait for one waits,
    // rather than make its own on the event loop, and one let go meanwhile leaves nothing.
    void aFileWaitsForItsPartFileOffTheLoop();
    void sparesGoOnlyWhereTheirFileSystemIs();
    // Killed mid-burst, a receiver leaves no file under its final name that is not whole
    // and synced, and every file it said was saved is there: killed before a group's sync,
    // after its bytes are synced but before their names, and after a group was saved.
    void aReceiverKilledMidBurstNamesOnlyWholeFiles_data();
    void aReceiverKilledMidBurstNamesOnlyWholeFiles();

private:
    QStringList files(const QString& inside = {}) const
    {
        return QDir(dir_->filePath(inside))
            .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    std::optional<QTemporaryDir> dir_;
    std::optional<PartFiles> parts_;
};

void TestFileIntake::init()
{
    dir_.emplace();
    parts_.emplace();
}

void TestFileIntake::aFileIsAdmittedWrittenCheckedAndNamed()
{
    const QByteArray content = someBytes(1000);
    FileIntake intake(dir_->path(), {}, *parts_);
    QSignalSpy settled(&intake, &FileIntake::settled);
    QVERIFY(!intake.admit(privateOffer(kSam, "Trip/a.bin", content.size())));
    QCOMPARE(intake.shownName(), QStringLiteral("Trip/a.bin"));
    QCOMPARE(intake.topFolder(), dir_->filePath(QStringLiteral("Trip")));
    QCOMPARE(intake.path(), dir_->filePath(QStringLiteral("Trip/a.bin.part")));
    QVERIFY(intake.write(content.left(400)) && intake.write(content.mid(400)));
    QCOMPARE(intake.missing(), 0);
    intake.check(Checksum::of(kQuick, content));
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, kWaitMs);
    QCOMPARE(settled.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Saved);
    QCOMPARE(intake.path(), dir_->filePath(QStringLiteral("Trip/a.bin")));
    QCOMPARE(readFile(intake.path()), content);

    // Without a digest, as on the plain port: saved as soon as it is whole, under a free
    // name; a path is only a name there.
    QVERIFY(!intake.admit({kSam, "Trip/a.bin", 3, false, false, std::nullopt}));
    QCOMPARE(intake.shownName(), QStringLiteral("a.bin"));
    QVERIFY(intake.write("abc"));
    intake.save();
    QCOMPARE(settled.count(), 1); // never inside save()
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 2, kWaitMs);
    QCOMPARE(settled.last().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Saved);
    QCOMPARE(readFile(dir_->filePath(QStringLiteral("a.bin"))), QByteArray("abc"));
    QCOMPARE(files(QStringLiteral("Trip")), QStringList{"a.bin"});
}

void TestFileIntake::refusedOffersLeaveNothingBehind()
{
    using Why = ReceiveReason::Code;
    ReceiverLimits limits;
    limits.maxStrangerPartBytes = 100;
    parts_->setStrangerLimits(limits);
    FileIntake intake(dir_->path(), limits, *parts_);
    QCOMPARE(refused(intake, privateOffer(kSam, "..", 10)), Why::NameUnusable);
    QCOMPARE(refused(intake, privateOffer(kSam, "Trip/../x", 10)), Why::NameUnusable);
    QCOMPARE(refused(intake, privateOffer(kSam, "Big/b.bin", 101)), Why::NoRoom);
    QCOMPARE(intake.path(), QString());
    QCOMPARE(intake.size(), 0);
    QCOMPARE(files(), QStringList());

    FileIntake nowhere({}, limits, *parts_);
    QCOMPARE(refused(nowhere, privateOffer(kSam, "a.bin", 1)), Why::NoSaveFolder);
}

void TestFileIntake::aCutFileGoesOnWhereItStopped()
{
    // Begun by a sender that checks with SHA-256, continued by one with the quick check. A
    // file this large has its part name as soon as the index knows it.
    const QByteArray content = someBytes(9 * 1024 * 1024);
    const QString part = dir_->filePath(QStringLiteral("Trip/a.bin.part"));
    FileIntake first(dir_->path(), {}, *parts_);
    QVERIFY(!first.admit(privateOffer(kSam, "Trip/a.bin", content.size(), Checksum::Kind::Sha256)));
    QVERIFY(first.write(content.left(1200)));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(part), kWaitMs);
    // The sender comes back on a new connection while the old one still holds the file:
    // the old one is told to let go, and does.
    QSignalSpy takenOver(&first, &FileIntake::takenOver);
    connect(&first, &FileIntake::takenOver, &first, &FileIntake::keepPart);

    FileIntake second(dir_->path(), {}, *parts_);
    QSignalSpy settled(&second, &FileIntake::settled);
    QVERIFY(!second.admit(privateOffer(kSam, "Trip/a.bin", content.size())));
    QCOMPARE(takenOver.count(), 1);
    QCOMPARE(second.offset(), 1200);
    QCOMPARE(second.shownName(), QStringLiteral("Trip/a.bin")); // the same folder, not "Trip (1)"
    QVERIFY(second.write(content.mid(1200)));
    second.check(Checksum::of(kQuick, content)); // the first bytes are read back from the disk
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, kWaitMs);
    QCOMPARE(settled.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Saved);
    QCOMPARE(readFile(dir_->filePath(QStringLiteral("Trip/a.bin"))), content);

    // A small file held with no name is not continued: it is dropped, and sent again whole
    // under its own name.
    QVERIFY(!first.admit(privateOffer(kSam, "s.bin", 10)) && first.write("abc"));
    QVERIFY(!second.admit(privateOffer(kSam, "s.bin", 10)));
    QCOMPARE(takenOver.count(), 2);
    QCOMPARE(first.path(), QString());
    QCOMPARE(second.offset(), 0);
    QCOMPARE(second.shownName(), QStringLiteral("s.bin"));

    // Another key's offer of the same name begins anew beside it, and never takes it over.
    first.admit(privateOffer(kSam, "b.bin", 10));
    first.keepPart();
    FileIntake other(dir_->path(), {}, *parts_);
    QVERIFY(!other.admit(privateOffer(kAnn, "b.bin", 10)));
    QCOMPARE(other.offset(), 0);
    QCOMPARE(other.shownName(), QStringLiteral("b (1).bin"));
}

void TestFileIntake::failuresAreToldAndGiveTheSpaceBack()
{
    FileIntake intake(dir_->path(), {}, *parts_);
    QSignalSpy settled(&intake, &FileIntake::settled);
    QVERIFY(!intake.admit(privateOffer(kSam, "a.bin", 3)));
    QVERIFY(intake.write("abc"));
    intake.check(Checksum::of(kQuick, "abd"));
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, kWaitMs);
    QCOMPARE(settled.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Failed);
    QCOMPARE(intake.path(), QString());
    QCOMPARE(files(), QStringList());

    // The first bytes of a continued file are gone when they are to be read back.
    QVERIFY(!intake.admit(privateOffer(kSam, "c.bin", 6)));
    QVERIFY(intake.write("abc"));
    intake.keepPart();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir_->filePath(QStringLiteral("c.bin.part"))), kWaitMs);
    QVERIFY(!intake.admit(privateOffer(kSam, "c.bin", 6)));
    QCOMPARE(intake.offset(), 3);
    QVERIFY(QFile::resize(intake.path(), 1));
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 2, kWaitMs);
    QCOMPARE(settled.last().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::CannotSave);
    QCOMPARE(intake.path(), QString());
    QCOMPARE(files(), QStringList());

    // Files may grow to 64 KiB only, as on a disk that is full beyond that.
    const FileSizeLimit limit(64 * 1024);
    QVERIFY(limit.applied());
    QVERIFY(!intake.admit({kSam, "large.bin", 200 * 1024, false, false, std::nullopt}));
    QVERIFY(!intake.write(QByteArray(100 * 1024, 'L')));
    QCOMPARE(intake.problem().code, ReceiveReason::Code::CannotSave);
    QCOMPARE(
        receiveReasonText(intake.problem(), {}),
        QStringLiteral("Cannot save: the file is larger than this system lets a program write"));
    QCOMPARE(intake.path(), QString());
    QCOMPARE(files(), QStringList());
}

// A large file's room on the disk is set aside first, on the disk worker. Its bytes wait
// meanwhile, so that no write to the file waits for the disk to find room as it writes
// the file back. The file's size stays what came, and a part file keeps no more room
// than it fills.
void TestFileIntake::aLargeFilesRoomIsSetAsideBeforeItsBytes()
{
    constexpr qint64 kSize = 24 * 1024 * 1024;
    const PartSender friendly{QStringLiteral("10.0.0.3"), "key of a friend", true};
    FileIntake intake(dir_->path(), {}, *parts_);
    intake.reserveSpace();
    QSignalSpy ready(&intake, &FileIntake::diskReady);
    QSignalSpy settled(&intake, &FileIntake::settled);
    QSemaphore hold;
    DiskWorker::instance().run(
        this, [&hold] { return hold.tryAcquire(1, kWaitMs); }, [](bool) {});
    QVERIFY(!intake.admit(privateOffer(friendly, "big.bin", kSize)));
    QVERIFY(intake.waitsForDisk());
    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, kWaitMs);
    QVERIFY(!intake.waitsForDisk());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(intake.path()), kWaitMs);
    struct stat status = {};
    QVERIFY(::stat(QFile::encodeName(intake.path()).constData(), &status) == 0);
    QCOMPARE(status.st_size, 0);
    QVERIFY2(qint64(status.st_blocks) * 512 >= kSize, "no room set aside");

    const QByteArray content = someBytes(kSize);
    QVERIFY(intake.write(content));
    intake.check(Checksum::of(kQuick, content));
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, kWaitMs);
    QCOMPARE(settled.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Saved);
    QCOMPARE(readFile(dir_->filePath(QStringLiteral("big.bin"))), content);

    // Cut off, it keeps what came, and gives the rest of the room back.
    QVERIFY(!intake.admit(privateOffer(friendly, "cut.bin", kSize)));
    QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 2, kWaitMs);
    QVERIFY(intake.write(content.left(1024 * 1024)));
    const QString cut = dir_->filePath(QStringLiteral("cut.bin.part"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(cut), kWaitMs);
    intake.keepPart();
    const auto blocksOf = [&status](const QString& path) {
        return ::stat(QFile::encodeName(path).constData(), &status) == 0
                   ? qint64(status.st_blocks) * 512
                   : -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(blocksOf(cut) >= 0 && blocksOf(cut) < 4 * 1024 * 1024, kWaitMs);
    QCOMPARE(QFileInfo(cut).size(), 1024 * 1024);

    // A small file sets nothing aside, nor does a large one for an intake not asked to.
    QVERIFY(!intake.admit(privateOffer(friendly, "small.bin", 1000)));
    QVERIFY(!intake.waitsForDisk());
    FileIntake asIs(dir_->path(), {}, *parts_);
    QVERIFY(!asIs.admit(privateOffer(friendly, "other.bin", kSize)));
    QVERIFY(!asIs.waitsForDisk());
}

void TestFileIntake::slowSendersAndStrangersMeetTheCaps()
{
    ReceiverLimits limits;
    limits.progressWindow = std::chrono::milliseconds(20);
    limits.minProgressBytes = 100;
    limits.maxStrangerMadePerConnection = 4;
    parts_->setStrangerLimits(limits);
    // A file that is whole has nothing more to bring: it is no longer watched.
    FileIntake whole(dir_->path(), limits, *parts_);
    QSignalSpy wholeSlow(&whole, &FileIntake::tooSlow);
    QVERIFY(!whole.admit(privateOffer(kSam, "w.bin", 10)));
    QVERIFY(whole.write(QByteArray(10, 'w')));
    FileIntake slow(dir_->path(), limits, *parts_);
    QSignalSpy slowSlow(&slow, &FileIntake::tooSlow);
    QVERIFY(!slow.admit(privateOffer(kAnn, "s.bin", 1000)));
    QVERIFY(slow.write(QByteArray(99, 's')));
    QTRY_VERIFY_WITH_TIMEOUT(slowSlow.count() >= 2, kWaitMs);
    QCOMPARE(wholeSlow.count(), 0);

    // What one stranger's connection makes is counted: with its first file, two folders
    // and a second file, then no more.
    QVERIFY(!slow.admit(privateOffer(kAnn, "T/U/t.bin", 1)));
    QCOMPARE(refused(slow, privateOffer(kAnn, "T/U/u.bin", 1)), ReceiveReason::Code::NoRoom);
}

// Data synced, then the name, then the folder synced, then told; what is asked for while
// the disk works on one group goes with the next.
void TestFileIntake::savesLastInOrderAndInGroups()
{
    struct Seen {
        int files = 0;
        int folders = 0;
        bool namedTooEarly = false;
        bool unnamedAtFolderSync = false;
    };
    QMutex mutex;
    QList<Seen> groups;
    QSemaphore firstGroup;
    std::atomic<bool> firstStarted = false;
    const QString a = dir_->filePath(QStringLiteral("a.bin"));
    const QString b = dir_->filePath(QStringLiteral("b.bin"));
    GroupedSync& syncs = GroupedSync::instance();
    syncs.setSyncer([&](const QList<GroupedSync::Item>& items) {
        if (const QMutexLocker locker(&mutex); groups.isEmpty()) {
            firstStarted = true;
            firstGroup.acquire(); // holds the disk until the test has asked for more
        }
        Seen seen;
        for (const GroupedSync::Item& item : items) {
            (item.isFolder ? seen.folders : seen.files)++;
            const bool named = QFile::exists(a) || QFile::exists(b);
            seen.namedTooEarly |= !item.isFolder && named;
            seen.unnamedAtFolderSync |= item.isFolder && !named;
        }
        const QMutexLocker locker(&mutex);
        groups.append(seen);
        return GroupedSync::syncAll(items);
    });
    FileIntake first(dir_->path(), {}, *parts_);
    FileIntake second(dir_->path(), {}, *parts_);
    FileIntake third(dir_->path(), {}, *parts_);
    QSignalSpy settled(&first, &FileIntake::settled);
    QSignalSpy settledToo(&second, &FileIntake::settled);
    QSignalSpy settledThird(&third, &FileIntake::settled);
    QVERIFY(!first.admit(privateOffer(kSam, "a.bin", 3)) && first.write("abc"));
    QVERIFY(!second.admit(privateOffer(kSam, "b.bin", 3)) && second.write("def"));
    QVERIFY(!third.admit(privateOffer(kSam, "c.bin", 3)) && third.write("ghi"));
    first.save();
    QTRY_VERIFY_WITH_TIMEOUT(firstStarted, kWaitMs);
    second.save();
    third.save();
    firstGroup.release();
    QTRY_COMPARE_WITH_TIMEOUT(settledThird.count(), 1, kWaitMs);
    QCOMPARE(settled.count(), 1);
    QCOMPARE(settledToo.count(), 1);
    // Files finished in one turn of the loop go together, however idle the disk.
    FileIntake fourth(dir_->path(), {}, *parts_);
    FileIntake fifth(dir_->path(), {}, *parts_);
    QSignalSpy settledFifth(&fifth, &FileIntake::settled);
    QVERIFY(!fourth.admit(privateOffer(kSam, "e.bin", 3)) && fourth.write("mno"));
    QVERIFY(!fifth.admit(privateOffer(kSam, "f.bin", 3)) && fifth.write("pqr"));
    fourth.save();
    fifth.save();
    QTRY_COMPARE_WITH_TIMEOUT(settledFifth.count(), 1, kWaitMs);
    DiskWorker::instance().waitForIdle();
    syncs.setSyncer(&GroupedSync::syncAll);
    const QMutexLocker locker(&mutex);
    // The first file alone; the two asked for meanwhile together, with the first one's
    // folder; then their folder. Then the two of one turn, then their folder.
    QCOMPARE(groups.size(), 5);
    QCOMPARE(groups[0].files, 1);
    QCOMPARE(groups[0].namedTooEarly, false);
    QCOMPARE(groups[1].files, 2);
    QCOMPARE(groups[1].folders, 1);
    QCOMPARE(groups[2].folders, 2);
    QCOMPARE(groups[2].unnamedAtFolderSync, false);
    QCOMPARE(groups[3].files, 2);
    QCOMPARE(groups[4].folders, 2);
    QCOMPARE(settled.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Saved);
    QCOMPARE(readFile(dir_->filePath(QStringLiteral("c.bin"))), QByteArray("ghi"));

    // A sync that fails names nothing and says why; a small file leaves nothing at all.
    syncs.setSyncer(
        [](const QList<GroupedSync::Item>& items) { return QList<int>(items.size(), EIO); });
    FileIntake failing(dir_->path(), {}, *parts_);
    QSignalSpy failed(&failing, &FileIntake::settled);
    QVERIFY(!failing.admit(privateOffer(kSam, "d.bin", 3)) && failing.write("jkl"));
    failing.save();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kWaitMs);
    syncs.setSyncer(&GroupedSync::syncAll);
    QCOMPARE(failed.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::CannotSave);
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("d.bin"))));
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("d.bin.part"))));
}

// The worker's answer may come after the connection let go of the file, or after the
// intake is gone: the file then stays a part file, and nothing is told.
void TestFileIntake::aFileLetGoWhileSavingStaysAPart()
{
    // Held by every group that starts while it is the syncer, whenever that is.
    const auto hold = std::make_shared<QSemaphore>();
    GroupedSync::instance().setSyncer([hold](const QList<GroupedSync::Item>& items) {
        hold->acquire();
        hold->release();
        return GroupedSync::syncAll(items);
    });
    FileIntake kept(dir_->path(), {}, *parts_);
    QSignalSpy settled(&kept, &FileIntake::settled);
    QVERIFY(!kept.admit(privateOffer(kSam, "a.bin", 3)) && kept.write("abc"));
    kept.save();
    kept.keepPart();
    auto gone = std::make_unique<FileIntake>(dir_->path(), ReceiverLimits{}, *parts_);
    QVERIFY(!gone->admit(privateOffer(kSam, "b.bin", 3)) && gone->write("def"));
    gone->save();
    gone.reset();
    hold->release();
    QTRY_COMPARE_WITH_TIMEOUT(files(), (QStringList{"a.bin.part", "b.bin.part"}), kWaitMs);
    DiskWorker::instance().waitForIdle();
    QCoreApplication::sendPostedEvents();
    GroupedSync::instance().setSyncer(&GroupedSync::syncAll);
    QCOMPARE(settled.count(), 0);
    QVERIFY(parts_->recorded(dir_->filePath(QStringLiteral("a.bin.part"))));
}

void TestFileIntake::aNewFolderIsSyncedBeforeItsFile()
{
    const auto identity = [](const QString& path) {
        struct stat info {
        };
        return ::stat(QFile::encodeName(path).constData(), &info) == 0
                   ? FileIdentity{quint64(info.st_dev), quint64(info.st_ino)}
                   : FileIdentity{};
    };
    const FileIdentity saveFolder = identity(dir_->path());
    QMutex mutex;
    QList<FileIdentity> folderSyncs;
    std::atomic<bool> failing = false;
    GroupedSync::instance().setSyncer([&](const QList<GroupedSync::Item>& items) {
        QList<int> errors = GroupedSync::syncAll(items);
        const QMutexLocker locker(&mutex);
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items[i].isFolder)
                folderSyncs.append(items[i].folder);
            if (items[i].isFolder && items[i].folder == saveFolder && failing)
                errors[i] = EIO;
        }
        return errors;
    });
    const auto receive = [this](const QByteArray& path) {
        FileIntake intake(dir_->path(), {}, *parts_);
        QSignalSpy settled(&intake, &FileIntake::settled);
        if (intake.admit(privateOffer(kSam, path, 3)) || !intake.write("abc"))
            return ReceiveEnd::Outcome::Refused;
        intake.check(Checksum::of(kQuick, "abc"));
        if (!QTest::qWaitFor([&settled] { return settled.count() == 1; }, kWaitMs))
            return ReceiveEnd::Outcome::Incomplete;
        return settled.first().at(0).value<ReceiveEnd::Outcome>();
    };

    QCOMPARE(receive("Trip/a.bin"), ReceiveEnd::Outcome::Saved);
    failing = true;
    QCOMPARE(receive("Kit/b.bin"), ReceiveEnd::Outcome::CannotSave);
    DiskWorker::instance().waitForIdle();
    GroupedSync::instance().setSyncer(&GroupedSync::syncAll);
    const QMutexLocker locker(&mutex);
    QCOMPARE(folderSyncs, (QList<FileIdentity>{saveFolder, identity(dir_->filePath("Trip")),
                                               saveFolder, identity(dir_->filePath("Kit"))}));
}

namespace
{

// How many of this process's descriptors are open on something in folder, files with no
// name included.
int openInside(const QString& folder)
{
    int count = 0;
    const QByteArray inside = QFile::encodeName(folder) + '/';
    for (const QString& fd :
         QDir(QStringLiteral("/proc/self/fd"))
             .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096] = {};
        const QByteArray link = "/proc/self/fd/" + QFile::encodeName(fd);
        if (::readlink(link.constData(), target, sizeof target - 1) > 0)
            count += QByteArray(target).startsWith(inside) ? 1 : 0;
    }
    return count;
}

} // namespace

void TestFileIntake::aFileWaitsForItsPartFileOffTheLoop()
{
    QSemaphore hold;
    const auto holdTheWorker = [this, &hold] {
        DiskWorker::instance().run(
            this, [&hold] { return hold.tryAcquire(1, kWaitMs); }, [](bool) {});
    };
    FileIntake intake(dir_->path(), {}, *parts_);
    intake.reserveSpace();
    QSignalSpy ready(&intake, &FileIntake::diskReady);
    QSignalSpy settled(&intake, &FileIntake::settled);
    holdTheWorker();
    QVERIFY(!intake.admit(privateOffer(kSam, "Trip/a.bin", 3)));
    QVERIFY(intake.waitsForDisk());
    QCOMPARE(intake.shownName(), QStringLiteral("Trip/a.bin"));
    QCOMPARE(files(QStringLiteral("Trip")), QStringList());
    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, kWaitMs);
    QVERIFY(!intake.waitsForDisk() && intake.write("abc"));
    intake.check(Checksum::of(kQuick, "abc"));
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, kWaitMs);
    QCOMPARE(settled.first().at(0).value<ReceiveEnd::Outcome>(), ReceiveEnd::Outcome::Saved);
    QCOMPARE(readFile(dir_->filePath(QStringLiteral("Trip/a.bin"))), QByteArray("abc"));
    // Spares are ready now: the next file waits for none.
    QTRY_VERIFY_WITH_TIMEOUT(SpareFiles::instance().ready() > 0, kWaitMs);
    QVERIFY(!intake.admit(privateOffer(kSam, "Trip/b.bin", 3)) && !intake.waitsForDisk());
    QCOMPARE(intake.path(), dir_->filePath(QStringLiteral("Trip/b.bin.part")));
    intake.keepPart();

    // Let go of, or gone, before its file comes: the file is closed, nothing is told.
    QTemporaryDir other;
    holdTheWorker();
    auto kept = std::make_unique<FileIntake>(other.path(), ReceiverLimits{}, *parts_);
    kept->reserveSpace();
    QSignalSpy keptSettled(kept.get(), &FileIntake::settled);
    QVERIFY(!kept->admit(privateOffer(kSam, "c.bin", 3)) && kept->waitsForDisk());
    kept->keepPart();
    QVERIFY(!kept->waitsForDisk());
    auto gone = std::make_unique<FileIntake>(other.path(), ReceiverLimits{}, *parts_);
    gone->reserveSpace();
    QVERIFY(!gone->admit(privateOffer(kSam, "d.bin", 3)) && gone->waitsForDisk());
    gone.reset();
    hold.release();
    DiskWorker::instance().waitForIdle();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(keptSettled.count(), 0);
    kept.reset();
    QCOMPARE(QDir(other.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QCOMPARE(openInside(other.path()), SpareFiles::instance().ready());
}

void TestFileIntake::sparesGoOnlyWhereTheirFileSystemIs()
{
    SpareFiles& spares = SpareFiles::instance();
    const HeldFolder home = HeldFolder::open(dir_->path());
    const HeldFolder elsewhere = HeldFolder::open(QStringLiteral("/proc"));
    QVERIFY(home.isOpen() && elsewhere.isOpen());
    QCOMPARE(spares.take(dir_->path(), home), -1); // a new save folder has none yet
    QTRY_VERIFY_WITH_TIMEOUT(spares.ready() > 0, kWaitMs);
    const int ready = spares.ready();
    QCOMPARE(spares.take(dir_->path(), elsewhere), -1);
    QCOMPARE(spares.ready(), ready);
    std::optional<int> told;
    QVERIFY(spares.await(this, elsewhere, [&told](int fd) { told = fd; }));
    QTRY_VERIFY_WITH_TIMEOUT(told.has_value(), kWaitMs);
    QCOMPARE(*told, -1);

    // One taken has no name, and takes one in a folder made inside the save folder.
    const int fd = spares.take(dir_->path(), home);
    QVERIFY(fd >= 0 && unnamedFileIdentity(fd));
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("inside")));
    QCOMPARE(linkOpenFile(home.inside("inside").fd(), fd, "named"), 0);
    ::close(fd);
    QVERIFY(QFileInfo(dir_->filePath(QStringLiteral("inside/named"))).isFile());

    // Left untaken, they go, and no file of ours stays open in the save folder.
    spares.setIdleTime(std::chrono::milliseconds(50));
    const int taken = spares.take(dir_->path(), home);
    QVERIFY(taken >= 0);
    ::close(taken);
    QTRY_COMPARE_WITH_TIMEOUT(openInside(dir_->path()), 0, kWaitMs);
    QCOMPARE(spares.ready(), 0);
    spares.setIdleTime(std::chrono::seconds(5));
}

void TestFileIntake::aReceiverKilledMidBurstNamesOnlyWholeFiles_data()
{
    QTest::addColumn<KillAt>("at");
    QTest::addColumn<QList<QByteArray>>("saved");
    QList<QByteArray> first;
    for (const auto& file : kFirstGroup)
        first.append(file.first);
    QTest::newRow("before the first sync") << KillAt::FirstSync << QList<QByteArray>();
    QTest::newRow("synced, not named") << KillAt::FirstSynced << QList<QByteArray>();
    QTest::newRow("after the first group") << KillAt::SecondSync << first;
}

void TestFileIntake::aReceiverKilledMidBurstNamesOnlyWholeFiles()
{
    QFETCH(KillAt, at);
    QFETCH(QList<QByteArray>, saved);
    QProcess receiver;
    receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    receiver.start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--killed-receiver"), dir_->path(), QString::number(int(at))});
    QVERIFY(receiver.waitForFinished(20000));
    QCOMPARE(receiver.exitStatus(), QProcess::CrashExit);
    QList<QByteArray> told;
    for (const QByteArray& line : receiver.readAllStandardOutput().split('\n'))
        if (line.startsWith("saved "))
            told.append(line.mid(6));
    std::sort(told.begin(), told.end());
    QCOMPARE(told, saved);

    // Every file under a final name anywhere: exactly those said saved, each whole.
    QList<QByteArray> named;
    QDirIterator found(dir_->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (found.hasNext()) {
        const QString path = found.next();
        if (path.endsWith(QLatin1String(".part")))
            continue;
        const QByteArray name = QDir(dir_->path()).relativeFilePath(path).toUtf8();
        named.append(name);
        QVERIFY2(readFile(path) == burstContent(name, QFileInfo(path).size()), path.toUtf8());
    }
    std::sort(named.begin(), named.end());
    QCOMPARE(named, saved);
    for (const auto& [name, size] : kFirstGroup)
        if (saved.contains(name))
            QCOMPARE(QFileInfo(dir_->filePath(QString::fromUtf8(name))).size(), size);
    // A large file not saved stays a part file, to go on from.
    QCOMPARE(QFileInfo::exists(dir_->filePath(QStringLiteral("c.bin.part"))),
             !saved.contains("c.bin"));
}

// A receiver to kill runs as this program with --killed-receiver FOLDER KILLAT.
int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--killed-receiver") == 0) {
        QCoreApplication app(argc, argv);
        return runKilledReceiver(QString::fromLocal8Bit(argv[2]), KillAt(std::atoi(argv[3])));
    }
    QCoreApplication app(argc, argv);
    TestFileIntake test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fileintake.moc"
