#include "plain/protocol.h"
#include "support/menuaction.h"
#include "support/rawpeer.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

// The save folder from the receiver panel's menu: opened in the file manager, or
// changed for the files that come next.
class TestSaveFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aNewSaveFolderTakesTheNextFile();
};

void TestSaveFolder::aNewSaveFolderTakesTheNextFile()
{
    const QHostAddress address(QStringLiteral("127.0.0.102"));
    constexpr int kWait = 5000;
    TestPlatform platform;
    const QString before = platform.folder() + QStringLiteral("/before/");
    const QString after = platform.folder() + QStringLiteral("/after");
    QDir().mkpath(before);
    QDir().mkpath(after);
    platform.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), before);
    auto window = std::make_unique<Main>(platform.platform(), address);
    QVERIFY(window->Form_Load());
    const QLabel& panel = *window->ui().LABrecieveStatus;
    menuAction(panel, QStringLiteral("Open Save Folder"))->trigger();
    QCOMPARE(platform.desktop.calls, QStringList{"openFolder " + QDir(before).absolutePath()});

    // Half of a file, then the time left from the speed meter's first tick.
    const auto beginFile = [&](RawPeer& peer, const QByteArray& name, const QByteArray& bytes) {
        peer.connectTo(QHostAddress(QStringLiteral("127.0.0.103")), address, kFilePort);
        peer.send(transferHeader(name, bytes.size()) + bytes.left(bytes.size() / 2));
        QTRY_COMPARE_WITH_TIMEOUT(window->ui().LABrecieveBytesSent->text(),
                                  QString::number(bytes.size() / 2), kWait);
    };
    const QByteArray one = someBytes(4000);
    RawPeer first;
    beginFile(first, "one.bin", one);
    // The station's speed report for the first second: 2000 bytes of the 4000.
    Q_EMIT window->station().incomingSpeed(one.size() / 2, 1);
    const QProgressBar& bar = *window->ui().ProgressRecieve;
    QCOMPARE(bar.toolTip(), QStringLiteral("A few seconds left"));

    platform.dialogs.answers = {after, platform.folder() + QStringLiteral("/missing")};
    menuAction(panel, QStringLiteral("Change Save Folder\u2026"))->trigger();
    QCOMPARE(platform.dialogs.calls.last().kind, QStringLiteral("chooseFolder"));
    QCOMPARE(platform.dialogs.calls.last().preset, before); // it starts where files go now
    QCOMPARE(window->station().saveFolder(), after + '/');
    const SettingsStore stored(platform.settingsPath()); // written at once
    QCOMPARE(stored.read("Settings", "SaveDir", {}), after + '/');
    // A folder that is not there is refused.
    menuAction(panel, QStringLiteral("Change Save Folder\u2026"))->trigger();
    QCOMPARE(platform.dialogs.calls.last().kind, QStringLiteral("notice"));
    QCOMPARE(window->station().saveFolder(), after + '/');

    // The file in progress ends where it began; the next one goes to the new folder.
    first.send(one.mid(one.size() / 2));
    first.close();
    QTRY_COMPARE_WITH_TIMEOUT(readFile(before + QStringLiteral("one.bin")), one, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(bar.toolTip(), QString(), kWait);
    const QByteArray two = someBytes(3000);
    RawPeer second;
    beginFile(second, "two.bin", two);
    second.send(two.mid(two.size() / 2));
    second.close();
    QTRY_COMPARE_WITH_TIMEOUT(readFile(after + QStringLiteral("/two.bin")), two, kWait);
    QVERIFY(!QFile::exists(before + QStringLiteral("two.bin")));
    window->openSaveFolder(); // as the tray calls it
    QCOMPARE(platform.desktop.calls.last(), "openFolder " + after);
}

QTEST_MAIN(TestSaveFolder)
#include "tst_savefolder.moc"
