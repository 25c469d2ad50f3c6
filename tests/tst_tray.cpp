#include "platform/diskworker.h"
#include "presence/presence.h"
#include "receiving/receivedhistory.h"
#include "support/rawpeer.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"
#include "window/notificationthrottle.h"
#include "window/receivedfilesdialog.h"
#include "window/receivedfolders.h"
#include "window/receivedrows.h"
#include "window/traytexts.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest>

namespace
{

const QHostAddress kHere(QStringLiteral("127.0.0.120"));
const QHostAddress kAnna(QStringLiteral("127.0.0.121"));
constexpr int kWait = 10000;

ReceivedEntry entryNumber(int i)
{
    return {QDateTime(QDate(2026, 12, 7), QTime(9, 0)).addSecs(i), QStringLiteral("f%1").arg(i), i,
            QStringLiteral("Anna"), QStringLiteral("/in/f%1").arg(i)};
}

// The newest entry the file holds, as another copy would read it.
QString newestStored(const QString& file)
{
    return ReceivedHistory(file).entries().value(0).name;
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theHistoryKeepsTheLastHundredAcrossRuns();
    void aBurstOfFilesIsWrittenWhole();
    void aHistoryNotWrittenIsToldOnce();
    void theToolTipSaysWhatIsGoingOn();
    void aPersonAwayIsToldWhatArrivedAndWhatFailed();
    void aFloodIsSummedUp();
    void peerTextInANotificationIsNotMarkup();
    void aReceivedFolderIsOneRow();
    void aReceivedFolderIsNewsOnce();
};

// The files of a folder make one piece of news once none has come for the quiet while;
// files of another folder make their own.
void TestTray::aReceivedFolderIsNewsOnce()
{
    QStringList news;
    ReceivedFolders folders(
        [&news](const QString& folder, const QString& peer, int files, qint64 bytes) {
            news.append(receivedFolderNotice(folder, files, bytes, peer));
        },
        std::chrono::milliseconds(50));
    for (int i = 0; i < 3; ++i)
        folders.add(QStringLiteral("/in/Trip (1)"), QStringLiteral("Anna"), 600 * 1024 * 1024);
    folders.add(QStringLiteral("/in/Notes"), QStringLiteral("Bob"), 10);
    QCOMPARE(news.size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(news.size(), 2, kWait);
    news.sort();
    QCOMPARE(news, (QStringList{QStringLiteral("Notes, 1 file, 10 bytes, from Bob"),
                                QStringLiteral("Trip (1), 3 files, 1.8 GB, from Anna")}));
}

void TestTray::aReceivedFolderIsOneRow()
{
    QTemporaryDir dir;
    const QDateTime start(QDate(2026, 12, 7), QTime(9, 0));
    const auto entry = [&start](int i, const QString& path, const QString& folder) {
        return ReceivedEntry{start.addSecs(i),
                             QFileInfo(path).fileName(),
                             10 * i,
                             QStringLiteral("Anna"),
                             path,
                             true,
                             folder};
    };
    {
        ReceivedHistory history(dir.filePath(QStringLiteral("received.json")));
        history.add(entry(1, "/in/Trip (1)/a.jpg", "/in/Trip (1)"));
        history.add(entry(2, "/in/loose.txt", {}));
        history.add(entry(3, "/in/Trip (1)/day 1/a.jpg", "/in/Trip (1)"));
    }
    const QList<ReceivedRow> rows =
        receivedRows(ReceivedHistory(dir.filePath(QStringLiteral("received.json"))).entries());

    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.first().entry.name, QStringLiteral("Trip (1)"));
    QCOMPARE(rows.first().entry.path, QStringLiteral("/in/Trip (1)")); // Open opens the folder
    QCOMPARE(rows.first().entry.time, start.addSecs(3));
    QCOMPARE(rows.first().entry.size, 40);
    QCOMPARE(rows.first().files, 2);
    QCOMPARE(rows.last().entry.name, QStringLiteral("loose.txt"));
    QCOMPARE(rows.last().files, 1);
}

void TestTray::theHistoryKeepsTheLastHundredAcrossRuns()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("deeper/received.json"));
    const QDateTime start(QDate(2026, 12, 7), QTime(9, 0));
    {
        ReceivedHistory history(file);
        for (int i = 0; i < ReceivedHistory::kKept + 3; ++i) {
            history.add({start.addSecs(i), QStringLiteral("f%1").arg(i), (qint64(1) << 40) + i,
                         QStringLiteral("Anna"), QStringLiteral("/in/f%1").arg(i)});
        }
    }
    const ReceivedHistory reopened(file);
    QCOMPARE(reopened.entries().size(), ReceivedHistory::kKept);
    const ReceivedEntry& newest = reopened.entries().first();
    QCOMPARE(newest.name, QStringLiteral("f102"));
    QCOMPARE(newest.time, start.addSecs(102));
    QCOMPARE(newest.size, (qint64(1) << 40) + 102);
    QCOMPARE(newest.path, QStringLiteral("/in/f102"));
    QCOMPARE(reopened.entries().last().name, QStringLiteral("f3"));

    // What cannot be understood is left out, not the whole history.
    QFile damaged(file);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(R"([{"time":"yesterday"},{"time":"2026-12-07T09:00:00","name":"ok",)"
                  R"("size":"5","peer":"Bob","path":"/in/ok"}])");
    damaged.close();
    const ReceivedHistory partly(file);
    QCOMPARE(partly.entries().size(), 1);
    QCOMPARE(partly.entries().first().peer, QStringLiteral("Bob"));
}

void TestTray::aBurstOfFilesIsWrittenWhole()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("received.json"));
    {
        ReceivedHistory history(file);
        for (int i = 0; i < 1000; ++i)
            history.add(entryNumber(i));
        bool written = false;
        history.whenWritten([&written] { written = true; });
        QVERIFY(!written);
        QTRY_VERIFY_WITH_TIMEOUT(written, kWait);
        QCOMPARE(newestStored(file), QStringLiteral("f999"));
        // The last comes while the one before is being written, and the end writes it.
        history.add(entryNumber(1000));
        history.add(entryNumber(1001));
        history.reload(); // keeps what the file has not got yet
        QCOMPARE(history.entries().first().name, QStringLiteral("f1001"));
    }
    QCOMPARE(newestStored(file), QStringLiteral("f1001"));
}

void TestTray::aHistoryNotWrittenIsToldOnce()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("data"));
    const QString file = folder + QStringLiteral("/received.json");
    ReceivedHistory history(file);
    QSignalSpy told(&history, &ReceivedHistory::notWritten);
    QVERIFY(writeFile(folder, "in the way"));
    history.add(entryNumber(1));
    QTRY_COMPARE_WITH_TIMEOUT(told.count(), 1, kWait);

    // Results come back in order: once this one is back, the second write's is too.
    history.add(entryNumber(2));
    bool caughtUp = false;
    DiskWorker::instance().run(
        &history, [] { return true; }, [&caughtUp](bool) { caughtUp = true; });
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp, kWait);
    QCOMPARE(told.count(), 1);
    history.reload();
    QCOMPARE(history.entries().size(), 2);

    QVERIFY(QFile::remove(folder));
    history.add(entryNumber(3));
    QTRY_COMPARE_WITH_TIMEOUT(newestStored(file), QStringLiteral("f3"), kWait);
    QCOMPARE(ReceivedHistory(file).entries().size(), 3);

    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(writeFile(folder, "in the way again"));
    history.add(entryNumber(4));
    QTRY_COMPARE_WITH_TIMEOUT(told.count(), 2, kWait);
}

void TestTray::theToolTipSaysWhatIsGoingOn()
{
    QCOMPARE(trayToolTip({}), QStringLiteral("Quillo\nIdle"));
    QCOMPARE(trayToolTip({QStringLiteral("photo.jpg"), 42, 3, 7}),
             QStringLiteral("Quillo\nReceiving photo.jpg 42 %\nSending 3 of 7"));
    QCOMPARE(receivedNotice(QStringLiteral("a.txt"), 812, QStringLiteral("Anna")),
             QStringLiteral("a.txt (812 bytes) from Anna"));
    QCOMPARE(readableSize(2516582), QStringLiteral("2.4 MB"));
}

void TestTray::aPersonAwayIsToldWhatArrivedAndWhatFailed()
{
    TestPlatform platform;
    const QString inbox = platform.folder() + QStringLiteral("/in/");
    QDir().mkpath(inbox);
    platform.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), inbox);
    platform.settings().write(QStringLiteral("IPaddress0"), QStringLiteral("Name"),
                              QStringLiteral("Anna"));
    platform.settings().write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"),
                              kAnna.toString());
    Main window(platform.platform(), kHere);
    window.station().stopAnnouncing();
    QVERIFY(window.Form_Load());
    RecordingTray& tray = *platform.tray;
    QCOMPARE(tray.toolTip, QStringLiteral("Quillo\nIdle"));

    RawPeer whole;
    whole.connectTo(kAnna, kHere, 1052);
    QTRY_VERIFY_WITH_TIMEOUT(whole.isConnected(), kWait);
    whole.send("FILENAME a.txt #5\r\nhello");
    whole.finishSending();
    QTRY_COMPARE_WITH_TIMEOUT(tray.notifications.size(), 1, kWait);
    QCOMPARE(tray.notifications[0].title, QStringLiteral("File Received"));
    QCOMPARE(tray.notifications[0].text, QStringLiteral("a.txt (5 bytes) from Anna"));
    QCOMPARE(tray.notifications[0].filePath, inbox + QStringLiteral("a.txt"));
    QCOMPARE(window.station().receivedFiles().size(), 1);

    RawPeer broken;
    broken.connectTo(kAnna, kHere, 1052);
    QTRY_VERIFY_WITH_TIMEOUT(broken.isConnected(), kWait);
    broken.send("FILENAME b.txt #10\r\nhel");
    QTRY_COMPARE_WITH_TIMEOUT(broken.replies, QByteArray("OK\n3\n"), kWait);
    broken.close();
    QTRY_COMPARE_WITH_TIMEOUT(tray.notifications.size(), 2, kWait);
    QCOMPARE(tray.notifications[1].title, QStringLiteral("Receiving Failed"));
    QVERIFY(tray.notifications[1].text.startsWith(QStringLiteral("b.txt from Anna: ")));
    QCOMPARE(window.station().receivedFiles().size(), 1);
    QCOMPARE(tray.toolTip, QStringLiteral("Quillo\nIdle"));

    // Nobody listens at Anna's address, so the file cannot go.
    const QString outgoing = platform.folder() + QStringLiteral("/out.txt");
    QVERIFY(writeFile(outgoing, "bytes"));
    window.station().setRefusalRetries(0, std::chrono::milliseconds(1));
    window.station().queue(outgoing);
    window.ui().ListIPaddress->setCurrentRow(0);
    window.ui().BUTsendthesefiles->click();
    QTRY_COMPARE_WITH_TIMEOUT(tray.notifications.size(), 3, kWait);
    QCOMPARE(tray.notifications[2].title, QStringLiteral("Sending Failed"));
    QCOMPARE(tray.notifications[2].text, QStringLiteral("out.txt to Anna: Error 10061"));

    QUdpSocket anna;
    QVERIFY(anna.bind(kAnna));
    anna.writeDatagram("see you", kHere, 1071);
    QTRY_COMPARE_WITH_TIMEOUT(tray.notifications.size(), 4, kWait);
    QCOMPARE(tray.notifications[3].title, QStringLiteral("Mini Chat"));
    QCOMPARE(tray.notifications[3].text, QStringLiteral("Anna Says: see you"));

    // The tray's menu shows the history; a file that has gone is shown as such.
    tray.actions.showReceivedFiles();
    auto* dialog = window.findChild<ReceivedFilesDialog*>();
    QVERIFY(dialog);
    QTreeWidget& list = dialog->list();
    QCOMPARE(list.topLevelItemCount(), 1);
    list.setCurrentItem(list.topLevelItem(0));
    const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->text() == QStringLiteral("Show in Folder"))
            button->click();
    }
    QCOMPARE(platform.desktop.calls,
             QStringList{QStringLiteral("showInFolder ") + inbox + QStringLiteral("a.txt")});
    QVERIFY(QFile::remove(inbox + QStringLiteral("a.txt")));
    tray.actions.showReceivedFiles();
    QVERIFY(list.topLevelItem(0)->text(5).startsWith(QStringLiteral("Gone: ")));
}

void TestTray::aFloodIsSummedUp()
{
    QList<RecordingTray::Notification> shown;
    NotificationThrottle throttle(
        [&shown](const QString& title, const QString& text, const QString& filePath) {
            shown.append({title, text, filePath});
        },
        std::chrono::milliseconds(50));
    const QString files = QStringLiteral("%1 files from %2");
    for (int i = 0; i < 12; ++i) {
        throttle.add(QStringLiteral("File Received"), QStringLiteral("f%1 from Anna").arg(i),
                     QStringLiteral("/in/f%1").arg(i), files, 1, {QStringLiteral("Anna")});
    }
    throttle.add(QStringLiteral("Mini Chat"), QStringLiteral("Anna Says: hi"), {},
                 QStringLiteral("%1 lines from %2"), 1, {QStringLiteral("Anna")});
    QCOMPARE(shown.size(), 2); // the first of each kind at once
    QCOMPARE(shown[0].text, QStringLiteral("f0 from Anna"));
    QCOMPARE(shown[1].title, QStringLiteral("Mini Chat"));
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 3, kWait);
    QCOMPARE(shown[2].title, QStringLiteral("File Received"));
    QCOMPARE(shown[2].text, QStringLiteral("11 files from Anna"));
    QCOMPARE(shown[2].filePath, QStringLiteral("/in/f11"));

    // Within the next interval: one alone is shown as it is; several senders are named.
    throttle.add(QStringLiteral("File Received"), QStringLiteral("g from Bob"), {}, files, 1,
                 {QStringLiteral("Bob")});
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 4, kWait);
    QCOMPARE(shown[3].text, QStringLiteral("g from Bob"));
    for (const char* peer : {"Bob", "Cleo", "Bob"})
        throttle.add(QStringLiteral("File Received"), {}, {}, files, 1, {QString(peer)});
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 5, kWait);
    QCOMPARE(shown[4].text, QStringLiteral("3 files from Bob and Cleo"));
    QCOMPARE(peersText({"A", "B", "C"}), QStringLiteral("3 people"));
}

void TestTray::peerTextInANotificationIsNotMarkup()
{
    TestPlatform platform;
    platform.startWith(QStringLiteral("Anna & Co"), kAnna);
    Main window(platform.platform(), kHere);
    window.station().stopAnnouncing();
    QVERIFY(window.Form_Load());
    RecordingTray& tray = *platform.tray;

    QUdpSocket anna;
    QVERIFY(anna.bind(kAnna));
    anna.writeDatagram("<b>bold</b> <a href=\"x\">link</a> <img src=\"y\">", kHere, 1071);
    QTRY_COMPARE_WITH_TIMEOUT(tray.notifications.size(), 1, kWait);
    QCOMPARE(tray.notifications[0].text,
             QStringLiteral(
                 "Anna &amp; Co Says: &lt;b&gt;bold&lt;/b&gt; &lt;a href=\"x\"&gt;link&lt;/a&gt; "
                 "&lt;img src=\"y\"&gt;"));

    // A flood of lines is held back.
    for (int i = 0; i < 30; ++i)
        anna.writeDatagram(QByteArray::number(i), kHere, 1071);
    QTRY_VERIFY_WITH_TIMEOUT(window.ui().ChatRX->toPlainText().contains(QStringLiteral(": 29")),
                             kWait);
    QCOMPARE(tray.notifications.size(), 1);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
