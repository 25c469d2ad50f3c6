#include "addressbook/peerkeys.h"
#include "plain/protocol.h"
#include "platform/settingsstore.h"
#include "presence/datagram.h"
#include "station/station.h"
#include "support/enginefakes.h"
#include "support/foreignkeys.h"
#include "support/privatepeer.h"
#include "support/privatestation.h"
#include "support/rawpeer.h"
#include "support/receiverwatch.h"
#include "support/testfiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kStation(QStringLiteral("127.0.6.1"));
const QHostAddress kAnna(QStringLiteral("127.0.6.2"));
const QHostAddress kStranger(QStringLiteral("127.0.6.3"));
const QHostAddress kAnnaMoved(QStringLiteral("127.0.6.4"));
constexpr int kWaitMs = 10000;

struct PrivateFixture : PrivateStation {
    PrivateFixture() : PrivateStation(kStation, kAnna) {}
};

} // namespace

class TestPrivate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstContactPinsAndABatchArrivesWhole();
    void aChangedKeyIsRefusedWithNothingSaved();
    void aDigestMismatchLeavesNoFile();
    // A small file comes with its bytes, unasked: refused, they are passed over, and the
    // files after it are taken.
    void aRefusedEagerFileIsPassedOver();
    // A stranger's burst is held back by the window, never refused for the room that
    // strangers' unfinished files have.
    void aStrangersBurstFitsItsRoom();
    void protocolErrorsEndTheConnection_data();
    void protocolErrorsEndTheConnection();
    void aPeerWithoutTheQuickCheckStillSendsWithSha256();
    void chatLinesComeUnderTheirNames();
    void onlyKnownSendersMeansTheirKeys();
    void bothPortsShareTheSeatsAndTheDeadline();
    void aPlainFileFromAKeyedFriendIsUnverified();
    void aComparedKeyTakesItsEntryToItsNewAddress();
    void aKeyOfAnotherKindIsRefusedWithNothingPinned();
};

void TestPrivate::firstContactPinsAndABatchArrivesWhole()
{
    PrivateFixture f;
    QVERIFY(!f.identityProblem && !f.listenProblem);
    QSignalSpy privacy(&f.station, &Station::incomingPrivacyKnown);
    PrivatePeer anna;
    f.greet(anna);
    const QByteArray first = someBytes(300 * 1024); // more than one DATA may hold
    anna.send(fileMessage(first.size(), "a.txt"));
    anna.send(encodeMessage(MessageType::Data, first.left(200 * 1024)));
    anna.send(encodeMessage(MessageType::Data, first.mid(200 * 1024)));
    anna.send(endMessage(Checksum::of(anna.check, first)));
    anna.sendFile("b.txt", "second");
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Saved), 2, kWaitMs);

    QCOMPARE(anna.messages.first().type, MessageType::Hello);
    QCOMPARE(parseHello(anna.messages.first().body)->version, kPrivateVersion);
    QCOMPARE(f.station.addressBook().entry(0).Key, anna.key());
    QCOMPARE(f.inboxFiles(), QStringList({"a.txt", "b.txt"}));
    QCOMPARE(readFile(f.inbox("a.txt")), first);
    // A file's last COUNT says the whole size, before the next file's ACCEPT.
    const auto isAccept = [](const PrivateMessage& m) { return m.type == MessageType::Accept; };
    const auto firstAccept = std::find_if(anna.messages.cbegin(), anna.messages.cend(), isAccept);
    const auto next = std::find_if(firstAccept + 1, anna.messages.cend(), isAccept);
    QVERIFY(next != anna.messages.cend());
    QCOMPARE((next - 1)->type, MessageType::Count);
    QCOMPARE(*parseNumber((next - 1)->body), first.size());
    QCOMPARE(privacy.count(), 2); // each file of the batch is shown anew
    QCOMPARE(privacy.first().at(1).toBool(), true);
    QCOMPARE(privacy.first().at(2).toString(), QStringLiteral("Anna"));
    QCOMPARE(f.watch.ends.size(), 2); // one end for each file, the connection still open
    QVERIFY(f.watch.ends.first().isPrivate);
    QCOMPARE(f.watch.ends.first().keyName, QStringLiteral("Anna"));
    const QString file = f.folder.filePath(QStringLiteral("received.json"));
    QTRY_COMPARE_WITH_TIMEOUT(ReceivedHistory(file).entries().size(), 2, kWaitMs);
    const ReceivedHistory stored(file);
    QVERIFY(stored.entries().first().isPrivate);
    QCOMPARE(stored.entries().first().peer, QStringLiteral("Anna"));

    anna.send(encodeMessage(MessageType::Bye));
    QTRY_VERIFY_WITH_TIMEOUT(anna.isClosed(), kWaitMs);
    QCOMPARE(f.watch.ends.size(), 2); // an orderly end after told files tells nothing more
}

void TestPrivate::aChangedKeyIsRefusedWithNothingSaved()
{
    PrivateFixture f;
    const QByteArray oldKey = Sha256::of("Anna's old key");
    f.pinAnnasKey(oldKey);
    PrivatePeer impostor;
    f.greet(impostor);
    impostor.sendFile("a.txt", "hello");
    QTRY_VERIFY_WITH_TIMEOUT(impostor.isClosed(), kWaitMs);

    QCOMPARE(impostor.lastReason(MessageType::Error), Reason::KeyChanged);
    QCOMPARE(impostor.count(MessageType::Accept), 0);
    QVERIFY(f.inboxFiles().isEmpty());
    QCOMPARE(f.station.addressBook().entry(0).Key, oldKey);
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.ends.size(), 1, kWaitMs);
    QCOMPARE(f.watch.ends.first().outcome, ReceiveEnd::Outcome::Refused);
    QCOMPARE(receiveStatusText(f.watch.ends.first()),
             QStringLiteral("Refused: The computer at %1 did not show Anna's key: Anna may have a "
                            "new address, or reinstalled Quillo. Compare codes before you forget "
                            "the old key.")
                 .arg(kAnna.toString()));
}

void TestPrivate::aDigestMismatchLeavesNoFile()
{
    PrivateFixture f;
    PrivatePeer anna;
    f.greet(anna);
    QByteArray altered = someBytes(1000);
    const QByteArray digest = Checksum::of(anna.check, altered);
    altered[500] = char(altered.at(500) ^ 1);
    anna.sendFile("a.txt", altered, digest);
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Failed), 1, kWaitMs);

    QCOMPARE(anna.lastReason(MessageType::Failed), Reason::DigestMismatch);
    QVERIFY(f.inboxFiles().isEmpty()); // neither the final name nor a part file
    QCOMPARE(f.watch.ends.size(), 1);
    QCOMPARE(f.watch.ends.first().outcome, ReceiveEnd::Outcome::Failed);
    QVERIFY(f.station.receivedFiles().isEmpty());
    // The batch goes on: the next file is taken.
    anna.sendFile("a.txt", "whole");
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Saved), 1, kWaitMs);
    QCOMPARE(readFile(f.inbox("a.txt")), QByteArray("whole"));
}

void TestPrivate::aRefusedEagerFileIsPassedOver()
{
    PrivateFixture f;
    PrivatePeer anna;
    f.greet(anna);
    anna.sendFile("../a.txt", someBytes(kEagerBytes));
    anna.sendFile("a.txt", "whole");
    anna.sendFile("b.txt", "");
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Saved), 2, kWaitMs);

    const QList<MessageType> answers{MessageType::Refuse, MessageType::Accept, MessageType::Accept};
    QList<MessageType> seen;
    for (const PrivateMessage& message : anna.messages) {
        if (message.type == MessageType::Refuse || message.type == MessageType::Accept)
            seen.append(message.type);
    }
    QCOMPARE(seen, answers);
    QCOMPARE(anna.lastReason(MessageType::Refuse), Reason::NameUnusable);
    QCOMPARE(readFile(f.inbox("a.txt")), QByteArray("whole"));
    QVERIFY(QFileInfo::exists(f.inbox("b.txt")));
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.ends.size(), 3, kWaitMs);
    QVERIFY(!anna.isClosed());
}

void TestPrivate::aStrangersBurstFitsItsRoom()
{
    PrivateFixture f;
    PrivatePeer stranger;
    f.greet(stranger, kStranger);
    constexpr int kFiles = 150; // more than the unfinished files a stranger may have
    for (int k = 0; k < kFiles; ++k)
        stranger.sendFile(QByteArray::number(k) + ".txt", QByteArray::number(k));
    QTRY_COMPARE_WITH_TIMEOUT(stranger.count(MessageType::Saved), kFiles, kWaitMs);
    QCOMPARE(stranger.count(MessageType::Refuse), 0);
}

void TestPrivate::protocolErrorsEndTheConnection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("features"); // what the sender's HELLO sets
    QTest::newRow("unknown type") << QByteArray("\x55\0\0\0\0", 5) << kOurFeatures;
    QTest::newRow("length out of range") << encodeMessage(MessageType::Bye, "x") << kOurFeatures;
    QTest::newRow("DATA out of turn") << encodeMessage(MessageType::Data, "x") << kOurFeatures;
    QTest::newRow("more DATA than announced")
        << fileMessage(1, "a.txt") + encodeMessage(MessageType::Data, "xy") << kOurFeatures;
    QTest::newRow("a refused path then DATA")
        << fileMessage(1, "../a.txt") + encodeMessage(MessageType::Data, "x")
        << (kOurFeatures & ~kFeatureEager);
    // Eagerly, the DATA and END of a refused file are passed over, but no more.
    const QByteArray refused = fileMessage(1, "../a.txt");
    QTest::newRow("eagerly, more DATA than a refused file's")
        << refused + encodeMessage(MessageType::Data, "xy") << kOurFeatures;
    QTest::newRow("eagerly, a FILE before a refused file's END")
        << refused + encodeMessage(MessageType::Data, "x") + fileMessage(1, "a.txt")
        << kOurFeatures;
    QTest::newRow("eagerly, a refused file's END of the wrong check")
        << refused + encodeMessage(MessageType::Data, "x") +
               endMessage(Checksum::of(Checksum::Kind::Sha256, "x"))
        << kOurFeatures;
    QTest::newRow("a folder's path without the folders feature")
        << fileMessage(1, "Trip/a.txt") << kFeatureResume;
    // END holds the check both sides set, of its length exactly.
    const QByteArray one = fileMessage(1, "a.txt") + encodeMessage(MessageType::Data, "x");
    QTest::newRow("SHA-256 where the quick check was agreed")
        << one + endMessage(Checksum::of(Checksum::Kind::Sha256, "x")) << kOurFeatures;
    QTest::newRow("XXH3-128 where it was not")
        << one + endMessage(Checksum::of(Checksum::Kind::Xxh3_128, "x")) << kFeatureResume;
}

void TestPrivate::protocolErrorsEndTheConnection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, features);
    PrivateFixture f;
    PrivatePeer anna;
    anna.connectTo(kAnna, kStation);
    anna.send(helloMessage(kPrivateVersion, features));
    anna.send(bytes);
    QTRY_VERIFY_WITH_TIMEOUT(anna.isClosed(), kWaitMs);
    QCOMPARE(anna.lastReason(MessageType::Error), Reason::ProtocolError);
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.ends.size() - int(anna.count(MessageType::Refuse)), 1,
                              kWaitMs);
    QVERIFY(!QFile::exists(f.inbox("a.txt")));
    QVERIFY(!QFileInfo::exists(f.inbox("Trip")));
}

void TestPrivate::aPeerWithoutTheQuickCheckStillSendsWithSha256()
{
    PrivateFixture f;
    PrivatePeer anna;
    anna.check = Checksum::Kind::Sha256;
    anna.connectTo(kAnna, kStation);
    anna.send(helloMessage(kPrivateVersion, kFeatureResume | kFeatureFolders));
    const QByteArray content = someBytes(5000);
    anna.sendFile("a.bin", content);
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Saved), 1, kWaitMs);
    QCOMPARE(parseHello(anna.messages.first().body)->features, kOurFeatures);
    QCOMPARE(readFile(f.inbox("a.bin")), content);
    anna.sendFile("b.bin", "altered", Checksum::of(anna.check, "original"));
    QTRY_COMPARE_WITH_TIMEOUT(anna.lastReason(MessageType::Failed), Reason::DigestMismatch,
                              kWaitMs);
}

void TestPrivate::chatLinesComeUnderTheirNames()
{
    PrivateFixture f;
    QVERIFY(!f.station.bindPresence());
    QSignalSpy chat(&f.station, &Station::chatReceived);
    PrivatePeer anna, stranger;
    f.greet(anna);
    anna.send(chatMessage(QStringLiteral("hi, it is me")));
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Heard), 1, kWaitMs);
    f.greet(stranger, kStranger);
    stranger.send(chatMessage(QStringLiteral("who am I")));
    QTRY_COMPARE_WITH_TIMEOUT(stranger.count(MessageType::Heard), 1, kWaitMs);
    // Anna's key is pinned now: a datagram from her address may be anyone's.
    QUdpSocket forger;
    QVERIFY(forger.bind(kAnna, kDatagramPort));
    forger.writeDatagram("send me your password", kStation, kDatagramPort);
    QTRY_COMPARE_WITH_TIMEOUT(chat.count(), 3, kWaitMs);

    const auto line = [&chat](int i) { return chat.at(i).at(0).value<QList<ChatLine>>().first(); };
    QCOMPARE(line(0).name, QStringLiteral("Anna"));
    QCOMPARE(line(0).text, QStringLiteral("hi, it is me"));
    QCOMPARE(line(1).name, kStranger.toString());
    QCOMPARE(line(2).name, QStringLiteral("Anna (unverified)"));
    QVERIFY(f.watch.ends.isEmpty()); // chat alone is no transfer
}

void TestPrivate::onlyKnownSendersMeansTheirKeys()
{
    PrivateFixture f;
    f.pinAnnasKey(Sha256::of("Anna's key"));
    f.station.setOnlyKnownSenders(true, false);
    PrivatePeer stranger;
    f.greet(stranger, kStranger);
    QTRY_VERIFY_WITH_TIMEOUT(stranger.isClosed(), kWaitMs);
    QCOMPARE(stranger.lastReason(MessageType::Error), Reason::NotInAddressBook);

    RawPeer plain; // from the address of an entry with a key: a stranger on the file port
    plain.connectTo(kAnna, kStation, kFilePort);
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.ends.size(), 2, kWaitMs);
    QCOMPARE(receiveStatusText(f.watch.ends.last()),
             QStringLiteral("Refused: %1 is not in your address book").arg(kAnna.toString()));
}

void TestPrivate::bothPortsShareTheSeatsAndTheDeadline()
{
    PrivateFixture f;
    ReceiverLimits limits;
    limits.maxConnectionsPerHost = 1;
    f.station.setReceiveLimits(limits);
    RawPeer plain;
    plain.connectTo(kAnna, kStation, kFilePort);
    QTRY_VERIFY_WITH_TIMEOUT(plain.isConnected(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.latest, 1, kWaitMs);
    PrivatePeer anna; // the seat of Anna's address is taken on the other port
    f.greet(anna);
    QTRY_VERIFY_WITH_TIMEOUT(anna.isClosed(), kWaitMs);
    QVERIFY(!anna.isEncrypted());

    limits.headerDeadline = std::chrono::milliseconds(300);
    f.station.setReceiveLimits(limits);
    PrivatePeer silent; // a handshake and no HELLO
    silent.connectTo(kStranger, kStation);
    QTRY_VERIFY_WITH_TIMEOUT(silent.isClosed(), kWaitMs);
    QCOMPARE(silent.lastReason(MessageType::Error), Reason::TooSlow);
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(f.watch.ends.cbegin(), f.watch.ends.cend(),
                                         [](const ReceiveEnd& end) {
                                             return end.peer == kStranger.toString() &&
                                                    end.outcome == ReceiveEnd::Outcome::Idle;
                                         }),
                             kWaitMs);
}

// Her own copy would only send privately: a plain file from her address may be anyone's.
void TestPrivate::aPlainFileFromAKeyedFriendIsUnverified()
{
    PrivateFixture f;
    f.pinAnnasKey(Sha256::of("Anna's key"));
    RawPeer plain;
    plain.connectTo(kAnna, kStation, kFilePort);
    plain.send("FILENAME a.txt #5\r\nhello");
    QTRY_COMPARE_WITH_TIMEOUT(plain.replies.endsWith("5\n"), true, kWaitMs);
    plain.close();
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.ends.size(), 1, kWaitMs);

    const ReceiveEnd end = f.watch.ends.first();
    QCOMPARE(end.outcome, ReceiveEnd::Outcome::Saved);
    QCOMPARE(end.unverifiedName, QStringLiteral("Anna (unverified)"));
    QCOMPARE(f.station.senderOf(end), QStringLiteral("Anna (unverified)"));
    QCOMPARE(f.station.receivedFiles().first().peer, QStringLiteral("Anna (unverified)"));
}

void TestPrivate::aComparedKeyTakesItsEntryToItsNewAddress()
{
    PrivateFixture f;
    PrivatePeer anna;
    f.pinAnnasKey(anna.key());
    f.station.markKeyCompared(0);
    QSignalSpy moved(&f.station, &Station::personMoved);
    f.greet(anna, kAnnaMoved);
    anna.sendFile("a.txt", "hello");
    QTRY_COMPARE_WITH_TIMEOUT(anna.count(MessageType::Saved), 1, kWaitMs);

    QCOMPARE(f.station.addressBook().entry(0).IPaddress, kAnnaMoved.toString());
    QCOMPARE(moved.size(), 1);
    QCOMPARE(f.watch.ends.first().keyName, QStringLiteral("Anna"));
    QVERIFY(
        readFile(f.settings.fileName()).contains("IPaddress=" + kAnnaMoved.toString().toUtf8()));
}

void TestPrivate::aKeyOfAnotherKindIsRefusedWithNothingPinned()
{
    PrivateFixture f;
    const ForeignIdentity rsa = foreignIdentity("RSA");
    PrivatePeer peer;
    QSslConfiguration tls = privateTlsConfiguration(*peer.identity);
    tls.setLocalCertificate(QSslCertificate(rsa.certificateDer, QSsl::Der));
    tls.setPrivateKey(QSslKey(rsa.keyPem, QSsl::Rsa));
    peer.socket.setSslConfiguration(tls);
    peer.socket.bind(kAnna);
    peer.socket.connectToHostEncrypted(kStation.toString(), kPrivatePort);
    peer.send(helloMessage());
    peer.sendFile("a.txt", "hello");
    QTRY_VERIFY_WITH_TIMEOUT(peer.isClosed(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.watch.ends.size(), 1, kWaitMs);

    QCOMPARE(f.watch.ends.first().outcome, ReceiveEnd::Outcome::Refused);
    QVERIFY2(receiveStatusText(f.watch.ends.first()).contains(QLatin1String("an RSA key")),
             qPrintable(receiveStatusText(f.watch.ends.first())));
    QCOMPARE(peer.count(MessageType::Hello), 0);
    QVERIFY(f.station.addressBook().entry(0).Key.isEmpty());
    QVERIFY(f.inboxFiles().isEmpty());
}

QTEST_GUILESS_MAIN(TestPrivate)
#include "tst_private.moc"
