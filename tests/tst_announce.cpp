#include "localsend/announcement.h"
#include "localsend/announcementlistener.h"
#include "platform/settingsstore.h"
#include "station/station.h"
#include "support/clirun.h"
#include "support/enginefakes.h"
#include "support/listening.h"
#include "support/localsendpeer.h"
#include "support/menuaction.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{

// Addresses of these tests' own: the side that hears announcements, three friends in its
// address book and a stranger.
const QHostAddress kHere(QStringLiteral("127.0.44.1"));
const QString kPhone = QStringLiteral("127.0.44.2");
const QString kLaptop = QStringLiteral("127.0.44.3");
const QString kTablet = QStringLiteral("127.0.44.4");
const QString kStranger = QStringLiteral("127.0.44.5");
constexpr quint16 kPort = 53317;
constexpr int kWaitMs = 20000;
const QString kAnswerAction = QStringLiteral("Answer LocalSend Devices In My Address Book");

// An announcement as a device sends it to the group, with extra fields added.
QByteArray announcement(quint16 port, bool asks = true, const QJsonObject& extra = {})
{
    QJsonObject object{{QStringLiteral("alias"), QStringLiteral("Friend's Phone")},
                       {QStringLiteral("version"), QStringLiteral("2.1")},
                       {QStringLiteral("deviceModel"), QStringLiteral("test")},
                       {QStringLiteral("deviceType"), QStringLiteral("mobile")},
                       {QStringLiteral("fingerprint"), QStringLiteral("their-fingerprint")},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("protocol"), QStringLiteral("https")},
                       {QStringLiteral("download"), false},
                       {QStringLiteral("announce"), asks}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Sends datagram from source to the announcement port at to.
void announceFrom(const QString& source, const QByteArray& datagram, const QHostAddress& to = kHere)
{
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress(source), 0));
    QCOMPARE(socket.writeDatagram(datagram, to, kPort), qint64(datagram.size()));
}

// A listener alone, with three friends in its book and a clock that stands still.
struct Listener {
    Listener()
    {
        book.append(QStringLiteral("Phone"), kPhone);
        book.append(QStringLiteral("Laptop"), kLaptop);
        book.append(QStringLiteral("Tablet"), kTablet);
        listener.setOwnInfo({QStringLiteral("Here"), QStringLiteral("desktop"),
                             QStringLiteral("own-fingerprint"), kPort});
    }
    AddressBook book;
    DeviceBook devices{book};
    FixedClock clock;
    AnnouncementListener listener{book, devices, clock};
};

// A station with the phone in its address book, as stored in its settings.
struct StationFixture {
    explicit StationFixture(const QHostAddress& address = kHere, const QByteArray& certificate = {})
        : station(settings, random, folder.path(), address, clock)
    {
        AddressBook book;
        book.append(QStringLiteral("Phone"), kPhone);
        book.setCertificate(0, certificate);
        book.store(settings);
        station.load();
    }
    const AddressBookEntry& phone() const { return station.addressBook().entry(0); }

    QTemporaryDir folder;
    SettingsStore settings{folder.filePath(QStringLiteral("Quillo.conf"))};
    ScriptedRandom random;
    FixedClock clock;
    Station station;
};

} // namespace

class TestAnnounce : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void announcementsAreReadWithinTheirCap();
    void aFriendGetsARegisterWithOurInfo();
    void strangersAndBadDatagramsGetNothing();
    void aFloodIsAnsweredOncePerInterval();
    void anotherCertificateGetsNothing();
    void theOptionTurnsItOffAndIsKept();
    void theWindowOffersTheOption();
    void aTakenPortIsToldOnce();
    void serveAnswersAFriend();
};

void TestAnnounce::announcementsAreReadWithinTheirCap()
{
    const std::optional<Announcement> read = readAnnouncement(announcement(53318));
    QVERIFY(read);
    QCOMPARE(read->device.alias, QStringLiteral("Friend's Phone"));
    QCOMPARE(read->device.port, quint16(53318));
    QVERIFY(read->asksForAnswer);
    QVERIFY(read->https);
    // The first version's name for it, an answer, and a device without encryption.
    QVERIFY(readAnnouncement(announcement(1, false, {{QStringLiteral("announcement"), true}}))
                ->asksForAnswer);
    QVERIFY(!readAnnouncement(announcement(1, false))->asksForAnswer);
    QVERIFY(
        !readAnnouncement(announcement(1, true, {{QStringLiteral("protocol"), "http"}}))->https);
    // One byte over the cap, though whole and well formed.
    QByteArray longest = announcement(1, true, {{QStringLiteral("deviceModel"), QString()}});
    const QString padding(kMaxAnnouncementBytes - longest.size(), QLatin1Char('x'));
    longest = announcement(1, true, {{QStringLiteral("deviceModel"), padding}});
    QCOMPARE(longest.size(), kMaxAnnouncementBytes);
    QVERIFY(readAnnouncement(longest));
    QVERIFY(!readAnnouncement(
        announcement(1, true, {{QStringLiteral("deviceModel"), padding + QLatin1Char('x')}})));
    QVERIFY(!readAnnouncement("not json"));
    QVERIFY(!readAnnouncement("[1,2]"));
    QVERIFY(!readAnnouncement(announcement(1, true, {{QStringLiteral("alias"), 7}})));
}

// The friend's device lists this computer, and the entry learns what it is.
void TestAnnounce::aFriendGetsARegisterWithOurInfo()
{
    StationFixture f;
    LocalSendPeer peer(kPhone, kPort, f.folder.path());
    f.station.hearAnnouncements();
    announceFrom(kPhone, announcement(kPort));
    QCOMPARE(peer.waitFor(QStringLiteral("register")),
             QStringLiteral("register 53317 https ") + QSysInfo::machineHostName());
    QTRY_COMPARE_WITH_TIMEOUT(f.phone().speaks, Speaks::LocalSend, kWaitMs);
    QCOMPARE(f.phone().deviceType, QStringLiteral("mobile"));
    QCOMPARE(f.phone().certificate, peer.fingerprint);
}

// Datagrams are taken in the order they came: had any before the last been answered,
// its register would come first, or the last would not be answered within the interval.
void TestAnnounce::strangersAndBadDatagramsGetNothing()
{
    Listener f;
    QVERIFY(!f.listener.listen(kHere));
    QSignalSpy answering(&f.listener, &AnnouncementListener::answering);
    announceFrom(kStranger, announcement(1001));
    const QString padding(kMaxAnnouncementBytes, QLatin1Char('x'));
    announceFrom(kPhone, announcement(1002, true, {{QStringLiteral("deviceModel"), padding}}));
    announceFrom(kPhone, "not json");
    announceFrom(kPhone, announcement(1003).left(40));
    announceFrom(kPhone, announcement(1004, false));
    announceFrom(kPhone, announcement(1005, true, {{QStringLiteral("protocol"), "http"}}));
    announceFrom(kPhone,
                 announcement(1006, true, {{QStringLiteral("fingerprint"), "own-fingerprint"}}));
    announceFrom(kPhone, announcement(1007));
    QTRY_COMPARE_WITH_TIMEOUT(answering.size(), 1, kWaitMs);
    QCOMPARE(answering.at(0).at(0).toString(), kPhone);
    QCOMPARE(answering.at(0).at(1).value<quint16>(), quint16(1007));
}

// Nothing listens on the ports announced: each register fails at once.
void TestAnnounce::aFloodIsAnsweredOncePerInterval()
{
    Listener f;
    QVERIFY(!f.listener.listen(kHere));
    QSignalSpy answering(&f.listener, &AnnouncementListener::answering);
    QSignalSpy answered(&f.listener, &AnnouncementListener::answered);
    for (int k = 0; k < 50; ++k)
        announceFrom(kPhone, announcement(quint16(1100 + k)));
    announceFrom(kLaptop, announcement(1200));
    QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, kWaitMs);
    QCOMPARE(answering.size(), 2);
    QCOMPARE(answering.at(0).at(1).value<quint16>(), quint16(1100));
    QCOMPARE(answering.at(1).at(0).toString(), kLaptop);
    QVERIFY(!answered.at(0).at(1).toString().isEmpty());

    f.clock.advance(AnnouncementListener::kAnswerInterval - std::chrono::milliseconds(1));
    announceFrom(kPhone, announcement(1300));
    announceFrom(kTablet, announcement(1400));
    QTRY_COMPARE_WITH_TIMEOUT(answering.size(), 3, kWaitMs);
    QCOMPARE(answering.at(2).at(0).toString(), kTablet);

    f.clock.advance(std::chrono::milliseconds(1));
    announceFrom(kPhone, announcement(1500));
    QTRY_COMPARE_WITH_TIMEOUT(answering.size(), 4, kWaitMs);
    QCOMPARE(answering.at(3).at(0).toString(), kPhone);
    QCOMPARE(answering.at(3).at(1).value<quint16>(), quint16(1500));
}

// Whoever announces from the phone's address with another certificate is sent nothing,
// and the person is told as of a changed key.
void TestAnnounce::anotherCertificateGetsNothing()
{
    const QByteArray pinned(32, '\x5a');
    StationFixture f(kHere, pinned);
    LocalSendPeer other(kPhone, kPort, f.folder.path(), {}, QStringLiteral("other"));
    QSignalSpy problems(&f.station, &Station::problem);
    f.station.hearAnnouncements();
    announceFrom(kPhone, announcement(kPort));
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, kWaitMs);
    QCOMPARE(problems.at(0).at(0).toString(),
             keyNotShownMessage(QStringLiteral("Phone"), kPhone) +
                 QStringLiteral(" Its LocalSend announcement was not answered."));
    QVERIFY(!other.told().join(QLatin1Char('\n')).contains(QStringLiteral("register")));
    QCOMPARE(f.phone().certificate, pinned);
    QCOMPARE(f.phone().speaks, Speaks::Unknown);
}

// Off, the port is not even taken; the choice is kept, absent meaning on.
void TestAnnounce::theOptionTurnsItOffAndIsKept()
{
    StationFixture f;
    QVERIFY(f.station.answersLocalSend());
    QVERIFY(!isBoundUdp(kHere, kPort));
    f.station.hearAnnouncements();
    QVERIFY(isBoundUdp(kHere, kPort));
    f.station.setAnswerLocalSend(false, true);
    QVERIFY(!isBoundUdp(kHere, kPort));
    QCOMPARE(f.settings.read(QStringLiteral("Settings"), QStringLiteral("AnswerLocalSend"), {}),
             QStringLiteral("false"));

    SettingsStore stored(f.settings.fileName());
    Station next(stored, f.random, f.folder.path(), kHere, f.clock);
    next.load();
    QVERIFY(!next.answersLocalSend());
    next.hearAnnouncements();
    QVERIFY(!isBoundUdp(kHere, kPort));
    next.setAnswerLocalSend(true, false);
    QVERIFY(isBoundUdp(kHere, kPort));
    QVERIFY(next.stop());
    QVERIFY(!isBoundUdp(kHere, kPort));
}

void TestAnnounce::theWindowOffersTheOption()
{
    const QHostAddress address(QStringLiteral("127.0.44.6"));
    TestPlatform platform;
    platform.startWith(QStringLiteral("Phone"), QHostAddress(kPhone));
    Main window(platform.platform(), address);
    QVERIFY(window.Form_Load());
    QVERIFY(isBoundUdp(address, kPort));
    QAction* answer = menuAction(*window.ui().LABrecieveStatus, kAnswerAction);
    QVERIFY(answer);
    QVERIFY(answer->isCheckable());
    QVERIFY(answer->isChecked());
    answer->trigger();
    QVERIFY(!isBoundUdp(address, kPort));
    platform.reopenSettings();
    QCOMPARE(
        platform.settings().read(QStringLiteral("Settings"), QStringLiteral("AnswerLocalSend"), {}),
        QStringLiteral("false"));
}

// Another program holds the port alone: said once, and everything else goes on.
void TestAnnounce::aTakenPortIsToldOnce()
{
    const QHostAddress address(QStringLiteral("127.0.44.7"));
    QUdpSocket holder;
    QVERIFY(holder.bind(address, kPort, QUdpSocket::DontShareAddress));
    StationFixture f(address);
    QSignalSpy problems(&f.station, &Station::problem);
    f.station.hearAnnouncements();
    QCOMPARE(problems.size(), 1);
    QVERIFY(problems.at(0).at(0).toString().startsWith(
        QStringLiteral("Cannot hear LocalSend devices announce themselves on UDP port 53317")));
    f.station.setAnswerLocalSend(false, false);
    f.station.setAnswerLocalSend(true, false);
    QCOMPARE(problems.size(), 1);
    QVERIFY(!f.station.listen());
}

void TestAnnounce::serveAnswersAFriend()
{
    const QString address = QStringLiteral("127.0.44.8");
    CliRun run;
    QTemporaryDir folder;
    QVERIFY(run.storeSettings(
        QStringLiteral("[IPaddress0]\nName=Phone\nIPaddress=%1\n").arg(kLaptop).toUtf8()));
    LocalSendPeer peer(kLaptop, kPort, folder.path());
    run.start({QStringLiteral("serve"), QStringLiteral("--bind"), address, QStringLiteral("--dir"),
               folder.path()});
    QTRY_VERIFY_WITH_TIMEOUT(run.errors().contains(QStringLiteral("announcing to")), kWaitMs);
    announceFrom(kLaptop, announcement(kPort), QHostAddress(address));
    QVERIFY(peer.waitFor(QStringLiteral("register")).startsWith(QStringLiteral("register 53317")));
}

QTEST_MAIN(TestAnnounce)
#include "tst_announce.moc"
