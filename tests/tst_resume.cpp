#include "platform/diskworker.h"
#include "platform/heldfolder.h"
#include "platform/settingsstore.h"
#include "presence/datagram.h"
#include "station/station.h"
#include "support/enginefakes.h"
#include "support/privatepeer.h"
#include "support/privatestation.h"
#include "support/receiverwatch.h"
#include "support/senderwatch.h"
#include "support/testfiles.h"
#include "support/waitingfor.h"
#include "transfer/filedigest.h"
#include "transfer/partfiles.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kSender(QStringLiteral("127.0.10.1"));
const QHostAddress kReceiver(QStringLiteral("127.0.10.2"));
const QHostAddress kStranger(QStringLiteral("127.0.10.3"));
constexpr int kWaitMs = 20000;
constexpr qint64 kSize = 600 * 1024;
constexpr qint64 kCut = 200 * 1024; // what the first connection carries: one DATA
const QString kName = QStringLiteral("a.bin");

// A receiving station that can be started again on the same folders, as after a restart.
struct Receiver {
    Receiver() { start(); }
    void start()
    {
        station.emplace(settings, random, folder.path(), kReceiver);
        station->load(); // the keys pinned before a restart
        if (station->addressBook().count() == 0)
            station->addPerson(QStringLiteral("Sam"), kSender.toString());
        station->setSaveFolder(inbox(), false);
        station->openIdentity();
        station->listen();
        watch.emplace(*station);
    }
    void restart()
    {
        watch.reset();
        station.reset();
        start();
    }
    QString inbox(const QString& name = {}) const
    {
        return folder.filePath(QStringLiteral("in/")) + name;
    }
    QStringList inboxFiles() const { return QDir(inbox()).entryList(QDir::Files); }

    QTemporaryDir folder;
    bool madeInbox = QDir().mkpath(folder.filePath(QStringLiteral("in")));
    SettingsStore settings{folder.filePath(QStringLiteral("Quillo.conf"))};
    ScriptedRandom random;
    std::optional<Station> station;
    std::optional<ReceiverWatch> watch;
};

struct ResumeFixture {
    ResumeFixture()
    {
        sender.station.setRefusalRetries(0, std::chrono::milliseconds(10));
        QObject::connect(
            &sender.station, &Station::sendStatusChanged,
            [this](const SendStatus& status) { statuses.append(sendStatusText(status)); });
    }
    QString makeFile(const QString& name, const QByteArray& content)
    {
        const QString path = sender.folder.filePath(name);
        return writeFile(path, content) ? path : QString();
    }
    void send(const QStringList& paths)
    {
        for (const QString& path : paths)
            sender.station.queue(path);
        sender.station.sendQueue([] { return std::optional<QString>(kReceiver.toString()); });
    }

    Receiver receiver;
    PrivateStation sender{kSender, kReceiver};
    SenderWatch watch{sender.station};
    QSignalSpy resumed{&sender.station, &Station::sendResumed};
    QStringList statuses;
    QByteArray content = someBytes(kSize);
    QString path = makeFile(kName, content);
};

qint64 lastCount(const PrivatePeer& peer)
{
    for (auto m = peer.messages.crbegin(); m != peer.messages.crend(); ++m)
        if (m->type == MessageType::Count)
            return parseNumber(m->body).value_or(-1);
    return -1;
}

// Offers the file from the sender's key and breaks the connection off once the receiver
// has counted its first kCut bytes; whether the receiver kept them as a part file.
bool cutAfterFirstBytes(ResumeFixture& f, quint32 features = kOurFeatures)
{
    PrivatePeer peer;
    peer.identity = *f.sender.station.identity();
    peer.check = fileCheckOf(features);
    peer.connectTo(kSender, kReceiver);
    peer.send(helloMessage(kPrivateVersion, features));
    peer.send(fileMessage(kSize, kName.toUtf8()));
    peer.send(encodeMessage(MessageType::Data, f.content.left(kCut)));
    if (!QTest::qWaitFor([&peer] { return lastCount(peer) == kCut; }, kWaitMs))
        return false;
    peer.socket.abort();
    // The part name follows the index that knows it.
    return QTest::qWaitFor([&f] { return f.receiver.watch->ends.size() == 1; }, kWaitMs) &&
           QTest::qWaitFor(
               [&f] {
                   return f.receiver.inboxFiles() == QStringList{kName + QStringLiteral(".part")};
               },
               kWaitMs);
}

// Leaves a part file of p.bin, from the sender's key, with the first 16 of its 64 bytes;
// its bytes, or nothing.
QByteArray leavePart(ResumeFixture& f)
{
    const QByteArray content = someBytes(64);
    PrivatePeer peer;
    peer.identity = *f.sender.station.identity();
    peer.connectTo(kSender, kReceiver);
    peer.send(helloMessage());
    peer.send(fileMessage(content.size(), "p.bin"));
    peer.send(encodeMessage(MessageType::Data, content.left(16)));
    if (!QTest::qWaitFor([&peer] { return lastCount(peer) == 16; }, kWaitMs))
        return {};
    peer.socket.abort();
    if (!QTest::qWaitFor([&f] { return f.receiver.watch->ends.size() == 1; }, kWaitMs))
        return {};
    return content;
}

// From the sender's key, all at once: the rest of p.bin, whose first bytes the receiver
// reads back after the files that follow it have come, then b.txt, which does not match
// its digest, and c.txt.
void offerThreeAtOnce(ResumeFixture& f, PrivatePeer& peer, const QByteArray& content,
                      quint32 features)
{
    peer.identity = *f.sender.station.identity();
    peer.check = fileCheckOf(features);
    peer.connectTo(kSender, kReceiver);
    peer.send(helloMessage(kPrivateVersion, features));
    peer.send(fileMessage(content.size(), "p.bin"));
    peer.send(encodeMessage(MessageType::Data, content.mid(16)));
    peer.send(endMessage(Sha256::of(content)));
    peer.sendFile("b.txt", "bad", Sha256::of("good"));
    peer.sendFile("c.txt", "good");
}

// The receiver's answers to files, in the order they came: no HELLO, no COUNT.
QList<MessageType> answersOf(const PrivatePeer& peer)
{
    QList<MessageType> answers;
    for (const PrivateMessage& message : peer.messages)
        if (message.type != MessageType::Hello && message.type != MessageType::Count)
            answers.append(message.type);
    return answers;
}

QList<ReceiveEnd::Outcome> outcomesOf(const QList<ReceiveEnd>& ends)
{
    QList<ReceiveEnd::Outcome> outcomes;
    for (const ReceiveEnd& end : ends)
        outcomes.append(end.outcome);
    return outcomes;
}

} // namespace

class TestResume : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aCutFileGoesOnFromItsPartAfterARestart();
    void anAlteredPartIsSentAgainWhole();
    void aPartGoesOnAcrossAChangeOfCheck();
    void anotherKeyNeitherContinuesNorTouchesThePart();
    void aCutBatchWaitsAndGoesOnWhenItsPersonAnnounces();
    void theWaitForTheDigestIsNoStall();
    void forgottenKeysTakeTheirPartsOnly();
    void theDigestReadsBackTheBytesBeforeTheOffset();
    // Pipelined, the answers and the ends keep the files' order, though the first is checked
    // last; without the feature, a FILE before the last SAVED waits for it.
    void pipelinedAnswersKeepTheFilesOrder();
    void withoutThePipelineAFileWaitsForTheAnswerBefore();
    // Between two engines, a file refused in the middle of a pipelined batch.
    void aPipelinedBatchTellsEachFileInOrder();
};

void TestResume::pipelinedAnswersKeepTheFilesOrder()
{
    ResumeFixture f;
    const QByteArray content = leavePart(f);
    QVERIFY(!content.isEmpty());
    PrivatePeer peer;
    // Sent eagerly, a file this small would start anew rather than go on.
    offerThreeAtOnce(f, peer, content, kOurFeatures & ~(kFeatureQuickCheck | kFeatureEager));
    QTRY_COMPARE_WITH_TIMEOUT(f.receiver.watch->ends.size(), 4, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(peer.count(MessageType::Saved), 2, kWaitMs);

    QCOMPARE(answersOf(peer),
             (QList<MessageType>{MessageType::Accept, MessageType::Accept, MessageType::Accept,
                                 MessageType::Saved, MessageType::Failed, MessageType::Saved}));
    QCOMPARE(peer.lastReason(MessageType::Failed), Reason::DigestMismatch);
    QCOMPARE(outcomesOf(f.receiver.watch->ends.mid(1)),
             (QList<ReceiveEnd::Outcome>{ReceiveEnd::Outcome::Saved, ReceiveEnd::Outcome::Failed,
                                         ReceiveEnd::Outcome::Saved}));
    QCOMPARE(f.receiver.inboxFiles(),
             (QStringList{QStringLiteral("c.txt"), QStringLiteral("p.bin")}));
    QCOMPARE(readFile(f.receiver.inbox(QStringLiteral("p.bin"))), content);
}

void TestResume::withoutThePipelineAFileWaitsForTheAnswerBefore()
{
    ResumeFixture f;
    const QByteArray content = leavePart(f);
    QVERIFY(!content.isEmpty());
    PrivatePeer peer;
    offerThreeAtOnce(f, peer, content, kFeatureResume | kFeatureFolders);
    QTRY_COMPARE_WITH_TIMEOUT(f.receiver.watch->ends.size(), 4, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(peer.count(MessageType::Saved), 2, kWaitMs);

    QCOMPARE(answersOf(peer),
             (QList<MessageType>{MessageType::Accept, MessageType::Saved, MessageType::Accept,
                                 MessageType::Failed, MessageType::Accept, MessageType::Saved}));
    QCOMPARE(f.receiver.inboxFiles(),
             (QStringList{QStringLiteral("c.txt"), QStringLiteral("p.bin")}));
}

void TestResume::aPipelinedBatchTellsEachFileInOrder()
{
    ResumeFixture f;
    const QStringList paths{f.makeFile(QStringLiteral("one.txt"), "1"),
                            f.makeFile(QStringLiteral("t\x01wo.txt"), "2"), // refused
                            f.makeFile(QStringLiteral("three.txt"), "3")};
    f.send(paths);
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.outcomes.size(), 3, kWaitMs);

    QCOMPARE(f.watch.outcomes,
             (QList<SendOutcome>{SendOutcome::Sent, SendOutcome::NotSent, SendOutcome::Sent}));
    QTRY_COMPARE_WITH_TIMEOUT(f.receiver.watch->ends.size(), 3, kWaitMs);
    QCOMPARE(outcomesOf(f.receiver.watch->ends),
             (QList<ReceiveEnd::Outcome>{ReceiveEnd::Outcome::Saved, ReceiveEnd::Outcome::Refused,
                                         ReceiveEnd::Outcome::Saved}));
    QCOMPARE(f.receiver.inboxFiles(),
             (QStringList{QStringLiteral("one.txt"), QStringLiteral("three.txt")}));
}

void TestResume::aCutFileGoesOnFromItsPartAfterARestart()
{
    ResumeFixture f;
    QVERIFY(cutAfterFirstBytes(f));
    f.receiver.restart(); // a new receiver reads the index of part files
    QSignalSpy received(&*f.receiver.station, &Station::incomingResumed);
    f.send({f.path});
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.outcomes, QList<SendOutcome>{SendOutcome::Sent}, kWaitMs);

    QCOMPARE(f.resumed.count(), 1);
    QCOMPARE(f.resumed.first().at(0).toLongLong(), kCut);
    QCOMPARE(received.count(), 1);
    QVERIFY(f.statuses.contains(QStringLiteral("Resuming at 33 %")));
    QVERIFY(!f.statuses.contains(QStringLiteral("Sending File")));
    QCOMPARE(f.receiver.inboxFiles(), QStringList{kName}); // no copy, no part left
    QCOMPARE(readFile(f.receiver.inbox(kName)), f.content);
}

void TestResume::anAlteredPartIsSentAgainWhole()
{
    ResumeFixture f;
    QVERIFY(cutAfterFirstBytes(f));
    QFile part(f.receiver.inbox(kName + QStringLiteral(".part")));
    QVERIFY(part.open(QIODevice::ReadWrite) && part.seek(1000));
    QVERIFY(part.putChar(char(f.content.at(1000) ^ 1)));
    part.close();
    f.send({f.path});
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.outcomes, QList<SendOutcome>{SendOutcome::Sent}, kWaitMs);

    QCOMPARE(f.resumed.count(), 1); // the second time from its beginning
    QVERIFY(std::any_of(f.statuses.cbegin(), f.statuses.cend(), [](const QString& status) {
        return status.startsWith(QStringLiteral("Sending again whole: "));
    }));
    QCOMPARE(f.receiver.watch->ends.at(1).outcome, ReceiveEnd::Outcome::Failed);
    QCOMPARE(f.receiver.inboxFiles(), QStringList{kName});
    QCOMPARE(readFile(f.receiver.inbox(kName)), f.content);
}

// A part left by a sender that checked with SHA-256 is continued by one with the quick
// check, and the other way round: the receiver reads the part back for the check now
// agreed, and checks the file whole.
void TestResume::aPartGoesOnAcrossAChangeOfCheck()
{
    const quint32 firstFeatures = kFeatureResume | kFeatureFolders;
    for (const quint32 cutWith : {firstFeatures, kOurFeatures}) {
        ResumeFixture f;
        QVERIFY(cutAfterFirstBytes(f, cutWith));
        const quint32 goOnWith = cutWith == kOurFeatures ? firstFeatures : kOurFeatures;
        PrivatePeer peer;
        peer.identity = *f.sender.station.identity();
        peer.check = fileCheckOf(goOnWith);
        peer.connectTo(kSender, kReceiver);
        peer.send(helloMessage(kPrivateVersion, goOnWith) + fileMessage(kSize, kName.toUtf8()));
        QTRY_COMPARE_WITH_TIMEOUT(peer.count(MessageType::Accept), 1, kWaitMs);
        QCOMPARE(parseNumber(peer.messages.last().body), std::optional<qint64>(kCut));
        for (qint64 at = kCut; at < kSize; at += kCut)
            peer.send(encodeMessage(MessageType::Data, f.content.mid(at, kCut)));
        peer.send(endMessage(Checksum::of(peer.check, f.content)));
        QTRY_COMPARE_WITH_TIMEOUT(peer.count(MessageType::Saved), 1, kWaitMs);
        QCOMPARE(f.receiver.inboxFiles(), QStringList{kName});
        QCOMPARE(readFile(f.receiver.inbox(kName)), f.content);
    }
}

void TestResume::anotherKeyNeitherContinuesNorTouchesThePart()
{
    ResumeFixture f;
    QVERIFY(cutAfterFirstBytes(f));
    const QString partPath = f.receiver.inbox(kName + QStringLiteral(".part"));
    PrivatePeer other; // the same file from another identity
    other.connectTo(kStranger, kReceiver);
    other.send(helloMessage());
    other.send(fileMessage(kSize, kName.toUtf8()));
    QTRY_COMPARE_WITH_TIMEOUT(other.count(MessageType::Accept), 1, kWaitMs);
    QCOMPARE(parseNumber(other.messages.last().body), std::optional<qint64>(0)); // ACCEPT
    other.socket.abort();
    QTRY_COMPARE_WITH_TIMEOUT(f.receiver.watch->ends.size(), 2, kWaitMs);
    QCOMPARE(readFile(partPath), f.content.left(kCut));

    f.send({f.path}); // the key that made it still goes on with it
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.outcomes, QList<SendOutcome>{SendOutcome::Sent}, kWaitMs);
    QCOMPARE(f.resumed.count(), 1);
    QCOMPARE(f.resumed.first().at(0).toLongLong(), kCut);
    QCOMPARE(readFile(f.receiver.inbox(kName)), f.content);
}

void TestResume::aCutBatchWaitsAndGoesOnWhenItsPersonAnnounces()
{
    ResumeFixture f;
    QVERIFY(!f.sender.station.bindPresence());
    // A folder, whose name the receiver has taken already, and a loose file after it.
    QVERIFY(QDir().mkpath(f.sender.folder.filePath(QStringLiteral("Trip"))));
    QVERIFY(QDir().mkpath(f.receiver.inbox(QStringLiteral("Trip"))));
    const QString trip = f.sender.folder.filePath(QStringLiteral("Trip"));
    const QByteArray big = someBytes(32 * 1024 * 1024); // far more than a few reads carry
    const QString bigPath = f.makeFile(QStringLiteral("Trip/1.bin"), big);
    const QString smallPath = f.makeFile(QStringLiteral("Trip/2.bin"), "small");
    Station& receiver = *f.receiver.station;
    // Stopped from the event loop once the first bytes are in, as a person would.
    bool stopping = false;
    QObject::connect(&receiver, &Station::incomingProgressed, &receiver, [&f, &stopping] {
        if (!std::exchange(stopping, true))
            QTimer::singleShot(0, &*f.receiver.station, [&f] { f.receiver.station->stop(); });
    });
    f.send({trip, f.path});

    Station& waiting = f.sender.station;
    QSignalSpy finished(&waiting, &Station::batchFinished);
    const auto attempts = [&finished] {
        return std::count_if(finished.cbegin(), finished.cend(), [](const QList<QVariant>& f) {
            return f.at(0).value<BatchKind>() == BatchKind::Waiting;
        });
    };
    const auto waits = [&] {
        const WaitingBatches::Batch* batch = waitingFor(waiting, kReceiver);
        return batch && !batch->due && attempts() == 1 && !waiting.isDeliveringWaiting() &&
               !waiting.isSending();
    };
    QTRY_VERIFY_WITH_TIMEOUT(waits(), kWaitMs); // its immediate attempt found no receiver
    const WaitingBatches::Batch* rest = waitingFor(waiting, kReceiver);
    const QList<QueuedFile> files{{bigPath, trip}, {smallPath, trip}, {f.path, {}}};
    QCOMPARE(rest->files, files);
    {
        Station restarted(f.sender.settings, f.sender.random, f.sender.folder.path(), kSender);
        restarted.load(); // the rest of a folder stays so after a restart
        QVERIFY(waitingFor(restarted, kReceiver));
        QCOMPARE(waitingFor(restarted, kReceiver)->files, rest->files);
    }
    const QString saved = f.receiver.inbox(QStringLiteral("Trip (1)/"));
    const qint64 held = QFileInfo(saved + QStringLiteral("1.bin.part")).size();
    QVERIFY(held > 0 && held < big.size());

    QVERIFY(!f.receiver.station->listen());
    QUdpSocket announcer;
    QVERIFY(announcer.bind(kReceiver, kDatagramPort));
    QVERIFY(announcer.writeDatagram(presenceDatagram(), kSender, kDatagramPort) > 0);
    QTRY_VERIFY_WITH_TIMEOUT(!waitingFor(waiting, kReceiver), kWaitMs);
    QCOMPARE(f.resumed.count(), 1);
    QCOMPARE(f.resumed.first().at(0).toLongLong(), held); // only the rest went
    QCOMPARE(QDir(saved).entryList(QDir::Files), QStringList({"1.bin", "2.bin"}));
    QVERIFY(readFile(saved + QStringLiteral("1.bin")) == big);
    QCOMPARE(readFile(saved + QStringLiteral("2.bin")), QByteArray("small"));
    QCOMPARE(readFile(f.receiver.inbox(kName)), f.content);
    QVERIFY(QDir(f.receiver.inbox(QStringLiteral("Trip"))).isEmpty());
}

// A sender that goes on from an offset reads the file's first bytes back for its digest,
// and may say END a while after its last DATA: that is no sender too slow.
void TestResume::theWaitForTheDigestIsNoStall()
{
    Receiver receiver;
    ReceiverLimits limits;
    limits.progressWindow = std::chrono::milliseconds(100);
    receiver.station->setReceiveLimits(limits);
    const QByteArray content = someBytes(kSize);
    PrivatePeer peer;
    peer.connectTo(kSender, kReceiver);
    peer.send(helloMessage() + fileMessage(kSize, kName.toUtf8()));
    for (qint64 at = 0; at < kSize; at += kCut)
        peer.send(encodeMessage(MessageType::Data, content.mid(at, kCut)));
    QTRY_COMPARE_WITH_TIMEOUT(lastCount(peer), kSize, kWaitMs);
    QTimer::singleShot(limits.progressWindow * 5, &peer.socket,
                       [&] { peer.send(endMessage(Checksum::of(peer.check, content))); });
    QTRY_VERIFY_WITH_TIMEOUT(peer.count(MessageType::Saved) + peer.count(MessageType::Error) > 0,
                             kWaitMs);
    QCOMPARE(peer.count(MessageType::Saved), 1);
    QCOMPARE(readFile(receiver.inbox(kName)), content);
}

void TestResume::forgottenKeysTakeTheirPartsOnly()
{
    QTemporaryDir dir;
    const QString known = dir.filePath(QStringLiteral("k.part"));
    const QString stranger = dir.filePath(QStringLiteral("s.part"));
    QVERIFY(writeFile(known, "1234") && writeFile(stranger, "5678"));
    QSet<QByteArray> held{"key A"};
    PartFiles parts;
    parts.open(dir.filePath(QStringLiteral("partfiles.json")));
    parts.setHeldKeys([&held](const QByteArray& key) { return held.contains(key); });
    const HeldFolder folder = HeldFolder::open(dir.path());
    parts.begin(known, {QStringLiteral("10.0.0.1"), "key A", true}, "k", 10,
                *folder.identityOf("k.part"));
    parts.keep(known);
    parts.begin(stranger, {QStringLiteral("10.0.0.2"), "key B", false}, "s", 10,
                *folder.identityOf("s.part"));
    parts.keep(stranger);

    parts.removeForgotten();
    QCOMPARE(parts.resumable("key A", "k", 10), std::optional<QString>(known));
    QVERIFY(!parts.resumable("key B", "k", 10)); // another key's
    held.clear();
    parts.removeForgotten();
    QVERIFY(!parts.resumable("key A", "k", 10));
    QVERIFY(!QFile::exists(known));
    QCOMPARE(parts.resumable("key B", "s", 10), std::optional<QString>(stranger));
    QVERIFY(QFile::exists(stranger));
}

void TestResume::theDigestReadsBackTheBytesBeforeTheOffset()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.bin"));
    const QByteArray content = someBytes(FileDigest::kStepBytes * 2 + 1000);
    QVERIFY(writeFile(path, content));
    const QList<Checksum::Kind> kinds{Checksum::Kind::Sha256, Checksum::Kind::Xxh3_128};
    for (const qint64 offset : {qint64(0), FileDigest::kStepBytes + 7, qint64(content.size())}) {
        for (const Checksum::Kind kind : kinds) {
            FileDigest digest;
            QSignalSpy finished(&digest, &FileDigest::finished);
            digest.start(path, offset, kind);
            // Bytes that come while it reads back are in the file already.
            const QByteArray rest = content.mid(offset);
            digest.add(rest.left(rest.size() / 2));
            digest.add(rest.mid(rest.size() / 2));
            digest.finish();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
            QCOMPARE(finished.first().at(0).toByteArray(), Checksum::of(kind, content));
        }
    }
    // Started anew, or gone, while a step is out on the worker: what it read is dropped.
    QSemaphore hold;
    QObject asker;
    DiskWorker::instance().run(
        &asker, [&hold] { return hold.tryAcquire(1, kWaitMs); }, [](bool) {});
    FileDigest restarted;
    QSignalSpy finished(&restarted, &FileDigest::finished);
    auto gone = std::make_unique<FileDigest>();
    restarted.start(path, content.size(), Checksum::Kind::Xxh3_128);
    gone->start(path, content.size(), Checksum::Kind::Xxh3_128);
    QCoreApplication::processEvents(); // their first steps go to the worker, and wait
    gone.reset();
    restarted.start(path, 0, Checksum::Kind::Xxh3_128);
    restarted.add("abc");
    restarted.finish();
    hold.release();
    DiskWorker::instance().waitForIdle();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toByteArray(), Checksum::of(Checksum::Kind::Xxh3_128, "abc"));

    FileDigest shortened; // the file holds fewer bytes than the offset says
    QSignalSpy failed(&shortened, &FileDigest::failed);
    shortened.start(path, content.size() + 1, Checksum::Kind::Xxh3_128);
    shortened.finish();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kWaitMs);
}

QTEST_GUILESS_MAIN(TestResume)
#include "tst_resume.moc"
