#include "identity/identity.h"
#include "platform/diskworker.h"
#include "support/testfiles.h"
#include "transfer/fileintake.h"
#include "transfer/partfiles.h"
#include "transfer/receivedtree.h"
#include "transfer/receivefile.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace
{

const PartSender kSam{QStringLiteral("10.0.0.1"), "key of Sam", true};
const QByteArray kPrecious = "precious";
constexpr int kWaitMs = 10000;

// How many of the first length bytes of the file at path are in the system's memory.
qint64 residentBytes(const QString& path, qint64 length)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    void* const map =
        fd >= 0 ? ::mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident(size_t((length + page - 1) / page));
    qint64 bytes = -1;
    if (map != MAP_FAILED && ::mincore(map, size_t(length), resident.data()) == 0)
        bytes = page * std::count_if(resident.begin(), resident.end(),
                                     [](unsigned char in) { return (in & 1) != 0; });
    if (map != MAP_FAILED)
        ::munmap(map, size_t(length));
    if (fd >= 0)
        ::close(fd);
    return bytes;
}

} // namespace

// The receiver's steps driven one by one, with a link or a hard link swapped into the save
// folder between checking a folder or part file and using it.
class TestHeldFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void aFolderSwappedForALinkIsNotFollowed();
    void theNextFilesGoInTheFolderHeld();
    void aPartSwappedAfterItsCheckIsNeitherTakenOverNorContinued();
    void aPartIsIndexedBeforeItsFirstByte();
    void aSmallFileIsNamedOnlyWhenLetGo();
    void anIdentityFileThatIsALinkIsRefused();
    void writingBackHasAnOpeningOfItsOwn();

private:
    QString save(const QString& name = {}) const { return dir_->filePath("in/" + name); }
    QString outside(const QString& name = {}) const { return dir_->filePath("out/" + name); }
    QString index() const { return dir_->filePath(QStringLiteral("partfiles.json")); }
    // Leaves a part file of name from Sam holding "hello", as a connection cut off would.
    QString leaveAPart(const QByteArray& name)
    {
        FileIntake intake(save(), {}, *parts_);
        if (intake.admit({kSam, name, 10, false, true, std::nullopt}) || !intake.write("hello"))
            return {};
        intake.keepPart();
        // The part name follows the index that knows it.
        if (!QTest::qWaitFor([&intake] { return QFile::exists(intake.path()); }, kWaitMs))
            return {};
        return intake.path();
    }

    std::optional<QTemporaryDir> dir_;
    std::optional<PartFiles> parts_;
};

void TestHeldFiles::init()
{
    dir_.emplace();
    QVERIFY(QDir().mkpath(save()) && QDir().mkpath(outside()));
    QVERIFY(writeFile(outside(QStringLiteral("victim")), kPrecious));
    parts_.emplace();
    parts_->open(index());
}

void TestHeldFiles::aFolderSwappedForALinkIsNotFollowed()
{
    ReceivedTree tree(save());
    ReceivedTree::Place place;
    QVERIFY(!tree.place("Trip/a.bin", place));
    HeldFolder folder;
    QVERIFY(!tree.make(place, folder));
    // The folder walked to goes aside; a link to another folder takes its name.
    QVERIFY(QDir(save()).rename(QStringLiteral("Trip"), QStringLiteral("Aside")));
    QVERIFY(QFile::link(outside(), save(QStringLiteral("Trip"))));

    ReceiveFile file;
    QVERIFY(file.choose(std::move(folder), place.folder, QStringLiteral("a.bin"),
                        [](const QString&) { return std::nullopt; }));
    QVERIFY(file.open());
    QVERIFY(file.write("abc"));
    const int synced = file.syncHandle();
    QVERIFY(synced >= 0 && ::fsync(synced) == 0 && ::close(synced) == 0);
    QVERIFY(file.takeName());
    QCOMPARE(readFile(save(QStringLiteral("Aside/a.bin"))), QByteArray("abc"));
    QCOMPARE(QDir(outside()).entryList(QDir::Files), QStringList{"victim"});
    // Nor is it walked through to continue a part file.
    QVERIFY(!tree.walk(place).isOpen());
}

// The files after the first in a folder go where it went: moved meanwhile, they follow it
// (never a link put in its place); removed, it is made anew.
void TestHeldFiles::theNextFilesGoInTheFolderHeld()
{
    ReceivedTree tree(save());
    const auto makeFor = [&tree](const QByteArray& path, int& newFolders) {
        ReceivedTree::Place place;
        HeldFolder folder;
        if (tree.place(path, place) || tree.make(place, folder))
            return HeldFolder();
        tree.keep();
        newFolders = place.newFolders;
        return folder;
    };
    const auto identity = [](int fd) {
        struct stat status = {};
        return ::fstat(fd, &status) == 0 ? FileIdentity{quint64(status.st_dev), status.st_ino}
                                         : FileIdentity{};
    };
    int newFolders = -1;
    QVERIFY(makeFor("Trip/day 1/a.bin", newFolders).isOpen());
    QCOMPARE(newFolders, 2);
    QVERIFY(QDir(save()).rename(QStringLiteral("Trip"), QStringLiteral("Aside")));
    QVERIFY(QFile::link(outside(), save(QStringLiteral("Trip"))));

    const HeldFolder followed = makeFor("Trip/day 1/b.bin", newFolders);
    QCOMPARE(newFolders, 0);
    QCOMPARE(identity(followed.fd()),
             identity(HeldFolder::open(save(QStringLiteral("Aside/day 1"))).fd()));
    QCOMPARE(QDir(outside()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"victim"});

    QVERIFY(QFile::remove(save(QStringLiteral("Trip"))));
    QVERIFY(QDir(save(QStringLiteral("Aside"))).removeRecursively());
    const HeldFolder anew = makeFor("Trip/day 1/c.bin", newFolders);
    QVERIFY(anew.isOpen());
    QCOMPARE(identity(anew.fd()),
             identity(HeldFolder::open(save(QStringLiteral("Trip/day 1"))).fd()));
}

void TestHeldFiles::aPartSwappedAfterItsCheckIsNeitherTakenOverNorContinued()
{
    const QString part = leaveAPart("b.bin");
    QCOMPARE(part, save(QStringLiteral("b.bin.part")));
    ReceiveFile file;
    QVERIFY(file.choose(HeldFolder::open(save()), save(), QStringLiteral("b.bin"),
                        [this](const QString& path) { return parts_->leftover(path, kSam); }));
    QVERIFY(file.takesOver());
    QVERIFY(QFile::remove(part) && QFile::link(outside(QStringLiteral("victim")), part));
    QVERIFY(!file.open());
    QVERIFY2(file.error().contains(QStringLiteral("replaced")), qPrintable(file.error()));
    QCOMPARE(readFile(outside(QStringLiteral("victim"))), kPrecious);

    // Continued: another name for the part file, then a hard link put in its place.
    const QString cut = leaveAPart("c.bin");
    const FileIdentity recorded = *parts_->recorded(cut);
    QVERIFY(::link(QFile::encodeName(cut), QFile::encodeName(outside("peek"))) == 0);
    QVERIFY(!file.resume(HeldFolder::open(save()), cut, recorded, 10));
    QVERIFY(QFile::remove(cut) &&
            ::link(QFile::encodeName(outside("victim")), QFile::encodeName(cut)) == 0);
    QVERIFY(!file.resume(HeldFolder::open(save()), cut, recorded, 10));
    QVERIFY2(file.error().contains(QStringLiteral("replaced")), qPrintable(file.error()));
    QCOMPARE(readFile(outside(QStringLiteral("victim"))), kPrecious);
    QCOMPARE(readFile(outside(QStringLiteral("peek"))), QByteArray("hello"));
}

// A large file takes its part name only once the index on the disk knows it, so that a
// crash at any moment leaves no part file the index never knew.
void TestHeldFiles::aPartIsIndexedBeforeItsFirstByte()
{
    constexpr qint64 kLarge = 9 * 1024 * 1024; // named as soon as it can be
    QSemaphore hold;
    DiskWorker::instance().run(
        this, [&hold] { return hold.tryAcquire(1, kWaitMs); }, [](bool) {});
    FileIntake intake(save(), {}, *parts_);
    QVERIFY(!intake.admit({kSam, "Trip/a.bin", kLarge, true, true, Checksum::Kind::Xxh3_128}));
    QVERIFY(intake.write("abc"));
    // Killed now: nothing of it is in the folder, and the index does not know it.
    QCOMPARE(QDir(save(QStringLiteral("Trip"))).entryList(QDir::Files), QStringList{});
    QVERIFY(!readFile(index()).contains("a.bin"));
    // Another copy taking the ports over reads the index only once it is written.
    bool written = false;
    parts_->whenWritten([&] { written = QFile::exists(intake.path()); });
    QVERIFY(!written);
    hold.release();
    QTRY_VERIFY_WITH_TIMEOUT(written, kWaitMs);
    QVERIFY(readFile(index()).contains(QFile::encodeName(intake.path())));
    QCOMPARE(readFile(intake.path()), QByteArray("abc"));
    // Killed now, the index on the disk finds it again after a restart.
    const QString crashed = dir_->filePath(QStringLiteral("crashed.json"));
    QVERIFY(QFile::copy(index(), crashed));
    intake.keepPart();
    PartFiles restarted;
    restarted.open(crashed);
    QVERIFY(restarted.leftover(intake.path(), kSam));
    QCOMPARE(restarted.resumable(kSam.key, "Trip/a.bin", kLarge), std::optional(intake.path()));

    // Whole before its part name came: the part name that comes late goes again. So does
    // one given to a file dropped meanwhile.
    for (const bool whole : {true, false}) {
        DiskWorker::instance().run(
            this, [&hold] { return hold.tryAcquire(1, kWaitMs); }, [](bool) {});
        FileIntake late(save(), {}, *parts_);
        QVERIFY(!late.admit({kSam, "late.bin", kLarge, false, true, Checksum::Kind::Xxh3_128}));
        QVERIFY(late.write("abc"));
        if (whole)
            late.save();
        else
            late.check(Checksum::of(Checksum::Kind::Xxh3_128, "abd")); // dropped as damaged
        hold.release();
        DiskWorker::instance().waitForIdle(); // the late name is given, then taken away
        QTRY_COMPARE_WITH_TIMEOUT(QDir(save()).entryList({QStringLiteral("late*")}, QDir::Files),
                                  whole ? QStringList{"late.bin"} : QStringList{}, kWaitMs);
        QVERIFY(QFile::remove(save(QStringLiteral("late.bin"))) || !whole);
    }
}

// A small file has no name while it arrives, so a crash leaves nothing of it; let go of, it
// takes its part name once the index knows it, and never one that is taken.
void TestHeldFiles::aSmallFileIsNamedOnlyWhenLetGo()
{
    FileIntake first(save(), {}, *parts_);
    FileIntake second(save(), {}, *parts_);
    QVERIFY(!first.admit({kSam, "b.bin", 6, false, true, Checksum::Kind::Xxh3_128}));
    QVERIFY(!second.admit({kSam, "b.bin", 6, false, true, Checksum::Kind::Xxh3_128}));
    QVERIFY(first.write("abc") && second.write("xyz"));
    QCOMPARE(QDir(save()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{});
    QCOMPARE(first.path(), save(QStringLiteral("b.bin.part")));
    QCOMPARE(second.path(), save(QStringLiteral("b (1).bin.part"))); // b.bin.part is spoken for
    // A large file's part file is in the index at once, and the small ones are not with it.
    FileIntake large(save(), {}, *parts_);
    QVERIFY(!large.admit({kSam, "e.bin", 9 * 1024 * 1024, false, true, std::nullopt}));
    QTRY_VERIFY_WITH_TIMEOUT(readFile(index()).contains("e.bin.part"), kWaitMs);
    QVERIFY(!readFile(index()).contains("b.bin.part") && !readFile(index()).contains("b (1)"));

    FileIntake kept(save(), {}, *parts_);
    QVERIFY(!kept.admit({kSam, "c.bin", 6, false, true, Checksum::Kind::Xxh3_128}));
    QVERIFY(kept.write("abc"));
    kept.keepPart();
    QTRY_COMPARE_WITH_TIMEOUT(readFile(save(QStringLiteral("c.bin.part"))), QByteArray("abc"),
                              kWaitMs);
    QVERIFY(readFile(index()).contains(QFile::encodeName(save(QStringLiteral("c.bin.part")))));
    QCOMPARE(parts_->resumable(kSam.key, "c.bin", 6), std::optional(save("c.bin.part")));

    // Its part name taken meanwhile: what stands there stays, and the beginning is dropped.
    FileIntake beaten(save(), {}, *parts_);
    QVERIFY(!beaten.admit({kSam, "d.bin", 6, false, true, Checksum::Kind::Xxh3_128}));
    QVERIFY(beaten.write("abc"));
    QVERIFY(writeFile(save(QStringLiteral("d.bin.part")), kPrecious));
    beaten.keepPart();
    QCOMPARE(readFile(save(QStringLiteral("d.bin.part"))), kPrecious);
    QVERIFY(!parts_->recorded(save(QStringLiteral("d.bin.part"))));
    QCOMPARE(beaten.path(), QString()); // nothing is said to be kept there
}

void TestHeldFiles::anIdentityFileThatIsALinkIsRefused()
{
    QVERIFY(Identity::open(outside(), nullptr));
    QVERIFY(QFile::link(outside(Identity::kFileName), save(Identity::kFileName)));
    QString error;
    QVERIFY(!Identity::open(save(), &error));
    QVERIFY2(error.contains(QStringLiteral("is not a file of its own")), qPrintable(error));
}

// The steps that write a large file back wait for the disk through an opening of their own:
// the system tells a failed write once to each opening, so the sync at the end still hears
// of one that a step heard of first. Every 64 MiB a step syncs what was written so far.
void TestHeldFiles::writingBackHasAnOpeningOfItsOwn()
{
    ReceiveFile file;
    QVERIFY(file.choose(HeldFolder::open(save()), save(), QStringLiteral("big.bin"),
                        [](const QString&) { return std::optional<FileIdentity>(); }));
    QVERIFY(file.open());
    const QByteArray mebibyte(1024 * 1024, 'q');
    QList<bool> syncs;
    for (int i = 0; i < 136; ++i) {
        QVERIFY(file.write(mebibyte));
        const ReceiveFile::WriteBack step = file.takeWriteBack();
        if (step.fd < 0)
            continue;
        QVERIFY(soleFileIdentity(step.fd) == file.identity());
        QCOMPARE(::lseek(step.fd, 0, SEEK_CUR), 0); // the file's own stands at its end
        syncs.append(step.sync);
        step.run();
    }
    QCOMPARE(syncs.size(), 136 / 8);
    QCOMPARE(syncs.count(true), 2);
    QVERIFY(syncs[7] && syncs[15]);
    // What is on the disk has left the memory, where the file system lets it (not tmpfs).
    struct statfs where = {};
    QVERIFY(::statfs(QFile::encodeName(save()).constData(), &where) == 0);
    if (where.f_type != TMPFS_MAGIC)
        QCOMPARE(residentBytes(file.path(), 64 * mebibyte.size()), 0);
}

QTEST_GUILESS_MAIN(TestHeldFiles)
#include "tst_heldfiles.moc"
