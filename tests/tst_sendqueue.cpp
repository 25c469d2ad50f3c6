#include "plain/protocol.h"
#include "support/droppaths.h"
#include "support/rawreceiver.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

namespace
{

const QHostAddress kSenderAddress(QStringLiteral("127.0.0.16"));
const QHostAddress kPeerAddress(QStringLiteral("127.0.0.17"));
constexpr int kWait = 5000;

} // namespace

// The send queue and the sender panel of the window, over a plain receiver.
class TestSendQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English)); }
    void init();
    void cleanup();

    void addFileAsksForTheSelectedPeer();
    void addFileRefusesWhatIsNotAnOrdinaryFile();
    void clearAndEmptyQueue();
    void thePanelFollowsTheTransfer();
    void aFileThatCannotBeReadIsToldWithoutWaiting();
    void closingTheWindowStopsTheBatch();
    void aFolderToAPlainPeerIsToldOnce();

private:
    QString makeFile(const QString& name, const QByteArray& content);
    void queue(const QString& path);
    // Waits for the header of the newest connection and answers with the acceptance.
    void accept();
    const MainUi& ui() const { return window_->ui(); }

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
    std::unique_ptr<RawReceiver> peer_;
};

void TestSendQueue::init()
{
    platform_ = std::make_unique<TestPlatform>();
    platform_->startWith(QStringLiteral("Peer"), kPeerAddress);
    window_ = std::make_unique<Main>(platform_->platform(), kSenderAddress);
    QVERIFY(window_->Form_Load());
    window_->station().setRefusalRetries(0, std::chrono::milliseconds(10));
    ui().ListIPaddress->setCurrentRow(0);
    peer_ = std::make_unique<RawReceiver>();
    QVERIFY(peer_->listen(kPeerAddress, kFilePort));
}

void TestSendQueue::cleanup()
{
    window_.reset();
    peer_.reset();
    platform_.reset();
}

QString TestSendQueue::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = QDir(platform_->folder()).filePath(name);
    if (!writeFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestSendQueue::queue(const QString& path)
{
    platform_->dialogs.answers = {path};
    ui().BUTTsendFile->click();
}

void TestSendQueue::accept()
{
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() > 0 && peer_->last().received.endsWith("\r\n"), kWait);
    peer_->reply("OK\n");
}

void TestSendQueue::addFileAsksForTheSelectedPeer()
{
    const QString path = makeFile(QStringLiteral("a.txt"), "a");
    ui().ListIPaddress->clearSelection();
    platform_->dialogs.answers = {path};
    ui().BUTTsendFile->click();
    QCOMPARE(platform_->dialogs.calls.size(), 1);
    QCOMPARE(platform_->dialogs.calls[0].kind, QStringLiteral("notice"));
    QCOMPARE(platform_->dialogs.calls[0].text,
             QStringLiteral("You must select a person to send to first"));
    QCOMPARE(ui().LSTsends->count(), 0);

    ui().ListIPaddress->setCurrentRow(0);
    ui().BUTTsendFile->click();
    ui().BUTTsendFile->click(); // the same file twice is queued twice
    platform_->dialogs.answers = {path};
    ui().BUTTsendFile->click();
    QCOMPARE(platform_->dialogs.calls[1].kind, QStringLiteral("openFiles"));
    QCOMPARE(platform_->dialogs.calls[1].title, QStringLiteral("Choose a FIle to Send to Peer"));
    QCOMPARE(ui().LSTsends->count(), 2); // the one with no answer was a cancel
    QCOMPARE(ui().LSTsends->item(1)->text(), path);
    QCOMPARE(window_->station().queuedPaths(), (QStringList{path, path}));
}

void TestSendQueue::addFileRefusesWhatIsNotAnOrdinaryFile()
{
    queue(makeFile(QStringLiteral(".hidden"), "h"));
    queue(platform_->folder());
    queue(platform_->folder() + QStringLiteral("/missing.txt"));
    QCOMPARE(ui().LSTsends->count(), 0);
    QCOMPARE(platform_->dialogs.calls.size(), 3); // three dialogs, no message
}

void TestSendQueue::clearAndEmptyQueue()
{
    ui().BUTsendthesefiles->click(); // nothing queued: nothing happens
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("0 of 0 Files"));
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Disconnected"));

    queue(makeFile(QStringLiteral("a.txt"), "a"));
    queue(makeFile(QStringLiteral("b.txt"), "b"));
    ui().BUTclearsends->click();
    QCOMPARE(ui().LSTsends->count(), 0);
    QVERIFY(window_->station().queuedPaths().isEmpty());
    ui().BUTsendthesefiles->click();
    QCOMPARE(peer_->count(), 0);
}

void TestSendQueue::thePanelFollowsTheTransfer()
{
    const QString path = makeFile(QStringLiteral("plan.txt"), someBytes(3000));
    queue(path);
    ui().BUTsendthesefiles->click();
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("1 of 1 Files"));
    QCOMPARE(ui().LABSendFileName->text(), path);
    QCOMPARE(ui().LABSendRemoteIP->text(), kPeerAddress.toString());
    QCOMPARE(ui().LABSendFileSize->text(), QStringLiteral("3000"));
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Connecting..."));
    accept();
    QTRY_COMPARE_WITH_TIMEOUT(ui().LABSendStatus->text(), QStringLiteral("Sending File"), kWait);

    // Counts close together reach the panel at most ten times a second, the last one
    // always: the label ends on the newest count.
    peer_->reply("1024\n");
    peer_->reply("2048\n");
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
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("1 of 1 Files"));
    QCOMPARE(ui().LSTsends->count(), 1);
}

void TestSendQueue::aFileThatCannotBeReadIsToldWithoutWaiting()
{
    const QString path = makeFile(QStringLiteral("shrinks.bin"), someBytes(5000));
    queue(path);
    ui().BUTsendthesefiles->click();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->count() == 1 && peer_->last().received.endsWith("\r\n"), kWait);
    QVERIFY(QFile::resize(path, 1500));
    peer_->reply("OK\n");
    const QList<DialogCall>& calls = platform_->dialogs.calls;
    QTRY_COMPARE_WITH_TIMEOUT(calls.last().kind, QStringLiteral("notice"), kWait);
    QCOMPARE(calls.last().text,
             QStringLiteral("The file has become shorter than it was During SendFile"));
    QVERIFY(ui().LABSendStatus->text().startsWith(QLatin1String("Not sent: ")));
    QCOMPARE(ui().LABSendFileName->text(), QString());
}

void TestSendQueue::closingTheWindowStopsTheBatch()
{
    for (const QString& name : {QStringLiteral("1.txt"), QStringLiteral("2.txt")})
        queue(makeFile(name, name.toUtf8()));
    ui().BUTsendthesefiles->click();
    accept();
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().received.endsWith("1.txt"), kWait);
    window_->close();
    // Nothing is left that could start another file.
    QVERIFY(!window_->station().isSending());
    QTRY_VERIFY_WITH_TIMEOUT(peer_->last().closed, kWait);
    QCOMPARE(peer_->count(), 1);
}

// The folder is one row; its files go loose to a peer that takes files only, which the
// sender tells once.
void TestSendQueue::aFolderToAPlainPeerIsToldOnce()
{
    QVERIFY(QDir().mkpath(platform_->folder() + "/Trip/day 1"));
    makeFile(QStringLiteral("Trip/a.txt"), "a");
    makeFile(QStringLiteral("Trip/day 1/b.txt"), "b");
    QVERIFY(dropPaths(*window_, {platform_->folder() + "/Trip"}));
    QTRY_COMPARE_WITH_TIMEOUT(ui().LSTsends->count(), 1, kWait);
    QCOMPARE(ui().LSTsends->item(0)->text(), QStringLiteral("Trip (2 files, 2 bytes)"));
    ui().BUTsendthesefiles->click();
    const QList<QByteArray> names{"a.txt #1\r\na", "b.txt #1\r\nb"};
    for (int file = 0; file < names.size(); ++file) {
        accept();
        QTRY_COMPARE_WITH_TIMEOUT(peer_->last().received, "FILENAME " + names[file], kWait);
        peer_->reply("1\n");
        // The next file's connection may come before this one is seen closed.
        QTRY_VERIFY_WITH_TIMEOUT(peer_->connections[file]->closed, kWait);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window_->station().isSending(), kWait);
    QCOMPARE(ui().LABtotalProgress->text(), QStringLiteral("1 of 1 Files"));
    QStringList notices;
    for (const DialogCall& call : platform_->dialogs.calls)
        notices.append(call.text);
    QCOMPARE(notices, QStringList{QStringLiteral(
                          "Peer's copy takes files only: the folder's files arrive loose")});
}

QTEST_MAIN(TestSendQueue)
#include "tst_sendqueue.moc"
