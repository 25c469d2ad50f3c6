#include "platform/settingsstore.h"
#include "station/station.h"
#include "support/clirun.h"
#include "support/enginefakes.h"
#include "support/localsendpeer.h"
#include "support/testfiles.h"
#include "transfer/sendtext.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

// Addresses of these tests' own: the station, and the devices it sends to.
const QHostAddress kStation(QStringLiteral("127.0.30.1"));
const QString kPhone = QStringLiteral("127.0.30.2");
constexpr quint16 kPort = 53317;
constexpr int kWaitMs = 20000;

// A station that lists the phone, with a clock that stands still.
struct Fixture {
    Fixture()
    {
        station.addPerson(QStringLiteral("Phone"), kPhone);
        station.setRefusalRetries(0, std::chrono::milliseconds(1));
    }
    QString makeFile(const QString& name, const QByteArray& content)
    {
        const QString path = folder.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        return writeFile(path, content) ? path : QString();
    }
    QString got(const QString& name) const
    {
        return folder.filePath(QStringLiteral("got/")) + name;
    }
    // Sends the queue to the phone and waits until it has been tried; the files' ends.
    QList<SendEnd> sendQueue()
    {
        QSignalSpy ends(&station, &Station::rowFinished);
        QSignalSpy done(&station, &Station::batchFinished);
        station.sendQueue([] { return std::optional<QString>(kPhone); });
        if (!done.wait(kWaitMs) && done.isEmpty())
            return {};
        QList<SendEnd> result;
        for (const QList<QVariant>& end : std::as_const(ends))
            result.append(end.at(2).value<SendEnd>());
        return result;
    }
    const AddressBookEntry& phone() const { return station.addressBook().entry(0); }

    QTemporaryDir folder;
    SettingsStore settings{folder.filePath(QStringLiteral("Quillo.conf"))};
    ScriptedRandom random;
    FixedClock clock;
    Station station{settings, random, folder.path(), kStation, clock};
};

} // namespace

class TestLocalSend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<SendEnd>(); }
    void entryFieldsAreStoredAndOldSectionsReadAsUnknown();
    void unknownEntryIsProbedRememberedAndPinned();
    void filesAndFolderGoInOneSession();
    void anotherCertificateIsRefused();
    void pinIsAskedFor();
    void statusesAreToldInPlainWords_data();
    void statusesAreToldInPlainWords();
    void declinedFileIsToldAndOthersGo();
    void keyedEntryNeverGoesByLocalSend();
    void cancelEndsTheSession();
    void fileThatShrinksIsNotSentShort();
    void commandLineSendsWithThePinGiven();
    void chatLineGoesAsTextMessage();
    void severalDevicesAtOnceAskNoPin();
};

void TestLocalSend::entryFieldsAreStoredAndOldSectionsReadAsUnknown()
{
    QTemporaryDir folder;
    SettingsStore store(folder.filePath(QStringLiteral("Quillo.conf")));
    AddressBook book;
    book.append(QStringLiteral("Phone"), kPhone);
    book.append(QStringLiteral("Old"), QStringLiteral("10.0.0.9"));
    book.setSpeaks(0, Speaks::LocalSend, true);
    book.setLocalSendPort(0, 53999);
    book.setCertificate(0, QByteArray(32, '\x5a'));
    book.setDeviceType(0, QStringLiteral("mobile"));
    book.store(store);
    QCOMPARE(store.read(QStringLiteral("IPaddress0"), QStringLiteral("Speaks"), {}),
             QStringLiteral("localsend"));
    QCOMPARE(
        store.read(QStringLiteral("IPaddress1"), QStringLiteral("Speaks"), QStringLiteral("-")),
        QStringLiteral("-"));

    AddressBook loaded;
    loaded.load(store);
    QCOMPARE(loaded.entry(0).speaks, Speaks::LocalSend);
    QVERIFY(loaded.entry(0).speaksChosen);
    QCOMPARE(loaded.entry(0).localSendPort, quint16(53999));
    QCOMPARE(loaded.entry(0).certificate, QByteArray(32, '\x5a'));
    QCOMPARE(loaded.entry(0).deviceType, QStringLiteral("mobile"));
    QCOMPARE(loaded.entry(1).speaks, Speaks::Unknown);
    QVERIFY(!loaded.entry(1).speaksChosen);

    // A hand-made value that is none of the three reads as unknown.
    store.write(QStringLiteral("IPaddress0"), QStringLiteral("Speaks"), QStringLiteral("gopher"));
    loaded.load(store);
    QCOMPARE(loaded.entry(0).speaks, Speaks::Unknown);
    QVERIFY(!loaded.entry(0).speaksChosen);
}

// Nothing listens on the phone's private or plain port: the private port refuses, the
// LocalSend port answers, and that is kept with the certificate.
void TestLocalSend::unknownEntryIsProbedRememberedAndPinned()
{
    Fixture f;
    LocalSendPeer peer(kPhone, kPort, f.folder.path());
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    const QList<SendEnd> ends = f.sendQueue();
    QCOMPARE(ends.size(), 1);
    QCOMPARE(ends.at(0).outcome, SendOutcome::Sent);
    QVERIFY(ends.at(0).isLocalSend);
    QCOMPARE(readFile(f.got(QStringLiteral("a.txt"))), QByteArray("hello"));
    QCOMPARE(f.phone().speaks, Speaks::LocalSend);
    QVERIFY(!f.phone().speaksChosen);
    QCOMPARE(f.phone().deviceType, QStringLiteral("mobile"));
    QCOMPARE(f.phone().certificate, peer.fingerprint);
    AddressBook stored;
    stored.load(f.settings);
    QCOMPARE(stored.entry(0).certificate, peer.fingerprint);
}

void TestLocalSend::filesAndFolderGoInOneSession()
{
    Fixture f;
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 53318);
    LocalSendPeer peer(kPhone, 53318, f.folder.path());
    const QByteArray big = someBytes(3 * 1024 * 1024 + 7);
    f.station.queue(f.makeFile(QStringLiteral("big.bin"), big));
    f.makeFile(QStringLiteral("Trip/day 1/b.txt"), "b");
    f.makeFile(QStringLiteral("Trip/c.txt"), "c");
    f.station.queue(f.folder.filePath(QStringLiteral("Trip")));
    const QList<SendEnd> ends = f.sendQueue();
    QCOMPARE(ends.size(), 3);
    for (const SendEnd& end : ends)
        QCOMPARE(end.outcome, SendOutcome::Sent);
    QCOMPARE(readFile(f.got(QStringLiteral("big.bin"))), big);
    QCOMPARE(readFile(f.got(QStringLiteral("Trip/day 1/b.txt"))), QByteArray("b"));
    QCOMPARE(readFile(f.got(QStringLiteral("Trip/c.txt"))), QByteArray("c"));
    // The loose file is offered alone, as the folder is walked only when reached; the
    // folder's files together.
    QCOMPARE(peer.told().filter(QStringLiteral("prepare")),
             QStringList({QStringLiteral("prepare 1"), QStringLiteral("prepare 2")}));
}

void TestLocalSend::anotherCertificateIsRefused()
{
    Fixture f;
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    {
        LocalSendPeer first(kPhone, kPort, f.folder.path());
        QCOMPARE(f.sendQueue().value(0).outcome, SendOutcome::Sent);
    }
    QFile::remove(f.got(QStringLiteral("a.txt")));
    LocalSendPeer other(kPhone, kPort, f.folder.path(), {}, QStringLiteral("other"));
    QSignalSpy changed(&f.station, &Station::sendKeyChanged);
    const SendEnd end = f.sendQueue().value(0);
    QCOMPARE(end.outcome, SendOutcome::Failed);
    QCOMPARE(end.status.stage, SendStatus::Stage::KeyNotShown);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("Phone"));
    QVERIFY(other.told().filter(QStringLiteral("prepare")).isEmpty());
    QVERIFY(!QFile::exists(f.got(QStringLiteral("a.txt"))));
    QVERIFY(f.phone().certificate != other.fingerprint);

    // Forgetting the key lets the next certificate be pinned.
    f.station.forgetKey(0);
    QCOMPARE(f.sendQueue().value(0).outcome, SendOutcome::Sent);
    QCOMPARE(f.phone().certificate, other.fingerprint);
}

void TestLocalSend::pinIsAskedFor()
{
    Fixture f;
    LocalSendPeer peer(kPhone, kPort, f.folder.path(),
                       {QStringLiteral("--pin"), QStringLiteral("4321")});
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    QSignalSpy asked(&f.station, &Station::sendPinNeeded);
    connect(&f.station, &Station::sendPinNeeded, this,
            [&f](const QString&, const QString&, bool wrong) {
                f.station.answerPin(wrong ? QString() : QStringLiteral("4321"));
            });
    QCOMPARE(f.sendQueue().value(0).outcome, SendOutcome::Sent);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.at(0).at(0).toString(), QStringLiteral("Phone"));
    QCOMPARE(asked.at(0).at(2).toBool(), false);

    // A PIN given beforehand that is wrong is asked for again, as wrong; no answer ends it.
    f.station.setLocalSendPin(kPhone, QStringLiteral("1111"));
    const SendEnd end = f.sendQueue().value(0);
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked.at(1).at(2).toBool(), true);
    QCOMPARE(end.outcome, SendOutcome::NotSent);
    QCOMPARE(sendStatusText(end.status),
             QStringLiteral("Not sent: the device asks for a PIN, and none was given"));
}

void TestLocalSend::statusesAreToldInPlainWords_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("told");
    QTest::addColumn<int>("offers");
    QTest::newRow("declined") << 403 << "the person at the device declined the files" << 1;
    QTest::newRow("busy, asked again") << 409 << "the device is busy with another transfer" << 3;
    QTest::newRow("too many") << 429 << "the device turned away too many requests; try again later"
                              << 1;
    QTest::newRow("failed") << 500 << "the device failed with an error of its own (HTTP 500)" << 1;
    QTest::newRow("nothing needed") << 204 << "the device needed none of the files" << 1;
}

void TestLocalSend::statusesAreToldInPlainWords()
{
    QFETCH(int, status);
    QFETCH(QString, told);
    QFETCH(int, offers);
    Fixture f;
    f.station.setRefusalRetries(2, std::chrono::milliseconds(5));
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 0);
    LocalSendPeer peer(kPhone, kPort, f.folder.path(),
                       {QStringLiteral("--status"), QString::number(status)});
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    f.station.queue(f.makeFile(QStringLiteral("b.txt"), "bye"));
    QSignalSpy done(&f.station, &Station::batchFinished);
    QSignalSpy ends(&f.station, &Station::rowFinished);
    f.station.sendQueue([] { return std::optional<QString>(kPhone); });
    // The waits between the tries are the station's clock's.
    QTRY_VERIFY_WITH_TIMEOUT((f.clock.advance(std::chrono::milliseconds(5)), !done.isEmpty()),
                             kWaitMs);
    QCOMPARE(ends.size(), 2);
    const SendEnd end = ends.at(0).at(2).value<SendEnd>();
    QCOMPARE(end.outcome, SendOutcome::NotSent);
    QCOMPARE(sendStatusText(end.status), QStringLiteral("Not sent: ") + told);
    // The second file is not offered again: the device answered for the batch.
    QCOMPARE(peer.told().filter(QStringLiteral("prepare")).size(), offers);
}

void TestLocalSend::declinedFileIsToldAndOthersGo()
{
    Fixture f;
    LocalSendPeer peer(kPhone, kPort, f.folder.path(),
                       {QStringLiteral("--decline"), QStringLiteral("a.txt")});
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    f.station.queue(f.makeFile(QStringLiteral("b.txt"), "bye"));
    const QList<SendEnd> ends = f.sendQueue();
    QCOMPARE(ends.size(), 2);
    QCOMPARE(sendStatusText(ends.at(0).status),
             QStringLiteral("Not sent: the person at the device declined it"));
    QCOMPARE(ends.at(1).outcome, SendOutcome::Sent);
    QCOMPARE(readFile(f.got(QStringLiteral("b.txt"))), QByteArray("bye"));
    QCOMPARE(peer.told().filter(QStringLiteral("prepare")).size(), 1);
}

void TestLocalSend::keyedEntryNeverGoesByLocalSend()
{
    Fixture f;
    QVERIFY(!f.station.openIdentity());
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 0);
    AddressBook book = f.station.addressBook();
    book.setKey(0, QByteArray(32, '\x11'));
    book.store(f.settings);
    f.station.load();
    LocalSendPeer peer(kPhone, kPort, f.folder.path());
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    const SendEnd end = f.sendQueue().value(0);
    QVERIFY(end.outcome != SendOutcome::Sent);
    QVERIFY(!end.isLocalSend);
    QVERIFY(peer.told().filter(QStringLiteral("prepare")).isEmpty());
}

void TestLocalSend::cancelEndsTheSession()
{
    Fixture f;
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 0);
    LocalSendPeer peer(kPhone, kPort, f.folder.path());
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    f.station.queue(f.makeFile(QStringLiteral("b.txt"), "bye"));
    connect(&f.station, &Station::sendStatusChanged, this, [&f](const SendStatus& status) {
        if (status.stage == SendStatus::Stage::Sending)
            f.station.stopSending();
    });
    f.station.sendQueue([] { return std::optional<QString>(kPhone); });
    QVERIFY(!peer.waitFor(QStringLiteral("cancel")).isEmpty());
    QVERIFY(peer.told().filter(QStringLiteral("upload")).isEmpty());
}

void TestLocalSend::fileThatShrinksIsNotSentShort()
{
    Fixture f;
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 0);
    LocalSendPeer peer(kPhone, kPort, f.folder.path());
    const QString path = f.makeFile(QStringLiteral("big.bin"), someBytes(3 * 1024 * 1024));
    f.station.queue(path);
    QSignalSpy readFailed(&f.station, &Station::sendReadFailed);
    // Cut once the device has accepted it, before a byte of it is read.
    connect(&f.station, &Station::sendStatusChanged, this, [path](const SendStatus& status) {
        if (status.stage == SendStatus::Stage::Sending)
            QFile::resize(path, 1024 * 1024);
    });
    const SendEnd end = f.sendQueue().value(0);
    QCOMPARE(end.outcome, SendOutcome::NotSent);
    QCOMPARE(sendStatusText(end.status),
             QStringLiteral("Not sent: The file has become shorter than it was"));
    QCOMPARE(readFailed.size(), 1);
}

void TestLocalSend::commandLineSendsWithThePinGiven()
{
    QTemporaryDir folder;
    LocalSendPeer peer(kPhone, kPort, folder.path(),
                       {QStringLiteral("--pin"), QStringLiteral("2468")});
    const QString file = folder.filePath(QStringLiteral("a.txt"));
    QVERIFY(writeFile(file, "hello"));
    const QStringList send{QStringLiteral("send"), QStringLiteral("--bind"), kStation.toString(),
                           QStringLiteral("--to"), QStringLiteral("Phone"),  file};
    CliRun withoutPin;
    QVERIFY(withoutPin.storeSettings("[IPaddress0]\nName=Phone\nIPaddress=127.0.30.2\n"
                                     "Speaks=localsend\n"));
    withoutPin.start(send);
    QTRY_VERIFY_WITH_TIMEOUT(withoutPin.hasEnded(), kWaitMs);
    QCOMPARE(withoutPin.exitCode(), 1);
    QVERIFY2(
        withoutPin.errors().contains(QStringLiteral("Phone asks for a PIN: give it with --pin")),
        qPrintable(withoutPin.errors()));

    CliRun withPin;
    QVERIFY(withPin.storeSettings("[IPaddress0]\nName=Phone\nIPaddress=127.0.30.2\n"));
    withPin.start(send + QStringList{QStringLiteral("--localsend"), QStringLiteral("--pin"),
                                     QStringLiteral("2468")});
    QTRY_VERIFY_WITH_TIMEOUT(withPin.hasEnded(), kWaitMs);
    QVERIFY2(withPin.exitCode() == 0, qPrintable(withPin.errors()));
    QCOMPARE(withPin.output(), QStringLiteral("sent\t%1\t5\t%2\tlocalsend\n").arg(file, kPhone));
    QCOMPARE(readFile(folder.filePath(QStringLiteral("got/a.txt"))), QByteArray("hello"));
    QVERIFY(readFile(withPin.home() + QStringLiteral("/.config/Quillo/Quillo.conf"))
                .contains("Certificate=" + peer.fingerprint.toHex()));
}

void TestLocalSend::chatLineGoesAsTextMessage()
{
    Fixture f;
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 0);
    LocalSendPeer peer(kPhone, kPort, f.folder.path());
    QSignalSpy problems(&f.station, &Station::problem);
    f.station.sendChat(QStringLiteral("dinner at 8?"));
    QCOMPARE(peer.waitFor(QStringLiteral("message")), QStringLiteral("message dinner at 8?"));
    QCOMPARE(f.phone().certificate, peer.fingerprint);

    // Another device at the address is not told the line.
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 53318);
    LocalSendPeer other(kPhone, 53318, f.folder.path(), {}, QStringLiteral("other"));
    f.station.sendChat(QStringLiteral("secret"));
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, kWaitMs);
    QVERIFY(
        problems.at(0).at(0).toString().startsWith(QStringLiteral("(not delivered to Phone: ")));
    QVERIFY(other.told().filter(QStringLiteral("message")).isEmpty());
}

QTEST_GUILESS_MAIN(TestLocalSend)
#include "tst_localsend.moc"

void TestLocalSend::severalDevicesAtOnceAskNoPin()
{
    Fixture f;
    const QString tablet = QStringLiteral("127.0.30.3");
    f.station.addPerson(QStringLiteral("Tablet"), tablet);
    f.station.setPersonSpeaks(0, Speaks::LocalSend, 0);
    f.station.setPersonSpeaks(1, Speaks::LocalSend, 0);
    QTemporaryDir tabletFolder;
    LocalSendPeer phone(kPhone, kPort, f.folder.path());
    LocalSendPeer locked(tablet, kPort, tabletFolder.path(),
                         {QStringLiteral("--pin"), QStringLiteral("4321")});
    f.station.queue(f.makeFile(QStringLiteral("a.txt"), "hello"));
    QSignalSpy asked(&f.station, &Station::sendPinNeeded);
    QSignalSpy ends(&f.station, &Station::recipientRowFinished);
    QSignalSpy done(&f.station, &Station::recipientsFinished);
    f.station.sendQueueTo({{QStringLiteral("Phone"), kPhone}, {QStringLiteral("Tablet"), tablet}});
    QVERIFY(done.wait(kWaitMs) || !done.isEmpty());
    QCOMPARE(ends.size(), 2);
    for (const QList<QVariant>& end : std::as_const(ends)) {
        const auto who = end.at(0).value<Recipient>();
        const auto result = end.at(2).value<SendEnd>();
        QCOMPARE(result.outcome, who.address == kPhone ? SendOutcome::Sent : SendOutcome::NotSent);
    }
    QCOMPARE(readFile(f.got(QStringLiteral("a.txt"))), QByteArray("hello"));
    QVERIFY(phone.told().filter(QStringLiteral("prepare")).size() == 1);
    QVERIFY(asked.isEmpty());
}
