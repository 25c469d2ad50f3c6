#include "addressbook/addressbook.h"
#include "plain/protocol.h"
#include "platform/diskworker.h"
#include "platform/groupedsync.h"
#include "receiving/filereceiver.h"
#include "support/filesizelimit.h"
#include "support/rawpeer.h"
#include "support/receiverwatch.h"
#include "support/testfiles.h"
#include "text/speedtext.h"
#include "transfer/partfiles.h"
#include "transfer/receiverseats.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <list>

namespace
{

const QHostAddress kAddress(QStringLiteral("127.0.0.10"));
const QHostAddress kPeerAddress(QStringLiteral("127.0.0.11"));
const QHostAddress kOtherPeer(QStringLiteral("127.0.0.24"));
const QHostAddress kFriend(QStringLiteral("127.0.0.35"));
constexpr int kWait = 5000;

} // namespace

class TestReceiver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English)); }
    void init();
    void cleanup();

    void receivesAFileWithTheExactReplies();
    void headerAndDataInOneArrival();
    void headerInPieces();
    void theLastCountWaitsForTheFileToLast();
    void namesWithPathsStayInTheSaveFolder();
    void existingFilesAreNeverReplaced();
    void plantedLinksAreNotFollowed();
    void shortCloseKeepsThePartFile();
    void resetKeepsThePartFile();
    void bytesBeyondTheSizeAreNotWritten_data();
    void bytesBeyondTheSizeAreNotWritten();
    void emptyFile();
    void silentConnectionIsClosed();
    void malformedHeaderThenAGoodTransfer_data();
    void malformedHeaderThenAGoodTransfer();
    void unwritableFolderIsReported();
    void failedWriteIsReported();
    void nobodyHoldsTheReceiverForOthers();
    void oneHostCannotTakeEverySeat();
    void seatsGoToWhoMakesProgress();
    void idlersFromFourAddressesCannotKeepASenderOut();
    void onlyKnownSendersWhenAsked();
    void errorEventEndsTheTransfer();
    void partFilesAreTiedToTheirSender();
    void aFileInAPartsPlaceIsNeverTakenOver();
    void partFilesAreRememberedAcrossRestarts();
    void stalePartsAreRemoved();
    void strangersPartFilesAreLimited();
    void strangersTakeHalfTheFreeInodes();
    void speedMeterTicks();

private:
    QString inbox(const QString& name = {}) const { return QDir(folder_).filePath(name); }
    QStringList inboxFiles() const;
    // Connects a peer and waits until the receiver has taken it.
    void connectPeer(RawPeer& peer, const QHostAddress& from = kPeerAddress);
    // Sends a header and waits for the acceptance.
    void announce(RawPeer& peer, const QByteArray& name, qint64 size,
                  const QHostAddress& from = kPeerAddress);
    void transfer(const QByteArray& name, const QByteArray& content,
                  const QHostAddress& from = kPeerAddress);
    // Sends the first byte of a file of size bytes, and closes: a part file is left.
    void breakOff(const QByteArray& name, qint64 size, const QHostAddress& from = kPeerAddress);
    // A new receiver in place of the old one, as after a restart.
    void startReceiver();
    // The end of the last connection, once it has ended.
    const ReceiveEnd& lastEnd() const { return watch_->ends.last(); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<FileReceiver> receiver_;
    std::unique_ptr<ReceiverWatch> watch_;
    QString folder_;
};

void TestReceiver::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    folder_ = dir_->path() + QStringLiteral("/in/");
    QVERIFY(QDir().mkpath(folder_));
    startReceiver();
}

void TestReceiver::startReceiver()
{
    watch_.reset();
    receiver_.reset();
    receiver_ = std::make_unique<FileReceiver>(kAddress);
    watch_ = std::make_unique<ReceiverWatch>(*receiver_);
    receiver_->setSaveFolder(folder_);
    receiver_->setDataFolder(dir_->filePath(QStringLiteral("data")));
    QVERIFY(!receiver_->listen());
}

void TestReceiver::cleanup()
{
    watch_.reset();
    receiver_.reset();
    dir_.reset();
}

QStringList TestReceiver::inboxFiles() const
{
    return QDir(folder_).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void TestReceiver::connectPeer(RawPeer& peer, const QHostAddress& from)
{
    peer.connectTo(from, kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(peer.isConnected(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Connected"), kWait);
    QCOMPARE(watch_->peer, from.toString());
}

void TestReceiver::announce(RawPeer& peer, const QByteArray& name, qint64 size,
                            const QHostAddress& from)
{
    connectPeer(peer, from);
    peer.send(transferHeader(name, size));
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n"), kWait);
}

void TestReceiver::transfer(const QByteArray& name, const QByteArray& content,
                            const QHostAddress& from)
{
    RawPeer peer;
    announce(peer, name, content.size(), from);
    peer.send(content);
    QTRY_VERIFY_WITH_TIMEOUT(
        peer.replies.endsWith("\n" + QByteArray::number(content.size()) + "\n"), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Disconnected"), kWait);
}

void TestReceiver::breakOff(const QByteArray& name, qint64 size, const QHostAddress& from)
{
    RawPeer peer;
    announce(peer, name, size, from);
    peer.send("x");
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n1\n"), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Disconnected"), kWait);
    // A small file takes its part name once the index that knows it is written.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lastEnd().path), kWait);
}

void TestReceiver::receivesAFileWithTheExactReplies()
{
    const QByteArray content = someBytes(2500);
    RawPeer peer;
    announce(peer, "plan.txt", 2500);
    QCOMPARE(watch_->status, QStringLiteral("Recieving file"));
    QCOMPARE(watch_->name, QStringLiteral("plan.txt"));
    QCOMPARE(watch_->size, 2500);
    QVERIFY(receiver_->findChild<SpeedMeter*>()->isRunning());

    peer.send(content.left(1024));
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n1024\n"), kWait);
    QCOMPARE(watch_->received, 1024);
    QCOMPARE(inboxFiles(), QStringList{}); // a small file has no name until it is whole

    peer.send(content.mid(1024));
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n1024\n2500\n"), kWait);
    QCOMPARE(watch_->received, 2500);
    peer.close();

    QTRY_COMPARE_WITH_TIMEOUT(watch_->ends.size(), 1, kWait);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Saved);
    QCOMPARE(receiveStatusText(lastEnd()), QStringLiteral("Disconnected"));
    QCOMPARE(lastEnd().path, inbox("plan.txt"));
    QCOMPARE(lastEnd().peer, QStringLiteral("127.0.0.11"));
    QCOMPARE(lastEnd().size, 2500);
    QCOMPARE(lastEnd().received, 2500);
    QCOMPARE(inboxFiles(), QStringList{"plan.txt"});
    QCOMPARE(readFile(inbox("plan.txt")), content);
    QVERIFY(!receiver_->findChild<SpeedMeter*>()->isRunning());

    // The port stays ours between files: nobody can take it in the meantime.
    QTcpServer intruder;
    QVERIFY(!intruder.listen(kAddress, kFilePort));

    // The next file comes on a new connection and counts from 0 again.
    transfer("second.bin", "12345");
    QCOMPARE(readFile(inbox("second.bin")), QByteArray("12345"));
}

void TestReceiver::headerAndDataInOneArrival()
{
    const QByteArray content = "FILENAME b.txt #5\r\nFILENAME";
    RawPeer peer;
    connectPeer(peer);
    peer.send(transferHeader("a.txt", content.size()) + content);
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, "OK\n" + countLine(content.size()), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"a.txt"}, kWait);
    QCOMPARE(readFile(inbox("a.txt")), content);
}

void TestReceiver::headerInPieces()
{
    RawPeer peer;
    connectPeer(peer);
    peer.send("FILENAME pie");
    QTRY_COMPARE_WITH_TIMEOUT(peer.socket.bytesToWrite(), 0, kWait);
    peer.send("ces.txt #3\r");
    QTRY_COMPARE_WITH_TIMEOUT(peer.socket.bytesToWrite(), 0, kWait);
    QCOMPARE(watch_->status, QStringLiteral("Connected"));
    peer.send("\nabc");
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n3\n"), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"pieces.txt"}, kWait);
}

// The last count says the file lasts: it goes out once the file is synced and named, which
// happens off the event loop. Whatever the sender does meanwhile, the file is saved; a
// file that cannot be made to last gets no last count, and no name.
void TestReceiver::theLastCountWaitsForTheFileToLast()
{
    QSemaphore hold;
    std::atomic<int> failWith = 0;
    GroupedSync::instance().setSyncer([&](const QList<GroupedSync::Item>& items) {
        hold.acquire();
        return failWith != 0 ? QList<int>(items.size(), int(failWith))
                             : GroupedSync::syncAll(items);
    });
    const auto released = qScopeGuard([&hold] {
        hold.release(100);
        DiskWorker::instance().waitForIdle();
        GroupedSync::instance().setSyncer(&GroupedSync::syncAll);
    });

    RawPeer waiting;
    announce(waiting, "a.txt", 5);
    waiting.send("hello");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->received, 5, kWait);
    QCOMPARE(waiting.replies, QByteArray("OK\n"));
    QCOMPARE(inboxFiles(), QStringList{});
    hold.release(2); // the file, then its folder
    QTRY_COMPARE_WITH_TIMEOUT(waiting.replies, QByteArray("OK\n5\n"), kWait);
    QCOMPARE(inboxFiles(), QStringList{"a.txt"});
    waiting.close();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->ends.size(), 1, kWait);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Saved);

    // A sender that finishes sending and leaves the connection does not take the file with it.
    RawPeer leaving;
    connectPeer(leaving);
    leaving.send("FILENAME b.txt #5\r\nworld");
    leaving.finishSending();
    QTRY_VERIFY_WITH_TIMEOUT(leaving.isClosed(), kWait);
    QCOMPARE(inboxFiles(), QStringList{"a.txt"});
    hold.release(2);
    QTRY_COMPARE_WITH_TIMEOUT(watch_->ends.size(), 2, kWait);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Saved);
    QCOMPARE(readFile(inbox("b.txt")), QByteArray("world"));

    failWith = EIO;
    RawPeer failing;
    announce(failing, "c.txt", 3);
    failing.send("abc");
    hold.release();
    QTRY_VERIFY_WITH_TIMEOUT(failing.isClosed(), kWait);
    QCOMPARE(failing.replies, QByteArray("OK\n"));
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::CannotSave);
    QCOMPARE(inboxFiles(), (QStringList{"a.txt", "b.txt"}));
}

void TestReceiver::namesWithPathsStayInTheSaveFolder()
{
    transfer("../../escaped.txt", "one");
    transfer("..\\..\\escaped2.txt", "two");
    transfer("/tmp/absolute.txt", "three");
    QCOMPARE(inboxFiles(), (QStringList{"absolute.txt", "escaped.txt", "escaped2.txt"}));
    QVERIFY(!QFile::exists(dir_->path() + QStringLiteral("/escaped.txt")));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList());
}

void TestReceiver::existingFilesAreNeverReplaced()
{
    QFile old(inbox("a.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    RawPeer peer;
    announce(peer, "a.txt", 3);
    QCOMPARE(watch_->name, QStringLiteral("a (1).txt"));
    peer.send("new");
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n3\n"), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Disconnected"), kWait);

    transfer("a.txt", "newer");
    QCOMPARE(readFile(inbox("a.txt")), QByteArray("old"));
    QCOMPARE(readFile(inbox("a (1).txt")), QByteArray("new"));
    QCOMPARE(readFile(inbox("a (2).txt")), QByteArray("newer"));
}

void TestReceiver::plantedLinksAreNotFollowed()
{
    const QString outside = dir_->path() + QStringLiteral("/outside.txt");
    QVERIFY(QFile::link(outside, inbox("b.txt.part"))); // dangling
    QVERIFY(QFile::link(outside, inbox("c.txt")));

    transfer("b.txt", "bee");
    transfer("c.txt", "sea");
    QVERIFY(!QFile::exists(outside));
    QCOMPARE(readFile(inbox("b (1).txt")), QByteArray("bee"));
    QCOMPARE(readFile(inbox("c (1).txt")), QByteArray("sea"));
    QVERIFY(QFileInfo(inbox("c.txt")).isSymLink());
}

void TestReceiver::shortCloseKeepsThePartFile()
{
    RawPeer peer;
    announce(peer, "short.bin", 100);
    peer.send(QByteArray(40, 's'));
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n40\n"), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Disconnected"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"short.bin.part"}, kWait);
    QCOMPARE(readFile(inbox("short.bin.part")), QByteArray(40, 's'));
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Incomplete);
    QCOMPARE(lastEnd().path, inbox("short.bin.part"));

    // Tries of the same name that break off again take over that part file instead of
    // adding one each, and the try that comes through leaves no part file behind.
    for (int i = 0; i < 3; ++i) {
        RawPeer again;
        announce(again, "short.bin", 100);
        again.send("xy");
        QTRY_COMPARE_WITH_TIMEOUT(again.replies, QByteArray("OK\n2\n"), kWait);
        again.close();
        QTRY_COMPARE_WITH_TIMEOUT(watch_->ends.size(), i + 2, kWait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"short.bin.part"}, kWait);
    QCOMPARE(readFile(inbox("short.bin.part")), QByteArray("xy"));
    transfer("short.bin", "whole");
    QCOMPARE(inboxFiles(), QStringList{"short.bin"});

    // A part file that this receiver did not make is never written over.
    QVERIFY(writeFile(inbox("theirs.bin.part"), "theirs"));
    transfer("theirs.bin", "ours");
    QCOMPARE(readFile(inbox("theirs.bin.part")), QByteArray("theirs"));
    QCOMPARE(readFile(inbox("theirs (1).bin")), QByteArray("ours"));
}

void TestReceiver::resetKeepsThePartFile()
{
    RawPeer peer;
    announce(peer, "reset.bin", 100);
    peer.send(QByteArray(10, 'r'));
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n10\n"), kWait);
    peer.reset();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->name, QString(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"reset.bin.part"}, kWait);
    transfer("after.bin", "ok");
    QCOMPARE(readFile(inbox("after.bin")), QByteArray("ok"));
}

void TestReceiver::bytesBeyondTheSizeAreNotWritten_data()
{
    using namespace std::chrono_literals;
    QTest::addColumn<std::chrono::milliseconds>("grace");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("bytes");
    // They end the connection at once; the file they follow is whole, and saved.
    QTest::newRow("with the last byte")
        << std::chrono::milliseconds(1h) << qint64(5) << QByteArray("12345678");
    QTest::newRow("after an empty file")
        << std::chrono::milliseconds(1h) << qint64(0) << QByteArray("x");
    // A sender that keeps its side open after a whole file is closed soon after.
    QTest::newRow("none") << 300ms << qint64(5) << QByteArray("12345");
}

void TestReceiver::bytesBeyondTheSizeAreNotWritten()
{
    QFETCH(std::chrono::milliseconds, grace);
    QFETCH(qint64, size);
    QFETCH(QByteArray, bytes);
    ReceiverLimits limits;
    limits.closeGrace = grace;
    receiver_->setLimits(limits);
    RawPeer peer;
    announce(peer, "five.txt", size);
    peer.send(bytes);
    const QByteArray replies = "OK\n" + (size > 0 ? countLine(size) : QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, replies, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"five.txt"}, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWait);
    QCOMPARE(watch_->status, QStringLiteral("Disconnected"));
    QCOMPARE(peer.replies, replies);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Saved);
    QCOMPARE(lastEnd().path, inbox("five.txt"));
    QCOMPARE(readFile(inbox("five.txt")), bytes.left(size));
}

void TestReceiver::emptyFile()
{
    RawPeer peer;
    announce(peer, "empty.txt", 0);
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"empty.txt"}, kWait); // whole at once
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"empty.txt"}, kWait);
    QCOMPARE(QFileInfo(inbox("empty.txt")).size(), 0);
}

void TestReceiver::silentConnectionIsClosed()
{
    ReceiverLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(200);
    receiver_->setLimits(limits);
    RawPeer peer;
    connectPeer(peer);
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWait);
    QVERIFY(watch_->status.startsWith(QLatin1String("Closed: nothing arrived")));

    RawPeer slow;
    announce(slow, "slow.bin", 10);
    slow.send("1234");
    QTRY_VERIFY_WITH_TIMEOUT(slow.isClosed(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"slow.bin.part"}, kWait);
    transfer("next.bin", "n");
}

void TestReceiver::malformedHeaderThenAGoodTransfer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("status");
    QTest::newRow("lower case") << QByteArray("filename x.txt #3\r\nabc")
                                << "Refused: the connection does not start with a file header";
    QTest::newRow("no size") << QByteArray("FILENAME x.txt\r\n")
                             << "Refused: the header gives no size";
    QTest::newRow("bad size") << QByteArray("FILENAME x.txt #3k\r\n")
                              << "Refused: the size in the header is not a number";
    QTest::newRow("no line end") << QByteArray(5000, 'F')
                                 << "Refused: no header in the first 4 KiB";
    QTest::newRow("bad name") << QByteArray("FILENAME .. #3\r\nabc")
                              << "Refused: the file name cannot be used";
    QTest::newRow("control character")
        << QByteArray("FILENAME a\tb #3\r\nabc") << "Refused: the file name cannot be used";
}

void TestReceiver::malformedHeaderThenAGoodTransfer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, status);
    RawPeer peer;
    connectPeer(peer);
    peer.send(bytes);
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWait);
    QCOMPARE(watch_->status, status);
    QCOMPARE(peer.replies, QByteArray());
    QCOMPARE(inboxFiles(), QStringList());

    transfer("good.txt", "good");
    QCOMPARE(inboxFiles(), QStringList{"good.txt"});
}

void TestReceiver::unwritableFolderIsReported()
{
    QVERIFY(QDir(folder_).removeRecursively());
    RawPeer peer;
    connectPeer(peer);
    peer.send(transferHeader("lost.txt", 3));
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWait);
    QVERIFY2(watch_->status.startsWith(QLatin1String("Cannot save: ")), qPrintable(watch_->status));
    QCOMPARE(peer.replies, QByteArray());
    QVERIFY(!QFileInfo::exists(folder_));
}

void TestReceiver::failedWriteIsReported()
{
    // Files may grow to 64 KiB only, as on a disk that is full beyond that.
    const FileSizeLimit limit(64 * 1024);
    QVERIFY(limit.applied());

    RawPeer peer;
    announce(peer, "large.bin", 200 * 1024);
    peer.send(QByteArray(100 * 1024, 'L'));
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWait);
    QCOMPARE(
        watch_->status,
        QStringLiteral("Cannot save: the file is larger than this system lets a program write"));
    // The space it took is given back.
    QCOMPARE(inboxFiles(), QStringList());
    QCOMPARE(lastEnd().path, QString());
}

void TestReceiver::nobodyHoldsTheReceiverForOthers()
{
    ReceiverLimits limits;
    limits.headerDeadline = std::chrono::milliseconds(300);
    limits.progressWindow = std::chrono::milliseconds(300);
    limits.minProgressBytes = 1024;
    receiver_->setLimits(limits);
    const QHostAddress other(QStringLiteral("127.0.0.18"));
    // A friend, as no stranger may announce a file larger than its room for part files.
    AddressBook book;
    book.append(QStringLiteral("Crawler"), other.toString());
    receiver_->setAddressBook(book);

    // One host trickles a header, another announces a huge file and trickles its bytes.
    RawPeer header;
    connectPeer(header);
    header.send("FILENAME sl");
    RawPeer crawler;
    crawler.connectTo(other, kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(crawler.isConnected(), kWait);
    crawler.send(transferHeader("huge.bin", 1'000'000'000'000));
    QTRY_COMPARE_WITH_TIMEOUT(crawler.replies, QByteArray("OK\n"), kWait);
    crawler.send("x");

    // Meanwhile a third sender delivers its file at once.
    RawPeer good;
    good.connectTo(QHostAddress(QStringLiteral("127.0.0.19")), kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(good.isConnected(), kWait);
    good.send(transferHeader("good.txt", 4) + "good");
    QTRY_COMPARE_WITH_TIMEOUT(good.replies, QByteArray("OK\n4\n"), kWait);
    good.close();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(inbox("good.txt")), kWait);

    // The two that misbehave are let go, each within its deadline.
    QTRY_VERIFY_WITH_TIMEOUT(header.isClosed() && crawler.isClosed(), kWait);
    QStringList statuses;
    for (const ReceiveEnd& end : watch_->ends)
        statuses.append(receiveStatusText(end));
    QVERIFY2(statuses.contains(QStringLiteral("Closed: no file header within 0 seconds")),
             qPrintable(statuses.join(" / ")));
    QVERIFY2(statuses.contains(QStringLiteral("Closed: less than 1 KiB in 0 seconds")),
             qPrintable(statuses.join(" / ")));
    QVERIFY(QFileInfo::exists(inbox("huge.bin.part")));
}

void TestReceiver::oneHostCannotTakeEverySeat()
{
    // Idle connections from one host, as many as it likes: only two are kept.
    std::list<RawPeer> idle(4);
    for (RawPeer& peer : idle) {
        peer.connectTo(kPeerAddress, kAddress, kFilePort);
        QTRY_VERIFY_WITH_TIMEOUT(peer.isConnected() || peer.isClosed(), kWait);
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        int(std::count_if(idle.begin(), idle.end(), [](const RawPeer& p) { return p.isClosed(); })),
        2, kWait);

    RawPeer other;
    other.connectTo(QHostAddress(QStringLiteral("127.0.0.19")), kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(other.isConnected(), kWait);
    other.send(transferHeader("fair.txt", 1) + "f");
    QTRY_COMPARE_WITH_TIMEOUT(other.replies, QByteArray("OK\n1\n"), kWait);
}

void TestReceiver::seatsGoToWhoMakesProgress()
{
    using Stage = SeatHolder::Stage;
    using namespace std::chrono_literals;
    const ReceiverLimits limits; // 8 seats, 2 an address, 256 KiB/s keeps one
    const auto seat = [](Stage stage, const char* peer, qint64 received = 0,
                         std::chrono::milliseconds age = 1000ms) {
        return SeatHolder{stage, peer, age, received};
    };
    const auto givesWay = [&](const char* peer, const QList<SeatHolder>& holders) {
        const Seating seating = seatFor(peer, holders, limits);
        return seating.admitted ? seating.givesWay : qsizetype(-2);
    };
    const SeatHolder fast = seat(Stage::Receiving, "F", 10'000'000);
    QList<SeatHolder> full{fast,
                           seat(Stage::Receiving, "A"),
                           seat(Stage::NoHeader, "A", 0, 200ms),
                           seat(Stage::NoHeader, "B", 0, 900ms),
                           seat(Stage::NoHeader, "B", 0, 300ms),
                           seat(Stage::Done, "C", 5),
                           seat(Stage::Receiving, "S", 20'000),
                           seat(Stage::NoHeader, "C", 0, 5000ms)};
    QCOMPARE(givesWay("N", full.mid(1)), -1); // a seat is free
    QCOMPARE(givesWay("A", full.mid(1)), -2); // A has its two already
    // A whole file first, then the oldest without a header, then the slowest.
    QCOMPARE(givesWay("N", full), 5);
    full[5] = seat(Stage::NoHeader, "C", 0, 10ms);
    QCOMPARE(givesWay("N", full), 7);
    for (const int i : {2, 3, 4, 5, 7})
        full[i] = seat(Stage::Receiving, full[i].peer.toLatin1(), 100'000'000);
    QCOMPARE(givesWay("N", full), 1);

    // With one seat each, only a connection that makes no progress gives way.
    QList<SeatHolder> spread;
    for (const char* peer : {"1", "2", "3", "4", "5", "6", "7"})
        spread.append(seat(Stage::Receiving, peer, 1'000'000));
    spread.append(seat(Stage::Receiving, "8", 20'000));
    QCOMPARE(givesWay("N", spread), 7);
    spread[7] = fast;
    QCOMPARE(givesWay("N", spread), -2);

    // A sender that has only just come in is out of reach of four addresses that hold
    // the other seven: D, having lost one, can only take a seat from A, B or C.
    QList<SeatHolder> four{seat(Stage::NoHeader, "F", 0, 1ms)};
    for (const char* peer : {"A", "A", "B", "B", "C", "C", "D"})
        four.append(seat(Stage::Receiving, peer, 1'000'000));
    QCOMPARE(givesWay("D", four), -2);
    four[3].stage = Stage::NoHeader;
    QCOMPARE(givesWay("D", four), 3);
}

void TestReceiver::idlersFromFourAddressesCannotKeepASenderOut()
{
    // Every seat is held by connections that bring no header, two from each address, and
    // each comes back as soon as it is let go.
    std::list<RawPeer> idlers;
    const auto idle = [&](int address) {
        RawPeer& idler = idlers.emplace_back();
        idler.connectTo(QHostAddress(QStringLiteral("127.0.0.%1").arg(41 + address)), kAddress,
                        kFilePort);
        QTRY_VERIFY_WITH_TIMEOUT(idler.isConnected() || idler.isClosed(), kWait);
    };
    for (int i = 0; i < 8; ++i)
        idle(i % 4);
    QTRY_COMPARE_WITH_TIMEOUT(receiver_->findChildren<QTcpSocket*>().size(), 8, kWait);

    RawPeer sender;
    sender.connectTo(QHostAddress(QStringLiteral("127.0.0.45")), kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(sender.isConnected(), kWait);
    sender.send(transferHeader("through.txt", 8) + "1234");
    QTRY_COMPARE_WITH_TIMEOUT(sender.replies, QByteArray("OK\n4\n"), kWait);
    for (int i = 0; i < 4; ++i)
        idle(i);
    sender.send("5678");
    QTRY_COMPARE_WITH_TIMEOUT(sender.replies, QByteArray("OK\n4\n8\n"), kWait);
    QCOMPARE(readFile(inbox("through.txt")), QByteArray("12345678"));
}

void TestReceiver::onlyKnownSendersWhenAsked()
{
    receiver_->setSenderFilter([](const QString& peer) { return peer == "127.0.0.19"; });
    RawPeer stranger;
    stranger.connectTo(kPeerAddress, kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(stranger.isClosed(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(watch_->ends.size(), 1, kWait);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Refused);
    QCOMPARE(watch_->status, QStringLiteral("Refused: 127.0.0.11 is not in your address book"));

    RawPeer known;
    known.connectTo(QHostAddress(QStringLiteral("127.0.0.19")), kAddress, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(known.isConnected(), kWait);
    known.send(transferHeader("known.txt", 1) + "k");
    QTRY_COMPARE_WITH_TIMEOUT(known.replies, QByteArray("OK\n1\n"), kWait);
}

void TestReceiver::errorEventEndsTheTransfer()
{
    RawPeer peer;
    announce(peer, "broken.bin", 10);
    peer.send("12");
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n2\n"), kWait);
    // An error on the connection itself, as the system would report it.
    auto* connection = receiver_->findChild<QTcpSocket*>();
    QVERIFY(connection);
    Q_EMIT connection->errorOccurred(QAbstractSocket::SocketTimeoutError);
    QCOMPARE(watch_->status, QStringLiteral("Error 10060"));
    QCOMPARE(watch_->name, QString());
    QVERIFY(!receiver_->findChild<SpeedMeter*>()->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(inboxFiles(), QStringList{"broken.bin.part"}, kWait);
    transfer("fine.bin", "f");
}

void TestReceiver::partFilesAreTiedToTheirSender()
{
    breakOff("tied.bin", 10);
    // Another host sending the same name gets a name of its own.
    transfer("tied.bin", "other", kOtherPeer);
    QCOMPARE(readFile(inbox("tied.bin.part")), QByteArray("x"));
    QCOMPARE(readFile(inbox("tied (1).bin")), QByteArray("other"));
    // The host that began it takes it over.
    transfer("tied.bin", "mine");
    QCOMPARE(inboxFiles(), (QStringList{"tied (1).bin", "tied.bin"}));
}

void TestReceiver::aFileInAPartsPlaceIsNeverTakenOver()
{
    breakOff("victim", 10);
    QVERIFY(QFile::remove(inbox("victim.part")));
    // A whole file that happens to be named like the part file that was there.
    transfer("victim.part", "whole");
    transfer("victim", "next");
    QCOMPARE(readFile(inbox("victim.part")), QByteArray("whole"));
    QCOMPARE(readFile(inbox("victim (1)")), QByteArray("next"));
}

void TestReceiver::partFilesAreRememberedAcrossRestarts()
{
    breakOff("big.bin", 10);
    startReceiver();
    transfer("big.bin", "again");
    QCOMPARE(inboxFiles(), QStringList{"big.bin"});

    // A damaged index is an empty one: nothing is taken over, and files still arrive.
    breakOff("more.bin", 10);
    QVERIFY(writeFile(dir_->filePath(QStringLiteral("data/partfiles.json")), "{\"parts\": [{"));
    startReceiver();
    transfer("more.bin", "fresh");
    QCOMPARE(readFile(inbox("more.bin.part")), QByteArray("x"));
    QCOMPARE(readFile(inbox("more (1).bin")), QByteArray("fresh"));
}

void TestReceiver::stalePartsAreRemoved()
{
    breakOff("old.bin", 10);
    breakOff("recent.bin", 10);
    QVERIFY(writeFile(inbox("theirs.bin.part"), "theirs"));
    const QDateTime weekAgo = QDateTime::currentDateTime().addDays(-8);
    for (const char* name : {"old.bin.part", "theirs.bin.part"}) {
        QFile file(inbox(name));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(weekAgo, QFileDevice::FileModificationTime));
    }
    startReceiver();
    QCOMPARE(inboxFiles(), (QStringList{"recent.bin.part", "theirs.bin.part"}));
}

void TestReceiver::strangersPartFilesAreLimited()
{
    ReceiverLimits limits;
    limits.maxStrangerPartBytes = 1000;
    receiver_->setLimits(limits);
    AddressBook book;
    book.append(QStringLiteral("Friend"), kFriend.toString());
    receiver_->setAddressBook(book);

    breakOff("first.bin", 600);
    // A stranger's new file makes room by removing the oldest stranger's part file.
    RawPeer second;
    announce(second, "second.bin", 600, kOtherPeer);
    QCOMPARE(inboxFiles(), QStringList{}); // the new one has no name until it is whole
    // While that one is still arriving, there is no room for another.
    RawPeer third;
    connectPeer(third);
    third.send(transferHeader("third.bin", 600));
    QTRY_VERIFY_WITH_TIMEOUT(third.isClosed(), kWait);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Refused);
    QCOMPARE(receiveStatusText(lastEnd()),
             QStringLiteral("Refused: no more room for unfinished files from "
                            "senders outside your address book"));
    // Friends are not limited.
    RawPeer fromFriend;
    announce(fromFriend, "friend.bin", 5000, kFriend);
    // A friend with a key sends privately only: plain bytes from its address may be anyone's.
    book.setKey(0, QByteArray(32, 'k'));
    RawPeer forger;
    connectPeer(forger, kFriend);
    forger.send(transferHeader("forged.bin", 600));
    QTRY_VERIFY_WITH_TIMEOUT(forger.isClosed(), kWait);
    QCOMPARE(lastEnd().outcome, ReceiveEnd::Outcome::Refused);
}

void TestReceiver::strangersTakeHalfTheFreeInodes()
{
    PartFiles parts;
    ReceiverLimits limits;
    limits.maxStrangerMadePerConnection = limits.maxStrangerMade = 1000;
    parts.setStrangerLimits(limits);
    qint64 free = 10;
    parts.setFreeInodes([&free](const QString&) { return std::optional<qint64>(free); });
    parts.setKnownSenders([](const QString& peer, bool) { return peer == kFriend.toString(); });
    const PartSender stranger{kPeerAddress.toString(), {}, false};

    QVERIFY(parts.makeRoom(stranger, 0, folder_, 4, 0));
    free -= 4;
    QVERIFY(!parts.makeRoom(stranger, 0, folder_, 2, 4)); // 6 of the 10 there were
    QVERIFY(parts.makeRoom(stranger, 0, folder_, 1, 4));
    QVERIFY(parts.makeRoom({kFriend.toString(), {}, false}, 0, folder_, 5, 0));
}

void TestReceiver::speedMeterTicks()
{
    // Driven by hand: the meter's own timer never gets to tick in this test.
    receiver_->findChild<SpeedMeter*>()->setInterval(std::chrono::hours(1));
    QList<QString> shown;
    connect(receiver_.get(), &FileReceiver::speedTicked, this,
            [&shown](qint64 bytes, int seconds) { shown.append(speedText(bytes, seconds)); });
    SpeedMeter& meter = *receiver_->findChild<SpeedMeter*>();
    RawPeer peer;
    announce(peer, "speed.bin", 20480);
    meter.tick();
    peer.send(QByteArray(10240, 'x'));
    QTRY_COMPARE_WITH_TIMEOUT(watch_->received, 10240, kWait);
    meter.tick();
    meter.tick();
    QCOMPARE(shown,
             (QList<QString>{"000.00 K per Second", "005.00 K per Second", "003.33 K per Second"}));
    peer.close();
    QTRY_VERIFY_WITH_TIMEOUT(!meter.isRunning(), kWait);

    // A new header starts counting from 0 seconds again.
    RawPeer again;
    announce(again, "again.bin", 20480);
    again.send(QByteArray(10240, 'y'));
    QTRY_COMPARE_WITH_TIMEOUT(watch_->received, 10240, kWait);
    meter.tick();
    QCOMPARE(shown.last(), QStringLiteral("010.00 K per Second"));
}

QTEST_GUILESS_MAIN(TestReceiver)
#include "tst_receiver.moc"
