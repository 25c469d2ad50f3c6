#include "plain/protocol.h"
#include "support/chatpeers.h"

#include <QListWidget>
#include <QPushButton>
#include <QTcpSocket>
#include <QtTest>

// Windows and probes here use 127.0.0.20 to 127.0.0.29.
class TestPresence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noticeNamesTheSenderAtTheReceiversTime();
    void presenceFromOutsideTheAddressBookChangesNothing();
    void theLaterNoticeReplacesTheEarlier();
    void aWindowThatListsItselfSeesItselfOnline();
    void presenceIsExactlySixBytesFromPort1071();
    void fiftyOneEntriesGetFiftyOneDatagramsInSlotOrder();
    void entriesThatCannotBeReachedArePassedOver();
    void onlyTheEntriesListedNowAreAnnouncedTo();
    void firstPassAfterThreeSecondsThenEveryMinute();
    void aTakenPortIsReportedAndFilesStillWork();
};

void TestPresence::noticeNamesTheSenderAtTheReceiversTime()
{
    Peer anna(loopback(20), {{"Bob", "127.0.0.21"}});
    Peer bob(loopback(21), {{"Anna", "127.0.0.20"}});
    QVERIFY(anna.loaded() && bob.loaded());
    const QString credits = anna.notice();
    anna.clock().now = QTime(9, 5, 33);
    bob.clock().now = QTime(10, 17, 45);

    anna.announce();
    QTRY_COMPARE_WITH_TIMEOUT(bob.notice(), QStringLiteral("Anna is online at 10:17"), 5000);
    QCOMPARE(anna.notice(), credits);
    QCOMPARE(bob.transcript(), QString()); // presence writes nothing there

    bob.announce();
    QTRY_COMPARE_WITH_TIMEOUT(anna.notice(), QStringLiteral("Bob is online at 09:05"), 5000);
    QCOMPARE(anna.transcript(), QString());
}

void TestPresence::presenceFromOutsideTheAddressBookChangesNothing()
{
    // Bob lists Anna's address only as typed with a blank after it: that sends to her, but
    // never equals the address her datagrams come from.
    Peer anna(loopback(22), {{"Bob", "127.0.0.23"}});
    Peer bob(loopback(23), {{"Anna", "127.0.0.22 "}});
    Peer cleo(loopback(24), {});
    QVERIFY(anna.loaded() && bob.loaded() && cleo.loaded());
    const QString credits = bob.notice();

    anna.announce();
    // Datagrams from one socket to another arrive in order: once the line has come, so
    // has the announcement before it.
    anna.say(QStringLiteral("still there?"));
    QTRY_COMPARE_WITH_TIMEOUT(bob.transcript(), QStringLiteral("UNKNOWN Says: still there?\n"),
                              5000);
    QCOMPARE(bob.notice(), credits);

    // Bob's own announcement does reach Anna, who lists him correctly.
    bob.announce();
    QTRY_VERIFY_WITH_TIMEOUT(anna.notice().startsWith(QLatin1String("Bob is online at ")), 5000);
    QCOMPARE(cleo.notice(), credits);
}

void TestPresence::theLaterNoticeReplacesTheEarlier()
{
    Peer anna(loopback(25), {{"Bob", "127.0.0.26"}, {"Cleo", "127.0.0.27"}});
    Peer bob(loopback(26), {{"Anna", "127.0.0.25"}});
    Peer cleo(loopback(27), {{"Anna", "127.0.0.25"}});
    QVERIFY(anna.loaded() && bob.loaded() && cleo.loaded());

    anna.clock().now = QTime(8, 0, 59);
    bob.announce();
    QTRY_COMPARE_WITH_TIMEOUT(anna.notice(), QStringLiteral("Bob is online at 08:00"), 5000);
    anna.clock().now = QTime(8, 1, 0);
    cleo.announce();
    QTRY_COMPARE_WITH_TIMEOUT(anna.notice(), QStringLiteral("Cleo is online at 08:01"), 5000);
}

void TestPresence::aWindowThatListsItselfSeesItselfOnline()
{
    // Two entries share the address; the lower slot names it.
    Peer me(loopback(28), {{"Me", "127.0.0.28"}, {"Also me", "127.0.0.28"}});
    QVERIFY(me.loaded());
    me.clock().now = QTime(23, 59, 1);
    me.announce();
    QTRY_COMPARE_WITH_TIMEOUT(me.notice(), QStringLiteral("Me is online at 23:59"), 5000);

    me.clock().now = QTime(0, 0, 2);
    me.announce();
    QTRY_COMPARE_WITH_TIMEOUT(me.notice(), QStringLiteral("Me is online at 00:00"), 5000);
    QCOMPARE(me.transcript(), QString());
}

void TestPresence::presenceIsExactlySixBytesFromPort1071()
{
    Probe probe(loopback(29));
    QVERIFY(probe.isBound());
    Peer anna(loopback(20), {{"Probe", "127.0.0.29"}});
    QVERIFY(anna.loaded());

    anna.announce();
    anna.say(QStringLiteral("end"));
    const QList<Probe::Catch> caught = probe.collect(2);
    QCOMPARE(caught.size(), 2);
    QCOMPARE(caught[0].payload, QByteArray("ONLINE"));
    QCOMPARE(caught[0].payload.size(), 6);
    QCOMPARE(caught[0].from, loopback(20));
    QCOMPARE(caught[0].fromPort, kChatPort);
    QCOMPARE(caught[1].payload, QByteArray("end"));
    QVERIFY(probe.take().isEmpty());
}

void TestPresence::fiftyOneEntriesGetFiftyOneDatagramsInSlotOrder()
{
    ProbeRow probes(21, 29);
    QVERIFY(probes.isBound());
    const QList<Entry> book = fullBookOver(probes.addresses());
    Peer sender(loopback(20), book);
    QVERIFY(sender.loaded());
    QCOMPARE(sender.window().station().addressBook().count(), 51);

    sender.announce();
    const QList<Probe::Catch> caught = probes.collectInArrivalOrder(51);
    QCOMPARE(caught.size(), 51);
    for (int slot = 0; slot < 51; ++slot) {
        QCOMPARE(caught[slot].to.toString(), book[slot].address);
        QCOMPARE(caught[slot].payload, QByteArray("ONLINE"));
    }
}

void TestPresence::entriesThatCannotBeReachedArePassedOver()
{
    Probe probe(loopback(29));
    QVERIFY(probe.isBound());
    Peer sender(loopback(20), {{"Nobody", ""},
                               {"Typo", "127.0.0.300"},
                               {"Stale", "blank"},
                               {"Gone", "no-such-host.invalid"},
                               {"Probe", "127.0.0.29"},
                               {"Again", "no-such-host.invalid"},
                               {"Probe again", "127.0.0.29"}});
    QVERIFY(sender.loaded());
    sender.announce();
    const QList<Probe::Catch> caught = probe.collect(2);
    QCOMPARE(caught.size(), 2);
    QCOMPARE(caught[0].payload, QByteArray("ONLINE"));
    QCOMPARE(caught[1].payload, QByteArray("ONLINE"));
}

void TestPresence::onlyTheEntriesListedNowAreAnnouncedTo()
{
    Probe kept(loopback(28));
    Probe deleted(loopback(29));
    QVERIFY(kept.isBound() && deleted.isBound());
    Peer sender(loopback(20), {{"Deleted", "127.0.0.29"}, {"Kept", "127.0.0.28"}});
    QVERIFY(sender.loaded());
    const MainUi& ui = sender.ui();

    ui.ListIPaddress->setCurrentRow(0);
    ui.BUTTdeleteAddress->click();
    sender.announce();
    QCOMPARE(kept.collect(1).size(), 1);
    QVERIFY(deleted.take().isEmpty());

    // With an empty address book a pass sends nothing at all.
    ui.ListIPaddress->setCurrentRow(0);
    ui.BUTTdeleteAddress->click();
    QCOMPARE(sender.window().station().addressBook().count(), 0);
    sender.announce();
    sender.dialogs().answers = {QStringLiteral("Back"), QStringLiteral("127.0.0.28")};
    ui.BUTTaddNewAddress->click();
    sender.say(QStringLiteral("back again"));
    const QList<Probe::Catch> caught = kept.collect(1);
    QCOMPARE(caught.size(), 1);
    QCOMPARE(caught[0].payload, QByteArray("back again"));
    QVERIFY(deleted.take().isEmpty());
}

void TestPresence::firstPassAfterThreeSecondsThenEveryMinute()
{
    using std::chrono::milliseconds;
    Probe probe(loopback(29));
    QVERIFY(probe.isBound());
    Peer sender(loopback(20), {{"Probe", "127.0.0.29"}});
    QVERIFY(sender.loaded());
    FixedClock& clock = sender.clock();
    // A datagram to a literal address is in the probe's socket before the send returns.
    const auto passes = [&probe] {
        int online = 0;
        for (const Probe::Catch& one : probe.take())
            online += one.payload == "ONLINE";
        return online;
    };

    clock.advance(milliseconds(2999));
    QCOMPARE(passes(), 0);
    clock.advance(milliseconds(1));
    QCOMPARE(passes(), 1);
    clock.advance(milliseconds(59999));
    QCOMPARE(passes(), 0);
    clock.advance(milliseconds(1));
    QCOMPARE(passes(), 1);
    clock.advance(std::chrono::minutes(3));
    QCOMPARE(passes(), 3);

    // An announcement made at once puts the next timed one a minute after it.
    clock.advance(std::chrono::seconds(20));
    sender.announce();
    QCOMPARE(passes(), 1);
    clock.advance(std::chrono::seconds(59));
    QCOMPARE(passes(), 0);
    clock.advance(std::chrono::seconds(1));
    QCOMPARE(passes(), 1);
}

void TestPresence::aTakenPortIsReportedAndFilesStillWork()
{
    QUdpSocket other;
    QVERIFY(other.bind(loopback(21), kChatPort));
    Peer anna(loopback(21), {{"Bob", "127.0.0.22"}});
    QVERIFY(anna.loaded());
    QVERIFY2(anna.notice().contains(QLatin1String("1071")), qPrintable(anna.notice()));
    QVERIFY2(anna.notice().contains(QLatin1String("Error 10048")), qPrintable(anna.notice()));

    QTcpSocket files;
    files.connectToHost(loopback(21), kFilePort);
    QTRY_COMPARE_WITH_TIMEOUT(files.state(), QAbstractSocket::ConnectedState, 5000);
}

QTEST_MAIN(TestPresence)
#include "tst_presence.moc"
