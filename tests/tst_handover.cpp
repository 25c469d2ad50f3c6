#include "platform/settingsstore.h"
#include "support/clirawpeer.h"
#include "support/clirun.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"

#include <QtTest>

// The ports of one user, shared between a real `quillo serve` and a window, and between
// two windows.

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kComputer(QStringLiteral("127.0.34.1"));
const QHostAddress kAnna(QStringLiteral("127.0.34.2"));
const QHostAddress kSecondComputer(QStringLiteral("127.0.34.3"));
constexpr int kWait = 10000;

QString a(const QHostAddress& address)
{
    return address.toString();
}

// Sends name, holding "hello", as a plain peer from Anna's address.
bool sendHello(const QByteArray& name)
{
    CliRawPeer sender(kAnna, kComputer);
    if (!QTest::qWaitFor([&] { return sender.connected(); }, kWait))
        return false;
    sender.socket->write("FILENAME " + name + " #5\r\nhello");
    return QTest::qWaitFor([&] { return sender.replies == "OK\n5\n"; }, kWait);
}

} // namespace

class TestHandover : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theServiceGivesWayToTheWindowAndTakesItsPortsBack();
    void aSecondWindowBringsTheFirstForward();
};

// The window and the service of one user share the settings file, the data folder and so
// the history, as the program itself does.
void TestHandover::theServiceGivesWayToTheWindowAndTakesItsPortsBack()
{
    CliRun server;
    QVERIFY(server.storeSettings("[Settings]\nSaveDir=" + server.home().toUtf8() +
                                 "/\n[IPaddress0]\nName=Anna\nIPaddress=" + a(kAnna).toUtf8() +
                                 "\n"));
    server.start({"serve", "--bind", a(kComputer)});
    QTRY_VERIFY_WITH_TIMEOUT(server.errors().contains("announcing to 1 person\n"), kWait);

    TestPlatform p;
    SettingsStore settings(server.home() + "/.config/Quillo/Quillo.conf");
    const QString data = server.home() + "/.local/share/Quillo/Quillo";
    const Platform platform{
        p.dialogs, p.desktop, settings, p.clock, p.random, {}, data, {}, server.runtimeFolder()};
    auto window = std::make_unique<Main>(platform, kComputer);
    QVERIFY(window->Form_Load());
    // Nothing is said in the window: it simply receives.
    QTRY_VERIFY_WITH_TIMEOUT(window->station().isReceiving(), kWait);
    QVERIFY2(p.dialogs.calls.isEmpty(), qPrintable(p.dialogs.calls.value(0).text));
    QVERIFY2(server.errors().endsWith("quillo: the window took the ports, and receives until "
                                      "it closes\n"),
             qPrintable(server.errors()));
    QVERIFY(sendHello("w.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(window->station().receivedFiles().size(), 1, kWait);
    QVERIFY(server.output().isEmpty());
    window->station().addPerson(QStringLiteral("Ben"), QStringLiteral("127.0.34.4"));

    window->close();
    // Taken back with what the window changed: Ben, and the file it received.
    const QString back = "quillo: the window has closed: receiving into ~ on TCP 1052 and 1053 "
                         "(private), announcing to 2 people\n";
    QTRY_VERIFY_WITH_TIMEOUT(server.errors().endsWith(back), kWait);
    window.reset();
    QVERIFY(sendHello("s.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(server.output().contains("received\t" + server.home() + "/s.txt\t5\t"),
                             kWait);
    const auto history = [&data] { return readFile(data + "/received.json"); };
    QTRY_VERIFY2_WITH_TIMEOUT(history().contains("w.txt") && history().contains("s.txt"),
                              history().constData(), kWait);
    QVERIFY(!server.hasEnded());
}

void TestHandover::aSecondWindowBringsTheFirstForward()
{
    QTemporaryDir runtime;
    TestPlatform first;
    first.startWith(QStringLiteral("Anna"), kAnna);
    Platform firstPlatform = first.platform();
    firstPlatform.runtimeFolder = runtime.path();
    Main firstWindow(firstPlatform, kSecondComputer);
    QVERIFY(firstWindow.Form_Load());
    QVERIFY(!firstWindow.isVisible());

    TestPlatform second;
    second.startWith(QStringLiteral("Anna"), kAnna);
    Platform secondPlatform = second.platform();
    secondPlatform.runtimeFolder = runtime.path();
    Main secondWindow(secondPlatform, kSecondComputer);
    QVERIFY(!secondWindow.Form_Load());
    QVERIFY(secondWindow.gaveWayToAnotherWindow());
    QVERIFY(second.dialogs.calls.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(firstWindow.isVisible(), kWait);
    QVERIFY(firstWindow.station().isReceiving());
    QVERIFY(!secondWindow.station().isReceiving());
}

QTEST_MAIN(TestHandover)
#include "tst_handover.moc"
