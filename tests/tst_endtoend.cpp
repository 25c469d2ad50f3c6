#include "plain/protocol.h"
#include "support/menuaction.h"
#include "support/privatepeer.h"
#include "support/rawpeer.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"
#include "window/peertextview.h"
#include "window/privacymark.h"
#include "window/receivedfilesdialog.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTreeWidget>
#include <QtTest>

namespace
{

const QHostAddress kAnnaAddress(QStringLiteral("127.0.0.14"));
const QHostAddress kBobAddress(QStringLiteral("127.0.0.15"));
constexpr int kWait = 20000;

// One running copy of the program on a loopback address of its own.
struct Peer {
    Peer(const QHostAddress& address, const QString& friendName, const QHostAddress& friendAddress)
    {
        inbox = platform.folder() + QStringLiteral("/in/");
        QDir().mkpath(inbox);
        SettingsStore& settings = platform.settings();
        settings.write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), inbox);
        settings.write(QStringLiteral("IPaddress0"), QStringLiteral("Name"), friendName);
        settings.write(QStringLiteral("IPaddress0"), QStringLiteral("IPaddress"),
                       friendAddress.toString());
        window = std::make_unique<Main>(platform.platform(), address);
    }

    TestPlatform platform;
    QString inbox;
    std::unique_ptr<Main> window;
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aBatchArrivesByteForByte();
    void theReceiverPanelFollowsATransfer();
    void aPrivateTransferAndChatAreMarked();
    void closingEitherWindowMidTransferIsSafe_data();
    void closingEitherWindowMidTransferIsSafe();
};

void TestEndToEnd::aBatchArrivesByteForByte()
{
    Peer anna(kAnnaAddress, QStringLiteral("Bob"), kBobAddress);
    Peer bob(kBobAddress, QStringLiteral("Anna"), kAnnaAddress);
    QVERIFY(anna.window->Form_Load());
    QVERIFY(bob.window->Form_Load());

    const QMap<QString, QByteArray> files{
        {QStringLiteral("big.bin"), someBytes(3 * 1024 * 1024 + 5)},
        {QStringLiteral("a b #2.txt"), QByteArray("hash and spaces")},
        {QStringLiteral("empty.txt"), QByteArray()},
        {QStringLiteral("exact.bin"), someBytes(2048)},
    };
    const MainUi& ui = anna.window->ui();
    ui.ListIPaddress->setCurrentRow(0);
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = QDir(anna.platform.folder()).filePath(it.key());
        QVERIFY(writeFile(path, it.value()));
        anna.platform.dialogs.answers = {path};
        ui.BUTTsendFile->click();
    }
    QCOMPARE(ui.LSTsends->count(), files.size());

    ui.BUTsendthesefiles->click();
    QTRY_VERIFY_WITH_TIMEOUT(!anna.window->station().isSending(), kWait);
    QCOMPARE(ui.LABSendStatus->text(), QStringLiteral("File Sent"));
    QCOMPARE(ui.LABtotalProgress->text(), QStringLiteral("4 of 4 Files"));
    QTRY_COMPARE_WITH_TIMEOUT(bob.window->ui().LABrecieveStatus->text(),
                              QStringLiteral("Disconnected"), kWait);

    QStringList expected = files.keys();
    expected.sort();
    QTRY_COMPARE_WITH_TIMEOUT(QDir(bob.inbox).entryList(QDir::Files, QDir::Name), expected, kWait);
    for (auto it = files.begin(); it != files.end(); ++it)
        QCOMPARE(readFile(bob.inbox + it.key()), it.value());
}

void TestEndToEnd::theReceiverPanelFollowsATransfer()
{
    Peer bob(kBobAddress, QStringLiteral("Anna"), kAnnaAddress);
    QVERIFY(bob.window->Form_Load());
    const MainUi& ui = bob.window->ui();
    RawPeer peer;
    peer.connectTo(kAnnaAddress, kBobAddress, kFilePort);
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABrecieveStatus->text(), QStringLiteral("Connected"), kWait);
    QCOMPARE(ui.LABrecieveRemoteIP->text(), kAnnaAddress.toString());
    peer.send(transferHeader("plan.txt", 2500) + QByteArray(1024, 'p'));
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABrecieveBytesSent->text(), QStringLiteral("1024"), kWait);
    QCOMPARE(ui.LABrecieveStatus->text(), QStringLiteral("Recieving file"));
    QCOMPARE(ui.LABrecieveFileName->text(), QStringLiteral("plan.txt"));
    QCOMPARE(ui.LABrecieveFileSize->text(), QStringLiteral("2500"));
    QCOMPARE(ui.LABprogressRecieve->text(), QStringLiteral("40 %"));
    QCOMPARE(ui.ProgressRecieve->value(), 40);

    peer.send(QByteArray(1476, 'q'));
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABprogressRecieve->text(), QStringLiteral("100 %"), kWait);
    peer.close();
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABrecieveStatus->text(), QStringLiteral("Disconnected"), kWait);
    QCOMPARE(ui.LABrecieveRemoteIP->text(), QStringLiteral("0.0.0.0"));
    QCOMPARE(ui.LABrecieveFileName->text(), QString());
    QCOMPARE(ui.LABrecieveBytesSent->text(), QStringLiteral("0"));
    QCOMPARE(ui.LABrecieveFileSize->text(), QStringLiteral("0"));
    QCOMPARE(ui.LABprogressRecieve->text(), QStringLiteral("0 %"));
    QCOMPARE(ui.LABrecieveSpeed->text(), QStringLiteral("0 K per Second"));
    QCOMPARE(ui.ProgressRecieve->value(), 0);

    // Files only from the address book, from the panel's menu: kept for the next start.
    QAction* onlyKnown =
        menuAction(*ui.LABrecieveStatus, QStringLiteral("Accept Files Only From My Address Book"));
    QVERIFY(onlyKnown);
    QVERIFY(!onlyKnown->isChecked());
    onlyKnown->trigger();
    bob.platform.reopenSettings();
    QCOMPARE(bob.platform.settings().read("Settings", "OnlyKnownSenders", {}), "true");
    RawPeer stranger;
    stranger.connectTo(QHostAddress(QStringLiteral("127.0.0.18")), kBobAddress, kFilePort);
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABrecieveStatus->text(),
                              QStringLiteral("Refused: 127.0.0.18 is not in your address book"),
                              kWait);
}

void TestEndToEnd::aPrivateTransferAndChatAreMarked()
{
    const QHostAddress carol(QStringLiteral("127.0.6.20"));
    const QHostAddress dave(QStringLiteral("127.0.6.21"));
    Peer receiver(carol, QStringLiteral("Dave"), dave);
    QVERIFY(receiver.window->Form_Load());
    QVERIFY(!receiver.window->station().openIdentity());
    const MainUi& ui = receiver.window->ui();
    PrivatePeer peer;
    peer.connectTo(dave, carol);
    peer.send(helloMessage() + fileMessage(2000, "plan.txt") +
              encodeMessage(MessageType::Data, QByteArray(1000, 'p')));
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABrecieveBytesSent->text(), QStringLiteral("1000"), kWait);
    QCOMPARE(ui.receivePrivacyMark->accessibleDescription(),
             QStringLiteral("Private: Dave's key, not yet compared"));
    QCOMPARE(ui.receivePrivacyMark->toolTip(),
             plainToolTip("Private: Dave's key, not yet compared"));
    peer.send(encodeMessage(MessageType::Data, QByteArray(1000, 'q')) +
              endMessage(Checksum::of(peer.check, QByteArray(1000, 'p') + QByteArray(1000, 'q'))) +
              chatMessage(QStringLiteral("sent you the plan")));
    QTRY_COMPARE_WITH_TIMEOUT(peer.count(MessageType::Heard), 1, kWait);
    QVERIFY(ui.ChatRX->toPlainText().contains(QStringLiteral("sent you the plan")));
    // The panel is reset once the file is told.
    QTRY_COMPARE_WITH_TIMEOUT(ui.receivePrivacyMark->accessibleDescription(), QString(), kWait);
    peer.send(fileMessage(2000, "next.txt") + encodeMessage(MessageType::Data, "n"));
    QTRY_COMPARE_WITH_TIMEOUT(ui.LABrecieveFileName->text(), QStringLiteral("next.txt"), kWait);
    QCOMPARE(ui.LABrecieveRemoteIP->text(), dave.toString()); // the batch's next file
    QCOMPARE(ui.receivePrivacyMark->accessibleDescription(),
             QStringLiteral("Private: Dave's key, not yet compared"));

    receiver.window->showReceivedFiles();
    auto* list = receiver.window->findChild<ReceivedFilesDialog*>()->findChild<QTreeWidget*>();
    QCOMPARE(list->headerItem()->text(4), QStringLiteral("Private"));
    QCOMPARE(list->topLevelItem(0)->text(4), QStringLiteral("Yes"));
}

void TestEndToEnd::closingEitherWindowMidTransferIsSafe_data()
{
    QTest::addColumn<bool>("closeSender");
    QTest::newRow("sender closes") << true;
    QTest::newRow("receiver closes") << false;
}

void TestEndToEnd::closingEitherWindowMidTransferIsSafe()
{
    QFETCH(bool, closeSender);
    Peer anna(kAnnaAddress, QStringLiteral("Bob"), kBobAddress);
    Peer bob(kBobAddress, QStringLiteral("Anna"), kAnnaAddress);
    QVERIFY(anna.window->Form_Load());
    QVERIFY(bob.window->Form_Load());
    const QString path = QDir(anna.platform.folder()).filePath(QStringLiteral("large.bin"));
    QVERIFY(writeFile(path, someBytes(64 * 1024 * 1024)));
    anna.window->station().setRefusalRetries(1, std::chrono::milliseconds(50));
    anna.window->ui().ListIPaddress->setCurrentRow(0);
    anna.platform.dialogs.answers = {path, path};
    anna.window->ui().BUTTsendFile->click();
    anna.window->ui().BUTTsendFile->click();
    // Close at the first bytes that arrive, from the event loop, as a person's click would.
    std::unique_ptr<Main>& closing = closeSender ? anna.window : bob.window;
    bool closed = false;
    // The calls still queued when this case ends go with it, not into the next case.
    QObject context;
    connect(
        &bob.window->station(), &Station::incomingProgressed, &context,
        [&] {
            if (std::exchange(closed, true))
                return;
            closing->close();
            closing.reset();
        },
        Qt::QueuedConnection);
    anna.window->ui().BUTsendthesefiles->click();
    QTRY_VERIFY_WITH_TIMEOUT(closed, kWait);
    Peer& survivor = closeSender ? bob : anna;
    if (closeSender)
        QTRY_COMPARE_WITH_TIMEOUT(survivor.window->ui().LABrecieveStatus->text(),
                                  QStringLiteral("Disconnected"), kWait);
    else
        QTRY_VERIFY_WITH_TIMEOUT(!survivor.window->station().isSending(), kWait);
    // What arrived is kept as a part file, never under the final name.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(bob.inbox).entryList(QDir::Files), QStringList{"large.bin.part"},
                              kWait);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
