#include "shell/mainwindow.h"
#include "support/rawpeer.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "transfer/protocol.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

namespace
{

const QHostAddress kWindowAddress(QStringLiteral("127.0.0.102"));
const QHostAddress kSenderAddress(QStringLiteral("127.0.0.103"));
constexpr int kWait = 5000;

} // namespace

// The save folder from the receiver panel's menu: opened in the file manager, or
// changed for the files that come next.
class TestSaveFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { platform_ = std::make_unique<TestPlatform>(); }
    void cleanup();

    void aNewSaveFolderTakesTheNextFile();
    void aFolderThatCannotBeWrittenIsRefused();

private:
    void start(const QString& saveFolder);
    // Sends the header and the first half of a file; the caller ends it.
    void beginFile(RawPeer& peer, const QByteArray& name, const QByteArray& content);

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
};

void TestSaveFolder::cleanup()
{
    window_.reset();
    platform_.reset();
}

void TestSaveFolder::start(const QString& saveFolder)
{
    TestPlatform& platform = *platform_;
    platform.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), saveFolder);
    window_ = std::make_unique<Main>(platform.platform(), kWindowAddress);
    QVERIFY(window_->Form_Load());
}

void TestSaveFolder::beginFile(RawPeer& peer, const QByteArray& name, const QByteArray& content)
{
    peer.connectTo(kSenderAddress, kWindowAddress, kFilePort);
    peer.send(transferHeader(name, content.size()) + content.left(content.size() / 2));
    QTRY_COMPARE_WITH_TIMEOUT(window_->ui().LABrecieveBytesSent->text(),
                              QString::number(content.size() / 2), kWait);
}

void TestSaveFolder::aNewSaveFolderTakesTheNextFile()
{
    TestPlatform& platform = *platform_;
    const QString before = platform.folder() + QStringLiteral("/before/");
    const QString after = platform.folder() + QStringLiteral("/after");
    QDir().mkpath(before);
    QDir().mkpath(after);
    start(before);
    window_->receiverPanel().openSaveFolder()->trigger();
    QCOMPARE(platform.desktop.calls, QStringList{"openFolder " + QDir(before).absolutePath()});

    const QByteArray one = someBytes(4000);
    RawPeer first;
    beginFile(first, "one.bin", one);
    // The time left shows from the speed meter's first tick.
    window_->receiver().speedMeter().setInterval(std::chrono::hours(1));
    window_->receiver().speedMeter().tick();
    const QProgressBar& bar = *window_->ui().ProgressRecieve;
    QCOMPARE(bar.toolTip(), QStringLiteral("A few seconds left"));

    platform.dialogs.answers = {after};
    window_->receiverPanel().changeSaveFolder()->trigger();
    QCOMPARE(platform.dialogs.calls.last().kind, QStringLiteral("chooseFolder"));
    QCOMPARE(platform.dialogs.calls.last().preset, before); // it starts where files go now
    QCOMPARE(window_->saveFolder(), after + QLatin1Char('/'));
    const SettingsStore stored(platform.settingsPath()); // written at once
    QCOMPARE(stored.read("Settings", "SaveDir", {}), after + QLatin1Char('/'));

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

    window_->openSaveFolder(); // as the tray calls it
    QCOMPARE(platform.desktop.calls.last(), "openFolder " + after);
}

void TestSaveFolder::aFolderThatCannotBeWrittenIsRefused()
{
    TestPlatform& platform = *platform_;
    const QString folder = platform.folder() + QLatin1Char('/');
    start(folder);
    const QString missing = platform.folder() + QStringLiteral("/missing");
    platform.dialogs.answers = {missing};
    window_->chooseSaveFolder();
    QCOMPARE(platform.dialogs.calls.last().text,
             QStringLiteral("Quillo cannot save files in %1. Received files still go to %2.")
                 .arg(missing, folder));
    QCOMPARE(window_->saveFolder(), folder);
}

QTEST_MAIN(TestSaveFolder)
#include "tst_savefolder.moc"
