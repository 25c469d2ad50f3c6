#include "presence/presence.h"
#include "shell/mainwindow.h"
#include "shell/receivedfilesdialog.h"
#include "shell/traytexts.h"
#include "support/rawpeer.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "transfer/receivedhistory.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest>

namespace
{

const QHostAddress kHere(QStringLiteral("127.0.0.120"));
const QHostAddress kAnna(QStringLiteral("127.0.0.121"));
constexpr int kWait = 10000;

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theHistoryKeepsTheLastHundredAcrossRuns();
    void theToolTipSaysWhatIsGoingOn();
    void aPersonAwayIsToldWhatArrivedAndWhatFailed();
};

void TestTray::theHistoryKeepsTheLastHundredAcrossRuns()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("deeper/received.json"));
    const QDateTime start(QDate(2026, 12, 7), QTime(9, 0));
    {
        ReceivedHistory history(file);
        for (int i = 0; i < ReceivedHistory::kKept + 3; ++i) {
            QVERIFY(
                history.add({start.addSecs(i), QStringLiteral("f%1").arg(i), (qint64(1) << 40) + i,
                             QStringLiteral("Anna"), QStringLiteral("/in/f%1").arg(i)}));
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
    window.presence().announcementTimer().stop();
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
    QCOMPARE(window.receivedHistory().entries().size(), 1);

    RawPeer broken;
    broken.connectTo(kAnna, kHere, 1052);
    QTRY_VERIFY_WITH_TIMEOUT(broken.isConnected(), kWait);
    broken.send("FILENAME b.txt #10\r\nhel");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(inbox + QStringLiteral("b.txt.part")), kWait);
    broken.close();
    QTRY_COMPARE_WITH_TIMEOUT(tray.notifications.size(), 2, kWait);
    QCOMPARE(tray.notifications[1].title, QStringLiteral("Receiving Failed"));
    QVERIFY(tray.notifications[1].text.startsWith(QStringLiteral("b.txt from Anna: ")));
    QCOMPARE(window.receivedHistory().entries().size(), 1);
    QCOMPARE(tray.toolTip, QStringLiteral("Quillo\nIdle"));

    // Nobody listens at Anna's address, so the file cannot go.
    const QString outgoing = platform.folder() + QStringLiteral("/out.txt");
    QVERIFY(writeFile(outgoing, "bytes"));
    window.sender().setRefusalRetries(0, std::chrono::milliseconds(1));
    window.batch().append(outgoing);
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
    QTreeWidget& list = window.receivedFilesDialog()->list();
    QCOMPARE(list.topLevelItemCount(), 1);
    list.setCurrentItem(list.topLevelItem(0));
    const QList<QPushButton*> buttons = window.receivedFilesDialog()->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->text() == QStringLiteral("Show in Folder"))
            button->click();
    }
    QCOMPARE(platform.desktop.calls,
             QStringList{QStringLiteral("showInFolder ") + inbox + QStringLiteral("a.txt")});
    QVERIFY(QFile::remove(inbox + QStringLiteral("a.txt")));
    tray.actions.showReceivedFiles();
    QVERIFY(list.topLevelItem(0)->text(4).startsWith(QStringLiteral("Gone: ")));
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
