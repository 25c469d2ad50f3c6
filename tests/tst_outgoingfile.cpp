#include "platform/diskworker.h"
#include "support/testfiles.h"
#include "transfer/outgoingfile.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

constexpr int kWaitMs = 5000;

// Every block that file gives, joined; "<failed>" when one could not be read.
QByteArray readAll(OutgoingFile& file)
{
    QByteArray all;
    while (file.hasMore()) {
        if (!file.blockAtHand() && !QSignalSpy(&file, &OutgoingFile::blockReady).wait(kWaitMs))
            return "<never came>";
        const QByteArray block = file.next();
        if (block.isEmpty())
            return "<failed>";
        if (block.size() > OutgoingFile::kBlockBytes)
            return "<too large>";
        all += block;
    }
    return all;
}

// Whether any of the file's bytes are in the system's memory.
bool anyResident(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const size_t length = size_t(file.size());
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, int(file.handle()), 0);
    if (map == MAP_FAILED)
        return true;
    const long page = ::sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> pages((length + size_t(page) - 1) / size_t(page));
    const bool known = ::mincore(map, length, pages.data()) == 0;
    ::munmap(map, length);
    return !known || std::any_of(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; });
}

} // namespace

// The one way a file is read for sending, whichever protocol sends it.
class TestOutgoingFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sendsFromTheOffsetAndDigestsTheWholeFile();
    void aFileThatShrankOrIsGoneFailsToRead();
    void aBlockTheDiskMustBringIsReadOnTheWorker();
};

void TestOutgoingFile::sendsFromTheOffsetAndDigestsTheWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.bin"));
    const QByteArray content = someBytes(OutgoingFile::kBlockBytes * 2 + 100);
    QVERIFY(writeFile(path, content));
    for (const Checksum::Kind kind : {Checksum::Kind::Sha256, Checksum::Kind::Xxh3_128}) {
        for (const qint64 offset : {qint64(0), qint64(1000), qint64(content.size())}) {
            OutgoingFile file;
            QSignalSpy digested(&file, &OutgoingFile::digested);
            QVERIFY(file.open(path, content.size(), offset, kind));
            QCOMPARE(readAll(file), content.mid(offset));
            file.finish();
            QVERIFY(!file.isOpen());
            QTRY_COMPARE_WITH_TIMEOUT(digested.count(), 1, kWaitMs);
            QCOMPARE(digested.first().at(0).toByteArray(), Checksum::of(kind, content));
        }
    }
    // Only the size measured before is sent, even when the file has grown since.
    OutgoingFile plain;
    QVERIFY(plain.open(path, 10, 0, std::nullopt));
    QCOMPARE(readAll(plain), content.left(10));
}

void TestOutgoingFile::aFileThatShrankOrIsGoneFailsToRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.bin"));
    QVERIFY(writeFile(path, "12345"));
    OutgoingFile file;
    QVERIFY(file.open(path, 10, 0, std::nullopt));
    QCOMPARE(readAll(file), QByteArray("<failed>"));
    QVERIFY(!file.error().isEmpty());

    // The bytes before the offset are read back for the digest, and are no longer there.
    QSignalSpy readBackFailed(&file, &OutgoingFile::readBackFailed);
    QVERIFY(file.open(path, 10, 8, Checksum::Kind::Xxh3_128));
    file.finish();
    QTRY_COMPARE_WITH_TIMEOUT(readBackFailed.count(), 1, kWaitMs);

    QVERIFY(!file.open(dir.filePath(QStringLiteral("gone.bin")), 1, 0, std::nullopt));
    QVERIFY(!file.error().isEmpty());
}

// The event loop never waits for the disk to bring a block: the worker reads it, and the
// file goes on from there; closed meanwhile, nothing more is told of it.
void TestOutgoingFile::aBlockTheDiskMustBringIsReadOnTheWorker()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cold.bin"));
    const QByteArray content = someBytes(OutgoingFile::kBlockBytes * 2 + 7);
    QVERIFY(writeFile(path, content));
    const auto dropFromMemory = [&path] {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        return !anyResident(path);
    };
    if (!dropFromMemory())
        QSKIP("this file system keeps its files in memory");

    QSemaphore hold;
    DiskWorker::instance().run(
        this, [&hold] { return hold.tryAcquire(1, kWaitMs); }, [](bool) {});
    OutgoingFile file;
    QSignalSpy ready(&file, &OutgoingFile::blockReady);
    QVERIFY(file.open(path, content.size(), 0, Checksum::Kind::Xxh3_128));
    QVERIFY(!file.blockAtHand()); // the worker is held: a read on the loop would have waited
    QVERIFY(!file.blockAtHand()); // asked again, the same read stays on its way
    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, kWaitMs);
    QVERIFY(file.blockAtHand());
    QCOMPARE(file.next(), content.left(OutgoingFile::kBlockBytes));
    QSignalSpy digested(&file, &OutgoingFile::digested);
    QCOMPARE(readAll(file), content.mid(OutgoingFile::kBlockBytes));
    file.finish();
    QTRY_COMPARE_WITH_TIMEOUT(digested.count(), 1, kWaitMs);
    QCOMPARE(digested.first().at(0).toByteArray(), Checksum::of(Checksum::Kind::Xxh3_128, content));

    QVERIFY(dropFromMemory());
    QVERIFY(file.open(path, content.size(), 0, std::nullopt));
    ready.clear();
    QVERIFY(!file.blockAtHand());
    file.close();
    DiskWorker::instance().waitForIdle();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(ready.count(), 0);
}

QTEST_GUILESS_MAIN(TestOutgoingFile)
#include "tst_outgoingfile.moc"
