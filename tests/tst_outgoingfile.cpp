#include "support/testfiles.h"
#include "transfer/outgoingfile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

constexpr int kWaitMs = 5000;

// Every block that file gives, joined; "<failed>" when one could not be read.
QByteArray readAll(OutgoingFile& file)
{
    QByteArray all;
    while (file.hasMore()) {
        const QByteArray block = file.next();
        if (block.isEmpty())
            return "<failed>";
        if (block.size() > OutgoingFile::kBlockBytes)
            return "<too large>";
        all += block;
    }
    return all;
}

} // namespace

// The one way a file is read for sending, whichever protocol sends it.
class TestOutgoingFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sendsFromTheOffsetAndDigestsTheWholeFile();
    void aFileThatShrankOrIsGoneFailsToRead();
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

QTEST_GUILESS_MAIN(TestOutgoingFile)
#include "tst_outgoingfile.moc"
