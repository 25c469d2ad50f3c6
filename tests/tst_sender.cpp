#include "shell/mainwindow.h"
#include "support/rawreceiver.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "transfer/localport.h"
#include "transfer/protocol.h"
#include "transfer/replylines.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
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

    void addFileAsksForTheSelectedPeer();
    void addFileRefusesWhatIsNotAnOrdinaryFile();
    void clearAndEmptyQueue();
    void sendsTheExactBytesAndFollowsTheCounts();
    void acceptanceIsAnyFirstLine();
    void countsSplitOrJoinedAnyway();
    void emptyFileCompletesOnAcceptance();
    void closeBeforeAcceptanceEndsTheWait();
    void silentReceiverEndsTheTransfer();
    void refusedConnectionIsTriedAgainThenReported();
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
    const MainUi& ui() const { return window_->ui(); }

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
    std::unique_ptr<RawReceiver> peer_;
};

void TestSender::init()
{
    platform_ = std::make_unique<TestPlatform>();
    SettingsStore& settings = platform_->settings();
    settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"),
                   platform_->folder() + "/");
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), QStringLiteral("Peer"));
    settings.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"),
                   kPeerAddress.toString());
    window_ = std::make_unique<Main>(platform_->platform(), kSenderAddress);
    QVERIFY(window_->Form_Load());
    window_->sender().setRefusalRetries(0, std::chrono::milliseconds(10));
    ui().ListIPaddress->setCurrentRow(0);
    peer_ = std::make_unique<RawReceiver>();
    QVERIFY(peer_->listen(kPeerAddress, kFilePort));
}

void TestSender::cleanup()
{
    window_.reset();
    peer_.reset();
    platform_.reset();
}

QString TestSender::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = QDir(platform_->folder()).filePath(name);
    if (!writeFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestSender::queue(const QString& path)
{
    platform_->dialogs.answers = {path};
    ui().BUTTsendFile->click();
}

void TestSender::startBatch()
{
    ui().BUTsendthesefiles->click();
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

void TestSender::addFileAsksForTheSelectedPeer()
{
    const QString path = makeFile(QStringLiteral("a.txt"), "a");
    ui().ListIPaddress->clearSelection();
    platform_->dialogs.answers = {path};
    ui().BUTTsendFile->click();
    QCOMPARE(platform_->dialogs.calls.size(), 1);
    QCOMPARE(platform_->dialogs.calls[0].kind, QStringLiteral("message"));
    QCOMPARE(platform_->dialogs.calls[0].text,
             QStringLiteral("You must select a person to send to first"));
    QCOMPARE(ui().LSTsends->count(), 0);

    ui().ListIPaddress->setCurrentRow(0);
    ui().BUTTsendFile->click();
    ui().BUTTsendFile->click(); // the same file twice is queued twice
    platform_->dialogs.answers = {path};
    ui().BUTTsendFile->click();
    QCOMPARE(platform_->dialogs.calls[1].kind, QStringLiteral("openFile"));
    QCOMPARE(platform_->dialogs.calls[1].title, QStringLiteral("Choose a FIle to Send to Peer"));
    QCOMPARE(ui().LSTsends->count(), 2); // the one with no answer was a cancel
    QCOMPARE(ui().LSTsends->item(1)->text(), path);
}

void TestSender::addFileRefusesWhatIsNotAnOrdinaryFile()
{
    queue(makeFile(QStringLiteral(".hidden"), "h"));
    queue(platform_->folder());
    queue(platform_->folder() + QStringLiteral("/missing.txt"));
    QCOMPARE(ui().LSTsends->count(), 0);
    QCOMPARE(platform_->dialogs.calls.size(), 3); // three dialogs, no message
}

void TestSender::clearAndEmptyQueue()
{
    startBatch(); // nothing queued: nothing happens
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("0 of 0 Files"));
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Disconnected"));

    queue(makeFile(QStringLiteral("a.txt"), "a"));
    queue(makeFile(QStringLiteral("b.txt"), "b"));
    ui().BUTclearsends->click();
    QCOMPARE(ui().LSTsends->count(), 0);
    QCOMPARE(peer_->count(), 0);
}

void TestSender::sendsTheExactBytesAndFollowsTheCounts()
{
    const QByteArray content = someBytes(3000);
    const QString path = makeFile(QStringLiteral("my plan #2.txt"), content);
    queue(path);
    // Ports that no other test draws first, in case one is still held from an earlier run.
    platform_->random.numbers = {0.5f, 0.7f, 0.9f, 0.3f};
    startBatch();
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("1 of 1 Files"));
    QCOMPARE(ui().LABSendFileName->text(), path);
    QCOMPARE(ui().LABSendRemoteIP->text(), kPeerAddress.toString());
    QCOMPARE(ui().LABSendFileSize->text(), QStringLiteral("3000"));
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Connecting..."));

    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && !peer_->last().received.isEmpty(), kWait);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Connected"));
    QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received,
                              QByteArray("FILENAME my plan #2.txt #3000\r\n"), kWait);
    const QList<quint16> drawn{1080, 1090, 1100, 1070};
    QVERIFY2(drawn.contains(peer_->last().peerPort),
             qPrintable(QString::number(peer_->last().peerPort)));

    peer_->reply("OK\n");
    QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received.size(), 31 + 3000, kWait);
    QCOMPARE(peer_->last().received.mid(31), content);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Sending File"));
    QVERIFY(ui().TimerSendSpeed->isActive());

    peer_->reply("1024\n2048\n");
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendBytesSent->text(), QStringLiteral("2048"), kWait);
    QCOMPARE(ui().LABprogressSend->text(), QStringLiteral("68 %"));
    QCOMPARE(ui().ProgressSend->value(), 68);

    peer_->reply("3000\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("File Sent"));
    QCOMPARE(ui().LABSendRemoteIP->text(), QStringLiteral("0.0.0.0"));
    QCOMPARE(ui().LABSendFileName->text(), QString());
    QCOMPARE(ui().LABSendBytesSent->text(), QStringLiteral("0"));
    QCOMPARE(ui().LABSendFileSize->text(), QStringLiteral("0"));
    QCOMPARE(ui().LABprogressSend->text(), QStringLiteral("0 %"));
    QCOMPARE(ui().LABsendSpeed->text(), QStringLiteral("0 K per second"));
    QCOMPARE(ui().ProgressSend->value(), 0);
    QVERIFY(!ui().TimerSendSpeed->isActive());
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("1 of 1 Files"));
    QCOMPARE(ui().LSTsends->count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->sendQueue().isSending(), kWait);
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
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendBytesSent->text(), QStringLiteral("2"), kWait);
    QCOMPARE(ui().LABprogressSend->text(), QStringLiteral("66 %"));
    peer_->reply("9\n"); // more than the size: shown as 100 %, not complete
    QTRY_COMPARE_WITH_TIMEOUT(ui().ProgressSend->value(), 100, kWait);
    QVERIFY(!peer_->last().closed);
    peer_->reply("3\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("File Sent"));
}

void TestSender::countsSplitOrJoinedAnyway()
{
    queue(makeFile(QStringLiteral("c.bin"), someBytes(1024)));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->reply("OK\n51"); // the acceptance and half a count in one arrival
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.size() > 1024, kWait);
    peer_->reply("2\n");
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendBytesSent->text(), QStringLiteral("512"), kWait);
    QCOMPARE(ui().LABprogressSend->text(), QStringLiteral("50 %"));
    peer_->reply("1024\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("File Sent"));
}

void TestSender::emptyFileCompletesOnAcceptance()
{
    queue(makeFile(QStringLiteral("empty.txt"), QByteArray()));
    startBatch();
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(peer_->last().received, QByteArray("FILENAME empty.txt #0\r\n"));
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("File Sent"));
}

void TestSender::closeBeforeAcceptanceEndsTheWait()
{
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    queue(makeFile(QStringLiteral("two.txt"), "2"));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->last().socket->disconnectFromHost();
    // The batch goes on with the next row.
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("2 of 2 Files"));
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.endsWith("2"), kWait);
}

void TestSender::silentReceiverEndsTheTransfer()
{
    window_->sender().setIdleTimeout(std::chrono::milliseconds(200));
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    queue(makeFile(QStringLiteral("two.txt"), "2"));
    startBatch();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() >= 1 && peer_->connections.first()->closed, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait); // silent again
    QTRY_VERIFY_WITH_TIMEOUT(!window_->sendQueue().isSending(), kWait);
    QVERIFY(ui().LABSendStatus->text().startsWith(QLatin1String("Closed: no answer for ")));
}

void TestSender::refusedConnectionIsTriedAgainThenReported()
{
    peer_->server.close();
    window_->sender().setRefusalRetries(3, std::chrono::milliseconds(50));
    queue(makeFile(QStringLiteral("one.txt"), "1"));
    startBatch();
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendStatus->text(), QStringLiteral("Error 10061"), kWait);
    QVERIFY(!ui().LABSendStatus->toolTip().isEmpty());
    QCOMPARE(ui().LABSendFileName->text(), ui().LSTsends->item(0)->text()); // not reset

    // A receiver back to listening within the retries gets the file.
    window_->sender().setRefusalRetries(20, std::chrono::milliseconds(50));
    QTRY_VERIFY_WITH_TIMEOUT(!window_->sendQueue().isSending(), kWait);
    startBatch();
    QTimer::singleShot(200, [this] { QVERIFY(peer_->server.listen(kPeerAddress, kFilePort)); });
    accept();
    peer_->reply("1\n");
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendStatus->text(), QStringLiteral("File Sent"), kWait);
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
    const QList<DialogCall>& calls = platform_->dialogs.calls;
    QTRY_COMPARE_WITH_TIMEOUT(calls.last().kind, QStringLiteral("message"), kWait);
    QVERIFY2(calls.last().text.endsWith(QLatin1String(" During SendFile")),
             qPrintable(calls.last().text));
    QCOMPARE(std::count_if(calls.begin(), calls.end(),
                           [](const DialogCall& c) { return c.kind == "message"; }),
             1);
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
    platform_->random.numbers = {0.5f, 0.7f};
    startBatch();
    accept();
    QCOMPARE(peer_->last().peerPort, 1090);
    peer_->reply("1\n");
    QTRY_VERIFY_WITH_TIMEOUT(!window_->sendQueue().isSending(), kWait);

    QList<std::shared_ptr<QTcpServer>> holders;
    for (const quint16 port : {1060, 1065, 1075, 1085}) {
        holders.append(std::make_shared<QTcpServer>());
        QVERIFY(holders.last()->listen(kSenderAddress, port));
    }
    platform_->random.numbers = {0.1f, 0.2f, 0.4f, 0.6f};
    startBatch();
    QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), 2, kWait);
    accept();
    QVERIFY(peer_->last().peerPort > 1105); // the system chose
    peer_->reply("1\n");
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendStatus->text(), QStringLiteral("File Sent"), kWait);
}

void TestSender::batchSendsEveryRowOnItsOwnConnection()
{
    const QStringList names{"1.txt", "2.txt", "3.txt"};
    for (const QString& name : names)
        queue(makeFile(name, name.toUtf8()));
    startBatch();
    for (int i = 0; i < names.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(peer_->count(), i + 1, kWait);
        QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("%1 of 3 Files").arg(i + 1));
        // The previous connection is closed before the next one begins.
        for (int j = 0; j < i; ++j)
            QVERIFY(peer_->connections[j]->closed);
        accept();
        QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.endsWith(names[i].toUtf8()), kWait);
        peer_->reply("5\n");
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window_->sendQueue().isSending(), kWait);
    QCOMPARE(peer_->count(), 3);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("File Sent"));
}

void TestSender::missingFileIsSkipped()
{
    const QString gone = makeFile(QStringLiteral("gone.txt"), "g");
    queue(gone);
    queue(makeFile(QStringLiteral("here.txt"), "h"));
    QVERIFY(QFile::remove(gone));
    startBatch();
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("2 of 2 Files"));
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.startsWith("FILENAME here.txt #1\r\n"), kWait);
    QCOMPARE(peer_->count(), 1);
}

void TestSender::speedMeterTicks()
{
    queue(makeFile(QStringLiteral("s.bin"), someBytes(20480)));
    startBatch();
    accept();
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendStatus->text(), QStringLiteral("Sending File"), kWait);
    FileSender& sender = window_->sender();
    sender.TimerSendSpeed_Timer();
    QCOMPARE(ui().LABsendSpeed->text(), QStringLiteral("000.00 K per Second"));
    peer_->reply("10240\n");
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendBytesSent->text(), QStringLiteral("10240"), kWait);
    sender.TimerSendSpeed_Timer();
    QCOMPARE(ui().LABsendSpeed->text(), QStringLiteral("005.00 K per Second"));
}

QTEST_MAIN(TestSender)
#include "tst_sender.moc"
