#include "support/chatpeers.h"
#include "window/chattranscript.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

// Windows and probes here use 127.0.0.30 to 127.0.0.39, and 127.0.0.110.
class TestMiniChat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aLineReachesEveryListedPeer();
    void onlineTypedAsChatIsPresenceAtTheReceiver();
    void anEmptyLineIsSentAndShown();
    void theLineIsTheBareTextOnTheWire();
    void fiftyOneEntriesGetTheLineInSlotOrder();
    void enterWithAnEmptyBookLeavesTheInputAlone();
    void enterWithShiftOrCtrlSendsAndOtherKeysType();
    void ownLineComesBeforeTheEchoOfItsOwnDatagram();
    void markupInAReceivedLineIsShownAsTyped();
    void aBurstOfDatagramsIsShownWholeAndInOrder();
    void clickingIntoTheTranscriptGivesTheFocusToTheInput();
    void theTranscriptFillsItsBoxWithTheNewestLineAtTheBottom();
    void aFloodLeavesTheWindowResponsiveAndTheTranscriptBounded();
};

void TestMiniChat::aLineReachesEveryListedPeer()
{
    Peer anna(loopback(30), {{"Bob", "127.0.0.31"}, {"Cleo", "127.0.0.32"}});
    Peer bob(loopback(31), {{"Anna", "127.0.0.30"}});
    Peer cleo(loopback(32), {{"Bob", "127.0.0.31"}});
    QVERIFY(anna.loaded() && bob.loaded() && cleo.loaded());
    anna.ui().ListIPaddress->setCurrentRow(1); // the selection plays no part

    anna.say(QStringLiteral("hello there"));
    QCOMPARE(anna.transcript(), QStringLiteral("You Said: hello there\n"));
    QCOMPARE(anna.ui().ChatTX->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(bob.transcript(), QStringLiteral("Anna Says: hello there\n"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(cleo.transcript(), QStringLiteral("UNKNOWN Says: hello there\n"),
                              5000);

    const QList<Piece> expected{{"UNKNOWN Says: ", kBlue}, {"hello there", kBlack}};
    QCOMPARE(piecesOf(*cleo.ui().ChatRX->document()), expected);
}

void TestMiniChat::onlineTypedAsChatIsPresenceAtTheReceiver()
{
    Peer anna(loopback(30), {{"Bob", "127.0.0.31"}, {"Cleo", "127.0.0.32"}});
    Peer bob(loopback(31), {{"Anna", "127.0.0.30"}});
    Peer cleo(loopback(32), {});
    QVERIFY(anna.loaded() && bob.loaded() && cleo.loaded());
    const QString credits = cleo.notice();
    bob.clock().now = QTime(14, 30, 0);

    anna.say(QStringLiteral("ONLINE"));
    QCOMPARE(anna.transcript(), QStringLiteral("You Said: ONLINE\n"));
    QTRY_COMPARE_WITH_TIMEOUT(bob.notice(), QStringLiteral("Anna is online at 14:30"), 5000);

    for (const char* line : {"online", " ONLINE", "ONLINE ", "Online"})
        anna.say(QString::fromLatin1(line));
    const QString shown = QStringLiteral("%1 Says: online\n%1 Says:  ONLINE\n"
                                         "%1 Says: ONLINE \n%1 Says: Online\n");
    QTRY_COMPARE_WITH_TIMEOUT(bob.transcript(), shown.arg(QLatin1String("Anna")), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(cleo.transcript(), shown.arg(QLatin1String("UNKNOWN")), 5000);
    QCOMPARE(cleo.notice(), credits);
}

void TestMiniChat::anEmptyLineIsSentAndShown()
{
    Peer anna(loopback(30), {{"Bob", "127.0.0.31"}});
    Peer bob(loopback(31), {{"Anna", "127.0.0.30"}});
    QVERIFY(anna.loaded() && bob.loaded());

    anna.say(QString());
    QCOMPARE(anna.transcript(), QStringLiteral("You Said: \n"));
    QTRY_COMPARE_WITH_TIMEOUT(bob.transcript(), QStringLiteral("Anna Says: \n"), 5000);
    const QList<Piece> expected{{"Anna Says: ", kBlue}};
    QCOMPARE(piecesOf(*bob.ui().ChatRX->document()), expected);
}

void TestMiniChat::theLineIsTheBareTextOnTheWire()
{
    Probe probe(loopback(39));
    QVERIFY(probe.isBound());
    Peer anna(loopback(30), {{"Probe", "127.0.0.39"}});
    QVERIFY(anna.loaded());

    anna.say(QString::fromUtf8("Grüße <b>x</b>"));
    anna.say(QStringLiteral(" padded "));
    anna.say(QString());
    const QList<Probe::Catch> caught = probe.collect(3);
    QCOMPARE(caught.size(), 3);
    QCOMPARE(caught[0].payload, QByteArray("Gr\xC3\xBC\xC3\x9F"
                                           "e <b>x</b>"));
    QCOMPARE(caught[1].payload, QByteArray(" padded "));
    QCOMPARE(caught[2].payload, QByteArray());
    for (const Probe::Catch& one : caught) {
        QCOMPARE(one.from, loopback(30));
        QCOMPARE(one.fromPort, kChatPort);
    }
}

void TestMiniChat::fiftyOneEntriesGetTheLineInSlotOrder()
{
    ProbeRow probes(31, 39);
    QVERIFY(probes.isBound());
    const QList<Entry> book = fullBookOver(probes.addresses());
    Peer sender(loopback(30), book);
    QVERIFY(sender.loaded());
    QCOMPARE(sender.window().station().addressBook().count(), 51);

    sender.say(QStringLiteral("to all"));
    const QList<Probe::Catch> caught = probes.collectInArrivalOrder(51);
    QCOMPARE(caught.size(), 51);
    for (int slot = 0; slot < 51; ++slot) {
        QCOMPARE(caught[slot].to.toString(), book[slot].address);
        QCOMPARE(caught[slot].payload, QByteArray("to all"));
    }
    QCOMPARE(sender.transcript(), QStringLiteral("You Said: to all\n"));
}

void TestMiniChat::enterWithAnEmptyBookLeavesTheInputAlone()
{
    Probe probe(loopback(39));
    QVERIFY(probe.isBound());
    Peer anna(loopback(30), {});
    QVERIFY(anna.loaded());
    QLineEdit& input = *anna.ui().ChatTX;
    QSignalSpy passedOn(&input, &QLineEdit::returnPressed);

    anna.say(QStringLiteral("typed"));
    QCOMPARE(input.text(), QStringLiteral("typed"));
    QCOMPARE(passedOn.count(), 1); // the key was not used up
    QCOMPARE(anna.transcript(), QString());

    // Once someone is listed, the same key sends what was left in the input.
    anna.dialogs().answers = {QStringLiteral("Probe"), QStringLiteral("127.0.0.39")};
    anna.ui().BUTTaddNewAddress->click();
    QTest::keyClick(&input, Qt::Key_Return);
    QCOMPARE(passedOn.count(), 1);
    QCOMPARE(input.text(), QString());
    QCOMPARE(anna.transcript(), QStringLiteral("You Said: typed\n"));
    const QList<Probe::Catch> caught = probe.collect(1);
    QCOMPARE(caught.size(), 1);
    QCOMPARE(caught[0].payload, QByteArray("typed"));
}

void TestMiniChat::enterWithShiftOrCtrlSendsAndOtherKeysType()
{
    Probe probe(loopback(39));
    QVERIFY(probe.isBound());
    Peer anna(loopback(30), {{"Probe", "127.0.0.39"}});
    QVERIFY(anna.loaded());
    QLineEdit& input = *anna.ui().ChatTX;

    QTest::keyClicks(&input, QStringLiteral("one"));
    QTest::keyClick(&input, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(&input, QStringLiteral("two"));
    QTest::keyClick(&input, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClicks(&input, QStringLiteral("three"));
    QTest::keyClick(&input, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClicks(&input, QStringLiteral("four"));
    QTest::keyClick(&input, Qt::Key_Backspace);
    QCOMPARE(input.text(), QStringLiteral("fou"));

    const QList<Probe::Catch> caught = probe.collect(3);
    QCOMPARE(caught.size(), 3);
    QCOMPARE(caught[0].payload, QByteArray("one"));
    QCOMPARE(caught[1].payload, QByteArray("two"));
    QCOMPARE(caught[2].payload, QByteArray("three"));
    QCOMPARE(anna.transcript(), QStringLiteral("You Said: one\nYou Said: two\nYou Said: three\n"));
}

void TestMiniChat::ownLineComesBeforeTheEchoOfItsOwnDatagram()
{
    Peer me(loopback(33), {{"Me", "127.0.0.33"}, {"Bob", "127.0.0.34"}});
    Peer bob(loopback(34), {{"Me", "127.0.0.33"}});
    QVERIFY(me.loaded() && bob.loaded());

    me.say(QStringLiteral("hi"));
    QTRY_COMPARE_WITH_TIMEOUT(me.transcript(), QStringLiteral("You Said: hi\nMe Says: hi\n"), 5000);
    const QList<Piece> expected{
        {"You Said: ", kBlue}, {"hi", kBlack}, {"Me Says: ", kBlue}, {"hi", kBlack}};
    QCOMPARE(piecesOf(*me.ui().ChatRX->document()), expected);

    // Lines go in in the order in which they came.
    bob.say(QStringLiteral("from bob"));
    QTRY_VERIFY_WITH_TIMEOUT(me.transcript().endsWith(QLatin1String("Bob Says: from bob\n")), 5000);
    me.say(QStringLiteral("again"));
    QTRY_COMPARE_WITH_TIMEOUT(me.transcript(),
                              QStringLiteral("You Said: hi\nMe Says: hi\nBob Says: from bob\n"
                                             "You Said: again\nMe Says: again\n"),
                              5000);
}

void TestMiniChat::markupInAReceivedLineIsShownAsTyped()
{
    Peer anna(loopback(30), {{"Bob", "127.0.0.31"}});
    Peer bob(loopback(31), {{"Anna", "127.0.0.30"}});
    QVERIFY(anna.loaded() && bob.loaded());

    const QString line = QStringLiteral("<b>hi</b> <img src=\"x.png\"> &lt; <br>");
    anna.say(line);
    QTRY_COMPARE_WITH_TIMEOUT(bob.transcript(), QStringLiteral("Anna Says: ") + line + "\n", 5000);
    QCOMPARE(anna.transcript(), QStringLiteral("You Said: ") + line + "\n");
    const QList<Piece> expected{{"Anna Says: ", kBlue}, {line, kBlack}};
    QCOMPARE(piecesOf(*bob.ui().ChatRX->document()), expected);
}

void TestMiniChat::aBurstOfDatagramsIsShownWholeAndInOrder()
{
    Peer anna(loopback(30), {{"Bob", "127.0.0.31"}});
    QVERIFY(anna.loaded());
    QUdpSocket bob;
    QVERIFY(bob.bind(loopback(31), 0));

    // All of them wait in the socket before the window gets to read any.
    QString expected;
    for (int i = 0; i < 200; ++i) {
        const QByteArray line = QByteArray::number(i);
        QCOMPARE(bob.writeDatagram(line, loopback(30), kChatPort), qint64(line.size()));
        expected += QStringLiteral("Bob Says: %1\n").arg(i);
    }
    QTRY_COMPARE_WITH_TIMEOUT(anna.transcript(), expected, 5000);
}

void TestMiniChat::clickingIntoTheTranscriptGivesTheFocusToTheInput()
{
    Peer anna(loopback(30), {{"Bob", "127.0.0.31"}});
    Peer bob(loopback(31), {{"Anna", "127.0.0.30"}});
    QVERIFY(anna.loaded() && bob.loaded());
    Main& window = anna.window();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    bob.say(QStringLiteral("first"));
    QTRY_COMPARE_WITH_TIMEOUT(anna.transcript(), QStringLiteral("Bob Says: first\n"), 5000);

    const MainUi& ui = anna.ui();
    ui.ListIPaddress->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(ui.ListIPaddress->hasFocus(), 5000);
    QTest::mouseClick(ui.ChatRX->viewport(), Qt::LeftButton, {}, QPoint(4, 4));
    QTRY_VERIFY_WITH_TIMEOUT(ui.ChatTX->hasFocus(), 5000);
    QVERIFY(!ui.ChatRX->hasFocus());

    ui.ListIPaddress->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(ui.ListIPaddress->hasFocus(), 5000);
    ui.ChatRX->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY_WITH_TIMEOUT(ui.ChatTX->hasFocus(), 5000);

    // Typing now goes into the input, and new lines still go in at the end.
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("typed"));
    QCOMPARE(ui.ChatTX->text(), QStringLiteral("typed"));
    bob.say(QStringLiteral("second"));
    QTRY_COMPARE_WITH_TIMEOUT(anna.transcript(),
                              QStringLiteral("Bob Says: first\nBob Says: second\n"), 5000);
}

void TestMiniChat::theTranscriptFillsItsBoxWithTheNewestLineAtTheBottom()
{
    Peer anna(loopback(110), {{"Nobody", "127.0.0.111"}});
    QVERIFY(anna.loaded());
    const QPlainTextEdit& transcript = *anna.ui().ChatRX;
    // Where the newest line stands, and whether the oldest has been scrolled out of view.
    const auto shown = [&] {
        const QTextDocument& document = *transcript.document();
        const QRect newest = transcript.cursorRect(QTextCursor(document.lastBlock().previous()));
        const QRect oldest = transcript.cursorRect(QTextCursor(document.firstBlock()));
        // The view keeps the document's margin free at the bottom.
        const int room = transcript.viewport()->height() - int(document.documentMargin());
        const int under = room - (newest.y() + newest.height());
        return std::make_tuple(under >= 0 && under < newest.height(), oldest.top() < 0);
    };
    const auto full = std::make_tuple(true, true);

    for (int i = 1; i <= 20; ++i) // before the window shows
        anna.say(QStringLiteral("line %1").arg(i));
    Main& window = anna.window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE_WITH_TIMEOUT(shown(), full, 2000);

    for (int i = 21; i <= 30; ++i)
        anna.say(QStringLiteral("line %1").arg(i));
    QTRY_COMPARE_WITH_TIMEOUT(shown(), full, 2000);
    const int unmaximised = transcript.viewport()->height();
    window.showMaximized();
    QTRY_VERIFY_WITH_TIMEOUT(transcript.viewport()->height() > unmaximised, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), full, 2000);
}

void TestMiniChat::aFloodLeavesTheWindowResponsiveAndTheTranscriptBounded()
{
    // The flooder is listed last of 51, so every lookup goes through the whole book.
    QList<Entry> book;
    for (int slot = 0; slot < 50; ++slot)
        book.append({QStringLiteral("Peer %1").arg(slot), QStringLiteral("10.9.0.%1").arg(slot)});
    book.append({QStringLiteral("Flood"), QStringLiteral("127.0.0.38")});
    Peer target(loopback(37), book);
    QVERIFY(target.loaded());
    target.window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&target.window()));

    // Datagrams as fast as a thread of their own can send them, well over the ten thousand
    // a second the window must stand, whether or not the window keeps up, until the window
    // has taken kTaken lines.
    constexpr qint64 kTaken = 3000;
    constexpr qint64 kMostSent = 50'000'000; // should the window take none at all
    struct Descriptor {
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        ~Descriptor() { ::close(fd); }
    } socket;
    const int fd = socket.fd;
    QVERIFY(fd >= 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.38");
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kChatPort);
    to.sin_addr.s_addr = inet_addr("127.0.0.37");
    qint64 taken = 0;
    std::atomic<bool> enough{false};
    connect(&target.window().station(), &Station::chatReceived, this,
            [&](const QList<ChatLine>& lines) {
                taken += lines.size();
                enough = taken >= kTaken;
            });
    std::atomic<bool> done{false};
    std::atomic<qint64> sent{0};
    std::thread flooder([&] {
        while (!enough && sent < kMostSent) {
            const QByteArray line = "flood line " + QByteArray::number(sent.load());
            ::sendto(fd, line.constData(), size_t(line.size()), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
            ++sent;
        }
        done = true;
    });

    // A heartbeat that the event loop must keep serving.
    QElapsedTimer sinceBeat;
    qint64 longestGapMs = 0;
    int beats = 0;
    QTimer heartbeat;
    heartbeat.setInterval(10);
    connect(&heartbeat, &QTimer::timeout, this, [&] {
        longestGapMs = std::max(longestGapMs, sinceBeat.restart());
        ++beats;
    });
    sinceBeat.start();
    heartbeat.start();
    // Nothing may leave this function before the thread has been joined.
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, 60000);
    heartbeat.stop();
    longestGapMs = std::max(longestGapMs, sinceBeat.elapsed());
    enough = true;
    flooder.join();
    QVERIFY(finished);
    QVERIFY2(taken >= kTaken, qPrintable(QString::number(taken)));

    // The socket may still be full when the flood stops, and a datagram that finds it
    // full is lost, so the last line is sent until it shows.
    const QByteArray last = "last";
    const bool lastShown = QTest::qWaitFor(
        [&] {
            ::sendto(fd, last.constData(), size_t(last.size()), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
            return target.transcript().endsWith(QLatin1String("Flood Says: last\n"));
        },
        20000);
    QVERIFY(lastShown);

    QVERIFY2(longestGapMs < 1000, qPrintable(QString::number(longestGapMs)));
    const QTextDocument& document = *target.ui().ChatRX->document();
    QVERIFY2(document.blockCount() <= ChatTranscript::kMaxLines + 1,
             qPrintable(QString::number(document.blockCount())));
    QVERIFY(document.blockCount() > 1000);
    const QStringList lines = target.transcript().split(QLatin1Char('\n'));
    QVERIFY(lines.first().startsWith(QLatin1String("Flood Says: flood line ")));
    qInfo("%lld sent, %lld taken, %d beats, longest gap %lld ms", sent.load(), taken, beats,
          longestGapMs);
}

QTEST_MAIN(TestMiniChat)
#include "tst_minichat.moc"
