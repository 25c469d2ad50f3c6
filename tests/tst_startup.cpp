#include "plain/protocol.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"
#include "window/savefolder.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace
{

const QHostAddress kAddress(QStringLiteral("127.0.0.2"));
const QString kFirstRunMessage =
    QStringLiteral("This is the First Time you have run Quillo, Please select a folder where you "
                   "would like to save recieved files");
const QString kPreset = QStringLiteral("SELECT A FOLDER AND CLICK SAVE>>>");

QString storedSaveDir(const QString& path)
{
    QSettings file(path, QSettings::IniFormat);
    return file.value(QStringLiteral("Settings/SaveDir"), QStringLiteral("<absent>")).toString();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cutsTheFolderAtTheFirstSelect_data();
    void cutsTheFolderAtTheFirstSelect();
    void firstRunAsksAndStoresTheFolder();
    void firstRunOpensInDownloadsNotHome();
    void firstRunWithoutAFolderAsksAgainNextTime_data();
    void firstRunWithoutAFolderAsksAgainNextTime();
    void showsTheLocalAddressAndListensOnTheFilePort();
    void portTakenEndsTheProgramWithTheError();
    void unreadableSettingsEndTheProgram();
    void damagedSettingsAreKeptAsideAndTheRestIsUsed();
    void settingsThatAreNotTextAreKeptAside_data();
    void settingsThatAreNotTextAreKeptAside();
    void handWrittenSettingsAreNotDamaged();
    void aFailedWriteAtCloseIsTold_data();
    void aFailedWriteAtCloseIsTold();
    void shutDownStoresTheAddressBookOnce();
    void failedStartUpWritesNothing();
};

void TestStartup::cutsTheFolderAtTheFirstSelect_data()
{
    QTest::addColumn<QString>("dialogPath");
    QTest::addColumn<QString>("folder");
    QTest::newRow("preset confirmed") << "/home/ann/Incoming/SELECT A FOLDER AND CLICK SAVE>>>"
                                      << "/home/ann/Incoming/";
    QTest::newRow("root folder") << "/SELECT A FOLDER AND CLICK SAVE>>>"
                                 << "/";
    QTest::newRow("folder named SELECTED") << "/SELECTED/SELECT A FOLDER AND CLICK SAVE>>>"
                                           << "/";
    QTest::newRow("retyped in lower case") << "/home/ann/select a folder and click save>>>"
                                           << "";
    QTest::newRow("lower-case folder, preset kept") << "/home/select/SELECT A FOLDER"
                                                    << "/home/select/";
    QTest::newRow("no separator before it") << "SELECT A FOLDER AND CLICK SAVE>>>"
                                            << "";
    QTest::newRow("another name") << "/home/ann/notes.txt"
                                  << "";
    QTest::newRow("cancelled") << ""
                               << "";
}

void TestStartup::cutsTheFolderAtTheFirstSelect()
{
    QFETCH(QString, dialogPath);
    QFETCH(QString, folder);
    QCOMPARE(saveFolderFromDialogPath(dialogPath), folder);
}

void TestStartup::firstRunAsksAndStoresTheFolder()
{
    TestPlatform p;
    const QString chosen = p.folder() + QStringLiteral("/Incoming/") + kPreset;
    p.dialogs.answers = {chosen};
    {
        Main window(p.platform(), kAddress);
        QVERIFY(window.Form_Load());
        QCOMPARE(p.dialogs.calls.size(), 2);
        QCOMPARE(p.dialogs.calls[0].kind, QStringLiteral("message"));
        QCOMPARE(p.dialogs.calls[0].text, kFirstRunMessage);
        QCOMPARE(p.dialogs.calls[1].kind, QStringLiteral("saveFile"));
        QCOMPARE(p.dialogs.calls[1].title,
                 QStringLiteral("Choose a folder where you want to save downloaded files"));
        QCOMPARE(p.dialogs.calls[1].preset, kPreset);
        QCOMPARE(window.station().saveFolder(), p.folder() + QStringLiteral("/Incoming/"));
        // Stored at once, not only at shut-down.
        QCOMPARE(storedSaveDir(p.settingsPath()), window.station().saveFolder());
    }

    p.dialogs.calls.clear();
    p.reopenSettings();
    Main again(p.platform(), kAddress);
    QVERIFY(again.Form_Load());
    QVERIFY(p.dialogs.calls.isEmpty());
    QCOMPARE(again.station().saveFolder(), p.folder() + QStringLiteral("/Incoming/"));
}

void TestStartup::firstRunOpensInDownloadsNotHome()
{
    // Each suite runs with a home of its own (see tests/CMakeLists.txt).
    const QString home = QDir::homePath();
    QDir(home).rmdir(QStringLiteral("Downloads"));
    const QString folder = firstRunFolder();
    QVERIFY2(folder.startsWith(home + QLatin1Char('/')), qPrintable(folder));
    QVERIFY(folder != home);
    QVERIFY(QFileInfo(folder).isDir());
}

void TestStartup::firstRunWithoutAFolderAsksAgainNextTime_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("cancelled") << QString();
    QTest::newRow("lower case") << QStringLiteral("/home/ann/select a folder");
}

void TestStartup::firstRunWithoutAFolderAsksAgainNextTime()
{
    QFETCH(QString, answer);
    TestPlatform p;
    p.dialogs.answers = {answer};
    {
        Main window(p.platform(), kAddress);
        QVERIFY(window.Form_Load());
        QCOMPARE(window.station().saveFolder(), QString());
        QCOMPARE(storedSaveDir(p.settingsPath()), QString());
    }
    p.dialogs.calls.clear();
    p.reopenSettings();
    Main again(p.platform(), kAddress);
    QVERIFY(again.Form_Load());
    QCOMPARE(p.dialogs.calls.size(), 2);
}

void TestStartup::showsTheLocalAddressAndListensOnTheFilePort()
{
    TestPlatform p;
    p.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), p.folder() + "/");
    Main window(p.platform(), kAddress);
    QVERIFY(window.Form_Load());
    QCOMPARE(window.ui().LABSendLocalIP->text(), kAddress.toString());
    QCOMPARE(window.ui().LABrecieveLocalIP->text(), kAddress.toString());

    QTcpSocket peer;
    peer.connectToHost(kAddress, kFilePort);
    QTRY_COMPARE_WITH_TIMEOUT(window.ui().LABrecieveStatus->text(), QStringLiteral("Connected"),
                              5000);
}

void TestStartup::portTakenEndsTheProgramWithTheError()
{
    const QHostAddress address(QStringLiteral("127.0.0.9"));
    QTcpServer other;
    QVERIFY(other.listen(address, kFilePort));

    TestPlatform p;
    p.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), p.folder() + "/");
    Main window(p.platform(), address);
    QVERIFY(!window.Form_Load());
    QCOMPARE(p.dialogs.calls.size(), 1);
    QVERIFY2(p.dialogs.calls[0].text.contains(QLatin1String("Error 10048: ")),
             qPrintable(p.dialogs.calls[0].text));
    QVERIFY(p.dialogs.calls[0].text.contains(QLatin1String("1052")));
}

void TestStartup::unreadableSettingsEndTheProgram()
{
    TestPlatform p;
    QVERIFY(QDir().mkpath(p.settingsPath())); // a folder where the file should be
    p.reopenSettings();
    Main window(p.platform(), kAddress);
    QVERIFY(!window.Form_Load());
    QCOMPARE(p.dialogs.calls.size(), 1);
    QVERIFY2(p.dialogs.calls[0].text.contains(QLatin1String("Error 21: ")),
             qPrintable(p.dialogs.calls[0].text));
    QVERIFY(p.dialogs.calls[0].text.contains(p.settingsPath()));
}

void TestStartup::damagedSettingsAreKeptAsideAndTheRestIsUsed()
{
    TestPlatform p;
    const QByteArray damaged = "[Settings]\nSaveDir=/srv/in/\n[IPaddress0]\nName=Anna\n"
                               "IPaddress=10.0.0.1\nthis line is not a setting\n[IPaddress1\n";
    QVERIFY(writeFile(p.settingsPath(), damaged));
    p.reopenSettings();
    {
        Main window(p.platform(), kAddress);
        QVERIFY(window.Form_Load());
        QCOMPARE(window.station().saveFolder(), QStringLiteral("/srv/in/"));
        QCOMPARE(window.station().addressBook().count(), 1);
        QCOMPARE(p.dialogs.calls.size(), 1);
        QVERIFY(p.dialogs.calls[0].text.contains(QLatin1String("could not be read")));
        window.close();
    }
    const QStringList copies =
        QDir(p.folder()).entryList({QStringLiteral("Quillo.conf.damaged-*")});
    QCOMPARE(copies.size(), 1);
    QCOMPARE(readFile(QDir(p.folder()).filePath(copies[0])), damaged);
    QVERIFY(p.dialogs.calls[0].text.contains(copies[0]));
}

void TestStartup::settingsThatAreNotTextAreKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("questions"); // the damage message, then any first-run ones

    const QByteArray image("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20);
    QTest::newRow("binary") << image << QString() << 0 << 3;
    QTest::newRow("valid, then binary")
        << QByteArray("[Settings]\nSaveDir=/srv/in/\n[IPaddress0]\nName=Anna\n"
                      "IPaddress=10.0.0.1\n") +
               image
        << QStringLiteral("/srv/in/") << 1 << 1;
}

void TestStartup::settingsThatAreNotTextAreKeptAside()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, folder);
    QFETCH(int, entries);
    QFETCH(int, questions);
    TestPlatform p;
    QVERIFY(writeFile(p.settingsPath(), content));
    p.reopenSettings();
    Main window(p.platform(), kAddress);
    QVERIFY(window.Form_Load());
    QCOMPARE(window.station().saveFolder(), folder);
    QCOMPARE(window.station().addressBook().count(), entries);
    QCOMPARE(p.dialogs.calls.size(), questions);
    QCOMPARE(p.dialogs.calls[0].kind, QStringLiteral("message"));
    QVERIFY(p.dialogs.calls[0].text.contains(QLatin1String("could not be read")));

    const QStringList copies =
        QDir(p.folder()).entryList({QStringLiteral("Quillo.conf.damaged-*")});
    QCOMPARE(copies.size(), 1);
    QCOMPARE(readFile(QDir(p.folder()).filePath(copies[0])), content);
}

void TestStartup::handWrittenSettingsAreNotDamaged()
{
    TestPlatform p;
    QVERIFY(writeFile(p.settingsPath(), "\xef\xbb\xbf; kept by hand\r\n\r\n# folder\r\n"
                                        "[Settings]\r\n  SaveDir = /srv/in/\r\n"
                                        "[IPaddress0]\r\nName=Zo\xc3\xab\r\nIPaddress=10.0.0.1"));
    p.reopenSettings();
    Main window(p.platform(), kAddress);
    QVERIFY(window.Form_Load());
    QVERIFY(p.dialogs.calls.isEmpty());
    QCOMPARE(window.station().saveFolder(), QStringLiteral("/srv/in/"));
    QCOMPARE(window.station().addressBook().entry(0).Name, QString::fromUtf8("Zoë"));
}

void TestStartup::aFailedWriteAtCloseIsTold_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("blocked");
    QTest::addColumn<int>("messagesAtStart");

    const QByteArray clean = "[Settings]\nSaveDir=/srv/in/\n";
    QTest::newRow("written") << clean << false << 0;
    QTest::newRow("cannot be written") << clean << true << 0;
    QTest::newRow("damaged, then cannot be written") << clean + "[IPaddress9\n" << true << 1;
}

void TestStartup::aFailedWriteAtCloseIsTold()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, blocked);
    QFETCH(int, messagesAtStart);
    TestPlatform p;
    QVERIFY(writeFile(p.settingsPath(), content));
    p.reopenSettings();
    Main window(p.platform(), kAddress);
    QVERIFY(window.Form_Load());
    QCOMPARE(p.dialogs.calls.size(), messagesAtStart);
    const QString name = QString::fromUtf8("Zoë \"; =x");
    p.dialogs.answers = {name, QStringLiteral("10.0.0.7")};
    window.ui().BUTTaddNewAddress->click();
    p.dialogs.calls.clear();
    if (blocked) {
        // Not even root can write a file where a folder stands.
        QVERIFY(QFile::remove(p.settingsPath()));
        QVERIFY(QDir().mkdir(p.settingsPath()));
    }
    window.close();

    if (!blocked) {
        QVERIFY(p.dialogs.calls.isEmpty());
        QVERIFY(readFile(p.settingsPath()).contains("IPaddress=10.0.0.7"));
        return;
    }
    QCOMPARE(p.dialogs.calls.size(), 1);
    QCOMPARE(p.dialogs.calls[0].kind, QStringLiteral("message"));
    QVERIFY2(p.dialogs.calls[0].text.contains(p.settingsPath()),
             qPrintable(p.dialogs.calls[0].text));
    QVERIFY(p.dialogs.calls[0].text.contains(QLatin1String("address book were not saved")));
}

void TestStartup::shutDownStoresTheAddressBookOnce()
{
    TestPlatform p;
    p.settings().write(QStringLiteral("Settings"), QStringLiteral("SaveDir"), p.folder() + "/");
    p.settings().write(QStringLiteral("IPaddress4"), QStringLiteral("Name"),
                       QStringLiteral("Anna"));
    p.settings().write(QStringLiteral("IPaddress4"), QStringLiteral("IPaddress"),
                       QStringLiteral("10.0.0.1"));
    Main window(p.platform(), kAddress);
    QVERIFY(window.Form_Load());
    p.dialogs.answers = {"Bob", "10.0.0.7"};
    window.ui().BUTTaddNewAddress->click();
    window.close();

    QSettings file(p.settingsPath(), QSettings::IniFormat);
    QCOMPARE(file.childGroups(), (QStringList{"IPaddress0", "IPaddress1", "Settings"}));
    QCOMPARE(file.value(QStringLiteral("IPaddress0/Name")).toString(), QStringLiteral("Anna"));
    QCOMPARE(file.value(QStringLiteral("IPaddress1/IPaddress")).toString(),
             QStringLiteral("10.0.0.7"));

    // The window is gone; a second close must not write again.
    QFile::remove(p.settingsPath());
    window.close();
    QVERIFY(!QFile::exists(p.settingsPath()));

    // The file port is free again.
    QTcpServer next;
    QVERIFY(next.listen(kAddress, kFilePort));
}

void TestStartup::failedStartUpWritesNothing()
{
    const QHostAddress address(QStringLiteral("127.0.0.9"));
    QTcpServer other;
    QVERIFY(other.listen(address, kFilePort));
    TestPlatform p;
    QVERIFY(writeFile(p.settingsPath(),
                      "[IPaddress7]\nName=Anna\nIPaddress=10.0.0.1\n[Settings]\nSaveDir=/x/\n"));
    p.reopenSettings();
    Main window(p.platform(), address);
    QVERIFY(!window.Form_Load());
    window.close();
    QCOMPARE(readFile(p.settingsPath()),
             QByteArray("[IPaddress7]\nName=Anna\nIPaddress=10.0.0.1\n[Settings]\nSaveDir=/x/\n"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
