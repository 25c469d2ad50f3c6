#include "plain/protocol.h"
#include "platform/stopsignals.h"
#include "support/clirun.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>

namespace
{

constexpr int kWaitMs = 10000;

// The receiver listens only once the stop signals are taken: from then on a signal
// closes the window.
bool listening()
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, kFilePort);
    return probe.waitForConnected(100);
}

} // namespace

class TestStop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aStopSignalClosesTheWindowAsItsCloseButtonDoes_data();
    void aStopSignalClosesTheWindowAsItsCloseButtonDoes();
    void aSignalIgnoredAtStartStaysIgnored();
};

void TestStop::aStopSignalClosesTheWindowAsItsCloseButtonDoes_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// Closing stores the address book in slots 0 upwards: Anna, loaded from slot 7, stands in
// slot 0 only when the window closed as its close button does.
void TestStop::aStopSignalClosesTheWindowAsItsCloseButtonDoes()
{
    QFETCH(int, signal);
    CliRun window;
    QVERIFY(window.storeSettings("[IPaddress7]\nName=Anna\nIPaddress=10.0.0.1\n[Settings]\n"
                                 "SaveDir=" +
                                 window.home().toUtf8() + "/\n"));
    // Whoever started the suite may have had these ignored; the program starts as from a
    // desktop.
    window.process.setChildProcessModifier([] {
        for (const int stop : StopSignals::kSignals)
            std::signal(stop, SIG_DFL);
    });
    window.start({});
    QTRY_VERIFY_WITH_TIMEOUT(listening(), kWaitMs);

    ::kill(pid_t(window.process.processId()), signal);
    QTRY_VERIFY_WITH_TIMEOUT(window.hasEnded(), kWaitMs);
    QVERIFY2(window.exitedNormally(), qPrintable(window.errors()));
    QCOMPARE(window.exitCode(), 0);
    const QSettings stored(window.home() + "/.config/Quillo/Quillo.conf", QSettings::IniFormat);
    QCOMPARE(stored.childGroups(), (QStringList{"IPaddress0", "Settings"}));
    QCOMPARE(stored.value("IPaddress0/Name").toString(), QStringLiteral("Anna"));
}

void TestStop::aSignalIgnoredAtStartStaysIgnored()
{
    struct sigaction former = {};
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &former);
    {
        StopSignals stopSignals;
        QSignalSpy stops(&stopSignals, &StopSignals::stopRequested);
        struct sigaction now = {};
        ::sigaction(SIGINT, nullptr, &now);
        QVERIFY(now.sa_handler == SIG_IGN);
        ::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(stops.count(), 1, kWaitMs);
    }
    ::sigaction(SIGINT, &former, nullptr);
}

QTEST_MAIN(TestStop)
#include "tst_stop.moc"
