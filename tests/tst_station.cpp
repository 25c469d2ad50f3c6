#include "platform/settingsstore.h"
#include "presence/datagram.h"
#include "station/station.h"
#include "support/clirawpeer.h"
#include "support/enginefakes.h"
#include "support/privatereceiver.h"
#include "support/testfiles.h"
#include "transfer/sendtext.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kStation(QStringLiteral("127.0.0.130"));
const QHostAddress kAnna(QStringLiteral("127.0.0.131"));
const QHostAddress kStranger(QStringLiteral("127.0.0.132"));
const QHostAddress kBea(QStringLiteral("127.0.0.133"));
constexpr int kWaitMs = 10000;

QString a(const QHostAddress& address)
{
    return address.toString();
}

// Sends one datagram from address's port 1071 to the station's.
bool sendDatagram(const QHostAddress& from, const QByteArray& payload)
{
    QUdpSocket socket;
    return socket.bind(from, kDatagramPort) &&
           socket.writeDatagram(payload, kStation, kDatagramPort) == payload.size();
}

// A station under test, with its own settings, data and save folders; Anna is listed.
struct StationFixture {
    StationFixture()
    {
        station.addressBook().append(QStringLiteral("Anna"), a(kAnna));
        station.setSaveFolder(folder.path() + QLatin1Char('/'), false);
    }
    QTemporaryDir folder;
    SettingsStore settings{folder.filePath(QStringLiteral("Quillo.conf"))};
    ScriptedRandom random;
    Station station{settings, random, folder.path(), kStation};
};

} // namespace

class TestStation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void onlyAListedPeersAnnouncementStartsItsDelivery();
    void onlyKnownSendersTurnsAStrangerAway();
    void aSavedFileIsRecordedOnce();
    // Its computer showed another key: the delivery says so and waits for the key to be
    // settled, whatever announcements come meanwhile.
    void aDeliveryRefusedForItsKeyWaitsForTheKey();
    // A failed delivery goes again at an announcement only once its spacing is over, however
    // many announcements come.
    void announcementsStartAFailedDeliveryNoSoonerThanItsSpacing();
    // A command's station: the window's waiting files, history and settings stay as they
    // are, and what it receives is told all the same.
    void aShortLivedStationLeavesWhatTheWindowKeeps();
    // It writes a pinned or forgotten key only to settings read whole, or copied aside.
    void aShortLivedStationWritesKeysOnlyToSettingsItMay();
};

void TestStation::onlyAListedPeersAnnouncementStartsItsDelivery()
{
    StationFixture f;
    QVERIFY(!f.station.bindPresence());
    const QString file = f.folder.filePath(QStringLiteral("a.txt"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write("hello") == 5);
    out.close();
    f.station.sendWhenOnline(a(kStranger), {file}, false);
    f.station.sendWhenOnline(a(kAnna), {file}, false);
    QSignalSpy started(&f.station.waiting().delivery(), &SendBatch::rowStarted);

    // The stranger's announcement comes first; by the time Anna's has been taken, it has.
    QVERIFY(sendDatagram(kStranger, presenceDatagram()));
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWaitMs);
    QCOMPARE(started.first().at(3).toString(), a(kAnna));
    const WaitingBatches::Batch* stranger = f.station.waiting().find(a(kStranger));
    QVERIFY(stranger);
    QVERIFY(!stranger->due);
    QCOMPARE(stranger->files, (QList<QueuedFile>{{file, {}}}));
}

void TestStation::onlyKnownSendersTurnsAStrangerAway()
{
    StationFixture f;
    f.station.setOnlyKnownSenders(true, false);
    QVERIFY(!f.station.listen());
    QSignalSpy ended(&f.station.receiver(), &FileReceiver::finished);
    CliRawPeer stranger(kStranger, kStation);
    // Turned away as soon as it connects, so it is tried again until the receiver tells.
    const auto refused = [&] {
        stranger.connected();
        return !ended.isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(refused(), kWaitMs);
    const auto end = ended.first().at(0).value<ReceiveEnd>();
    QCOMPARE(end.outcome, ReceiveEnd::Outcome::Refused);
    QVERIFY(!QFile::exists(f.folder.filePath(QStringLiteral("s.txt"))));
    QVERIFY(f.station.history().entries().isEmpty());
}

void TestStation::aSavedFileIsRecordedOnce()
{
    StationFixture f;
    QVERIFY(!f.station.listen());
    QSignalSpy received(&f.station, &Station::received);
    CliRawPeer anna(kAnna, kStation);
    QTRY_VERIFY_WITH_TIMEOUT(anna.connected(), kWaitMs);
    anna.socket->write("FILENAME notes.txt #5\r\nhello");
    anna.socket->disconnectFromHost();

    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kWaitMs);
    const ReceivedHistory stored(f.folder.filePath(QStringLiteral("received.json")));
    QCOMPARE(stored.entries().size(), 1);
    QCOMPARE(stored.entries().first().name, QStringLiteral("notes.txt"));
    QCOMPARE(stored.entries().first().peer, QStringLiteral("Anna"));
    QCOMPARE(f.station.history().entries().size(), 1);
}

void TestStation::aDeliveryRefusedForItsKeyWaitsForTheKey()
{
    StationFixture f;
    QVERIFY(!f.station.openIdentity());
    QVERIFY(!f.station.bindPresence());
    f.station.sender().setRefusalRetries(0, std::chrono::milliseconds(1));
    f.station.addressBook().setKey(0, QByteArray(32, 'k'));
    f.station.addressBook().append(QStringLiteral("Bea"), a(kBea));
    PrivateReceiver anna; // another key than the one the book holds
    QVERIFY(anna.start(kAnna));
    const QString file = f.folder.filePath(QStringLiteral("a.txt"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write("hello") == 5);
    out.close();
    QString status;
    connect(&f.station.sender(), &FileSender::statusChanged, this,
            [&status](const SendStatus& now) { status = sendStatusText(now); });
    SendBatch& delivery = f.station.waiting().delivery();
    QSignalSpy started(&delivery, &SendBatch::rowStarted);
    QSignalSpy finished(&delivery, &SendBatch::finished);
    f.station.sendWhenOnline(a(kAnna), {file, file}, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QCOMPARE(status, QStringLiteral("the computer at 127.0.0.131 did not show Anna's key"));
    QCOMPARE(anna.connections, 1); // the batch's second file did not try again

    // Forged or not, Anna's announcement starts nothing; by the time Bea's has started her
    // delivery, Anna's has been taken.
    f.station.sendWhenOnline(a(kBea), {file}, false);
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QVERIFY(sendDatagram(kBea, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kWaitMs);
    QCOMPARE(started.count(), 3);
    QCOMPARE(started.last().at(3).toString(), a(kBea));
    QCOMPARE(anna.connections, 1);

    // Once the key is forgotten, her next announcement sends the file.
    f.station.peerKeys().forget(0);
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(anna.files.size(), 2, kWaitMs);
    QVERIFY(!f.station.waiting().find(a(kAnna)));
}

void TestStation::announcementsStartAFailedDeliveryNoSoonerThanItsSpacing()
{
    StationFixture f;
    QVERIFY(!f.station.bindPresence());
    f.station.sender().setRefusalRetries(0, std::chrono::milliseconds(1));
    f.station.waiting().setAttemptSpacing(std::chrono::hours(1));
    f.station.addressBook().append(QStringLiteral("Bea"), a(kBea));
    const QString file = f.folder.filePath(QStringLiteral("a.txt"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write("hello") == 5);
    out.close();
    SendBatch& delivery = f.station.waiting().delivery();
    QSignalSpy started(&delivery, &SendBatch::rowStarted);
    QSignalSpy finished(&delivery, &SendBatch::finished);
    f.station.sendWhenOnline(a(kAnna), {file}, false); // nothing listens there
    f.station.sendWhenOnline(a(kBea), {file}, false);
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);

    // By the time Bea's announcement has started her delivery, Anna's have been taken.
    for (int k = 0; k < 5; ++k)
        QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QVERIFY(sendDatagram(kBea, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kWaitMs);
    QCOMPARE(started.count(), 2);
    QCOMPARE(started.last().at(3).toString(), a(kBea));

    // Once the spacing is over, the announcement heard meanwhile starts it, once.
    f.station.waiting().setAttemptSpacing(std::chrono::milliseconds(0));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, kWaitMs);
    QCOMPARE(started.last().at(3).toString(), a(kAnna));
    QVERIFY(!f.station.waiting().find(a(kAnna))->due);
}

void TestStation::aShortLivedStationLeavesWhatTheWindowKeeps()
{
    QTemporaryDir folder;
    const QString settingsFile = folder.filePath(QStringLiteral("Quillo.conf"));
    const QString file = folder.filePath(QStringLiteral("a.txt"));
    const QByteArray stored = "[IPaddress0]\nName=Anna\nIPaddress=127.0.0.131\n"
                              "[WaitingFiles0]\nIPaddress=127.0.0.131\nCount=1\nFile0=" +
                              file.toUtf8() + "\n";
    QVERIFY(writeFile(settingsFile, stored) && writeFile(file, "hello"));
    SettingsStore settings(settingsFile);
    ScriptedRandom random;
    Station station(settings, random, folder.path(), kStation);
    station.makeShortLived();
    station.load();
    QCOMPARE(station.addressBook().count(), 1);
    QVERIFY(station.waitingBatches().isEmpty());

    station.sendWhenOnline(a(kBea), QStringList{file, file}, false);
    station.cancelWaiting(a(kBea), {file});
    QVERIFY(station.waitingBatches().isEmpty());
    station.sendWhenOnline(a(kBea), QStringList{file}, false);
    QCOMPARE(station.waitingBatches().size(), 1);

    station.setSaveFolder(folder.filePath(QStringLiteral("in/")), false);
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("in")));
    QVERIFY(!station.listen());
    QSignalSpy ended(&station, &Station::incomingEnded);
    QSignalSpy received(&station, &Station::received);
    CliRawPeer anna(kAnna, kStation);
    QTRY_VERIFY_WITH_TIMEOUT(anna.connected(), kWaitMs);
    anna.socket->write("FILENAME notes.txt #5\r\nhello");
    anna.socket->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kWaitMs);
    QCOMPARE(ended.first().at(0).value<ReceiveEnd>().outcome, ReceiveEnd::Outcome::Saved);
    QVERIFY(received.isEmpty());
    QVERIFY(station.receivedFiles().isEmpty());
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("received.json"))));

    QVERIFY(station.stop());
    QCOMPARE(readFile(settingsFile), stored);
}

void TestStation::aShortLivedStationWritesKeysOnlyToSettingsItMay()
{
    QTemporaryDir folder;
    const QString settingsFile = folder.filePath(QStringLiteral("Quillo.conf"));
    const QByteArray damaged =
        "[IPaddress0]\nName=Anna\nIPaddress=127.0.0.131\nKey=" + QByteArray(32, 'k').toHex() +
        "\n[IPaddress1]\nName=Bea\nIPaddress=127.0.0.133\nKey=" + QByteArray(32, 'l').toHex() +
        "\nnot a setting\n";
    QVERIFY(writeFile(settingsFile, damaged));
    SettingsStore settings(settingsFile);
    ScriptedRandom random;
    Station station(settings, random, folder.path(), kStation);
    station.makeShortLived();
    station.load();
    QSignalSpy notSaved(&station, &Station::keysNotSaved);

    station.forgetKey(0);
    QCOMPARE(notSaved.count(), 1);
    QCOMPARE(notSaved.first().at(0).toString(), settingsFile);
    QVERIFY(!station.hasKey(a(kAnna)));
    QCOMPARE(readFile(settingsFile), damaged);

    // Once a copy is kept, both forgotten keys go in.
    QCOMPARE(station.checkSettings().state, SettingsCheck::State::DamagedKept);
    station.forgetKey(1);
    QCOMPARE(notSaved.count(), 1);
    QVERIFY(!readFile(settingsFile).contains("Key="));
}

QTEST_GUILESS_MAIN(TestStation)
#include "tst_station.moc"
