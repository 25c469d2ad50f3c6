#include "shell/droppedfiles.h"
#include "shell/mainwindow.h"
#include "support/testfiles.h"
#include "support/testplatform.h"

#include <QDir>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

namespace
{

const QHostAddress kWindowAddress(QStringLiteral("127.0.0.100"));
const QHostAddress kPeerAddress(QStringLiteral("127.0.0.101"));

} // namespace

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
    void aDroppedFolderGivesItsFilesOnce();
    void aDropOnTheWindowIsQueued();
    void aLargeDropAsksFirst();

private:
    QString makeFile(const QString& relativePath);
    void makeLink(const QString& target, const QString& relativePath);
    // A folder with hidden files, links, subfolders and names to sort; sets the paths to
    // drop and what the drop must give.
    void makeTree(QStringList& dropped, QStringList& expected);
    void drop(const QStringList& paths);
    QStringList rows() const;

    std::unique_ptr<TestPlatform> platform_;
    std::unique_ptr<Main> window_;
};

void TestFileDrop::init()
{
    platform_ = std::make_unique<TestPlatform>();
    platform_->startWith(QStringLiteral("Peer"), kPeerAddress);
    window_ = std::make_unique<Main>(platform_->platform(), kWindowAddress);
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

void TestFileDrop::makeLink(const QString& target, const QString& relativePath)
{
    const QDir folder(platform_->folder());
    if (!QFile::link(folder.filePath(target), folder.filePath(relativePath)))
        qFatal("cannot link %s", qPrintable(relativePath));
}

void TestFileDrop::makeTree(QStringList& dropped, QStringList& expected)
{
    for (const char* name : {"drop/photo 10.jpg", "drop/photo 2.jpg", "drop/Beta.txt",
                             "drop/alpha.txt", "drop/.hidden.txt", "drop/.secret/inner.txt",
                             "drop/sub/deeper/d.txt", "drop/a-sub/x.txt"})
        makeFile(QString::fromUtf8(name));
    makeLink(QStringLiteral("drop/alpha.txt"), QStringLiteral("drop/link.txt"));
    makeLink(QStringLiteral("drop/sub"), QStringLiteral("drop/linked-sub"));
    const QString loose = makeFile(QStringLiteral("loose.txt"));
    const QString inside = makeFile(QStringLiteral("drop/sub/z.txt"));
    const QString folder = QDir(platform_->folder()).filePath(QStringLiteral("drop"));
    dropped = {loose,
               inside,
               folder,
               loose,
               folder + QStringLiteral("/.hidden.txt"),
               folder + QStringLiteral("/missing.txt")};
    // The folder's own files by name, numbers by value, then its subfolders by name.
    expected = {loose, inside};
    for (const char* name : {"alpha.txt", "Beta.txt", "photo 2.jpg", "photo 10.jpg", "a-sub/x.txt",
                             "sub/deeper/d.txt"})
        expected.append(folder + QLatin1Char('/') + QString::fromUtf8(name));
}

void TestFileDrop::drop(const QStringList& paths)
{
    QMimeData mime;
    QList<QUrl> urls{QUrl(QStringLiteral("https://example.com/not-a-file.txt"))};
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    mime.setUrls(urls);
    const QPoint middle = window_->rect().center();
    QDragEnterEvent enter(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(middle, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &dropped);
}

QStringList TestFileDrop::rows() const
{
    QStringList result;
    for (int row = 0; row < window_->ui().LSTsends->count(); ++row)
        result.append(window_->ui().LSTsends->item(row)->text());
    return result;
}

void TestFileDrop::severalFilesFromOneDialog()
{
    const QString c = makeFile(QStringLiteral("c.txt"));
    const QString a = makeFile(QStringLiteral("a.txt"));
    const QString hidden = makeFile(QStringLiteral(".h.txt"));
    const QString b = makeFile(QStringLiteral("b.txt"));
    platform_->dialogs.answers = {QStringList{c, a, hidden, b, platform_->folder()}.join('\n')};
    window_->ui().BUTTsendFile->click();
    QCOMPARE(rows(), (QStringList{c, a, b})); // in the order chosen; no hidden file or folder
    QCOMPARE(window_->batch().paths(), rows());
    window_->ui().BUTTsendFile->click(); // cancelled
    QCOMPARE(rows().size(), 3);
    QCOMPARE(platform_->dialogs.calls.size(), 2);
    QCOMPARE(platform_->dialogs.calls[0].kind, QStringLiteral("openFiles"));
    QCOMPARE(platform_->dialogs.calls[0].title, QStringLiteral("Choose a FIle to Send to Peer"));
}

void TestFileDrop::aDroppedFolderGivesItsFilesOnce()
{
    QStringList dropped, expected;
    makeTree(dropped, expected);
    QLocale::setDefault(QLocale::c()); // as where no language is set
    const DroppedFiles files = filesInDrop(dropped);
    QLocale::setDefault(QLocale(QLocale::English));
    QCOMPARE(files.files, expected);
    QCOMPARE(files.fromFolders, 6);
}

void TestFileDrop::aDropOnTheWindowIsQueued()
{
    QStringList dropped, expected;
    makeTree(dropped, expected);
    const QString first = makeFile(QStringLiteral("first.txt"));
    platform_->dialogs.answers = {first};
    window_->ui().BUTTsendFile->click();
    drop(dropped);
    QCOMPARE(rows(), QStringList{first} + expected);
    QCOMPARE(window_->batch().paths(), rows());
    QVERIFY(platform_->dialogs.calls.size() == 1); // no question for a small drop

    // As with the add button, the files go to the selected person.
    window_->ui().ListIPaddress->clearSelection();
    drop(dropped);
    QCOMPARE(rows().size(), expected.size() + 1);
    QCOMPARE(platform_->dialogs.calls.last().text,
             QStringLiteral("You must select a person to send to first"));
}

void TestFileDrop::aLargeDropAsksFirst()
{
    const int limit = int(SendQueuePanel::kManyDroppedFiles);
    for (int i = 0; i < limit; ++i)
        makeFile(QStringLiteral("many/%1.bin").arg(i));
    const QString many = QDir(platform_->folder()).filePath(QStringLiteral("many"));
    drop({many});
    QCOMPARE(rows().size(), limit);
    QCOMPARE(platform_->dialogs.calls.size(), 0);

    window_->ui().BUTclearsends->click();
    makeFile(QStringLiteral("many/one more.bin"));
    drop({many}); // no answer: No
    QCOMPARE(platform_->dialogs.calls.size(), 1);
    QCOMPARE(platform_->dialogs.calls[0].kind, QStringLiteral("ask"));
    QCOMPARE(platform_->dialogs.calls[0].text,
             QStringLiteral("There are 1,001 files in what you dropped. Add them all to the "
                            "files to send?"));
    QCOMPARE(rows().size(), 0);
    platform_->dialogs.answers = {QStringLiteral("yes")};
    drop({many});
    QCOMPARE(rows().size(), limit + 1);
    QCOMPARE(rows().first(), many + QStringLiteral("/0.bin"));
    QCOMPARE(rows().last(), many + QStringLiteral("/one more.bin"));
}

QTEST_MAIN(TestFileDrop)
#include "tst_filedrop.moc"
