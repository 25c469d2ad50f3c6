#include "addressbook/addressbook.h"
#include "cli/commandline.h"
#include "cli/console.h"
#include "cli/onlinecommand.h"
#include "cli/outputlines.h"
#include "cli/peerlookup.h"
#include "cli/sendcommand.h"
#include "cli/whenonlinecommand.h"
#include "identity/safetycode.h"
#include "platform/randomsource.h"
#include "platform/settingsstore.h"
#include "secure/privatemessage.h"
#include "station/station.h"
#include "support/clirawpeer.h"
#include "support/clirun.h"
#include "support/enginefakes.h"
#include "support/listening.h"
#include "support/privatereceiver.h"
#include "support/rawreceiver.h"
#include "support/testfiles.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kReceiver(QStringLiteral("127.0.0.60"));
const QHostAddress kSender(QStringLiteral("127.0.0.61"));
const QHostAddress kNobody(QStringLiteral("127.0.0.62"));
const QHostAddress kRawReceiver(QStringLiteral("127.0.0.63"));
const QHostAddress kRawPeer(QStringLiteral("127.0.0.64"));
const QHostAddress kTakenPort(QStringLiteral("127.0.0.65"));
const QHostAddress kStoppedReceiver(QStringLiteral("127.0.0.66"));
const QHostAddress kChatPeer(QStringLiteral("127.0.0.67"));
const QHostAddress kChatSender(QStringLiteral("127.0.0.68"));
const QHostAddress kListener(QStringLiteral("127.0.0.69"));
const QHostAddress kLateReceiver(QStringLiteral("127.0.0.90"));
const QHostAddress kPatientSender(QStringLiteral("127.0.0.91"));
const QHostAddress kStranger(QStringLiteral("127.0.0.92"));
const QHostAddress kOnlineAnna(QStringLiteral("127.0.0.93"));
const QHostAddress kLooker(QStringLiteral("127.0.0.95"));
const QHostAddress kLimitedReceiver(QStringLiteral("127.0.0.99"));
const QHostAddress kChoosyReceiver(QStringLiteral("127.0.0.96"));
const QHostAddress kOnceReceiver(QStringLiteral("127.0.0.97"));
const QHostAddress kSecondPeer(QStringLiteral("127.0.0.98"));
const QHostAddress kPlainSender(QStringLiteral("127.0.5.60"));
const QHostAddress kHumanListener(QStringLiteral("127.0.32.1"));
const QHostAddress kPrivateListener(QStringLiteral("127.0.32.2"));
const QHostAddress kPrivateChatter(QStringLiteral("127.0.32.3"));
const QHostAddress kFileOfferer(QStringLiteral("127.0.32.4"));
constexpr quint16 kChatPort = 1071;
// Long enough for the sender's three seconds of retries after a refusal.
constexpr int kWait = 10000;

const QByteArray kAnnaAt68 = "[IPaddress0]\nName=Bob\nIPaddress=127.0.0.1\n"
                             "[IPaddress1]\nName=Anna\nIPaddress=127.0.0.68\n";

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// What print() writes to the file descriptor fd.
QByteArray printedBy(int fd, const std::function<void()>& print)
{
    QTemporaryFile file;
    if (!file.open())
        return "<no file>";
    std::fflush(nullptr);
    const int saved = ::dup(fd);
    ::dup2(file.handle(), fd);
    print();
    std::fflush(nullptr);
    ::dup2(saved, fd);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

QString a(const QHostAddress& address)
{
    return address.toString();
}

// What run() prints on standard output and on standard error.
struct Printed {
    QByteArray output;
    QByteArray errors;
};

Printed printedBy(const std::function<void()>& run)
{
    Printed printed;
    printed.output =
        printedBy(STDOUT_FILENO, [&] { printed.errors = printedBy(STDERR_FILENO, run); });
    return printed;
}

// A command's station in this process, with settings and data of its own and a clock
// that moves only when the test moves it, as runOnStation() sets it up.
struct CommandStation {
    explicit CommandStation(const QHostAddress& address)
        : address(address), station(settings, random, folder.path(), address, clock)
    {
        station.makeShortLived();
        station.load();
    }
    const AddressBook& book() const { return station.addressBook(); }
    // Runs the event loop until done(), moving the clock through each wait before a try
    // again as it is asked for, up to longest, but never through a wait for a connection
    // or an answer: the peer's answer ends those.
    bool runTries(const std::function<bool()>& done,
                  std::chrono::milliseconds longest = PlainSender::kLongestRetryWait)
    {
        QTimer guard; // wakes the loop at the latest when the test has waited long enough
        guard.setSingleShot(true);
        guard.start(kWait);
        while (!done()) {
            if (!guard.isActive())
                return false;
            if (const auto next = clock.nextAlarm(); next && *next <= longest) {
                clock.advance(*next);
                QCoreApplication::processEvents();
            } else {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        return true;
    }

    QHostAddress address;
    QTemporaryDir folder;
    SettingsStore settings{folder.filePath(QStringLiteral("Quillo.conf"))};
    ScriptedRandom random;
    FixedClock clock;
    Station station;
    Console console;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesIntoPlainValues();
    void looksUpPeersAndFormatsLines();
    void hostNotFoundComesFromTheTypedEnd();
    void theConsolePrintsOneLineAtATime();
    void usageErrorsEndWithStatusTwo_data();
    void usageErrorsEndWithStatusTwo();
    void helpAndVersion();
    void sendsAndReceivesByteForByte();
    void sendReportsEveryFileNotDelivered();
    void sendTakesAFolderAsOneItem();
    void sendRetriesThroughTheWaitingFiles();
    void aReceiversTextsArePrintedPlain();
    void unknownPeerIsExplained();
    void receiveOnceWaitsForAConnectionWithAFile();
    void receiveOnceTellsOfEveryFile();
    void receiveRefusesToStart_data();
    void receiveRefusesToStart();
    void fileSizeLimitIsASaveFailure();
    void terminationKeepsThePartFile_data();
    void terminationKeepsThePartFile();
    void receiveHonoursTheStoredChoiceOfSenders();
    void chatSendsTheExactBytes();
    void listenPrintsServesLinesOrWords();
    void listenHearsPrivateChatAndRefusesFiles();
    void sendWhenOnlineWaitsForItsPeerOnly();
    void onlinePrintsEveryEntrysState();
    void keyPrintsSafetyCodesAndForgetForgets();
    void keysGoOnlyIntoSettingsReadWholeOrKeptAside();
    void aKeyFileOthersMayReadIsRefusedOnceAndSendingGoesOn();
};

void TestCli::parsesIntoPlainValues()
{
    const auto send = parseCommandLine(
        {"quillo", "send", "--to", "Anna", "--bind", "127.0.0.9", "a.txt", "b c.txt"});
    QVERIFY(std::holds_alternative<CommandLine>(send));
    const CommandLine& line = std::get<CommandLine>(send);
    QCOMPARE(line.action, CommandLine::Action::Send);
    QCOMPARE(line.to, QStringLiteral("Anna"));
    QCOMPARE(line.bindAddress, QHostAddress(QStringLiteral("127.0.0.9")));
    QCOMPARE(line.files, QStringList({"a.txt", "b c.txt"}));
    QCOMPARE(line.retrySeconds, 0);
    const auto retry = parseCommandLine({"quillo", "send", "--to", "Anna", "--retry", "30", "a"});
    QCOMPARE(std::get<CommandLine>(retry).retrySeconds, 30);

    const auto receive = parseCommandLine({"quillo", "receive", "--once", "--dir", "d"});
    QVERIFY(std::holds_alternative<CommandLine>(receive));
    QCOMPARE(std::get<CommandLine>(receive).folder, QStringLiteral("d"));
    QVERIFY(std::get<CommandLine>(receive).once);
    QCOMPARE(std::get<CommandLine>(receive).bindAddress, QHostAddress(QHostAddress::Any));

    const auto chat = parseCommandLine({"quillo", "chat", "--to", "x", "--", "-1 # two"});
    QVERIFY(std::holds_alternative<CommandLine>(chat));
    QCOMPARE(std::get<CommandLine>(chat).text, QStringLiteral("-1 # two"));

    const auto help = parseCommandLine({"quillo", "send", "--help"});
    QVERIFY(std::holds_alternative<CommandLine>(help));
    QCOMPARE(std::get<CommandLine>(help).action, CommandLine::Action::Help);
    QCOMPARE(std::get<CommandLine>(help).helpTopic, QStringLiteral("send"));

    const auto window = parseCommandLine({"quillo"});
    QCOMPARE(std::get<CommandLine>(window).action, CommandLine::Action::Window);
}

void TestCli::looksUpPeersAndFormatsLines()
{
    AddressBook book;
    book.append("Anna", "10.0.0.1");
    book.append("Anna", "10.0.0.2");
    QCOMPARE(lookUpPeer(book, "Anna").host, QStringLiteral("10.0.0.1"));
    QVERIFY(lookUpPeer(book, "Anna").inBook);
    QCOMPARE(lookUpPeer(book, "anna").host, QStringLiteral("anna")); // names are exact
    QVERIFY(!lookUpPeer(book, "anna").inBook);

    ReceiveEnd end{1, ReceiveEnd::Outcome::Saved, "10.0.0.3", "/d/a b.txt", 5, 5, {}, {}, false, {},
                   {}};
    QCOMPARE(receivedLine(end), QStringLiteral("received\t/d/a b.txt\t5\t10.0.0.3\tplain"));
    end.unverifiedName = QStringLiteral("Anna (unverified)"); // a keyed friend's address
    QCOMPARE(receivedLine(end),
             QStringLiteral("received\t/d/a b.txt\t5\tAnna (unverified)\tplain"));
    end.unverifiedName.clear();
    end.isPrivate = true;
    QCOMPARE(receivedLine(end), QStringLiteral("received\t/d/a b.txt\t5\t10.0.0.3\tprivate"));
    QCOMPARE(sentLine("x/a.txt", 0, "10.0.0.1", false),
             QStringLiteral("sent\tx/a.txt\t0\t10.0.0.1\tplain"));
    QCOMPARE(sentLine("x/a.txt", 7, "10.0.0.1", true),
             QStringLiteral("sent\tx/a.txt\t7\t10.0.0.1\tprivate"));
    end = {2,
           ReceiveEnd::Outcome::Incomplete,
           "10.0.0.3",
           "/d/a.part",
           9,
           4,
           ReceiveReason::of(ReceiveReason::Code::Closed),
           {},
           false,
           {}};
    QCOMPARE(receiveProblem(end),
             QStringLiteral("from 10.0.0.3: Disconnected; 4 of 9 bytes kept in /d/a.part"));

    // A field holds no tab and no line break of its own, whatever it is made of.
    end.path = "/d/a\tb\nsent\tc";
    QCOMPARE(receivedLine(end).split('\t').size(), 5);
    QCOMPARE(chatLine("An\tna\r\n", "10.0.0.1", QStringLiteral("hi\tyou\u2028there\U000E0041")),
             QStringLiteral("chat\tAnna | \t10.0.0.1\thiyou | there"));
    SendEnd refused;
    refused.status = SendStatus::notSent(NotSentReason::Refused, "full\r\nsent\tb: \x1b[1m");
    refused.path = "a.txt";
    refused.address = "10.0.0.1";
    QCOMPARE(sendProblem(refused),
             QStringLiteral("a.txt not sent to 10.0.0.1: Not sent: full | sentb: [1m"));
}

// Only a host name that could not be looked up is told as one; words that read like its
// error, from a receiver, are not.
void TestCli::hostNotFoundComesFromTheTypedEnd()
{
    SendEnd end;
    end.outcome = SendOutcome::Failed;
    end.path = "a.txt";
    end.address = "nosuch.invalid";
    end.status = SendStatus::fromSocketError(QAbstractSocket::HostNotFoundError, "Host not found");
    QVERIFY(hostNotFound(end));
    QCOMPARE(sendProblem(end),
             QStringLiteral("a.txt not sent to nosuch.invalid: Error 11001: Host not found"));

    end.status =
        SendStatus::fromSocketError(QAbstractSocket::ConnectionRefusedError, "Error 11001");
    QVERIFY(!hostNotFound(end));
    end.outcome = SendOutcome::NotSent;
    end.status = SendStatus::notSent(NotSentReason::Refused, "Error 11001");
    QVERIFY(!hostNotFound(end));
    end.status.stage = SendStatus::Stage::SendingAgain;
    end.status.told = "Error 11001";
    QVERIFY(!hostNotFound(end));
}

// Whatever a line is made of, it stays one line, with no tabs but those between fields.
void TestCli::theConsolePrintsOneLineAtATime()
{
    Console console;
    QCOMPARE(printedBy(STDOUT_FILENO, [&] { console.printLine("sent\ta\x1b[1m\nb\tc\r"); }),
             QByteArray("sent\ta[1m | b\tc | \n"));
    QCOMPARE(printedBy(STDERR_FILENO,
                       [&] { console.printProblem(QStringLiteral("no\tway\u202E\x07\nout")); }),
             QByteArray("quillo: noway | out\n"));
}

void TestCli::usageErrorsEndWithStatusTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown subcommand") << QStringList{"frob"} << "unknown subcommand 'frob'";
    QTest::newRow("unknown option") << QStringList{"receive", "--to", "x"} << "Unknown option";
    QTest::newRow("no --to") << QStringList{"send", "a.txt"} << "--to NAME|ADDRESS is required";
    QTest::newRow("no files") << QStringList{"send", "--to", "x"} << "no files to send";
    QTest::newRow("bad --bind") << QStringList{"listen", "--bind", "x"} << "--bind needs";
    QTest::newRow("no save folder") << QStringList{"receive"} << "no save folder is stored";
    QTest::newRow("--timeout alone")
        << QStringList{"send", "--to", "x", "--timeout", "5", "a"} << "goes with --when-online";
    QTest::newRow("negative --retry")
        << QStringList{"send", "--to", "x", "--retry", "-1", "a"} << "--retry needs";
    QTest::newRow("--retry not a number")
        << QStringList{"send", "--to", "x", "--retry", "soon", "a"} << "--retry needs";
    QTest::newRow("bad --wait") << QStringList{"online", "--wait", "0"} << "--wait needs";
    QTest::newRow("--when-online to a host name")
        << QStringList{"send", "--when-online", "--to", "host.invalid", "a"} << "an IP address";
    QTest::newRow("key of an unknown name")
        << QStringList{"key", "Nobody"} << "'Nobody' is not a name in the address book";
    QTest::newRow("forget an unknown name")
        << QStringList{"forget", "Nobody"} << "'Nobody' is not a name in the address book";
    QTest::newRow("forget without a name") << QStringList{"forget"} << "exactly one name";
    QTest::newRow("key of two names") << QStringList{"key", "a", "b"} << "at most one name";
    QTest::newRow("key --bind") << QStringList{"key", "--bind", "127.0.5.1"} << "Unknown option";
    QTest::newRow("--dir not a folder")
        << QStringList{"receive", "--dir", "/nonexistent/x"} << "is not an existing folder";
}

void TestCli::usageErrorsEndWithStatusTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    CliRun run;
    run.start(arguments);
    QTRY_VERIFY_WITH_TIMEOUT(run.hasEnded(), kWait);
    QVERIFY(run.exitedNormally());
    QCOMPARE(run.exitCode(), 2);
    QCOMPARE(run.errors().count(QLatin1Char('\n')), 1);
    QVERIFY2(run.errors().startsWith("quillo: ") && run.errors().contains(message),
             qPrintable(run.errors()));
    QCOMPARE(run.output(), QString());
}

void TestCli::helpAndVersion()
{
    CliRun help;
    help.start({"--help"});
    CliRun version;
    version.start({"--version"});
    QTRY_VERIFY_WITH_TIMEOUT(help.hasEnded() && version.hasEnded(), kWait);
    QCOMPARE(help.exitCode(), 0);
    for (const char* word :
         {"receive", "send", "chat", "listen", "online", "--bind", "Exit status"})
        QVERIFY2(help.output().contains(word), word);
    QCOMPARE(version.exitCode(), 0);
    QCOMPARE(version.output(), QStringLiteral("quillo 1.0\n"));
}

void TestCli::sendsAndReceivesByteForByte()
{
    CliRun receiver;
    const QString folder = receiver.home() + "/in";
    QVERIFY(QDir().mkpath(folder));
    receiver.start({"receive", "--bind", a(kReceiver), "--dir", folder});

    CliRun sender;
    const QByteArray big = randomBytes(3 * 1024 * 1024 + 17);
    const QString bigPath = sender.home() + "/big.bin";
    const QString smallPath = sender.home() + "/small file.txt";
    QVERIFY(writeFile(bigPath, big));
    QVERIFY(writeFile(smallPath, "hello"));
    // Once the receiver speaks privately, the files go privately.
    QTRY_VERIFY_WITH_TIMEOUT(isListening(QHostAddress(a(kReceiver)), kPrivatePort), kWait);
    sender.start({"send", "--bind", a(kSender), "--to", a(kReceiver), bigPath, smallPath});
    QTRY_VERIFY_WITH_TIMEOUT(sender.hasEnded(), kWait);
    QCOMPARE(sender.errors(), QString());
    QCOMPARE(sender.output(),
             QStringLiteral("sent\t%1\t%2\t127.0.0.60\tprivate\nsent\t%3\t5\t127.0.0.60\tprivate\n")
                 .arg(bigPath, QString::number(big.size()), smallPath));
    QCOMPARE(sender.exitCode(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(receiver.output().count('\n'), 2, kWait);
    receiver.process.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasEnded(), kWait);
    QVERIFY(receiver.exitedNormally());
    QCOMPARE(receiver.exitCode(), 0);
    QCOMPARE(receiver.output(),
             QStringLiteral("received\t%1/big.bin\t%2\t127.0.0.61\tprivate\n"
                            "received\t%1/small file.txt\t5\t127.0.0.61\tprivate\n")
                 .arg(folder, QString::number(big.size())));
    // Ready, where and how: on standard error, for the person at the terminal.
    QCOMPARE(receiver.errors(),
             QStringLiteral("quillo: receiving into ~/in on TCP 1052 and 1053 (private)\n"));
    QVERIFY(readFile(folder + "/big.bin") == big);
    QCOMPARE(readFile(folder + "/small file.txt"), QByteArray("hello"));
}

void TestCli::sendReportsEveryFileNotDelivered()
{
    // The command in this process: its refused file is tried again on a clock of its own.
    CommandStation local(kSender);
    QVERIFY(!local.station.openIdentity());
    const QString present = local.folder.filePath("a.txt");
    const QString missing = local.folder.filePath("missing.txt");
    QVERIFY(writeFile(present, "hello"));
    SendCommand send(local.station, lookUpPeer(local.book(), a(kNobody)), a(kNobody),
                     {missing, present}, local.console, local.clock);
    QSignalSpy finished(&send, &Command::finished);
    const Printed printed = printedBy([&] {
        if (!send.start())
            local.runTries([&finished] { return !finished.isEmpty(); });
    });
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 1);
    QCOMPARE(printed.output, QByteArray());
    const QStringList lines =
        QString::fromLocal8Bit(printed.errors).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), "quillo: " + missing + " not sent: it is not an existing file");
    QVERIFY2(lines.at(1).startsWith("quillo: " + present + " not sent to 127.0.0.62: Error 10061"),
             qPrintable(lines.at(1)));
}

// Each file of the folder is told with its own path; a receiver that takes files only gets
// them loose, and that is told once.
void TestCli::sendTakesAFolderAsOneItem()
{
    const QHostAddress peer(QStringLiteral("127.0.9.10"));
    CliRun sender;
    const QString trip = sender.home() + "/Trip";
    QVERIFY(QDir().mkpath(trip + "/day 1"));
    QVERIFY(writeFile(trip + "/a.txt", "top"));
    QVERIFY(writeFile(trip + "/day 1/a.txt", "inner"));
    const QString sent = QStringLiteral("sent\t%1/a.txt\t3\t127.0.9.10\tprivate\n"
                                        "sent\t%1/day 1/a.txt\t5\t127.0.9.10\tprivate\n")
                             .arg(trip);
    for (const quint32 features : {kFeatureFolders, quint32(0)}) {
        PrivateReceiver receiver;
        receiver.features = features;
        QVERIFY(receiver.start(peer));
        CliRun run;
        run.start({"send", "--bind", "127.0.9.11", "--to", peer.toString(), trip});
        QTRY_VERIFY_WITH_TIMEOUT(run.hasEnded(), kWait);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(run.output(), sent);
        QCOMPARE(receiver.connections, 1);
        QCOMPARE(receiver.files.size(), 2);
        QCOMPARE(receiver.files[1].name,
                 features ? QByteArray("Trip/day 1/a.txt") : QByteArray("a.txt"));
        QCOMPARE(run.errors(),
                 features ? QString()
                          : QStringLiteral("quillo: 127.0.9.10's copy takes files only: the "
                                           "folder's files arrive loose\n"));
    }
}

// Files whose connection failed or broke off wait for their person, tried again until the
// time is up, and go on from where they stopped; nothing of them is left in the settings.
void TestCli::sendRetriesThroughTheWaitingFiles()
{
    const QHostAddress peer(QStringLiteral("127.0.9.50"));
    const QString tryingAgain = QStringLiteral(" (trying again for up to 30 seconds)\n");
    const QByteArray content = randomBytes(1024 * 1024);

    // Cut off privately: the rest of the file follows, on a connection of its own.
    PrivateReceiver receiver;
    receiver.features = kFeatureResume;
    receiver.cuts = 1;
    QVERIFY(receiver.start(peer));
    CommandStation cut(QHostAddress(QStringLiteral("127.0.9.51")));
    QVERIFY(!cut.station.openIdentity());
    const QString path = cut.folder.filePath("big.bin");
    QVERIFY(writeFile(path, content));
    {
        SendCommand send(cut.station, lookUpPeer(cut.book(), a(peer)), a(peer), {path}, cut.console,
                         cut.clock);
        send.setRetry(30);
        QSignalSpy finished(&send, &Command::finished);
        // Its tries again may come as soon as the command asks for them.
        const Printed printed = printedBy([&] {
            if (!send.start())
                cut.runTries([&finished] { return !finished.isEmpty(); }, SendCommand::kRetryWait);
        });
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toInt(), 0);
        QCOMPARE(QString::fromLocal8Bit(printed.output),
                 QStringLiteral("sent\t%1\t1048576\t127.0.9.50\tprivate\n").arg(path));
        const QString errors = QString::fromLocal8Bit(printed.errors);
        QVERIFY2(errors.startsWith("quillo: " + path + " not sent to 127.0.9.50: ") &&
                     errors.endsWith(tryingAgain) && errors.count('\n') == 1,
                 qPrintable(errors));
        QCOMPARE(receiver.connections, 2);
        QCOMPARE(receiver.files.size(), 2);
        QVERIFY(receiver.files[0].content + receiver.files[1].content == content);
        QVERIFY(!readFile(cut.settings.fileName()).contains("Waiting"));
    }

    // Refused until the receiver is there: the file goes once it is. The command in this
    // process, on a clock of its own.
    const QHostAddress late(QStringLiteral("127.0.9.52"));
    CommandStation refused(QHostAddress(QStringLiteral("127.0.9.53")));
    QVERIFY(!refused.station.openIdentity());
    refused.station.addPerson(QStringLiteral("Late"), a(late));
    SendCommand send(refused.station, lookUpPeer(refused.book(), "Late"), "Late", {path},
                     refused.console, refused.clock);
    send.setRetry(30);
    QSignalSpy finished(&send, &Command::finished);
    QSignalSpy attempts(&refused.station, &Station::batchFinished);
    PrivateReceiver lateReceiver;
    const Printed printed = printedBy([&] {
        if (send.start() || !refused.runTries([&attempts] { return !attempts.isEmpty(); }) ||
            !lateReceiver.start(late))
            return;
        refused.clock.advance(SendCommand::kRetryWait);
        refused.runTries([&finished] { return !finished.isEmpty(); });
    });
    QVERIFY2(printed.errors.endsWith(tryingAgain.toLocal8Bit()), printed.errors.constData());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toInt(), 0);
    QCOMPARE(QString::fromLocal8Bit(printed.output),
             QStringLiteral("sent\t%1\t1048576\t127.0.9.52\tprivate\n").arg(path));
    QCOMPARE(lateReceiver.files.size(), 1);
    QVERIFY(lateReceiver.files[0].content == content);
    QVERIFY(!readFile(refused.settings.fileName()).contains("Waiting"));
}

// Whatever a receiver says in refusing or failing a file, the sender prints on one line of
// its own: no line that passes for a file sent, nothing that steers the terminal.
void TestCli::aReceiversTextsArePrintedPlain()
{
    const QString hostile = QStringLiteral(
        "\x1b[2J\x07red\rback\u202Egnp.exe\nsent\t/etc/shadow\t1\t127.0.0.1\tprivate");
    const QList<QPair<QByteArray, QByteArray>> answers = {
        {reasonMessage(MessageType::Refuse, Reason::NoRoom, hostile), {}},
        {reasonMessage(MessageType::Error, Reason::Unknown, hostile), {}},
        {{}, reasonMessage(MessageType::Failed, Reason::CannotSave, hostile)},
    };
    std::vector<std::unique_ptr<PrivateReceiver>> receivers;
    std::vector<std::unique_ptr<CliRun>> runs;
    for (int k = 0; k < answers.size(); ++k) {
        const QString peer = QStringLiteral("127.0.9.%1").arg(30 + k);
        receivers.push_back(std::make_unique<PrivateReceiver>());
        receivers.back()->fileAnswer = answers.at(k).first;
        receivers.back()->endAnswer = answers.at(k).second;
        QVERIFY(receivers.back()->start(QHostAddress(peer)));
        runs.push_back(std::make_unique<CliRun>());
        const QString file = runs.back()->home() + "/a.txt";
        QVERIFY(writeFile(file, "hello"));
        runs.back()->start(
            {"send", "--bind", QStringLiteral("127.0.9.%1").arg(40 + k), "--to", peer, file});
    }
    const QRegularExpression raw(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f\\x{202E}]"));
    for (const std::unique_ptr<CliRun>& run : runs) {
        QTRY_VERIFY_WITH_TIMEOUT(run->hasEnded(), kWait);
        QCOMPARE(run->exitCode(), 1);
        QCOMPARE(run->output(), QString());
        const QString errors = run->errors();
        QCOMPARE(errors.count('\n'), 1);
        QVERIFY2(errors.contains("[2Jred | backgnp.exe | sent/etc/shadow1127.0.0.1private\n") &&
                     !raw.match(errors).hasMatch(),
                 qPrintable(errors));
    }
}

void TestCli::unknownPeerIsExplained()
{
    const QString explanation =
        "nosuchpeer.invalid is neither a name in the address book nor a host that can be found";
    CliRun sender;
    QVERIFY(sender.storeSettings(kAnnaAt68));
    const QString file = sender.home() + "/a.txt";
    QVERIFY(writeFile(file, "hello"));
    sender.start({"send", "--bind", a(kSender), "--to", "nosuchpeer.invalid", file});
    CliRun chat;
    chat.start({"chat", "--bind", a(kChatSender), "--to", "nosuchpeer.invalid", "hi"});
    QTRY_VERIFY_WITH_TIMEOUT(sender.hasEnded() && chat.hasEnded(), kWait);
    // An unknown name is a usage error, as for every subcommand.
    QCOMPARE(sender.exitCode(), 2);
    QVERIFY2(sender.errors().contains("Error 11001") && sender.errors().contains(explanation),
             qPrintable(sender.errors()));
    QCOMPARE(chat.exitCode(), 2);
    QVERIFY2(chat.errors().contains(explanation), qPrintable(chat.errors()));
}

void TestCli::receiveOnceWaitsForAConnectionWithAFile()
{
    CliRun receiver;
    receiver.start({"receive", "--bind", a(kRawReceiver), "--dir", receiver.home(), "--once"});

    // A connection that never brings a header does not count.
    CliRawPeer idle(kRawPeer, kRawReceiver);
    QTRY_VERIFY_WITH_TIMEOUT(idle.connected(), kWait);
    idle.socket->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.errors().contains("before a file began"), kWait);
    QVERIFY(!receiver.hasEnded());

    // As `printf 'FILENAME a.txt #5\r\nhello' | nc HOST 1052` would.
    CliRawPeer peer(kRawPeer, kRawReceiver);
    QTRY_VERIFY_WITH_TIMEOUT(peer.connected(), kWait);
    peer.socket->write("FILENAME a.txt #5\r\nhello");
    peer.socket->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasEnded(), kWait);
    QVERIFY(receiver.exitedNormally());
    QCOMPARE(receiver.exitCode(), 0);
    QCOMPARE(receiver.output(), "received\t" + receiver.home() + "/a.txt\t5\t127.0.0.64\tplain\n");
    QCOMPARE(readFile(receiver.home() + "/a.txt"), QByteArray("hello"));
}

void TestCli::receiveOnceTellsOfEveryFile()
{
    CliRun receiver;
    receiver.start({"receive", "--bind", a(kOnceReceiver), "--dir", receiver.home(), "--once"});
    CliRawPeer first(kRawPeer, kOnceReceiver);
    QTRY_VERIFY_WITH_TIMEOUT(first.connected(), kWait);
    first.socket->write("FILENAME a.txt #10\r\nhello");
    QTRY_COMPARE_WITH_TIMEOUT(first.replies, QByteArray("OK\n5\n"), kWait);
    CliRawPeer second(kSecondPeer, kOnceReceiver);
    QTRY_VERIFY_WITH_TIMEOUT(second.connected() || receiver.hasEnded(), kWait);
    second.socket->write("FILENAME b.txt #3\r\nbee");
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasEnded(), kWait);
    QCOMPARE(receiver.exitCode(), 1);
    // Whatever came of each, nothing is left in the folder untold.
    const QString told = receiver.output() + receiver.errors();
    const QStringList files = QDir(receiver.home()).entryList({"a*", "b*"}, QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString& file : files)
        QVERIFY2(told.contains(receiver.home() + "/" + file), qPrintable(told));
}

void TestCli::receiveRefusesToStart_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("stored folder missing")
        << QByteArray("[Settings]\nSaveDir=/nonexistent/in/")
        << QStringList{"receive", "--bind", a(kTakenPort)} << 2
        << "the stored save folder /nonexistent/in/ is not an existing folder";
    QTest::newRow("port taken") << QByteArray("[Settings]\nSaveDir=/tmp/")
                                << QStringList{"receive", "--bind", a(kTakenPort)} << 1
                                << "cannot receive on TCP port 1052: Error 10048";
}

void TestCli::receiveRefusesToStart()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTcpServer holder;
    QVERIFY(holder.listen(kTakenPort, 1052));
    CliRun receiver;
    QVERIFY(receiver.storeSettings(settings));
    receiver.start(arguments);
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasEnded(), kWait);
    QCOMPARE(receiver.exitCode(), exitCode);
    QVERIFY2(receiver.errors().startsWith("quillo: " + message), qPrintable(receiver.errors()));
}

void TestCli::fileSizeLimitIsASaveFailure()
{
    CliRun receiver;
    // Files may grow to 64 KiB only; going past that sends the program SIGXFSZ.
    receiver.process.setChildProcessModifier([] {
        const rlimit small{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &small);
    });
    receiver.start({"receive", "--bind", a(kLimitedReceiver), "--dir", receiver.home()});
    CliRawPeer peer(kRawPeer, kLimitedReceiver);
    QTRY_VERIFY_WITH_TIMEOUT(peer.connected(), kWait);
    peer.socket->write("FILENAME big.bin #200000\r\n" + QByteArray(100 * 1024, 'b'));

    const QString told = "Cannot save: the file is larger than this system lets a program write";
    QTRY_VERIFY2_WITH_TIMEOUT(receiver.errors().contains(told), qPrintable(receiver.errors()),
                              kWait);
    QVERIFY(!receiver.hasEnded());
    QVERIFY(!QFile::exists(receiver.home() + "/big.bin.part"));
}

void TestCli::terminationKeepsThePartFile_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("until stopped") << QStringList() << 0;
    QTest::newRow("once") << QStringList{"--once"} << 1; // its file was not saved whole
}

void TestCli::terminationKeepsThePartFile()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    CliRun receiver;
    receiver.start(QStringList{"receive", "--bind", a(kStoppedReceiver), "--dir", receiver.home()} +
                   options);
    CliRawPeer peer(kRawPeer, kStoppedReceiver);
    QTRY_VERIFY_WITH_TIMEOUT(peer.connected(), kWait);
    peer.socket->write("FILENAME b.bin #10\r\nhello");
    QTRY_COMPARE_WITH_TIMEOUT(peer.replies, QByteArray("OK\n5\n"), kWait);

    receiver.process.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasEnded(), kWait);
    QVERIFY(receiver.exitedNormally());
    QCOMPARE(receiver.exitCode(), exitCode);
    QCOMPARE(receiver.output(), QString());
    QCOMPARE(readFile(receiver.home() + "/b.bin.part"), QByteArray("hello"));
    QVERIFY(!QFile::exists(receiver.home() + "/b.bin"));
    QVERIFY2(receiver.errors().contains("5 of 10 bytes kept in " + receiver.home() + "/b.bin.part"),
             qPrintable(receiver.errors()));
    QTRY_VERIFY_WITH_TIMEOUT(peer.socket->state() == QAbstractSocket::UnconnectedState, kWait);
}

void TestCli::receiveHonoursTheStoredChoiceOfSenders()
{
    CliRun receiver;
    QVERIFY(receiver.storeSettings(kAnnaAt68 + "[Settings]\nOnlyKnownSenders=true\n"));
    receiver.start({"receive", "--bind", a(kChoosyReceiver), "--dir", receiver.home()});
    // Tried again and again, as the receiver may not listen yet.
    CliRawPeer stranger(kRawPeer, kChoosyReceiver);
    const auto refused = [&] {
        stranger.connected();
        return receiver.errors().contains("Refused: 127.0.0.64 is not in your address book");
    };
    QTRY_VERIFY_WITH_TIMEOUT(refused(), kWait);
    QVERIFY(!receiver.hasEnded());
}

void TestCli::chatSendsTheExactBytes()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(kChatPeer, kChatPort));
    const QString text = QString::fromUtf8("Grüße, € #1 ");
    CliRun chat;
    chat.start({"chat", "--bind", a(kChatSender), "--to", a(kChatPeer), text});
    QTRY_VERIFY_WITH_TIMEOUT(chat.hasEnded(), kWait);
    QCOMPARE(chat.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), kWait);
    QNetworkDatagram datagram = peer.receiveDatagram();
    QCOMPARE(datagram.data(), text.toUtf8());
    QCOMPARE(datagram.senderAddress(), kChatSender);
    QCOMPARE(datagram.senderPort(), int(kChatPort));

    // To a name in the address book, from another port while the chat port is taken.
    QUdpSocket holder;
    QVERIFY(holder.bind(kChatSender, kChatPort));
    CliRun named;
    QVERIFY(named.storeSettings("[IPaddress0]\nName=Cleo\nIPaddress=127.0.0.67\n"));
    named.start({"chat", "--bind", a(kChatSender), "--to", "Cleo", "hi"});
    QTRY_VERIFY_WITH_TIMEOUT(named.hasEnded(), kWait);
    QCOMPARE(named.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), kWait);
    datagram = peer.receiveDatagram();
    QCOMPARE(datagram.data(), QByteArray("hi"));
    QCOMPARE(datagram.senderAddress(), kChatSender);
    QVERIFY(datagram.senderPort() != int(kChatPort));
}

void TestCli::listenPrintsServesLinesOrWords()
{
    CliRun listener;
    QVERIFY(listener.storeSettings(kAnnaAt68));
    listener.start({"listen", "--bind", a(kListener)});
    CliRun human;
    QVERIFY(human.storeSettings(kAnnaAt68));
    human.start({"listen", "--human", "--bind", a(kHumanListener)});
    QUdpSocket anna;
    QVERIFY(anna.bind(kChatSender));
    // Announced again until heard: datagrams sent before the port is taken are lost.
    QTRY_VERIFY_WITH_TIMEOUT(anna.writeDatagram("ONLINE", kListener, kChatPort) &&
                                 anna.writeDatagram("ONLINE", kHumanListener, kChatPort) &&
                                 !listener.output().isEmpty() && !human.output().isEmpty(),
                             kWait);
    QUdpSocket stranger;
    QVERIFY(stranger.bind(kChatPeer));
    for (const QHostAddress& to : {kListener, kHumanListener}) {
        anna.writeDatagram("hello there", to, kChatPort);
        stranger.writeDatagram("ONLINE", to, kChatPort);
        stranger.writeDatagram("psst", to, kChatPort);
    }
    // The lines of serve: a stranger's announcement is not a person's.
    QTRY_VERIFY_WITH_TIMEOUT(listener.output().endsWith("chat\tAnna\t127.0.0.68\thello there\n"
                                                        "chat\tUNKNOWN\t127.0.0.67\tpsst\n"),
                             kWait);
    QTRY_VERIFY_WITH_TIMEOUT(human.output().endsWith("Says: hello there\nUNKNOWN Says: psst\n"),
                             kWait);
    QVERIFY2(listener.errors().startsWith("quillo: listening for announcements and chat lines on "
                                          "UDP 1071 and private chat lines on TCP 1053\n"),
             qPrintable(listener.errors()));

    for (CliRun* run : {&listener, &human})
        run->process.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(listener.hasEnded() && human.hasEnded(), kWait);
    QVERIFY(listener.exitedNormally() && human.exitedNormally());
    QCOMPARE(listener.exitCode(), 0);
    QStringList lines = listener.output().split('\n', Qt::SkipEmptyParts);
    lines.removeLast();
    lines.removeLast();
    for (const QString& line : lines)
        QCOMPARE(line, QStringLiteral("online\tAnna\t127.0.0.68"));
    lines = human.output().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.takeLast(), QStringLiteral("UNKNOWN Says: psst"));
    QCOMPARE(lines.takeLast(), QStringLiteral("Anna Says: hello there"));
    const QRegularExpression notice(QStringLiteral("^Anna is online at \\d\\d:\\d\\d$"));
    for (const QString& line : lines)
        QVERIFY2(notice.match(line).hasMatch(), qPrintable(line));
}

// A chat line to a person whose key is known goes privately: listen hears it, and turns
// a file away with its reason.
void TestCli::listenHearsPrivateChatAndRefusesFiles()
{
    CliRun listener;
    QVERIFY(listener.storeSettings(
        "[IPaddress0]\nName=Anna\nIPaddress=" + a(kPrivateChatter).toUtf8() + "\n"));
    listener.start({"listen", "--bind", a(kPrivateListener)});
    QTRY_VERIFY_WITH_TIMEOUT(isListening(kPrivateListener, kPrivatePort), kWait);

    QTemporaryDir annasHome;
    SettingsStore settings(annasHome.filePath("Quillo.conf"));
    UnseededRandom random;
    Station anna(settings, random, annasHome.path(), kPrivateChatter);
    QVERIFY(!anna.openIdentity());
    QSignalSpy done(&anna, &Station::privateChatDone);
    anna.sendPrivateChat(a(kPrivateListener), QStringLiteral("Lunch?"));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kWait);
    QCOMPARE(done[0][1].toString(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(listener.output(), "chat\tAnna\t" + a(kPrivateChatter) + "\tLunch?\n",
                              kWait);

    CliRun sender;
    const QString file = sender.home() + "/a.txt";
    QVERIFY(writeFile(file, "hello"));
    sender.start({"send", "--bind", a(kFileOfferer), "--to", a(kPrivateListener), file});
    QTRY_VERIFY_WITH_TIMEOUT(sender.hasEnded(), kWait);
    QCOMPARE(sender.exitCode(), 1);
    QVERIFY2(sender.errors().contains("takes chat lines only"), qPrintable(sender.errors()));
    QVERIFY(!listener.hasEnded());
}

// Announces from one address, again and again until the command ends: datagrams sent
// before its port is taken are lost.
bool announceUntilEnded(const QHostAddress& from, const QHostAddress& to, CliRun& run)
{
    QUdpSocket socket;
    return socket.bind(from, kChatPort) && QTest::qWaitFor(
                                               [&] {
                                                   socket.writeDatagram("ONLINE", to, kChatPort);
                                                   return run.hasEnded();
                                               },
                                               kWait);
}

// One announcement from one address; true once station has heard it.
bool announceOnce(const QHostAddress& from, const QHostAddress& to, QSignalSpy& heard)
{
    QUdpSocket socket;
    return socket.bind(from, kChatPort) && socket.writeDatagram("ONLINE", to, kChatPort) > 0 &&
           QTest::qWaitFor([&heard] { return !heard.isEmpty(); }, kWait);
}

// How a command ended that heard one announcement and waited out its time.
struct WaitRun {
    Printed printed;
    QList<int> statuses; // the exit statuses it told, once the time was up
};

// Starts command on local, lets it hear an announcement from `from`, then moves the
// clock through wait; a status told before the last moment of it is not kept.
WaitRun runOutTheWait(CommandStation& local, Command& command, const QHostAddress& from,
                      std::chrono::milliseconds wait)
{
    WaitRun run;
    QSignalSpy finished(&command, &Command::finished);
    QSignalSpy heard(&local.station, &Station::announced);
    run.printed = printedBy([&] {
        if (command.start() || !announceOnce(from, local.address, heard))
            return;
        local.clock.advance(wait - std::chrono::milliseconds(1));
        if (!finished.isEmpty())
            return;
        local.clock.advance(std::chrono::milliseconds(1));
        for (const QList<QVariant>& status : finished)
            run.statuses.append(status.first().toInt());
    });
    return run;
}

void TestCli::sendWhenOnlineWaitsForItsPeerOnly()
{
    CliRun receiver;
    receiver.start({"receive", "--bind", a(kLateReceiver), "--dir", receiver.home(), "--once"});
    CliRun sender;
    const QString path = sender.home() + "/late.txt";
    QVERIFY(writeFile(path, "worth the wait"));
    const QStringList send{"send",   "--when-online",   "--to", a(kLateReceiver),
                           "--bind", a(kPatientSender), path};

    // Someone else's announcements do not count: the time runs out.
    {
        CommandStation local(kPatientSender);
        WhenOnlineCommand waiting(local.station, lookUpPeer(local.book(), a(kLateReceiver)),
                                  a(kLateReceiver), {path}, 2, local.console, local.clock);
        const WaitRun run = runOutTheWait(local, waiting, kStranger, std::chrono::seconds(2));
        QCOMPARE(run.statuses, QList<int>{1}); // not a moment before the time was up
        QVERIFY2(run.printed.errors.contains("did not come online within 2 seconds"),
                 run.printed.errors.constData());
        QCOMPARE(run.printed.output, QByteArray());
    }

    // Both of the receiver's ports are up before anyone is heard, or it gets the file plainly.
    QTRY_VERIFY_WITH_TIMEOUT(isListening(kLateReceiver, 1052) && isListening(kLateReceiver, 1053),
                             kWait);
    CliRun again;
    again.start(send);
    QVERIFY(announceUntilEnded(kLateReceiver, kPatientSender, again));
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(again.output(), QStringLiteral("sent\t%1\t14\t127.0.0.90\tprivate\n").arg(path));
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasEnded(), kWait);
    QCOMPARE(readFile(receiver.home() + "/late.txt"), QByteArray("worth the wait"));
}

void TestCli::onlinePrintsEveryEntrysState()
{
    // Bob is not heard within the wait.
    {
        CommandStation local(kLooker);
        local.station.addPerson(QStringLiteral("Bob"), QStringLiteral("127.0.0.94"));
        local.station.addPerson(QStringLiteral("Anna"), a(kOnlineAnna));
        OnlineCommand online(local.station, 2, local.console, local.clock);
        const WaitRun run = runOutTheWait(local, online, kOnlineAnna, std::chrono::seconds(2));
        QCOMPARE(run.statuses, QList<int>{0}); // not a moment before the time was up
        QCOMPARE(run.printed.output,
                 QByteArray("offline\tBob\t127.0.0.94\nonline\tAnna\t127.0.0.93\n"));
    }

    // Once everyone has been heard, it ends without waiting longer.
    CliRun looker;
    QVERIFY(looker.storeSettings("[IPaddress0]\nName=Anna\nIPaddress=127.0.0.93\n"));
    looker.start({"online", "--bind", a(kLooker), "--wait", "60"});
    QVERIFY(announceUntilEnded(kOnlineAnna, kLooker, looker));
    QCOMPARE(looker.exitCode(), 0);
    QCOMPARE(looker.output(), QStringLiteral("online\tAnna\t127.0.0.93\n"));
}

// Runs quillo with arguments in run's home; true once it has ended by itself.
bool runToEnd(CliRun& run, const QStringList& arguments)
{
    run.start(arguments);
    return run.process.waitForFinished(kWait) && run.exitedNormally();
}

void TestCli::keyPrintsSafetyCodesAndForgetForgets()
{
    const QByteArray annaKey = QByteArray(31, '\x5a') + '\x01';
    const QByteArray book = "[IPaddress0]\nName=Bob\nIPaddress=127.0.5.2\n"
                            "[IPaddress1]\nName=Anna\nIPaddress=127.0.5.1\nKey=" +
                            annaKey.toHex() + "\nColour=red\n";
    const QRegularExpression oneCode(
        QStringLiteral("^([0-9A-HJKMNP-TV-Z]{4} ){9}[0-9A-HJKMNP-TV-Z]{4}\n$"));
    CliRun own;
    QVERIFY(own.storeSettings(book));
    QVERIFY(runToEnd(own, {"key"}));
    QCOMPARE(own.exitCode(), 0);
    QVERIFY2(oneCode.match(own.output()).hasMatch(), qPrintable(own.output()));
    const QString identity = own.home() + "/.local/share/Quillo/Quillo/identity.pem";
    QCOMPARE(QFile::permissions(identity) & 0x0777, QFile::ReadUser | QFile::WriteUser);
    QVERIFY(runToEnd(own, {"key"})); // the same key the second time
    QCOMPARE(own.output().section('\n', 1), own.output().section('\n', 0, 0) + "\n");

    CliRun anna;
    QVERIFY(anna.storeSettings(book));
    QVERIFY(runToEnd(anna, {"key", "Anna"}));
    QCOMPARE(anna.exitCode(), 0);
    const std::optional<Identity> annas =
        Identity::open(anna.home() + "/.local/share/Quillo/Quillo", nullptr);
    QVERIFY(annas);
    QCOMPARE(anna.output(), pairCode(annas->key(), annaKey) + "\n");
    QVERIFY(runToEnd(anna, {"key", "Anna", "--compared"}));
    QCOMPARE(anna.exitCode(), 0);
    QCOMPARE(anna.output().section('\n', 1), QStringLiteral("Anna's key is compared\n"));
    QVERIFY(readFile(anna.home() + "/.config/Quillo/Quillo.conf").contains("KeyCompared=true"));

    // Its own key with another's certificate: no code, for it would not be the one shown.
    QVERIFY(runToEnd(anna, {"key"}));
    const QString annasIdentity = anna.home() + "/.local/share/Quillo/Quillo/identity.pem";
    const QByteArray certificateStart = "-----BEGIN CERTIFICATE-----";
    const QByteArray ownPem = readFile(identity);
    const QByteArray annasPem = readFile(annasIdentity);
    QVERIFY(writeFile(annasIdentity, annasPem.left(annasPem.indexOf(certificateStart)) +
                                         ownPem.mid(ownPem.indexOf(certificateStart))));
    const QString annasCodes = anna.output();
    QVERIFY(runToEnd(anna, {"key"}));
    QCOMPARE(anna.exitCode(), 1);
    QCOMPARE(anna.output(), annasCodes);
    QVERIFY2(anna.errors().contains(annasIdentity + " holds a private key that does not belong"),
             qPrintable(anna.errors()));

    CliRun bob;
    QVERIFY(bob.storeSettings(book));
    QVERIFY(runToEnd(bob, {"key", "Bob"}));
    QCOMPARE(bob.exitCode(), 1);
    QVERIFY2(bob.errors().startsWith("quillo: Bob has no key yet: "), qPrintable(bob.errors()));
    QCOMPARE(bob.output(), QString());

    QVERIFY(runToEnd(bob, {"forget", "Anna"}));
    QCOMPARE(bob.exitCode(), 0);
    QVERIFY2(bob.output().startsWith("forgot Anna's key"), qPrintable(bob.output()));
    const QByteArray stored = readFile(bob.home() + "/.config/Quillo/Quillo.conf");
    QVERIFY2(!stored.contains("Key=") && stored.contains("Colour=red") &&
                 stored.contains("Name=Bob"),
             stored.constData());
    QVERIFY(runToEnd(bob, {"key", "Anna"}));
    QCOMPARE(bob.exitCode(), 1);
}

// A settings file read only in part: forget keeps a copy first and writes; a key pinned
// while sending is not written into it.
void TestCli::keysGoOnlyIntoSettingsReadWholeOrKeptAside()
{
    const QByteArray damaged =
        "[IPaddress0]\nName=Anna\nIPaddress=127.0.9.60\nKey=" + QByteArray(32, 'k').toHex() +
        "\nnot a setting\n";
    CliRun forget;
    QVERIFY(forget.storeSettings(damaged));
    const QString settings = forget.home() + "/.config/Quillo/Quillo.conf";
    QVERIFY(runToEnd(forget, {"forget", "Anna"}));
    QCOMPARE(forget.exitCode(), 0);
    QVERIFY2(forget.errors().startsWith("quillo: part of the settings file " + settings +
                                        " could not be read; the file as it was is kept in "),
             qPrintable(forget.errors()));
    QVERIFY2(forget.output().startsWith("forgot Anna's key"), qPrintable(forget.output()));
    QVERIFY(!readFile(settings).contains("Key="));

    const QHostAddress bea(QStringLiteral("127.0.9.61"));
    PrivateReceiver receiver;
    QVERIFY(receiver.start(bea));
    CliRun send;
    const QByteArray unpinned = "[IPaddress0]\nName=Bea\nIPaddress=127.0.9.61\nnot a setting\n";
    QVERIFY(send.storeSettings(unpinned));
    const QString file = send.home() + "/a.txt";
    QVERIFY(writeFile(file, "hello"));
    send.start({"send", "--bind", "127.0.9.62", "--to", "Bea", file});
    QTRY_VERIFY_WITH_TIMEOUT(send.hasEnded(), kWait);
    QCOMPARE(send.exitCode(), 0);
    QCOMPARE(send.output(), QStringLiteral("sent\t%1\t5\t127.0.9.61\tprivate\n").arg(file));
    const QString sendSettings = send.home() + "/.config/Quillo/Quillo.conf";
    QCOMPARE(send.errors(),
             "quillo: the keys in the address book could not be saved to " + sendSettings + "\n");
    QCOMPARE(readFile(sendSettings), unpinned);
}

void TestCli::aKeyFileOthersMayReadIsRefusedOnceAndSendingGoesOn()
{
    CliRun send;
    QVERIFY(send.storeSettings("[IPaddress0]\nName=Nobody\nIPaddress=127.0.5.61\n"));
    QVERIFY(runToEnd(send, {"key"}));
    const QString identity = send.home() + "/.local/share/Quillo/Quillo/identity.pem";
    const QByteArray pem = readFile(identity);
    QVERIFY(QFile::setPermissions(identity, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(runToEnd(send, {"key"}));
    QCOMPARE(send.exitCode(), 1);
    QVERIFY2(send.errors().contains("chmod 600 " + identity), qPrintable(send.errors()));

    const QString file = send.home() + "/a.txt";
    QVERIFY(writeFile(file, "hello"));
    RawReceiver plain; // takes files in the clear only
    QVERIFY(plain.listen(QHostAddress(QStringLiteral("127.0.5.61")), 1052));
    plain.takeFiles();
    send.start({"send", "--bind", a(kPlainSender), "--to", "Nobody", file});
    QTRY_VERIFY_WITH_TIMEOUT(send.hasEnded(), kWait);
    QVERIFY(send.exitedNormally());
    QCOMPARE(send.exitCode(), 0);
    QCOMPARE(send.output(), QStringLiteral("sent\t%1\t5\t127.0.5.61\tplain\n").arg(file));
    QCOMPARE(plain.last().received, QByteArray("FILENAME a.txt #5\r\nhello"));
    QCOMPARE(send.errors().count("chmod 600"), 2);
    QVERIFY2(send.errors().contains("in the clear only"), qPrintable(send.errors()));
    QCOMPARE(readFile(identity), pem);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
