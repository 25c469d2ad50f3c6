#include "cli/console.h"
#include "cli/servecommand.h"
#include "platform/settingsstore.h"
#include "support/clirawpeer.h"
#include "support/clirun.h"
#include "support/enginefakes.h"
#include "support/testfiles.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kServer(QStringLiteral("127.0.0.133"));
const QHostAddress kAnna(QStringLiteral("127.0.0.134"));
const QHostAddress kStoppedServer(QStringLiteral("127.0.0.135"));
const QHostAddress kTakenServer(QStringLiteral("127.0.0.136"));
const QHostAddress kDamagedServer(QStringLiteral("127.0.0.137"));
const QHostAddress kFreshServer(QStringLiteral("127.0.33.1"));
const QHostAddress kManagedServer(QStringLiteral("127.0.33.2"));
const QHostAddress kAnnouncingServer(QStringLiteral("127.0.0.138"));
const QHostAddress kKilledServer(QStringLiteral("127.0.33.3"));
const QHostAddress kPipedServer(QStringLiteral("127.0.33.4"));
constexpr quint16 kChatPort = 1071;
constexpr int kWait = 10000;

QString a(const QHostAddress& address)
{
    return address.toString();
}

// Starts quillo serve on address with Anna in its address book; the server's home is
// also its save folder.
void startServer(CliRun& server, const QHostAddress& address)
{
    QVERIFY(server.storeSettings("[IPaddress0]\nName=Anna\nIPaddress=" + a(kAnna).toUtf8() + "\n"));
    server.start({"serve", "--bind", a(address), "--dir", server.home()});
}

// Starts server on address, and has Anna send the first 5 bytes of a file of 10 named
// name through peer, which stays connected.
void sendHalf(CliRun& server, const QHostAddress& address, CliRawPeer& peer, const QByteArray& name)
{
    startServer(server, address);
    QTRY_VERIFY_WITH_TIMEOUT(peer.connected(), kWait);
    peer.socket->write("FILENAME " + name + " #10\r\nhello");
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n5\n"), kWait);
}

} // namespace

class TestServe : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void announcesAsTheWindowDoes();
    void receivesAndPrintsEachEvent();
    void aSecondServerOnTheSamePortsRefusesToStart();
    void terminationKeepsThePartFile();
    void damagedSettingsAreKeptAsideFirst();
    void withoutASaveFolderItReceivesIntoDownloads();
    void aDownloadsFolderItCannotMakeIsAUsageError();
    void tellsTheServiceManagerOnceItReceives();
    void aPartLeftByAKilledServerIsTakenOverByTheResend();
    void anIdentityFileThatIsAPipeIsRefusedWithoutWaiting();
};

// The command itself, on a station whose clock moves only when the test moves it.
void TestServe::announcesAsTheWindowDoes()
{
    QUdpSocket anna;
    QVERIFY(anna.bind(kAnna, kChatPort));
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath(QStringLiteral("Quillo.conf")));
    ScriptedRandom random;
    FixedClock clock;
    Station station(settings, random, folder.path(), kAnnouncingServer, clock);
    station.addPerson(QStringLiteral("Anna"), a(kAnna));
    Console console;
    ServeCommand serve(station, folder.path() + QLatin1Char('/'), false, console);
    QCOMPARE(serve.start(), std::nullopt);
    clock.advance(Presence::kFirstAnnouncement - std::chrono::milliseconds(1));
    QTest::qWait(0);
    QVERIFY(!anna.hasPendingDatagrams());
    clock.advance(std::chrono::milliseconds(1));
    QTRY_VERIFY_WITH_TIMEOUT(anna.hasPendingDatagrams(), kWait);
    const QNetworkDatagram announcement = anna.receiveDatagram();
    QCOMPARE(announcement.data(), QByteArray("ONLINE"));
    QCOMPARE(announcement.senderAddress(), kAnnouncingServer);
    clock.advance(Presence::kAnnouncementPeriod);
    QTRY_VERIFY_WITH_TIMEOUT(anna.hasPendingDatagrams(), kWait);
    QCOMPARE(anna.receiveDatagram().data(), QByteArray("ONLINE"));
    serve.stop();
}

void TestServe::receivesAndPrintsEachEvent()
{
    QUdpSocket anna;
    QVERIFY(anna.bind(kAnna, kChatPort));
    CliRun server;
    startServer(server, kServer);

    CliRawPeer sender(kAnna, kServer);
    QTRY_VERIFY_WITH_TIMEOUT(sender.connected(), kWait);
    sender.socket->write("FILENAME a.txt #5\r\nhello");
    // and closes once the count says the file is whole, rather than leave it to the server.
    QTRY_COMPARE_WITH_TIMEOUT(sender.replies, QByteArray("OK\n5\n"), kWait);
    sender.socket->disconnectFromHost();
    const QString received = "received\t" + server.home() + "/a.txt\t5\t" + a(kAnna) + "\tplain\n";
    QTRY_COMPARE_WITH_TIMEOUT(server.output(), received, kWait);
    QCOMPARE(readFile(server.home() + "/a.txt"), QByteArray("hello"));

    // Control characters go, line breaks show as in the window: one line per datagram.
    anna.writeDatagram("ONLINE", kServer, kChatPort);
    anna.writeDatagram("hi\tthere\nsecond\u200f", kServer, kChatPort);
    const QString events =
        "online\tAnna\t" + a(kAnna) + "\nchat\tAnna\t" + a(kAnna) + "\thithere | second\n";
    QTRY_COMPARE_WITH_TIMEOUT(server.output(), received + events, kWait);
    QVERIFY(!server.hasEnded());
}

void TestServe::aSecondServerOnTheSamePortsRefusesToStart()
{
    CliRun first;
    startServer(first, kTakenServer);
    CliRawPeer probe(kAnna, kTakenServer);
    QTRY_VERIFY_WITH_TIMEOUT(probe.connected(), kWait);

    CliRun second;
    startServer(second, kTakenServer);
    QTRY_VERIFY_WITH_TIMEOUT(second.hasEnded(), kWait);
    QVERIFY(second.exitedNormally());
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.errors().contains("TCP port 1052"), qPrintable(second.errors()));
    QVERIFY(!first.hasEnded());
}

void TestServe::terminationKeepsThePartFile()
{
    CliRun server;
    CliRawPeer sender(kAnna, kStoppedServer);
    sendHalf(server, kStoppedServer, sender, "b.bin");
    QVERIFY(!QTest::currentTestFailed());

    server.process.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(server.hasEnded(), kWait);
    QVERIFY(server.exitedNormally());
    QCOMPARE(server.exitCode(), 0);
    QCOMPARE(readFile(server.home() + "/b.bin.part"), QByteArray("hello"));
    QVERIFY(!QFile::exists(server.home() + "/b.bin"));
    QVERIFY2(server.errors().contains("5 of 10 bytes kept in " + server.home() + "/b.bin.part"),
             qPrintable(server.errors()));
}

// The server writes its settings when waiting files go out: what it could not read must
// not be lost by that.
void TestServe::damagedSettingsAreKeptAsideFirst()
{
    CliRun server;
    const QByteArray damaged = "[IPaddress0]\nName=Anna\nIPaddress=127.0.0.134\nnot a setting\n";
    QVERIFY(server.storeSettings(damaged));
    server.start({"serve", "--bind", a(kDamagedServer), "--dir", server.home()});
    QTRY_VERIFY_WITH_TIMEOUT(server.errors().contains("the file as it was is kept in"), kWait);
    const QDir folder(server.home() + "/.config/Quillo");
    const QStringList copies = folder.entryList({QStringLiteral("Quillo.conf.damaged-*")});
    QCOMPARE(copies.size(), 1);
    QCOMPARE(readFile(folder.filePath(copies[0])), damaged);
    QVERIFY(!server.hasEnded());
}

// As a new user starts the service: no save folder chosen, no Downloads folder yet.
void TestServe::withoutASaveFolderItReceivesIntoDownloads()
{
    CliRun server;
    QVERIFY(server.storeSettings("[IPaddress0]\nName=Anna\nIPaddress=" + a(kAnna).toUtf8() + "\n"));
    server.start({"serve", "--bind", a(kFreshServer)});
    const QString ready = "quillo: receiving into ~/Downloads on TCP 1052 and 1053 (private), "
                          "announcing to 1 person\n";
    QTRY_VERIFY_WITH_TIMEOUT(server.errors().endsWith(ready), kWait);
    QCOMPARE(
        server.errors().count("no save folder is stored: receiving into the downloads folder " +
                              server.home() + "/Downloads"),
        1);
    CliRawPeer sender(kAnna, kFreshServer);
    QTRY_VERIFY_WITH_TIMEOUT(sender.connected(), kWait);
    sender.socket->write("FILENAME a.txt #5\r\nhello");
    // Closed at once, as a sender does, so that nothing waits for the receiver's grace.
    sender.socket->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(
        server.output().startsWith("received\t" + server.home() + "/Downloads/a.txt\t5\t"), kWait);
    QCOMPARE(readFile(server.home() + "/Downloads/a.txt"), QByteArray("hello"));
}

// Only a folder it cannot write ends the service for good (status 2, not restarted).
void TestServe::aDownloadsFolderItCannotMakeIsAUsageError()
{
    CliRun server;
    QFile blocker(server.home() + "/Downloads");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    server.start({"serve", "--bind", a(kFreshServer)});
    QTRY_VERIFY_WITH_TIMEOUT(server.hasEnded(), kWait);
    QVERIFY(server.exitedNormally());
    QCOMPARE(server.exitCode(), 2);
    QVERIFY2(server.errors().contains("the downloads folder " + server.home() +
                                      "/Downloads cannot be made"),
             qPrintable(server.errors()));
}

// The socket a service manager hands to a service of Type=notify, at path.
class NotifySocket
{
public:
    explicit NotifySocket(const QString& path) : fd_(::socket(AF_UNIX, SOCK_DGRAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool isBound() const { return bound_; }
    // What came since, without waiting.
    QByteArray read()
    {
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
        return got > 0 ? QByteArray(buffer, int(got)) : QByteArray();
    }

private:
    int fd_;
    bool bound_ = false;
};

// So that systemctl reports a start that failed: ready is told only once it receives.
void TestServe::tellsTheServiceManagerOnceItReceives()
{
    CliRun server;
    NotifySocket manager(server.runtimeFolder() + "/notify");
    QVERIFY(manager.isBound());
    QProcessEnvironment environment = server.process.processEnvironment();
    environment.insert("NOTIFY_SOCKET", server.runtimeFolder() + "/notify");
    server.process.setProcessEnvironment(environment);
    server.start({"serve", "--bind", a(kManagedServer), "--dir", server.home()});
    QByteArray told;
    // Read again and again until it comes; what came is kept.
    QTRY_VERIFY_WITH_TIMEOUT(!(told += manager.read()).isEmpty(), kWait);
    QCOMPARE(told, QByteArray("READY=1\nSTATUS=receiving into ~ on TCP 1052 and 1053 (private), "
                              "announcing to 0 people"));
}

// A part file of under a second's worth, its server killed at once: the index knew it. A
// small file under way at the same moment had no name yet, so it leaves nothing.
void TestServe::aPartLeftByAKilledServerIsTakenOverByTheResend()
{
    constexpr qint64 kLarge = 9 * 1024 * 1024; // named as a part file from its first byte
    const QByteArray header = "FILENAME big.bin #" + QByteArray::number(kLarge) + "\r\n";
    const QByteArray content = "hello" + QByteArray(kLarge - 5, 'z');
    CliRun server;
    startServer(server, kKilledServer);
    CliRawPeer cut(kAnna, kKilledServer);
    CliRawPeer small(kAnna, kKilledServer);
    QTRY_VERIFY_WITH_TIMEOUT(cut.connected() && small.connected(), kWait);
    cut.socket->write(header + content.left(5));
    small.socket->write("FILENAME small.bin #10\r\nhello");
    QTRY_COMPARE_WITH_TIMEOUT(cut.replies, QByteArray("OK\n5\n"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(small.replies, QByteArray("OK\n5\n"), kWait);
    ::kill(pid_t(server.process.processId()), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(server.hasEnded(), kWait);
    QCOMPARE(QDir(server.home()).entryList({"*.bin*"}, QDir::Files), QStringList{"big.bin.part"});
    QCOMPARE(readFile(server.home() + "/big.bin.part"), QByteArray("hello"));

    startServer(server, kKilledServer);
    CliRawPeer again(kAnna, kKilledServer);
    QTRY_VERIFY_WITH_TIMEOUT(again.connected(), kWait);
    again.socket->write(header + content);
    // Closed only once every answer is read: unread answers would reset the connection.
    QTRY_VERIFY_WITH_TIMEOUT(again.replies.endsWith("\n" + QByteArray::number(kLarge) + "\n"),
                             kWait);
    again.socket->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(server.output().contains("received\t" + server.home() + "/big.bin\t"),
                             kWait);
    QCOMPARE(QDir(server.home()).entryList({"big*"}, QDir::Files), QStringList{"big.bin"});
    QCOMPARE(readFile(server.home() + "/big.bin"), content);
}

// A pipe where the private key should be would hold the start for ever.
void TestServe::anIdentityFileThatIsAPipeIsRefusedWithoutWaiting()
{
    CliRun server;
    const QString folder = server.home() + "/.local/share/Quillo/Quillo";
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(::mkfifo(QFile::encodeName(folder + "/identity.pem"), 0600) == 0);
    startServer(server, kPipedServer);
    QTRY_VERIFY_WITH_TIMEOUT(server.errors().contains("receiving into"), kWait);
    QVERIFY2(server.errors().contains("/identity.pem is not a file of its own"),
             qPrintable(server.errors()));
}

QTEST_GUILESS_MAIN(TestServe)
#include "tst_serve.moc"
