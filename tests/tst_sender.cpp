#include "plain/localport.h"
#include "plain/protocol.h"
#include "plain/replylines.h"
#include "support/enginefakes.h"
#include "support/rawreceiver.h"
#include "support/senderwatch.h"
#include "support/testfiles.h"
#include "text/speedtext.h"
#include "transfer/sendtext.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace
{

const QHostAddress kSenderAddress(QStringLiteral("127.0.0.12"));
const QHostAddress kPeerAddress(QStringLiteral("127.0.0.13"));
constexpr int kWait = 5000;

} // namespace

class TestSender : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English)); }
    void init();
    void cleanup();

    void replyLines();
    void localPorts();
    void statusWordsAreTheWindows();

    void sendsTheExactBytesAndFollowsTheCounts();
    void acceptanceIsAnyFirstLine();
    void countsSplitOrJoinedAnyway();
    void emptyFileCompletesOnAcceptance();
    void closeBeforeAcceptanceEndsTheWait();
    void silentReceiverEndsTheTransfer();
    void repeatedCountsAreNoSignOfLife();
    void refusedConnectionIsTriedAgainThenReported();
    void turnedAwayConnectionIsTriedAgain();
    void fileThatShrankEndsWithAMessage();
    void fileThatGrewSendsOnlyTheAnnouncedBytes();
    void takenLocalPortIsDrawnAgain();
    void batchSendsEveryRowOnItsOwnConnection();
    void missingFileIsSkipped();
    void speedMeterTicks();

private:
    QString makeFile(const QString& name, const QByteArray& content);
    void queue(const QString& path);
    void startBatch();
    // Waits for the header of the newest connection and answers with the acceptance.
    void accept();
    std::unique_ptr<QTemporaryDir> dir_;
    ScriptedRandom random_;
    std::unique_ptr<FileSender> sender_;
    std::unique_ptr<SendBatch> batch_;
    std::unique_ptr<SenderWatch> watch_;
    std::unique_ptr<RawReceiver> peer_;
};

void TestSender::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    random_.numbers.clear();
    sender_ = std::make_unique<FileSender>(random_, kSenderAddress);
    sender_->setRefusalRetries(0, std::chrono::milliseconds(10));
    batch_ = std::make_unique<SendBatch>(*sender_);
    watch_ = std::make_unique<SenderWatch>(*sender_, *batch_);
    peer_ = std::make_unique<RawReceiver>();
    QVERIFY(peer_->listen(kPeerAddress, kFilePort));
}

void TestSender::cleanup()
{
    watch_.reset();
    batch_.reset();
    sender_.reset();
    peer_.reset();
    dir_.reset();
}

QString TestSender::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = QDir(dir_->path()).filePath(name);
    if (!writeFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestSender::queue(const QString& path)
{
    batch_->append(path);
}

void TestSender::startBatch()
{
    batch_->start([] { return std::optional<QString>(kPeerAddress.toString()); });
}

void TestSender::accept()
{
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() > 0 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->reply("OK\n");
}

void TestSender::replyLines()
{
    ReplyLineSplitter splitter;
    QCOMPARE(splitter.feed("OK\n10"), QList<QByteArray>{"OK"});
    QCOMPARE(splitter.feed("24\n2048\n30"), (QList<QByteArray>{"1024", "2048"}));
    QCOMPARE(splitter.feed("00\r\n"), QList<QByteArray>{"3000\r"});
    QCOMPARE(splitter.feed(QByteArray(ReplyLineSplitter::kMaxLineBytes + 1, '7')),
             QList<QByteArray>{});
    QCOMPARE(splitter.feed("777\n5\n"),
             QList<QByteArray>{"5"}); // the overlong line is dropped whole

    QCOMPARE(parseCount("1024"), std::optional<qint64>(1024));
    QCOMPARE(parseCount(" 1024 \r"), std::optional<qint64>(1024));
    QCOMPARE(parseCount("5000000000"), std::optional<qint64>(5000000000));
    QCOMPARE(parseCount("OK"), std::nullopt);
    QCOMPARE(parseCount("-5"), std::nullopt);
    QCOMPARE(parseCount("1 024"), std::nullopt);
    QCOMPARE(parseCount(""), std::nullopt);
}

void TestSender::localPorts()
{
    QCOMPARE(localPortFor(0.0f), 1055);
    QCOMPARE(localPortFor(0.999999f), 1105);
    QCOMPARE(localPortFor(0.01f), 1055); // 0.5 goes to the even 0
    QCOMPARE(localPortFor(0.03f), 1057); // 1.5 goes to 2
    QCOMPARE(localPortFor(0.05f), 1057); // 2.5 goes to 2
    QCOMPARE(localPortFor(0.5f), 1080);
    UnseededRandom random;
    for (int i = 0; i < 2000; ++i) {
        const quint16 port = localPortFor(random.next());
        QVERIFY(port >= 1055 && port <= 1105);
    }
}

// Both faces word every status as the window always has; the receiver's words stay its own.
void TestSender::statusWordsAreTheWindows()
{
    using Stage = SendStatus::Stage;
    const auto at = [](Stage stage, auto&& fill) {
        SendStatus status = SendStatus::at(stage);
        fill(status);
        return status;
    };
    const auto none = [](SendStatus&) {};
    const auto notSent = [](NotSentReason reason, const QString& text = {}) {
        return SendStatus::notSent(reason, text);
    };
    SendStatus privatePort =
        SendStatus::fromSocketError(QAbstractSocket::ConnectionRefusedError, "refused");
    privatePort.privatePortRefused = true;
    const struct {
        SendStatus status;
        QString text;
        QString detail;
    } rows[] = {
        {at(Stage::None, none), {}, {}},
        {at(Stage::Connected, none), "Connected", {}},
        {at(Stage::Sending, none), "Sending File", {}},
        {at(Stage::Resuming,
            [](SendStatus& s) {
                s.offset = 73;
                s.size = 100;
            }),
         "Resuming at 73 %",
         {}},
        {at(Stage::SendingAgain, [](SendStatus& s) { s.told = "The bytes do not match"; }),
         "Sending again whole: The bytes do not match",
         {}},
        {at(Stage::Sent, none), "File Sent", {}},
        {at(Stage::NoAnswer, [](SendStatus& s) { s.seconds = 60; }),
         "Closed: no answer for 60 seconds",
         {}},
        {SendStatus::fromSocketError(QAbstractSocket::HostNotFoundError, "Host not found"),
         "Error 11001", "Host not found"},
        {privatePort, "Error 10061",
         "refused. The private port did not take the connection, and nothing goes in the clear "
         "to someone whose key is known"},
        {at(Stage::KeyNotShown,
            [](SendStatus& s) {
                s.keyName = "Anna";
                s.address = "127.0.0.131";
            }),
         "the computer at 127.0.0.131 did not show Anna's key",
         "Anna may have a new address, or reinstalled Quillo. Compare codes before you forget the "
         "old key."},
        {notSent(NotSentReason::Unreadable, "Permission denied"),
         "Not sent: Permission denied",
         {}},
        {notSent(NotSentReason::Refused, "<b>full</b>"), "Not sent: <b>full</b>", {}},
        {notSent(NotSentReason::Refused), "Not sent: ", {}},
        {notSent(NotSentReason::FailedOnArrival, "The bytes do not match"),
         "Not sent: The bytes do not match",
         {}},
        {notSent(NotSentReason::ReceiverEnded), "Not sent: the receiver ended", {}},
        {notSent(NotSentReason::ReceiverEnded, "Stopping"), "Not sent: Stopping", {}},
        {notSent(NotSentReason::BrokeProtocol),
         "Not sent: the receiver did not keep to the private protocol",
         {}},
        {notSent(NotSentReason::ClosedPrivately),
         "Not sent: the receiver closed the private connection",
         {}},
        {notSent(NotSentReason::KeyKnown),
         "Not sent: private transfers are off, and nothing goes in the clear to someone whose "
         "key is known",
         {}},
        {notSent(NotSentReason::CutBefore), "Not sent: the connection broke off before it", {}},
    };
    for (const auto& row : rows) {
        QCOMPARE(sendStatusText(row.status), row.text);
        QCOMPARE(sendStatusDetail(row.status), row.detail);
    }
    // What the window's notice of a file not taken begins with.
    QCOMPARE(notSentText(notSent(NotSentReason::Refused, "full")), QStringLiteral("full"));
}

void TestSender::sendsTheExactBytesAndFollowsTheCounts()
{
    const QByteArray content = someBytes(3000);
    const QString path = makeFile(QStringLiteral("my plan #2.txt"), content);
    queue(path);
    // Ports that no other test draws first, in case one is still held from an earlier run.
    random_.numbers = {0.5f, 0.7f, 0.9f, 0.3f};
    startBatch();
    QCOMPARE(watch_->place, QStringLiteral("1 of 1"));
    QCOMPARE(watch_->path, path);
    QCOMPARE(watch_->status, QStringLiteral("Connecting..."));

    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && !peer_->last().received.isEmpty(), kWait);
    QCOMPARE(watch_->status, QStringLiteral("Connected"));
    QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received,
                              QByteArray("FILENAME my plan #2.txt #3000\r\n"), kWait);
    const QList<quint16> drawn{1080, 1090, 1100, 1070};
    QVERIFY2(drawn.contains(peer_->last().peerPort),
             qPrintable(QString::number(peer_->last().peerPort)));

    peer_->reply("OK\n");
    QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received.size(), 31 + 3000, kWait);
    QCOMPARE(peer_->last().received.mid(31), content);
    QCOMPARE(watch_->status, QStringLiteral("Sending File"));
    QVERIFY(sender_->findChild<SpeedMeter*>()->isRunning());

    peer_->reply("1024\n2048\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->confirmed, 2048, kWait);

    peer_->reply("3000\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(watch_->status, QStringLiteral("File Sent"));
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Sent});
    QVERIFY(!sender_->findChild<SpeedMeter*>()->isRunning());
    QCOMPARE(watch_->place, QStringLiteral("1 of 1"));
    QCOMPARE(batch_->paths().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
}

void TestSender::acceptanceIsAnyFirstLine()
{
    queue(makeFile(QStringLiteral("a.bin"), "abc"));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->reply("whatever you like\n");
    QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received.right(3), QByteArray("abc"), kWait);
    peer_->reply("nonsense\n-3\n");
    peer_->reply("2\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->confirmed, 2, kWait);
    peer_->reply("9\n"); // more than the size: shown as 100 %, not complete
    QTRY_COMPARE_WITH_TIMEOUT(watch_->confirmed, 9, kWait);
    QVERIFY(!peer_->last().closed);
    peer_->reply("3\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(watch_->status, QStringLiteral("File Sent"));
}

void TestSender::countsSplitOrJoinedAnyway()
{
    queue(makeFile(QStringLiteral("c.bin"), someBytes(1024)));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->reply("OK\n51"); // the acceptance and half a count in one arrival
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.size() > 1024, kWait);
    peer_->reply("2\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->confirmed, 512, kWait);
    peer_->reply("1024\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(watch_->status, QStringLiteral("File Sent"));
}

void TestSender::emptyFileCompletesOnAcceptance()
{
    queue(makeFile(QStringLiteral("empty.txt"), QByteArray()));
    startBatch();
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(peer_->last().received, QByteArray("FILENAME empty.txt #0\r\n"));
    QCOMPARE(watch_->status, QStringLiteral("File Sent"));
}

// Without retries left, a receiver that closes before its acceptance is not tried again in
// the same batch: its other files end at once, as the first did. The next batch tries it.
void TestSender::closeBeforeAcceptanceEndsTheWait()
{
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    queue(makeFile(QStringLiteral("two.txt"), "2"));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->last().socket->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>(2, SendOutcome::PeerClosed));
    QCOMPARE(watch_->place, QStringLiteral("2 of 2"));
    QCOMPARE(peer_->count(), 1);

    startBatch();
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.endsWith("1"), kWait);
}

void TestSender::silentReceiverEndsTheTransfer()
{
    sender_->setIdleTimeout(std::chrono::milliseconds(200));
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    queue(makeFile(QStringLiteral("two.txt"), "2"));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() >= 1 && peer_->connections.first()->closed, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait); // silent again
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QVERIFY(watch_->status.startsWith(QLatin1String("Closed: no answer for ")));
}

void TestSender::repeatedCountsAreNoSignOfLife()
{
    sender_->setIdleTimeout(std::chrono::milliseconds(300));
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    startBatch();
    accept();
    QTimer repeater;
    connect(&repeater, &QTimer::timeout, this, [this] { peer_->reply("0\n"); });
    repeater.start(50);
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QVERIFY2(watch_->status.startsWith(QLatin1String("Closed: no answer for ")),
             qPrintable(watch_->status));
}

void TestSender::refusedConnectionIsTriedAgainThenReported()
{
    peer_->server.close();
    sender_->setRefusalRetries(3, std::chrono::milliseconds(50));
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    startBatch();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Error 10061"), kWait);
    QVERIFY(!watch_->detail.isEmpty());
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Failed});
    QCOMPARE(watch_->ends.first().status.socketError, QAbstractSocket::ConnectionRefusedError);
    QVERIFY(!watch_->ends.first().isPrivate);
    QCOMPARE(watch_->ends.first().counted, 0);

    // A receiver back to listening within the retries gets the file.
    sender_->setRefusalRetries(20, std::chrono::milliseconds(50));
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    startBatch();
    QTimer::singleShot(200, [this] { QVERIFY(peer_->server.listen(kPeerAddress, kFilePort)); });
    accept();
    peer_->reply("1\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("File Sent"), kWait);
}

void TestSender::turnedAwayConnectionIsTriedAgain()
{
    // A receiver with every place taken closes the connection before its acceptance.
    sender_->setRefusalRetries(3, std::chrono::milliseconds(50));
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    startBatch();
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 1, kWait);
    peer_->last().socket->abort();
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    accept();
    peer_->reply("1\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("File Sent"), kWait);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::Sent});
}

void TestSender::fileThatShrankEndsWithAMessage()
{
    const QString path = makeFile(QStringLiteral("shrinks.bin"), someBytes(5000));
    queue(path);
    queue(makeFile(QStringLiteral("next.txt"), "n"));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    QVERIFY(QFile::resize(path, 1500));
    peer_->reply("OK\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->connections.first()->closed, kWait);
    QCOMPARE(watch_->readFailures.size(), 1);
    QCOMPARE(watch_->outcomes, QList<SendOutcome>{SendOutcome::NotSent});
    QVERIFY(peer_->connections.first()->received.size() <= 31 + 1500);
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait); // the batch goes on
}

void TestSender::fileThatGrewSendsOnlyTheAnnouncedBytes()
{
    const QByteArray content = someBytes(2000);
    const QString path = makeFile(QStringLiteral("grows.bin"), content);
    queue(path);
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(QByteArray(3000, 'x'));
    file.close();
    peer_->reply("OK\n");
    const qsizetype headerSize = peer_->last().received.size();
    QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received.size(), headerSize + 2000, kWait);
    peer_->reply("2000\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(peer_->last().received.mid(headerSize), content);
}

void TestSender::takenLocalPortIsDrawnAgain()
{
    // Another program holds the first port drawn, then every port drawn.
    QTcpServer first;
    QVERIFY(first.listen(kSenderAddress, 1080));
    queue(makeFile(QStringLiteral("a.txt"), "a"));
    random_.numbers = {0.5f, 0.7f};
    startBatch();
    accept();
    QCOMPARE(peer_->last().peerPort, 1090);
    peer_->reply("1\n");
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QList<std::shared_ptr<QTcpServer>> holders;
    for (const quint16 port : {1060, 1065, 1075, 1085}) {
        holders.append(std::make_shared<QTcpServer>());
        QVERIFY(holders.last()->listen(kSenderAddress, port));
    }
    random_.numbers = {0.1f, 0.2f, 0.4f, 0.6f};
    startBatch();
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    accept();
    QVERIFY(peer_->last().peerPort > 1105); // the system chose
    peer_->reply("1\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("File Sent"), kWait);
}

void TestSender::batchSendsEveryRowOnItsOwnConnection()
{
    const QStringList names{"1.txt", "2.txt", "3.txt"};
    for (const QString& name : names)
        queue(makeFile(name, name.toUtf8()));
    startBatch();
    for (int i = 0; i < names.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), i + 1, kWait);
        QCOMPARE(watch_->place, QStringLiteral("%1 of 3").arg(i + 1));
        // The previous connection is closed before the next one begins.
        for (int j = 0; j < i; ++j)
            QVERIFY(peer_->connections[j]->closed);
        accept();
        QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.endsWith(names[i].toUtf8()), kWait);
        peer_->reply("5\n");
    }
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(peer_->count(), 3);
    QCOMPARE(watch_->status, QStringLiteral("File Sent"));
}

void TestSender::missingFileIsSkipped()
{
    const QString gone = makeFile(QStringLiteral("gone.txt"), "g");
    queue(gone);
    queue(makeFile(QStringLiteral("here.txt"), "h"));
    QVERIFY(QFile::remove(gone));
    startBatch();
    QCOMPARE(watch_->place, QStringLiteral("2 of 2"));
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.startsWith("FILENAME here.txt #1\r\n"), kWait);
    QCOMPARE(peer_->count(), 1);
}

void TestSender::speedMeterTicks()
{
    // Driven by hand: the meter's own timer never gets to tick in this test.
    sender_->findChild<SpeedMeter*>()->setInterval(std::chrono::hours(1));
    QStringList shown;
    connect(sender_.get(), &FileSender::speedTicked, this,
            [&shown](qint64 bytes, int seconds) { shown.append(speedText(bytes, seconds)); });
    queue(makeFile(QStringLiteral("s.bin"), someBytes(20480)));
    startBatch();
    accept();
    QTRY_COMPARE_WITH_TIMEOUT(watch_->status, QStringLiteral("Sending File"), kWait);
    sender_->findChild<SpeedMeter*>()->tick();
    peer_->reply("10240\n");
    QTRY_COMPARE_WITH_TIMEOUT(watch_->confirmed, 10240, kWait);
    sender_->findChild<SpeedMeter*>()->tick();
    QCOMPARE(shown, (QStringList{"000.00 K per Second", "005.00 K per Second"}));
}

QTEST_GUILESS_MAIN(TestSender)
#include "tst_sender.moc"
