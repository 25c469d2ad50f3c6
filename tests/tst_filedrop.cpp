#include "sending/folderwalk.h"
#include "support/droppaths.h"
#include "support/testfiles.h"
#include "support/testplatform.h"
#include "window/mainwindow.h"

#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

namespace
{
constexpr int kWait = 10000;
}

// Queueing many files at once: several from one dialog, or files and folders dropped on
// the window.
class TestFileDrop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English)); }
    void init();
    void cleanup();

    void severalFilesFromOneDialog();
    void droppedFilesAndFoldersAreQueuedOnce();
    void aLargeDropAsksFirst();
    void theQuestionComesBeforeTheWalkEnds();

private:
    QString makeFile(const QString& relativePath);
    // Drops the paths, with a web address among them, on target or else on the window.
    void drop(const QStringList& paths, QWidget* target = nullptr);
    QStringList rows() const { return window_->station().queuedPaths(); }
    // Drops a loose file and waits for it: a drop waits for the walks before it, so their
    // rows, if any, are queued by then. Then clears the queue.
    QStringList rowsOnceWalked();

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
};

void TestFileDrop::init()
{
    platform_ = std::make_unique<TestPlatform>();
    platform_->startWith(QStringLiteral("Peer"), QHostAddress(QStringLiteral("127.0.0.101")));
    window_ = std::make_unique<Main>(platform_->platform(), QHostAddress("127.0.0.100"));
    QVERIFY(window_->Form_Load());
    window_->ui().ListIPaddress->setCurrentRow(0);
}

void TestFileDrop::cleanup()
{
    window_.reset();
    platform_.reset();
}

QString TestFileDrop::makeFile(const QString& relativePath)
{
    const QString path = QDir(platform_->folder()).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!writeFile(path, relativePath.toUtf8()))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList TestFileDrop::rowsOnceWalked()
{
    const QString marker = makeFile(QStringLiteral("marker.txt"));
    drop({marker});
    if (!QTest::qWaitFor([&] { return rows().endsWith(marker); }, kWait))
        return {QStringLiteral("the marker never came")};
    QStringList walked = rows();
    walked.removeLast();
    window_->ui().BUTclearsends->click();
    return walked;
}

void TestFileDrop::drop(const QStringList& paths, QWidget* target)
{
    QVERIFY(dropPaths(target ? *target : *window_, paths,
                      {QUrl(QStringLiteral("https://example.com/not-a-file.txt"))}));
}

void TestFileDrop::severalFilesFromOneDialog()
{
    const QString c = makeFile(QStringLiteral("c.txt"));
    const QString a = makeFile(QStringLiteral("a.txt"));
    const QString hidden = makeFile(QStringLiteral(".h.txt"));
    const QString b = makeFile(QStringLiteral("b.txt"));
    platform_->dialogs.answers = {QStringList{c, a, hidden, b, platform_->folder()}.join('\n')};
    window_->ui().BUTTsendFile->click();
    window_->ui().BUTTsendFile->click();      // cancelled
    QCOMPARE(rows(), (QStringList{c, a, b})); // in the order chosen; no hidden file or folder
    QCOMPARE(window_->ui().LSTsends->count(), 3);
    QCOMPARE(window_->ui().LSTsends->item(1)->text(), a);
    QCOMPARE(platform_->dialogs.calls[0].kind, QStringLiteral("openFiles"));
    QCOMPARE(platform_->dialogs.calls[0].title, QStringLiteral("Choose a FIle to Send to Peer"));
}

void TestFileDrop::droppedFilesAndFoldersAreQueuedOnce()
{
    for (const char* name : {"drop/photo 10.jpg", "drop/photo 2.jpg", "drop/Beta.txt",
                             "drop/alpha.txt", "drop/.hidden.txt", "drop/.secret/inner.txt",
                             "drop/sub/deeper/d.txt", "drop/a-sub/x.txt"})
        makeFile(QString::fromUtf8(name));
    const QString folder = QDir(platform_->folder()).filePath(QStringLiteral("drop"));
    QVERIFY(QFile::link(folder + "/alpha.txt", folder + "/link.txt"));
    QVERIFY(QFile::link(folder + "/sub", folder + "/linked-sub"));
    const QString loose = makeFile(QStringLiteral("loose.txt"));
    const QString inside = makeFile(QStringLiteral("drop/sub/z.txt"));
    const QStringList dropped{
        loose, inside, folder, loose, folder + "/.hidden.txt", folder + "/missing.txt"};
    // The folder's own files by name, numbers by value, then its subfolders by name.
    QStringList expected{loose, inside};
    for (const char* name : {"alpha.txt", "Beta.txt", "photo 2.jpg", "photo 10.jpg", "a-sub/x.txt",
                             "sub/z.txt", "sub/deeper/d.txt"})
        expected.append(folder + '/' + QString::fromUtf8(name));

    QLocale::setDefault(QLocale::c()); // as where no language is set
    const WalkedFiles files = walkFiles(dropped);
    QLocale::setDefault(QLocale(QLocale::English));
    QCOMPARE(files.files, expected);
    QCOMPARE(files.fromFolders, 7);

    // The folder is one row, with its count and size; a file dropped loose is a row of its
    // own, inside the folder as well.
    drop(dropped);
    QCOMPARE(rows(), (QStringList{loose, inside, folder}));
    QCOMPARE(window_->ui().LSTsends->count(), 3);
    QCOMPARE(window_->ui().LSTsends->item(2)->text(), QStringLiteral("drop (7 files, 111 bytes)"));
    QVERIFY(platform_->dialogs.calls.isEmpty()); // no question for a small drop
    // As with the add button, the files go to the selected person.
    window_->ui().ListIPaddress->clearSelection();
    drop(dropped);
    QCOMPARE(rows().size(), 3);
    QCOMPARE(platform_->dialogs.calls.last().text,
             QStringLiteral("You must select a person to send to first"));

    // Files dropped on the chat line are queued, not typed into it.
    window_->ui().ListIPaddress->setCurrentRow(0);
    window_->ui().BUTclearsends->click();
    drop({loose}, window_->ui().ChatTX);
    QCOMPARE(rows(), QStringList{loose});
    QVERIFY(window_->ui().ChatTX->text().isEmpty());
}

void TestFileDrop::aLargeDropAsksFirst()
{
    const int limit = int(SendQueuePanel::kManyDroppedFiles);
    for (int i = 0; i < limit; ++i)
        makeFile(QStringLiteral("many/%1.bin").arg(i));
    const QString many = QDir(platform_->folder()).filePath(QStringLiteral("many"));
    drop({many});
    QTRY_COMPARE_WITH_TIMEOUT(rows(), QStringList{many}, kWait);
    QVERIFY(
        window_->ui().LSTsends->item(0)->text().startsWith(QStringLiteral("many (1,000 files, ")));
    QVERIFY(platform_->dialogs.calls.isEmpty());

    window_->ui().BUTclearsends->click();
    makeFile(QStringLiteral("many/one more.bin"));
    drop({many}); // no answer: No
    QTRY_COMPARE_WITH_TIMEOUT(platform_->dialogs.calls.size(), 1, kWait);
    QCOMPARE(rowsOnceWalked(), QStringList());
    QCOMPARE(platform_->dialogs.calls[0].text,
             QStringLiteral("There are 1,001 files in what you dropped. Add them all to the "
                            "files to send?"));
    platform_->dialogs.answers = {QStringLiteral("yes")};
    drop({many});
    QTRY_COMPARE_WITH_TIMEOUT(rows(), QStringList{many}, kWait);
}

void TestFileDrop::theQuestionComesBeforeTheWalkEnds()
{
    const int files = int(SendQueuePanel::kManyDroppedFiles) + 100;
    for (int i = 0; i < files; ++i)
        makeFile(QStringLiteral("many/%1.bin").arg(i));
    const QString many = QDir(platform_->folder()).filePath(QStringLiteral("many"));
    const QString loose = makeFile(QStringLiteral("loose.txt"));
    drop({many}); // no answer: No
    QTRY_COMPARE_WITH_TIMEOUT(platform_->dialogs.calls.size(), 1, kWait);
    QCOMPARE(platform_->dialogs.calls[0].text,
             QStringLiteral("There are more than 1,000 files in what you dropped. Add them all "
                            "to the files to send?"));
    QCOMPARE(rowsOnceWalked(), QStringList());

    // A drop made while another is walked waits its turn.
    platform_->dialogs.answers = {QStringLiteral("yes")};
    drop({many});
    drop({loose});
    QTRY_COMPARE_WITH_TIMEOUT(rows(), (QStringList{many, loose}), kWait);

    // Closing the window mid-walk leaves nothing behind to run.
    platform_->dialogs.answers = {QStringLiteral("yes")};
    drop({many});
    window_.reset();
}

QTEST_MAIN(TestFileDrop)
#include "tst_filedrop.moc"
