#include "plain/protocol.h"
#include "presence/onlinepeers.h"
#include "receiving/filereceiver.h"
#include "support/rawreceiver.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "support/waitingfor.h"
#include "window/mainwindow.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

namespace
{

// Windows and sockets here use 127.0.0.80 to 127.0.0.89.
const QHostAddress kMe(QStringLiteral("127.0.0.80"));
const QHostAddress kAnna(QStringLiteral("127.0.0.81"));
const QHostAddress kCleo(QStringLiteral("127.0.0.82"));
const QHostAddress kDora(QStringLiteral("127.0.0.83"));
constexpr quint16 kChatPort = 1071;
constexpr int kWait = 5000;

QString waitingSection()
{
    return QStringLiteral("WaitingFiles0");
}

// What the settings file holds under section and key, rather than what a store holds in
// memory: read from a copy, because the stores of one file share what they have not written.
QString written(const QString& path, const QString& section, const QString& key)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.conf"));
    return QFile::copy(path, copy) ? SettingsStore(copy).read(section, key, {})
                                   : QStringLiteral("<no file>");
}

} // namespace

// Online marks in the address book, and files that wait for their person.
class TestOnline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void onlineRunsLastTwoAndAHalfMinutes();
    void marksFollowAnnouncementsAndTheClock();
    void waitingFilesStartOnlyForTheirPerson();
    void waitingFilesSurviveRestartsAndGoOnce();
    void filesSentNowGoFirst();
    void cancelForgetsTheWaitingFiles();
    void deliveriesAreSavedTogether();
    void aFailedSaveIsTold();

private:
    void start();
    void restart();
    const MainUi& ui() const { return window_->ui(); }
    const QList<WaitingBatches::Batch>& waitingBatches()
    {
        return window_->station().waitingBatches();
    }
    // One pass of the marks, as the window's one-second timer makes it.
    void tick() { QMetaObject::invokeMethod(ui().TimerOneSecond, "timeout"); }
    // The send queue's context menu, as a right click opens it; the one before goes.
    QMenu* queueMenu();
    // Whether the address book's row for address shows it online.
    bool shownOnline(const QHostAddress& address);
    [[nodiscard]] bool announceFrom(const QHostAddress& from);
    QString makeFile(const QString& name, const QByteArray& content);
    // Queues the files and hands them to a batch that waits for Anna, from the menu.
    void waitForAnna(const QStringList& paths);
    // Answers connection number n (from 1) as a receiver that takes its file whole.
    void takeWhole(int n, qint64 size);
    QStringList storedPaths();

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
    std::unique_ptr<RawReceiver> anna_;
};

void TestOnline::init()
{
    platform_ = std::make_unique<TestPlatform>();
    platform_->clock.now = QTime(10, 0, 0);
    SettingsStore& settings = platform_->settings();
    settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"),
                   platform_->folder() + "/");
    const QList<std::pair<QString, QHostAddress>> book{{"Anna", kAnna}, {"Cleo", kCleo}};
    for (int slot = 0; slot < book.size(); ++slot) {
        const QString section = QStringLiteral("IPaddress%1").arg(slot);
        settings.write(section, QStringLiteral("Name"), book[slot].first);
        settings.write(section, QStringLiteral("IPaddress"), book[slot].second.toString());
    }
    start();
    anna_ = std::make_unique<RawReceiver>();
    QVERIFY(anna_->listen(kAnna, kFilePort));
}

void TestOnline::cleanup()
{
    window_.reset();
    anna_.reset();
    platform_.reset();
}

void TestOnline::start()
{
    window_ = std::make_unique<Main>(platform_->platform(), kMe);
    window_->station().stopAnnouncing();
    ui().TimerOneSecond->stop(); // the tests refresh the marks themselves
    QVERIFY(window_->Form_Load());
    window_->station().setRefusalRetries(0, std::chrono::milliseconds(10));
    ui().ListIPaddress->setCurrentRow(0);
}

// Closes the window and opens it anew on the settings it left.
void TestOnline::restart()
{
    window_->close();
    window_.reset();
    platform_->reopenSettings();
    start();
}

bool TestOnline::announceFrom(const QHostAddress& from)
{
    QUdpSocket socket;
    return socket.bind(from, kChatPort) && socket.writeDatagram("ONLINE", kMe, kChatPort) == 6 &&
           QTest::qWaitFor([&] { return shownOnline(from); }, kWait);
}

bool TestOnline::shownOnline(const QHostAddress& address)
{
    const AddressBook& book = window_->station().addressBook();
    for (int slot = 0; slot < book.count(); ++slot) {
        if (book.entry(slot).IPaddress == address.toString())
            return ui().ListIPaddress->item(slot)->toolTip().startsWith(QStringLiteral("Online"));
    }
    return false;
}

QMenu* TestOnline::queueMenu()
{
    qDeleteAll(ui().LSTsends->findChildren<QMenu*>());
    Q_EMIT ui().LSTsends->customContextMenuRequested(QPoint(4, 4));
    return ui().LSTsends->findChild<QMenu*>();
}

QString TestOnline::makeFile(const QString& name, const QByteArray& content)
{
    const QString path = QDir(platform_->folder()).filePath(name);
    if (!writeFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestOnline::waitForAnna(const QStringList& paths)
{
    for (const QString& path : paths) {
        platform_->dialogs.answers = {path};
        ui().BUTTsendFile->click();
    }
    QMenu* menu = queueMenu();
    QVERIFY(menu);
    QAction* send = menu->actions().first();
    QCOMPARE(send->text(), QStringLiteral("Send These Files When Anna Comes Online"));
    QVERIFY(send->isEnabled());
    send->trigger();
    QCOMPARE(ui().LSTsends->count(), 0);
}

void TestOnline::takeWhole(int n, qint64 size)
{
    QTRY_VERIFY_WITH_TIMEOUT(
        anna_->count() >= n && anna_->connections[n - 1]->received.endsWith("\r\n"), kWait);
    RawReceiver::Connection& connection = *anna_->connections[n - 1];
    connection.socket->write("OK\n");
    const qsizetype header = connection.received.size();
    QTRY_COMPARE_WITH_TIMEOUT(connection.received.size() - header, size, kWait);
    connection.socket->write(QByteArray::number(size) + "\n");
    QTRY_VERIFY_WITH_TIMEOUT(connection.closed, kWait);
}

QStringList TestOnline::storedPaths()
{
    const SettingsStore stored(platform_->settingsPath());
    QStringList paths;
    const int count = stored.read(waitingSection(), QStringLiteral("Count"), "0").toInt();
    for (int file = 0; file < count; ++file)
        paths.append(stored.read(waitingSection(), QStringLiteral("File%1").arg(file), {}));
    return paths;
}

void TestOnline::onlineRunsLastTwoAndAHalfMinutes()
{
    OnlinePeers peers;
    const QString anna = QStringLiteral("10.0.0.1");
    QCOMPARE(peers.description(anna, QTime(9, 0)),
             QStringLiteral("Not seen since the program started"));
    peers.seen(anna, QTime(23, 58, 0));
    peers.seen(anna, QTime(23, 59, 0)); // the run goes on from its first announcement
    QVERIFY(peers.isOnline(anna, QTime(0, 1, 29)));
    QCOMPARE(peers.description(anna, QTime(0, 1, 29)), QStringLiteral("Online since 23:58"));
    QVERIFY(!peers.isOnline(anna, QTime(0, 1, 30)));
    QCOMPARE(peers.description(anna, QTime(0, 1, 30)), QStringLiteral("Last seen 23:59"));
    QVERIFY(!peers.isOnline(QStringLiteral("10.0.0.2"), QTime(23, 59, 0)));

    // Once expired, the same time of day a day later is not mistaken for fresh.
    peers.expire(QTime(0, 2, 0));
    QVERIFY(!peers.isOnline(anna, QTime(23, 59, 30)));
    peers.seen(anna, QTime(0, 10, 0));
    QCOMPARE(peers.description(anna, QTime(0, 11, 0)), QStringLiteral("Online since 00:10"));
}

void TestOnline::marksFollowAnnouncementsAndTheClock()
{
    QListWidget& list = *ui().ListIPaddress;
    const auto marked = [&list](int row) {
        const QImage mark = list.item(row)->icon().pixmap(list.iconSize()).toImage();
        return mark.pixelColor(mark.width() / 2, mark.height() / 2).green() > 150;
    };
    QCOMPARE(list.item(0)->toolTip(), QStringLiteral("Not seen since the program started"));
    QVERIFY(!marked(0));

    QVERIFY(announceFrom(kAnna));
    QVERIFY(marked(0));
    QVERIFY(!marked(1));
    QCOMPARE(list.item(0)->toolTip(), QStringLiteral("Online since 10:00"));
    QCOMPARE(list.item(0)->data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("Online since 10:00"));
    QCOMPARE(list.item(0)->text(), QStringLiteral("Anna")); // the text stays the name
    QCOMPARE(list.item(1)->toolTip(), QStringLiteral("Not seen since the program started"));

    platform_->clock.now = QTime(10, 2, 29);
    tick();
    QVERIFY(marked(0));
    platform_->clock.now = QTime(10, 2, 30);
    tick();
    QVERIFY(!marked(0));
    QCOMPARE(list.item(0)->toolTip(), QStringLiteral("Last seen 10:00"));
    QCOMPARE(list.item(0)->data(Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("Last seen 10:00"));
}

void TestOnline::waitingFilesStartOnlyForTheirPerson()
{
    const QString path = makeFile(QStringLiteral("plan.txt"), someBytes(3000));
    waitForAnna({path});
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Waiting for Anna"));

    QVERIFY(announceFrom(kCleo));
    QVERIFY(!waitingFor(window_->station(), kAnna)->due);
    QVERIFY(announceFrom(kAnna));
    takeWhole(1, 3000);
    QVERIFY(anna_->connections[0]->received.startsWith("FILENAME plan.txt #3000\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(waitingBatches().isEmpty(), kWait);
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("File Sent"));

    // For someone online now, the files go at once.
    waitForAnna({makeFile(QStringLiteral("more.txt"), "more")});
    takeWhole(2, 4);
    QCOMPARE(anna_->count(), 2);
    QVERIFY(anna_->last().received.startsWith("FILENAME more.txt #4\r\n"));
}

void TestOnline::waitingFilesSurviveRestartsAndGoOnce()
{
    const QString first = makeFile(QStringLiteral("first.txt"), "first");
    const QString second = makeFile(QStringLiteral("second.txt"), "second!");
    waitForAnna({first, second});
    restart();
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Waiting for Anna"));
    QCOMPARE(storedPaths(), (QStringList{first, second}));

    // The first arrives whole; the receiver drops the second before accepting it.
    QVERIFY(announceFrom(kAnna));
    takeWhole(1, 5);
    // Crossed off at once in memory, and on disk once the save delay is over.
    QTRY_COMPARE_WITH_TIMEOUT(waitingBatches().first().files, (QList<QueuedFile>{{second, {}}}),
                              kWait);
    QCOMPARE(storedPaths(), (QStringList{first, second}));
    platform_->clock.advance(WaitingBatches::kSaveDelay);
    QCOMPARE(storedPaths(), QStringList{second});
    QTRY_COMPARE_WITH_TIMEOUT(anna_->count(), 2, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(anna_->last().received.endsWith("\r\n"), kWait);
    anna_->last().socket->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->station().isDeliveringWaiting(), kWait);
    QCOMPARE(waitingBatches().first().files, (QList<QueuedFile>{{second, {}}}));

    // After another restart only the second goes, at Anna's next announcement.
    restart();
    QVERIFY(announceFrom(kAnna));
    takeWhole(3, 7);
    QCOMPARE(anna_->count(), 3);
    QVERIFY(anna_->last().received.startsWith("FILENAME second.txt #7\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(waitingBatches().isEmpty(), kWait);
    QCOMPARE(storedPaths(), QStringList());
}

void TestOnline::filesSentNowGoFirst()
{
    waitForAnna({makeFile(QStringLiteral("waited.txt"), "waited")});
    QVERIFY(announceFrom(kAnna));
    QTRY_VERIFY_WITH_TIMEOUT(anna_->count() == 1 && anna_->last().received.endsWith("\r\n"), kWait);
    anna_->reply("OK\n");
    QTRY_VERIFY_WITH_TIMEOUT(anna_->last().received.endsWith("waited"), kWait);

    // The file in hand gives way, and goes again, whole, once the sender is free.
    platform_->dialogs.answers = {makeFile(QStringLiteral("now.txt"), "now")};
    ui().BUTTsendFile->click();
    ui().BUTsendthesefiles->click();
    takeWhole(2, 3);
    QVERIFY(anna_->connections[1]->received.startsWith("FILENAME now.txt #3\r\n"));
    QVERIFY(anna_->connections[0]->closed);
    takeWhole(3, 6);
    QVERIFY(anna_->last().received.startsWith("FILENAME waited.txt #6\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(waitingBatches().isEmpty(), kWait);
}

void TestOnline::cancelForgetsTheWaitingFiles()
{
    waitForAnna({makeFile(QStringLiteral("a.txt"), "a"), makeFile(QStringLiteral("b.txt"), "b")});
    QMenu* menu = queueMenu();
    QVERIFY(menu);
    QVERIFY(!menu->actions().first()->isEnabled()); // nothing queued now
    QAction* cancel = menu->actions().last();
    QCOMPARE(cancel->text(), QStringLiteral("Cancel Sending the 2 Files Waiting for Anna"));
    cancel->trigger();
    QVERIFY(waitingBatches().isEmpty());
    QCOMPARE(storedPaths(), QStringList());
    QCOMPARE(ui().LABSendStatus->text(), QStringLiteral("Disconnected"));
    restart();
    QVERIFY(waitingBatches().isEmpty());
}

void TestOnline::deliveriesAreSavedTogether()
{
    SettingsStore store(QDir(platform_->folder()).filePath(QStringLiteral("counted.conf")));
    FileSender sender(platform_->random, kMe);
    SendBatch now(sender);
    FixedClock clock; // stands still: only the end of the attempt saves
    WaitingBatches waiting(store, sender, now, clock);
    FileReceiver dora(kDora);
    const QString inbox = QDir(platform_->folder()).filePath(QStringLiteral("dora"));
    QVERIFY(QDir().mkpath(inbox));
    dora.setSaveFolder(inbox + '/');
    QVERIFY(!dora.listen());

    QStringList paths;
    for (int i = 0; i < 20; ++i)
        paths.append(makeFile(QStringLiteral("w%1.txt").arg(i), "w"));
    waiting.add(kDora.toString(), paths);
    const auto count = [&store] { return written(store.fileName(), waitingSection(), "Count"); };
    QCOMPARE(count(), QStringLiteral("20")); // added files are written at once
    // The file is not written for every file delivered, only at the end of the attempt.
    QStringList countsWhileDelivering;
    connect(&waiting.delivery(), &SendBatch::rowFinished, this,
            [&] { countsWhileDelivering.append(count()); });
    waiting.personOnline(kDora.toString());
    QTRY_VERIFY_WITH_TIMEOUT(waiting.batches().isEmpty() && !waiting.isDelivering(), kWait);
    QCOMPARE(QDir(inbox).entryList(QDir::Files).size(), paths.size());
    QCOMPARE(countsWhileDelivering, QStringList(paths.size(), QStringLiteral("20")));
    QCOMPARE(count(), QString());
}

void TestOnline::aFailedSaveIsTold()
{
    // A folder where the settings file was: it can no longer be written.
    QVERIFY(QFile::remove(platform_->settingsPath()) || !QFile::exists(platform_->settingsPath()));
    QVERIFY(QDir().mkdir(platform_->settingsPath()));
    waitForAnna({makeFile(QStringLiteral("a.txt"), "a")});
    waitForAnna({makeFile(QStringLiteral("b.txt"), "b")});
    QList<DialogCall> notices;
    for (const DialogCall& call : std::as_const(platform_->dialogs.calls)) {
        if (call.kind == QStringLiteral("notice"))
            notices.append(call);
    }
    QCOMPARE(notices.size(), 1); // once, not at every save
    QVERIFY(notices[0].text.startsWith(QStringLiteral("Quillo could not write its settings file ") +
                                       platform_->settingsPath()));
    QVERIFY(QDir().rmdir(platform_->settingsPath()));
}

QTEST_MAIN(TestOnline)
#include "tst_online.moc"
