#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "plain/protocol.h"
#include "private/privatechat.h"
#include "secure/privatemessage.h"
#include "support/enginefakes.h"
#include "support/privatereceiver.h"
#include "support/rawreceiver.h"
#include "support/resettingport.h"
#include "support/senderwatch.h"
#include "support/testfiles.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

const QHostAddress kMe(QStringLiteral("127.0.7.1"));
constexpr int kWait = 10000;
const QList<QByteArray> kTripPaths{"Trip/a.txt", "Trip/b.txt", "Trip/empty.txt", "Trip/day 1/a.jpg",
                                   "Trip/day 1/night/a.jpg"};

} // namespace

class TestPrivateSender : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void batchGoesOverOneConnectionWithItsDigests();
    void changedKeySendsNothing();
    void keyedEntryNeverFallsBackToPlain();
    void keyPinnedAfterARefusalEndsPlainSending();
    void plainOnlyPeerGetsTodaysBytesAndIsRemembered();
    void privatePortThatDropsIsPlainOnly();
    void aPeerThatTookAPrivateConnectionIsNeverSentPlainly();
    void aPeerDownOnBothPortsIsNotTakenForPlain();
    void failedDigestIsNotSent_data();
    void failedDigestIsNotSent();
    void theEndCarriesTheCheckBothSidesSet();
    // Pipelined, every file is offered before the first is answered; each outcome still
    // reaches the batch in its order, the failed one in the middle too. A receiver without
    // the feature is sent one file at a time.
    void pipelinedBatchIsToldInOrder();
    void receiverWithoutPipelineIsWaitedFor();
    // Small files go with their FILEs, before any answer: one refused after its bytes went
    // is told in the receiver's words and the others go on; a receiver that would have one
    // start elsewhere than at its beginning is broken.
    void smallFilesGoEagerly();
    void anEagerFileAcceptedFurtherOnIsABrokenPeer();
    // A port that takes each connection and resets it at once, private or plain: about a
    // dozen tries for a whole batch, spaced as documented, then a failure; one for a chat.
    void resettingPortIsTriedAsDocumented_data();
    void resettingPortIsTriedAsDocumented();
    void resettingPortTakesOneChatConnection();
    void chatLineGoesPrivatelyOrIsToldNotDelivered();
    // A queued folder goes as one row: its files one after another, with their paths
    // inside it where the receiver takes folders, loose where it does not.
    void folderGoesWithItsPathsOverOneConnection();
    void receiverWithoutFoldersGetsLooseFiles();
    void plainPeerGetsLooseFiles();

private:
    QString makeFile(const QString& name, const QByteArray& content);
    void sendAll(const QString& host);
    // Trip/{b.txt, a.txt, empty.txt, day 1/a.jpg, day 1/night/a.jpg, .hidden}, queued with
    // a loose file after it.
    void queueTrip();

    std::unique_ptr<QTemporaryDir> dir_;
    std::optional<Identity> identity_;
    ScriptedRandom random_;
    FixedClock clock_;
    AddressBook book_;
    std::unique_ptr<PeerKeys> keys_;
    std::unique_ptr<FileSender> sender_;
    std::unique_ptr<SendBatch> batch_;
    std::unique_ptr<SenderWatch> watch_;
};

void TestPrivateSender::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    identity_ = Identity::open(dir_->path(), nullptr);
    QVERIFY(identity_);
    book_ = AddressBook();
    keys_ = std::make_unique<PeerKeys>(book_);
    sender_ = std::make_unique<FileSender>(random_, kMe, clock_);
    sender_->setRefusalRetries(0, std::chrono::milliseconds(10));
    sender_->setPrivacy(&*identity_, keys_.get());
    batch_ = std::make_unique<SendBatch>(*sender_);
    watch_ = std::make_unique<SenderWatch>(*sender_, *batch_);
}

void TestPrivateSender::cleanup()
{
    watch_.reset();
    batch_.reset();
    sender_.reset();
    keys_.reset();
    dir_.reset();
}

QString TestPrivateSender::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = QDir(dir_->path()).filePath(name);
    if (!writeFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    batch_->append(path);
    return path;
}

void TestPrivateSender::sendAll(const QString& host)
{
    batch_->start([host] { return std::optional<QString>(host); });
}

void TestPrivateSender::batchGoesOverOneConnectionWithItsDigests()
{
    const QHostAddress peer(QStringLiteral("127.0.7.2"));
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    book_.append(QStringLiteral("Anna"), peer.toString());
    QSignalSpy privacy(sender_.get(), &FileSender::privacyKnown);
    const QByteArray big = someBytes(600 * 1024); // several DATA messages
    makeFile(QStringLiteral("big.bin"), big);
    makeFile(QStringLiteral("empty.txt"), {});
    makeFile(QStringLiteral("brief été.txt"), "hello");
    sendAll(peer.toString());

    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>(3, SendOutcome::Sent));
    QCOMPARE(watch_->status, QStringLiteral("File Sent"));
    QCOMPARE(receiver.connections, 1);
    QCOMPARE(receiver.files.size(), 3);
    QCOMPARE(receiver.files[0].content, big);
    QCOMPARE(receiver.files[1].content, QByteArray());
    QCOMPARE(receiver.files[2].name, QStringLiteral("brief été.txt").toUtf8());
    for (const PrivateReceiver::File& file : receiver.files)
        QVERIFY(file.digestMatched);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.byes, 1, kWait);
    QCOMPARE(book_.entry(0).Key, receiver.key()); // pinned on first contact
    QCOMPARE(privacy.size(), 3);
    QCOMPARE(privacy.first(), (QVariantList{true, QStringLiteral("Anna")}));
    const SendEnd& first = watch_->ends.first();
    QCOMPARE(first.status.stage, SendStatus::Stage::Sent);
    QVERIFY(first.isPrivate);
    QCOMPARE(first.peerName, QStringLiteral("Anna"));
    QCOMPARE(first.address, peer.toString());
    QCOMPARE(first.path, QDir(dir_->path()).filePath(QStringLiteral("big.bin")));
    QCOMPARE(first.size, big.size());
    QCOMPARE(first.counted, big.size());
}

void TestPrivateSender::changedKeySendsNothing()
{
    const QHostAddress peer(QStringLiteral("127.0.7.3"));
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    book_.append(QStringLiteral("Anna"), peer.toString());
    book_.setKey(0, QByteArray(32, 'k'));
    QSignalSpy changed(sender_.get(), &FileSender::keyChanged);
    makeFile(QStringLiteral("secret.txt"), "secret");
    sendAll(peer.toString());

    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Failed});
    QCOMPARE(watch_->status,
             QStringLiteral("the computer at %1 did not show Anna's key").arg(peer.toString()));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first(), (QVariantList{QStringLiteral("Anna"), peer.toString()}));
    QCOMPARE(watch_->ends.first().status.stage, SendStatus::Stage::KeyNotShown);
    QCOMPARE(watch_->ends.first().status.keyName, QStringLiteral("Anna"));
    QVERIFY(!receiver.seen.contains(MessageType::File));
    QCOMPARE(book_.entry(0).Key, QByteArray(32, 'k'));
}

void TestPrivateSender::keyedEntryNeverFallsBackToPlain()
{
    const QHostAddress peer(QStringLiteral("127.0.7.4"));
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    book_.append(QStringLiteral("Anna"), peer.toString());
    book_.setKey(0, QByteArray(32, 'k'));
    makeFile(QStringLiteral("secret.txt"), "secret");
    sendAll(peer.toString());

    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Failed});
    QCOMPARE(watch_->status, QStringLiteral("Error 10061"));
    QVERIFY2(watch_->detail.contains(QStringLiteral("nothing goes in the clear")),
             qPrintable(watch_->detail));
    QCOMPARE(plain.count(), 0);

    // Nor once this copy has lost its identity.
    sender_->setPrivacy(nullptr, keys_.get());
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes.last(), SendOutcome::NotSent);
    QCOMPARE(plain.count(), 0);
}

void TestPrivateSender::keyPinnedAfterARefusalEndsPlainSending()
{
    const QHostAddress peer(QStringLiteral("127.0.7.8"));
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    plain.takeFiles();
    book_.append(QStringLiteral("Anna"), peer.toString());
    makeFile(QStringLiteral("a.txt"), "hello");
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(plain.count(), 1);

    // Anna's key is pinned meanwhile, as by a connection of hers: the refusal this run
    // remembers no longer sends her anything in the clear.
    book_.setKey(0, QByteArray(32, 'k'));
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes.last(), SendOutcome::Failed);
    QCOMPARE(plain.count(), 1);
}

void TestPrivateSender::plainOnlyPeerGetsTodaysBytesAndIsRemembered()
{
    const QHostAddress peer(QStringLiteral("127.0.7.5"));
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    plain.takeFiles();
    QSignalSpy privacy(sender_.get(), &FileSender::privacyKnown);
    makeFile(QStringLiteral("a.txt"), "hello");
    sendAll(peer.toString());
    // Nothing answers the private port; the sender gives it the time it says.
    QTRY_VERIFY_WITH_TIMEOUT(clock_.nextAlarm(), kWait);
    QCOMPARE(*clock_.nextAlarm(), PrivateLink::kConnectTimeout);
    clock_.advance(PrivateLink::kConnectTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Sent});
    QCOMPARE(plain.last().received, QByteArray("FILENAME a.txt #5\r\nhello"));
    QCOMPARE(privacy.last(), (QVariantList{false, QString()}));

    // The private port opens now, but this run already knows the peer as plain.
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    batch_->clear();
    makeFile(QStringLiteral("b.txt"), "again");
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, (QList<SendOutcome>{SendOutcome::Sent, SendOutcome::Sent}));
    QCOMPARE(plain.count(), 2);
    QCOMPARE(plain.last().received, QByteArray("FILENAME b.txt #5\r\nagain"));
    QCOMPARE(receiver.connections, 0);
}

// Its private port closed, as when it restarts in the middle of a file, a peer that took
// a private connection before is waited for, not sent the whole file in the clear.
void TestPrivateSender::aPeerThatTookAPrivateConnectionIsNeverSentPlainly()
{
    const QHostAddress peer(QStringLiteral("127.0.10.4"));
    makeFile(QStringLiteral("a.txt"), "hello");
    {
        PrivateReceiver receiver; // outside the address book: no key is pinned
        QVERIFY(receiver.start(peer));
        sendAll(peer.toString());
        QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
        QCOMPARE(receiver.files.size(), 1);
    }
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes.size(), 2);
    QVERIFY(watch_->outcomes.last() != SendOutcome::Sent);
    QCOMPARE(plain.count(), 0);
}

// Nothing listening on either port, as while it restarts: the next file tries the private
// port again, instead of going in the clear.
void TestPrivateSender::aPeerDownOnBothPortsIsNotTakenForPlain()
{
    const QHostAddress peer(QStringLiteral("127.0.10.5"));
    makeFile(QStringLiteral("a.txt"), "hello");
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Failed});
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes.last(), SendOutcome::Sent);
    QCOMPARE(receiver.files.size(), 1);
}

// A port whose queue of connections is full drops what comes, as a firewall that drops
// the port does: the sender waits no longer than its connect timeout, then goes plain.
void TestPrivateSender::privatePortThatDropsIsPlainOnly()
{
    const QHostAddress peer(QStringLiteral("127.0.7.9"));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPrivatePort);
    address.sin_addr.s_addr = htonl(peer.toIPv4Address());
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto closeBoth = qScopeGuard([&] {
        ::close(filler);
        ::close(listener);
    });
    const auto* where = reinterpret_cast<const sockaddr*>(&address);
    QVERIFY(::bind(listener, where, sizeof address) == 0 && ::listen(listener, 0) == 0);
    QVERIFY(::connect(filler, where, sizeof address) == 0); // the queue's one place
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    plain.takeFiles();
    makeFile(QStringLiteral("a.txt"), "hello");
    sendAll(peer.toString());
    // Nothing answers the private port; the sender gives it the time it says.
    QTRY_VERIFY_WITH_TIMEOUT(clock_.nextAlarm(), kWait);
    QCOMPARE(*clock_.nextAlarm(), PrivateLink::kConnectTimeout);
    clock_.advance(PrivateLink::kConnectTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Sent});
    QCOMPARE(plain.last().received, QByteArray("FILENAME a.txt #5\r\nhello"));
}

void TestPrivateSender::failedDigestIsNotSent_data()
{
    QTest::addColumn<quint32>("features");
    QTest::newRow("one at a time") << quint32(0);
    QTest::newRow("pipelined") << kOurFeatures;
}

void TestPrivateSender::failedDigestIsNotSent()
{
    QFETCH(quint32, features);
    const QHostAddress peer(QStringLiteral("127.0.7.6"));
    PrivateReceiver receiver;
    receiver.features = features;
    QVERIFY(receiver.start(peer));
    receiver.endAnswer = reasonMessage(MessageType::Failed, Reason::DigestMismatch,
                                       QStringLiteral("The bytes do not match"));
    makeFile(QStringLiteral("a.txt"), "hello");
    makeFile(QStringLiteral("b.txt"), "world");
    sendAll(peer.toString());

    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>(2, SendOutcome::NotSent));
    QCOMPARE(watch_->status, QStringLiteral("Not sent: The bytes do not match"));
    QCOMPARE(watch_->readFailures.size(), 2);
    QCOMPARE(receiver.connections, 1);  // the connection goes on to the next file
    QCOMPARE(receiver.files.size(), 4); // each offered again whole, once
}

// XXH3-128 (16 bytes) to a receiver that sets the quick check, SHA-256 (32 bytes) to one
// that does not; a file cut off goes on from what came, its first bytes read back for the
// check of the whole.
void TestPrivateSender::theEndCarriesTheCheckBothSidesSet()
{
    const QByteArray content = someBytes(600 * 1024); // several DATA messages
    const QString path = QDir(dir_->path()).filePath(QStringLiteral("big.bin"));
    QVERIFY(writeFile(path, content));
    const QList<std::pair<quint32, int>> checks{{kFeatureQuickCheck, 16}, {0, 32}};
    for (const auto& [feature, endBytes] : checks) {
        const QHostAddress peer(QStringLiteral("127.0.7.%1").arg(20 + endBytes));
        PrivateReceiver receiver;
        receiver.features = kFeatureResume | feature;
        receiver.cuts = 1;
        QVERIFY(receiver.start(peer));
        batch_->clear();
        batch_->append(path);
        for (int attempt = 0; attempt < 2; ++attempt) { // cut off, then on from there
            sendAll(peer.toString());
            QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
        }
        QCOMPARE(watch_->outcomes.last(), SendOutcome::Sent);
        QCOMPARE(receiver.files.size(), 2);
        QVERIFY(receiver.files[1].content.size() < content.size());
        QCOMPARE(receiver.files[0].content + receiver.files[1].content, content);
        QVERIFY(receiver.files[1].digestMatched);
        QCOMPARE(receiver.files[1].endBytes, endBytes);
    }
}

void TestPrivateSender::pipelinedBatchIsToldInOrder()
{
    const QHostAddress peer(QStringLiteral("127.0.7.7"));
    PrivateReceiver receiver;
    receiver.features = kOurFeatures;
    receiver.holdsEnds = true;
    receiver.endAnswers = {
        encodeMessage(MessageType::Saved),
        reasonMessage(MessageType::Failed, Reason::CannotSave, QStringLiteral("The disk is full")),
        encodeMessage(MessageType::Saved)};
    QVERIFY(receiver.start(peer));
    QSignalSpy rows(batch_.get(), &SendBatch::rowFinished);
    const QStringList paths{makeFile(QStringLiteral("a.txt"), "one"),
                            makeFile(QStringLiteral("b.txt"), "two"),
                            makeFile(QStringLiteral("c.txt"), "three")};
    sendAll(peer.toString());

    QTRY_COMPARE_WITH_TIMEOUT(receiver.heldCount(), 3, kWait);
    QCOMPARE(receiver.mostUnanswered, 2);
    QVERIFY(watch_->outcomes.isEmpty()); // nothing is told before its answer
    receiver.answerHeld();
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes,
             (QList<SendOutcome>{SendOutcome::Sent, SendOutcome::NotSent, SendOutcome::Sent}));
    QCOMPARE(rows.count(), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(rows.at(row).at(0).toInt(), row);
        QCOMPARE(rows.at(row).at(1).value<SendEnd>().path, paths.at(row));
    }
    QCOMPARE(rows.at(1).at(1).value<SendEnd>().status.told, QStringLiteral("The disk is full"));
    QCOMPARE(watch_->readFailures.size(), 1);
    QCOMPARE(receiver.connections, 1);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.byes, 1, kWait);
}

void TestPrivateSender::receiverWithoutPipelineIsWaitedFor()
{
    const QHostAddress peer(QStringLiteral("127.0.7.8"));
    PrivateReceiver receiver;
    receiver.features = kFeatureResume | kFeatureFolders;
    receiver.holdsEnds = true;
    QVERIFY(receiver.start(peer));
    makeFile(QStringLiteral("a.txt"), "one");
    makeFile(QStringLiteral("b.txt"), "two");
    sendAll(peer.toString());

    for (int file = 0; file < 2; ++file) {
        QTRY_COMPARE_WITH_TIMEOUT(receiver.heldCount(), 1, kWait);
        receiver.answerHeld();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>(2, SendOutcome::Sent));
    QCOMPARE(receiver.files.size(), 2);
    QCOMPARE(receiver.mostUnanswered, 0);
}

void TestPrivateSender::smallFilesGoEagerly()
{
    const QHostAddress peer(QStringLiteral("127.0.7.9"));
    PrivateReceiver receiver;
    receiver.features = kOurFeatures;
    receiver.holdsFiles = receiver.holdsEnds = true;
    receiver.fileAnswers = {
        acceptMessage(0),
        reasonMessage(MessageType::Refuse, Reason::CannotSave, QStringLiteral("No room here")),
        acceptMessage(0)};
    QVERIFY(receiver.start(peer));
    QSignalSpy rows(batch_.get(), &SendBatch::rowFinished);
    makeFile(QStringLiteral("a.txt"), "one");
    makeFile(QStringLiteral("b.txt"), someBytes(kEagerBytes));
    makeFile(QStringLiteral("c.txt"), "");
    sendAll(peer.toString());

    QTRY_COMPARE_WITH_TIMEOUT(receiver.seen.count(MessageType::End), 3, kWait);
    QVERIFY(watch_->outcomes.isEmpty());
    receiver.answerHeld();
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes,
             (QList<SendOutcome>{SendOutcome::Sent, SendOutcome::NotSent, SendOutcome::Sent}));
    QCOMPARE(rows.at(1).at(1).value<SendEnd>().status.told, QStringLiteral("No room here"));
    QCOMPARE(receiver.files.size(), 3);
    QCOMPARE(receiver.files[0].content, QByteArray("one"));
    QVERIFY(receiver.files[0].digestMatched && receiver.files[2].digestMatched);
    QCOMPARE(receiver.connections, 1);
}

void TestPrivateSender::anEagerFileAcceptedFurtherOnIsABrokenPeer()
{
    const QHostAddress peer(QStringLiteral("127.0.7.10"));
    PrivateReceiver receiver;
    receiver.features = kOurFeatures;
    receiver.fileAnswer = acceptMessage(1);
    QVERIFY(receiver.start(peer));
    makeFile(QStringLiteral("a.txt"), "one");
    sendAll(peer.toString());

    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::NotSent});
    QCOMPARE(watch_->ends.last().status.reason, NotSentReason::BrokeProtocol);
}

void TestPrivateSender::resettingPortIsTriedAsDocumented_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<bool>("keyed");
    QTest::newRow("private, a bare address") << "127.0.11.2" << kPrivatePort << false;
    QTest::newRow("private, a keyed entry") << "127.0.11.3" << kPrivatePort << true;
    // Nothing on the private port: the plain port is the one that resets.
    QTest::newRow("plain") << "127.0.11.4" << kFilePort << false;
}

void TestPrivateSender::resettingPortIsTriedAsDocumented()
{
    QFETCH(QString, peer);
    QFETCH(quint16, port);
    QFETCH(bool, keyed);
    constexpr int kRetries = 12;
    constexpr auto kLongest = std::chrono::milliseconds(20);
    sender_->setRefusalRetries(kRetries, kLongest);
    ResettingPort hostile;
    QVERIFY(hostile.listen(QHostAddress(peer), port));
    if (keyed) {
        book_.append(QStringLiteral("Anna"), peer);
        book_.setKey(0, QByteArray(32, 'k'));
    }
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        makeFile(QString::fromLatin1(name), name);
    sendAll(peer);
    // Each wait before a try again passes on the clock once it is asked for; a wait for a
    // connection, far longer, is left to the port's answer.
    std::chrono::milliseconds waited{0};
    const auto triesRun = [&] {
        if (const auto next = clock_.nextAlarm(); next && *next <= kLongest) {
            waited += *next;
            clock_.advance(*next);
        }
        return !batch_->isRunning();
    };
    QVERIFY(QTest::qWaitFor(triesRun, kWait));
    QCOMPARE(watch_->outcomes.size(), 3);
    QVERIFY(!watch_->outcomes.contains(SendOutcome::Sent));
    QCOMPARE(hostile.connections(), kRetries + 1);
    std::chrono::milliseconds documented{0};
    for (int done = 0; done < kRetries; ++done)
        documented += PlainSender::retryWait(done, kLongest);
    QCOMPARE(waited.count(), documented.count());
}

void TestPrivateSender::resettingPortTakesOneChatConnection()
{
    const QHostAddress peer(QStringLiteral("127.0.11.5"));
    ResettingPort hostile;
    QVERIFY(hostile.listen(peer, kPrivatePort));
    PrivateChat chat(*identity_, *keys_, kMe);
    QSignalSpy done(&chat, &PrivateChat::done);
    chat.send(peer.toString(), QStringLiteral("hello"));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kWait);
    QVERIFY(!done.first().first().toString().isEmpty());
    QCOMPARE(hostile.connections(), 1);
}

void TestPrivateSender::chatLineGoesPrivatelyOrIsToldNotDelivered()
{
    const QHostAddress peer(QStringLiteral("127.0.7.7"));
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    book_.append(QStringLiteral("Anna"), peer.toString());
    PrivateChat heard(*identity_, *keys_, kMe);
    QSignalSpy heardDone(&heard, &PrivateChat::done);
    heard.send(peer.toString(), QStringLiteral("hi <b>Anna</b>"));
    QTRY_COMPARE_WITH_TIMEOUT(heardDone.size(), 1, kWait);
    QCOMPARE(heardDone.first().first().toString(), QString());
    QCOMPARE(receiver.chats, QStringList{QStringLiteral("hi <b>Anna</b>")});
    QTRY_COMPARE_WITH_TIMEOUT(receiver.byes, 1, kWait);

    book_.setKey(0, QByteArray(32, 'k'));
    PrivateChat refused(*identity_, *keys_, kMe);
    QSignalSpy refusedDone(&refused, &PrivateChat::done);
    refused.send(peer.toString(), QStringLiteral("are you there?"));
    QTRY_COMPARE_WITH_TIMEOUT(refusedDone.size(), 1, kWait);
    QCOMPARE(refusedDone.first().first().toString(),
             QStringLiteral("the computer at 127.0.7.7 did not show Anna's key"));
    QCOMPARE(receiver.chats.size(), 1);
}

void TestPrivateSender::queueTrip()
{
    const QDir root(dir_->path());
    for (const char* name : {"Trip/b.txt", "Trip/a.txt", "Trip/empty.txt", "Trip/day 1/a.jpg",
                             "Trip/day 1/night/a.jpg", "Trip/.hidden", "loose.txt"}) {
        const QString path = root.filePath(QString::fromUtf8(name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QByteArray content =
            QByteArray(name).endsWith("empty.txt") ? QByteArray() : QByteArray(name);
        if (!writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
    }
    batch_->append(root.filePath(QStringLiteral("Trip")));
    batch_->append(root.filePath(QStringLiteral("loose.txt")));
}

void TestPrivateSender::folderGoesWithItsPathsOverOneConnection()
{
    const QHostAddress peer(QStringLiteral("127.0.9.2"));
    QSignalSpy loosened(sender_.get(), &FileSender::loosened);
    QSignalSpy finished(batch_.get(), &SendBatch::rowFinished);
    QSignalSpy folderEnded(batch_.get(), &SendBatch::folderEnded);
    PrivateReceiver receiver;
    receiver.features = kFeatureFolders;
    QVERIFY(receiver.start(peer));
    queueTrip();
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QCOMPARE(receiver.connections, 1);
    QList<QByteArray> names;
    for (const PrivateReceiver::File& file : receiver.files) {
        names.append(file.name);
        QVERIFY(file.digestMatched);
    }
    QCOMPARE(names, kTripPaths + QList<QByteArray>{"loose.txt"});
    QCOMPARE(receiver.files[2].content, QByteArray());
    QCOMPARE(receiver.files[4].content, QByteArray("Trip/day 1/night/a.jpg"));
    QCOMPARE(loosened.count(), 0);
    // Every file reports with its folder's row and its own path; the folder ends once.
    QCOMPARE(finished.size(), 6);
    QCOMPARE(finished.at(3).at(0).toInt(), 0);
    QCOMPARE(finished.at(3).at(1).value<SendEnd>().path,
             QDir(dir_->path()).filePath(QStringLiteral("Trip/day 1/a.jpg")));
    QCOMPARE(finished.at(5).at(0).toInt(), 1);
    QCOMPARE(folderEnded.size(), 1);
    QCOMPARE(folderEnded.first().at(2).toBool(), true);
}

void TestPrivateSender::receiverWithoutFoldersGetsLooseFiles()
{
    const QHostAddress peer(QStringLiteral("127.0.9.3"));
    QSignalSpy loosened(sender_.get(), &FileSender::loosened);
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    book_.append(QStringLiteral("Bea"), peer.toString());
    queueTrip();
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QList<QByteArray> names;
    for (const PrivateReceiver::File& file : receiver.files)
        names.append(file.name);
    QCOMPARE(names,
             (QList<QByteArray>{"a.txt", "b.txt", "empty.txt", "a.jpg", "a.jpg", "loose.txt"}));
    QCOMPARE(loosened.count(), 1);
    QCOMPARE(loosened.first().first().toString(), QStringLiteral("Bea"));
    QCOMPARE(loosenedMessage(QStringLiteral("Bea")),
             QStringLiteral("Bea's copy takes files only: the folder's files arrive loose"));

    // Told again in the next batch.
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(receiver.files.size(), 12);
    QCOMPARE(loosened.count(), 2);
}

void TestPrivateSender::plainPeerGetsLooseFiles()
{
    const QHostAddress peer(QStringLiteral("127.0.9.4"));
    QSignalSpy loosened(sender_.get(), &FileSender::loosened);
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    plain.takeFiles();
    queueTrip();
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QCOMPARE(plain.count(), 6);
    QCOMPARE(plain.connections[3]->received, QByteArray("FILENAME a.jpg #16\r\nTrip/day 1/a.jpg"));
    QCOMPARE(plain.connections[5]->received, QByteArray("FILENAME loose.txt #9\r\nloose.txt"));
    QCOMPARE(loosened.count(), 1);
    QCOMPARE(loosened.first().first().toString(), peer.toString());
}

QTEST_GUILESS_MAIN(TestPrivateSender)
#include "tst_privatesender.moc"
