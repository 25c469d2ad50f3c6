#include "platform/settingsstore.h"
#include "presence/datagram.h"
#include "station/receiversettings.h"
#include "station/station.h"
#include "support/clirawpeer.h"
#include "support/enginefakes.h"
#include "support/privatepeer.h"
#include "support/privatereceiver.h"
#include "support/testfiles.h"
#include "support/waitingfor.h"
#include "transfer/sendtext.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <cerrno>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kStation(QStringLiteral("127.0.13.1"));
const QHostAddress kAnna(QStringLiteral("127.0.13.2"));
const QHostAddress kStranger(QStringLiteral("127.0.13.3"));
const QHostAddress kBea(QStringLiteral("127.0.13.4"));
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

// A station under test, with its own settings, data and save folders, and a clock that
// stands still; Anna is listed.
struct StationFixture {
    StationFixture()
    {
        station.addPerson(QStringLiteral("Anna"), a(kAnna));
        station.setSaveFolder(inbox(), false);
    }
    QString settingsPath() const { return folder.filePath(QStringLiteral("Quillo.conf")); }
    QString inbox(const QString& name = {}) const
    {
        return folder.filePath(QStringLiteral("in/")) + name;
    }
    QString makeFile(const QString& name, const QByteArray& content)
    {
        const QString path = folder.filePath(name);
        return writeFile(path, content) ? path : QString();
    }
    // A folder where the settings file is, so that it cannot be written.
    bool blockSettings()
    {
        return (QFile::remove(settingsPath()) || !QFile::exists(settingsPath())) &&
               QDir().mkdir(settingsPath());
    }
    bool unblockSettings() { return QDir().rmdir(settingsPath()); }

    QTemporaryDir folder;
    bool madeInbox = QDir().mkpath(folder.filePath(QStringLiteral("in")));
    SettingsStore settings{settingsPath()};
    ScriptedRandom random;
    FixedClock clock;
    Station station{settings, random, folder.path(), kStation, clock};
};

// The settings as their file holds them, rather than as a store holds them in memory:
// read from a copy, because the stores of one file share what they have not written.
struct Written {
    explicit Written(const QString& path) : copied(QFile::copy(path, copyPath())) {}
    QString copyPath() const { return dir.filePath(QStringLiteral("copy.conf")); }
    AddressBook book() const
    {
        AddressBook book;
        book.load(settings);
        return book;
    }

    QTemporaryDir dir;
    bool copied;
    SettingsStore settings{copyPath()};
};

QStringList namesAndAddresses(const AddressBook& book)
{
    QStringList entries;
    for (int slot = 0; slot < book.count(); ++slot)
        entries.append(book.entry(slot).Name + QLatin1Char(' ') + book.entry(slot).IPaddress);
    return entries;
}

// A socket on port 1071 of address, to see what the station sends there.
struct DatagramProbe {
    explicit DatagramProbe(const QHostAddress& address) : bound(socket.bind(address, kDatagramPort))
    {
    }
    // What has come so far; a datagram to a literal address is here before its send returns.
    QList<QByteArray> take()
    {
        QList<QByteArray> caught;
        while (socket.hasPendingDatagrams())
            caught.append(socket.receiveDatagram().data());
        return caught;
    }
    QUdpSocket socket;
    bool bound;
};

} // namespace

// Anna offers name, of five bytes, on the station's plain port as `nc` would, and closes;
// true once the station has said how her connection ended.
bool offerPlainly(Station& station, const QByteArray& name)
{
    QSignalSpy ended(&station, &Station::incomingEnded);
    CliRawPeer anna(kAnna, kStation);
    if (!QTest::qWaitFor([&anna] { return anna.connected(); }, kWaitMs))
        return false;
    anna.socket->write("FILENAME " + name + " #5\r\nhello");
    anna.socket->disconnectFromHost();
    const auto annaEnded = [&ended] {
        return std::any_of(ended.cbegin(), ended.cend(), [](const QList<QVariant>& end) {
            return end.at(0).value<ReceiveEnd>().peer == a(kAnna);
        });
    };
    return QTest::qWaitFor(annaEnded, kWaitMs);
}

// The number in the last COUNT that peer has had.
qint64 lastCount(const PrivatePeer& peer)
{
    for (auto m = peer.messages.crbegin(); m != peer.messages.crend(); ++m)
        if (m->type == MessageType::Count)
            return parseNumber(m->body).value_or(-1);
    return -1;
}

class TestStation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The commands, and what they store and tell.
    void addressBookChangesAreStoredAndTold();
    void aBookThatCannotBeWrittenIsToldAndStoredLater();
    void receivingChoicesAreStoredOnlyWhenAsked();
    void settingsAreCheckedAsFound_data();
    void settingsAreCheckedAsFound();
    void announcementsRunFromTheStartUntilStop();
    void chatToAKeyedEntryWithoutAnIdentityIsToldUndelivered();
    void waitingFilesAreStoredAndCancelled();
    void forgettingAKeyTakesThatPeersPartFiles();

    // Receiving, sending and waiting as the parts meet in the station.
    void onlyAListedPeersAnnouncementStartsItsDelivery();
    void onlyKnownSendersTurnsAStrangerAway();
    void aSavedFileIsRecordedOnce();
    void aListOfReceivedFilesNotSavedIsTold();
    void aQueueCutOffPrivatelyWaitsAndIsTriedAgain();
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

void TestStation::addressBookChangesAreStoredAndTold()
{
    StationFixture f;
    QSignalSpy changed(&f.station, &Station::addressBookChanged);
    QSignalSpy problems(&f.station, &Station::problem);

    f.station.addPerson(QStringLiteral("Bea"), a(kBea));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(namesAndAddresses(Written(f.settingsPath()).book()),
             QStringList({"Anna 127.0.13.2", "Bea 127.0.13.4"}));
    f.station.setPersonAddress(0, QStringLiteral("127.0.13.9"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(namesAndAddresses(Written(f.settingsPath()).book()),
             QStringList({"Anna 127.0.13.9", "Bea 127.0.13.4"}));
    f.station.removePerson(0);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(namesAndAddresses(Written(f.settingsPath()).book()), QStringList{"Bea 127.0.13.4"});
    QCOMPARE(namesAndAddresses(f.station.addressBook()), QStringList{"Bea 127.0.13.4"});
    QVERIFY(problems.isEmpty());
}

void TestStation::aBookThatCannotBeWrittenIsToldAndStoredLater()
{
    StationFixture f;
    QSignalSpy changed(&f.station, &Station::addressBookChanged);
    QSignalSpy problems(&f.station, &Station::problem);
    QVERIFY(f.blockSettings());

    f.station.addPerson(QStringLiteral("Bea"), a(kBea));
    QCOMPARE(changed.count(), 1); // the book changed all the same
    QCOMPARE(problems.count(), 1);
    QCOMPARE(problems.first().first().toString(),
             QStringLiteral("Quillo could not write its settings file %1. The change to the "
                            "address book was not saved.")
                 .arg(f.settingsPath()));
    QVERIFY(!f.station.stop());

    // The next write takes the change that failed with it.
    QVERIFY(f.unblockSettings());
    QVERIFY(f.station.stop());
    QCOMPARE(namesAndAddresses(Written(f.settingsPath()).book()),
             QStringList({"Anna 127.0.13.2", "Bea 127.0.13.4"}));
    QCOMPARE(problems.count(), 1);
}

void TestStation::receivingChoicesAreStoredOnlyWhenAsked()
{
    StationFixture f;
    const QString other = f.inbox(QStringLiteral("other/"));
    QVERIFY(QDir().mkpath(other));
    f.station.setOnlyKnownSenders(true, false);
    f.station.setSaveFolder(other, false);
    QVERIFY(f.station.onlyKnownSenders());
    QCOMPARE(f.station.saveFolder(), other);
    {
        Written written(f.settingsPath());
        QVERIFY(!storedOnlyKnownSenders(written.settings));
        QCOMPARE(storedSaveFolder(written.settings), QString());
    }

    // The receiver saves into the folder chosen, from the next file on.
    QVERIFY(!f.station.listen());
    QSignalSpy received(&f.station, &Station::received);
    QVERIFY(offerPlainly(f.station, "notes.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kWaitMs);
    QCOMPARE(readFile(other + QStringLiteral("notes.txt")), QByteArray("hello"));

    f.station.setOnlyKnownSenders(true, true);
    f.station.setSaveFolder(f.inbox(), true);
    Written written(f.settingsPath());
    QVERIFY(storedOnlyKnownSenders(written.settings));
    QCOMPARE(storedSaveFolder(written.settings), f.inbox());
    // The next start reads "only from my address book" back.
    Station next(written.settings, f.random, f.folder.path(), kStation, f.clock);
    next.load();
    QVERIFY(next.onlyKnownSenders());
}

void TestStation::settingsAreCheckedAsFound_data()
{
    QTest::addColumn<QByteArray>("content"); // "<folder>" for a folder in its place
    QTest::addColumn<SettingsCheck::State>("state");
    QTest::addRow("missing") << QByteArray() << SettingsCheck::State::Usable;
    QTest::addRow("usable") << QByteArray("[Settings]\nSaveDir=/tmp/\n")
                            << SettingsCheck::State::Usable;
    QTest::addRow("unreadable") << QByteArray("<folder>") << SettingsCheck::State::Unreadable;
    QTest::addRow("not text") << QByteArray("[Settings]\nSaveDir=/tmp/\n\x01\x02\xff\n")
                              << SettingsCheck::State::DamagedKept;
    QTest::addRow("not settings lines") << QByteArray("[Settings]\nSaveDir=/tmp/\n{ \"a\": 1 }\n")
                                        << SettingsCheck::State::DamagedKept;
}

void TestStation::settingsAreCheckedAsFound()
{
    QFETCH(QByteArray, content);
    QFETCH(SettingsCheck::State, state);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Quillo.conf"));
    if (content == "<folder>")
        QVERIFY(QDir().mkdir(path));
    else if (!content.isEmpty())
        QVERIFY(writeFile(path, content));
    SettingsStore settings(path);
    ScriptedRandom random;
    Station station(settings, random, folder.path(), kStation);

    const SettingsCheck check = station.checkSettings();
    QCOMPARE(check.state, state);
    QCOMPARE(check.file, path);
    if (state == SettingsCheck::State::Unreadable) {
        QCOMPARE(check.number, EISDIR);
        QVERIFY(!check.description.isEmpty());
    }
    if (state == SettingsCheck::State::DamagedKept) {
        QVERIFY(check.copy != path);
        QCOMPARE(readFile(check.copy), content); // the file as it was, byte for byte
    } else {
        QCOMPARE(check.copy, QString());
    }
}

void TestStation::announcementsRunFromTheStartUntilStop()
{
    StationFixture f;
    DatagramProbe anna(kAnna);
    QVERIFY(anna.bound);
    QVERIFY(!f.station.bindPresence());
    f.station.startAnnouncing();

    f.clock.advance(Presence::kFirstAnnouncement - std::chrono::milliseconds(1));
    QVERIFY(anna.take().isEmpty());
    f.clock.advance(std::chrono::milliseconds(1));
    QCOMPARE(anna.take(), QList<QByteArray>{presenceDatagram()});
    f.clock.advance(Presence::kAnnouncementPeriod);
    QCOMPARE(anna.take(), QList<QByteArray>{presenceDatagram()});

    QVERIFY(f.station.stop());
    f.clock.advance(10 * Presence::kAnnouncementPeriod);
    QVERIFY(anna.take().isEmpty());
}

void TestStation::chatToAKeyedEntryWithoutAnIdentityIsToldUndelivered()
{
    StationFixture f;
    f.settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Key"),
                     QString::fromLatin1(QByteArray(32, 'k').toHex()));
    f.station.load();
    f.station.addPerson(QStringLiteral("Bea"), a(kBea));
    QVERIFY(f.station.hasKey(a(kAnna)));
    DatagramProbe anna(kAnna);
    DatagramProbe bea(kBea);
    QVERIFY(anna.bound && bea.bound);
    QVERIFY(!f.station.bindPresence());
    QSignalSpy problems(&f.station, &Station::problem);

    f.station.sendChat(QStringLiteral("Lunch?"));
    QCOMPARE(problems.count(), 1);
    QCOMPARE(problems.first().first().toString(),
             QStringLiteral("(not delivered to Anna: private transfers are off)"));
    // Anna is reached privately or not at all; Bea has no key, and gets a datagram.
    QVERIFY(anna.take().isEmpty());
    QCOMPARE(bea.take(), QList<QByteArray>{"Lunch?"});
}

void TestStation::waitingFilesAreStoredAndCancelled()
{
    StationFixture f;
    const QString file = f.makeFile(QStringLiteral("a.txt"), "hello");
    QSignalSpy changed(&f.station, &Station::waitingChanged);

    f.station.sendWhenOnline(a(kBea), {file}, false);
    QCOMPARE(changed.count(), 1);
    QVERIFY(waitingFor(f.station, kBea));
    QCOMPARE(waitingFor(f.station, kBea)->files, (QList<QueuedFile>{{file, {}}}));
    QVERIFY(!f.station.isDeliveringWaiting());
    {
        Written written(f.settingsPath());
        Station next(written.settings, f.random, f.folder.path(), kStation, f.clock);
        next.load();
        QVERIFY(waitingFor(next, kBea));
        QCOMPARE(waitingFor(next, kBea)->files, waitingFor(f.station, kBea)->files);
    }

    f.station.cancelWaiting(a(kBea));
    QCOMPARE(changed.count(), 2);
    QVERIFY(f.station.waitingBatches().isEmpty());
    Written written(f.settingsPath());
    Station next(written.settings, f.random, f.folder.path(), kStation, f.clock);
    next.load();
    QVERIFY(next.waitingBatches().isEmpty());
}

void TestStation::forgettingAKeyTakesThatPeersPartFiles()
{
    StationFixture f;
    f.station.addPerson(QStringLiteral("Bea"), a(kBea));
    QVERIFY(!f.station.openIdentity());
    QVERIFY(!f.station.listen());
    QSignalSpy ended(&f.station, &Station::incomingEnded);
    // Each begins a file and breaks off once the station has counted its first bytes.
    PrivatePeer anna;
    PrivatePeer bea;
    const QList<std::tuple<PrivatePeer*, QHostAddress, QByteArray>> peers{{&anna, kAnna, "a.bin"},
                                                                          {&bea, kBea, "b.bin"}};
    for (const auto& [peer, from, name] : peers) {
        peer->connectTo(from, kStation);
        peer->send(helloMessage() + fileMessage(1000, name) +
                   encodeMessage(MessageType::Data, QByteArray(100, 'x')));
        QTRY_COMPARE_WITH_TIMEOUT(lastCount(*peer), 100, kWaitMs);
        peer->socket.abort();
    }
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(f.inbox()).entryList(QDir::Files),
                              QStringList({"a.bin.part", "b.bin.part"}), kWaitMs);
    QCOMPARE(f.station.addressBook().entry(0).Key, anna.key()); // kept at first sight
    QCOMPARE(f.station.addressBook().entry(1).Key, bea.key());
    QSignalSpy changed(&f.station, &Station::addressBookChanged);

    f.station.forgetKey(0);
    QVERIFY(!f.station.hasKey(a(kAnna)));
    QVERIFY(f.station.hasKey(a(kBea)));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(QDir(f.inbox()).entryList(QDir::Files), QStringList{"b.bin.part"});
    const AddressBook written = Written(f.settingsPath()).book();
    QVERIFY(written.entry(0).Key.isEmpty());
    QCOMPARE(written.entry(1).Key, bea.key());

    f.station.forgetKey(0); // nothing left to forget
    QCOMPARE(changed.count(), 1);
}

void TestStation::onlyAListedPeersAnnouncementStartsItsDelivery()
{
    StationFixture f;
    QVERIFY(!f.station.bindPresence());
    const QString file = f.makeFile(QStringLiteral("a.txt"), "hello");
    f.station.sendWhenOnline(a(kStranger), {file}, false);
    f.station.sendWhenOnline(a(kAnna), {file}, false);
    QSignalSpy started(&f.station, &Station::rowStarted);

    // The stranger's announcement comes first; by the time Anna's has been taken, it has.
    QVERIFY(sendDatagram(kStranger, presenceDatagram()));
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kWaitMs);
    QCOMPARE(started.first().at(0).value<BatchKind>(), BatchKind::Waiting);
    QCOMPARE(started.first().at(4).toString(), a(kAnna));
    const WaitingBatches::Batch* stranger = waitingFor(f.station, kStranger);
    QVERIFY(stranger);
    QVERIFY(!stranger->due);
    QCOMPARE(stranger->files, (QList<QueuedFile>{{file, {}}}));
}

void TestStation::onlyKnownSendersTurnsAStrangerAway()
{
    StationFixture f;
    f.station.setOnlyKnownSenders(true, false);
    QVERIFY(!f.station.listen());
    QSignalSpy ended(&f.station, &Station::incomingEnded);
    CliRawPeer stranger(kStranger, kStation);
    // Turned away as soon as it connects, so it offers its file on every connection until
    // the receiver tells.
    const QTcpSocket* offered = nullptr;
    const auto refused = [&] {
        if (stranger.connected() && offered != stranger.socket.get()) {
            offered = stranger.socket.get();
            stranger.socket->write("FILENAME s.txt #5\r\nhello");
        }
        return !ended.isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(refused(), kWaitMs);
    const auto end = ended.first().at(0).value<ReceiveEnd>();
    QCOMPARE(end.outcome, ReceiveEnd::Outcome::Refused);
    QCOMPARE(end.peer, a(kStranger));
    QVERIFY(QDir(f.inbox()).entryList(QDir::Files).isEmpty());
    QVERIFY(f.station.receivedFiles().isEmpty());

    // Anna, listed, is taken on the same terms.
    QSignalSpy received(&f.station, &Station::received);
    QVERIFY(offerPlainly(f.station, "s.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kWaitMs);
    QCOMPARE(QDir(f.inbox()).entryList(QDir::Files), QStringList{"s.txt"});
}
void TestStation::aSavedFileIsRecordedOnce()
{
    StationFixture f;
    QVERIFY(!f.station.listen());
    QSignalSpy received(&f.station, &Station::received);
    QVERIFY(offerPlainly(f.station, "notes.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kWaitMs);
    const QString file = f.folder.filePath(QStringLiteral("received.json"));
    QTRY_COMPARE_WITH_TIMEOUT(ReceivedHistory(file).entries().size(), 1, kWaitMs);
    const ReceivedHistory stored(file);
    QCOMPARE(stored.entries().first().name, QStringLiteral("notes.txt"));
    QCOMPARE(stored.entries().first().peer, QStringLiteral("Anna"));
    QCOMPARE(f.station.receivedFiles().size(), 1);
}

void TestStation::aListOfReceivedFilesNotSavedIsTold()
{
    StationFixture f;
    const QString file = f.folder.filePath(QStringLiteral("received.json"));
    QVERIFY(QDir().mkdir(file));
    QVERIFY(!f.station.listen());
    QSignalSpy problems(&f.station, &Station::problem);
    QVERIFY(offerPlainly(f.station, "notes.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, kWaitMs);
    const QString told = problems.first().at(0).toString();
    const QString start = QStringLiteral("The list of received files could not be saved to %1: ")
                              .arg(QDir::toNativeSeparators(file));
    QVERIFY2(told.startsWith(start) && told.size() > start.size(), qPrintable(told));
    QCOMPARE(f.station.receivedFiles().size(), 1);
}

void TestStation::aQueueCutOffPrivatelyWaitsAndIsTriedAgain()
{
    StationFixture f;
    QVERIFY(!f.station.openIdentity());
    QVERIFY(!f.station.bindPresence());
    PrivateReceiver anna;
    QVERIFY(anna.start(kAnna));
    anna.cuts = 1000; // every file, until Anna is back
    const QByteArray content = someBytes(256 * 1024);
    const QString file = f.makeFile(QStringLiteral("a.bin"), content);
    QList<QueuedFile> cutRest;
    QList<QueuedFile> waitingAtCut;
    connect(&f.station, &Station::queueCutOff, this,
            [&](const QString& host, const QList<QueuedFile>& rest) {
                QCOMPARE(host, a(kAnna));
                cutRest = rest;
                if (const WaitingBatches::Batch* batch = waitingFor(f.station, kAnna))
                    waitingAtCut = batch->files;
            });
    QSignalSpy finished(&f.station, &Station::rowFinished);

    f.station.queue(file);
    f.station.sendQueue([] { return std::optional<QString>(a(kAnna)); });
    const QList<QueuedFile> files{{file, {}}};
    QTRY_COMPARE_WITH_TIMEOUT(cutRest, files, kWaitMs);
    QCOMPARE(waitingAtCut, files); // waiting before anyone hears of the cut
    // It is tried again at once, but not for ever.
    const auto waits = [&] {
        const WaitingBatches::Batch* batch = waitingFor(f.station, kAnna);
        return batch && !batch->due && !f.station.isDeliveringWaiting() && !f.station.isSending();
    };
    QTRY_VERIFY_WITH_TIMEOUT(waits(), kWaitMs);
    const int tried = anna.connections;
    QVERIFY2(tried >= 2 && tried <= 3, qPrintable(QString::number(tried)));
    QCOMPARE(waitingFor(f.station, kAnna)->files, files);

    // Then it waits for Anna's next announcement.
    anna.cuts = 0;
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QTRY_VERIFY_WITH_TIMEOUT(f.station.waitingBatches().isEmpty(), kWaitMs);
    QCOMPARE(anna.connections, tried + 1);
    QCOMPARE(anna.files.last().content, content); // whole: Anna does not resume
    QVERIFY(anna.files.last().digestMatched);
    QCOMPARE(finished.last().at(0).value<BatchKind>(), BatchKind::Waiting);
    QCOMPARE(finished.last().at(2).value<SendEnd>().outcome, SendOutcome::Sent);
}

void TestStation::aDeliveryRefusedForItsKeyWaitsForTheKey()
{
    StationFixture f;
    QVERIFY(!f.station.openIdentity());
    QVERIFY(!f.station.bindPresence());
    f.station.setRefusalRetries(0, std::chrono::milliseconds(1));
    f.settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Key"),
                     QString::fromLatin1(QByteArray(32, 'k').toHex()));
    f.station.load();
    f.station.addPerson(QStringLiteral("Bea"), a(kBea));
    PrivateReceiver anna; // another key than the one the book holds
    QVERIFY(anna.start(kAnna));
    const QString file = f.makeFile(QStringLiteral("a.txt"), "hello");
    QString status;
    connect(&f.station, &Station::sendStatusChanged, this,
            [&status](const SendStatus& now) { status = sendStatusText(now); });
    QSignalSpy started(&f.station, &Station::rowStarted);
    QSignalSpy finished(&f.station, &Station::batchFinished);
    f.station.sendWhenOnline(a(kAnna), {file, file}, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QCOMPARE(status, QStringLiteral("the computer at %1 did not show Anna's key").arg(a(kAnna)));
    QCOMPARE(anna.connections, 1); // the batch's second file did not try again

    // Forged or not, Anna's announcement starts nothing; by the time Bea's has started her
    // delivery, Anna's has been taken.
    f.station.sendWhenOnline(a(kBea), {file}, false);
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QVERIFY(sendDatagram(kBea, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kWaitMs);
    QCOMPARE(started.count(), 3);
    QCOMPARE(started.last().at(4).toString(), a(kBea));
    QCOMPARE(anna.connections, 1);

    // Once the key is forgotten, her next announcement sends the file.
    f.station.forgetKey(0);
    QVERIFY(sendDatagram(kAnna, presenceDatagram()));
    QTRY_COMPARE_WITH_TIMEOUT(anna.files.size(), 2, kWaitMs);
    QVERIFY(!waitingFor(f.station, kAnna));
}

void TestStation::announcementsStartAFailedDeliveryNoSoonerThanItsSpacing()
{
    StationFixture f;
    QVERIFY(!f.station.bindPresence());
    f.station.setRefusalRetries(0, std::chrono::milliseconds(1));
    f.station.addPerson(QStringLiteral("Bea"), a(kBea));
    const QString file = f.makeFile(QStringLiteral("a.txt"), "hello");
    QSignalSpy started(&f.station, &Station::rowStarted);
    QSignalSpy finished(&f.station, &Station::batchFinished);
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
    QCOMPARE(started.last().at(4).toString(), a(kBea));

    // Not a moment before the spacing is over; then the announcement heard meanwhile
    // starts it, once.
    f.clock.advance(WaitingBatches::kAttemptSpacing - std::chrono::milliseconds(1));
    QCOMPARE(started.count(), 2);
    QVERIFY(!f.station.isDeliveringWaiting());
    f.clock.advance(std::chrono::milliseconds(1));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, kWaitMs);
    QCOMPARE(started.last().at(4).toString(), a(kAnna));
    QVERIFY(!waitingFor(f.station, kAnna)->due);
}

void TestStation::aShortLivedStationLeavesWhatTheWindowKeeps()
{
    QTemporaryDir folder;
    const QString settingsFile = folder.filePath(QStringLiteral("Quillo.conf"));
    const QString file = folder.filePath(QStringLiteral("a.txt"));
    const QByteArray stored = "[IPaddress0]\nName=Anna\nIPaddress=127.0.13.2\n"
                              "[WaitingFiles0]\nIPaddress=127.0.13.2\nCount=1\nFile0=" +
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
    QVERIFY(offerPlainly(station, "notes.txt"));
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
        "[IPaddress0]\nName=Anna\nIPaddress=127.0.13.2\nKey=" + QByteArray(32, 'k').toHex() +
        "\n[IPaddress1]\nName=Bea\nIPaddress=127.0.13.4\nKey=" + QByteArray(32, 'l').toHex() +
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
