#include "support/privatestation.h"
#include "support/testfiles.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QtTest>

namespace
{

// Addresses of these tests' own, so that they never meet another test's peers.
const QHostAddress kStation(QStringLiteral("127.0.8.1"));
const QHostAddress kAnna(QStringLiteral("127.0.8.2"));
const QHostAddress kStranger(QStringLiteral("127.0.8.3"));
constexpr int kWaitMs = 10000;

struct FolderFixture : PrivateStation {
    FolderFixture() : PrivateStation(kStation, kAnna) { greet(anna); }
    QString outside(const QString& name = {}) const
    {
        return folder.filePath(QStringLiteral("outside/")) + name;
    }
    // Offers a file, its bytes with it where it is small enough to go eagerly, and waits
    // for its answer, ACCEPT or REFUSE.
    void offer(const QByteArray& path, PrivatePeer* peer = nullptr, qint64 size = 1)
    {
        PrivatePeer& from = peer ? *peer : anna;
        const int answers = from.count(MessageType::Accept) + from.count(MessageType::Refuse);
        if (size <= kEagerBytes)
            from.sendFile(path, QByteArray(size, 'x'));
        else
            from.send(fileMessage(size, path));
        QTRY_COMPARE_WITH_TIMEOUT(from.count(MessageType::Accept) + from.count(MessageType::Refuse),
                                  answers + 1, kWaitMs);
    }
    // Sends each file whole, and waits for all of them to be saved.
    void sendAll(const QMap<QByteArray, QByteArray>& files, PrivatePeer* peer = nullptr)
    {
        PrivatePeer& from = peer ? *peer : anna;
        const int saved = from.count(MessageType::Saved);
        for (auto file = files.cbegin(); file != files.cend(); ++file)
            from.sendFile(file.key(), file.value());
        QTRY_COMPARE_WITH_TIMEOUT(from.count(MessageType::Saved), saved + files.size(), kWaitMs);
    }

    PrivatePeer anna;
    bool madeOutside = QDir().mkpath(outside());
};

// Every file and folder under root, hidden ones too, by its path inside root; a file with
// its content, a folder or link with a mark.
QMap<QString, QByteArray> tree(const QString& root)
{
    QMap<QString, QByteArray> found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString inside = QDir(root).relativeFilePath(info.filePath());
        found.insert(inside, info.isSymLink() ? "<link>"
                             : info.isDir()   ? "<folder>"
                                              : readFile(info.filePath()));
    }
    return found;
}

} // namespace

class TestFolders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aTreeArrivesAsItWasSent();
    void hostilePathsAreRefused_data();
    void hostilePathsAreRefused();
    void nothingInTheWayIsFollowed();
    void whatStrangersMakeIsBounded();
};

void TestFolders::aTreeArrivesAsItWasSent()
{
    FolderFixture f;
    QVERIFY(QDir().mkpath(f.inbox("Trip")));
    QVERIFY(writeFile(f.inbox("Trip/old.txt"), "older"));
    QSignalSpy started(&f.station, &Station::incomingFileStarted);
    const QMap<QByteArray, QByteArray> sent = {
        {"Trip/a.jpg", someBytes(5000)},
        {"Trip/day 1/a.jpg", someBytes(7000)},
        {"Trip/day 1/night/a.jpg", someBytes(100)},
        {"Trip/day 2/empty", {}},
        {"Trip/day 2/notes.txt", "notes"},
    };
    f.sendAll(sent);
    f.sendAll({{"Trip/day 3/late.txt", "late"}, {"loose.txt", "loose"}});

    QVERIFY(parseHello(f.anna.messages.first().body)->features & kFeatureFolders);
    QMap<QString, QByteArray> expected = {{"Trip", "<folder>"},
                                          {"Trip/old.txt", "older"},
                                          {"Trip (1)", "<folder>"},
                                          {"Trip (1)/day 1", "<folder>"},
                                          {"Trip (1)/day 1/night", "<folder>"},
                                          {"Trip (1)/day 2", "<folder>"},
                                          {"Trip (1)/day 3", "<folder>"},
                                          {"Trip (1)/day 3/late.txt", "late"},
                                          {"loose.txt", "loose"}};
    for (auto file = sent.cbegin(); file != sent.cend(); ++file)
        expected.insert(QString::fromUtf8(file.key()).replace("Trip/", "Trip (1)/"), file.value());
    QCOMPARE(tree(f.inbox()), expected);
    QCOMPARE(started.first().at(1).toString(), QStringLiteral("Trip (1)/a.jpg"));
    QCOMPARE(f.watch.ends.first().path, f.inbox("Trip (1)/a.jpg"));
    QCOMPARE(f.watch.ends.first().folder, f.inbox("Trip (1)"));
    QCOMPARE(f.watch.ends.last().folder, QString()); // the loose file
}

void TestFolders::hostilePathsAreRefused_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("up") << QByteArray("../evil");
    QTest::newRow("up inside") << QByteArray("a/../../evil");
    QTest::newRow("absolute") << QByteArray("/evil");
    QTest::newRow("empty part") << QByteArray("a//evil");
    QTest::newRow("empty name") << QByteArray("evil/");
    QTest::newRow("dot first") << QByteArray("./evil");
    QTest::newRow("dot inside") << QByteArray("a/./evil");
    QTest::newRow("hidden folder") << QByteArray(".hidden/evil");
    QTest::newRow("hidden name") << QByteArray("a/.evil");
    QTest::newRow("backslash") << QByteArray("a\\b/evil");
    QTest::newRow("too long") << "a/" + QByteArray(256, 'x') + "/evil";
    QTest::newRow("disguised") << QByteArray("a/\xe2\x80\xae"
                                             "evil");
    QTest::newRow("blank") << QByteArray("a/   /evil");
    QTest::newRow("control") << QByteArray("a/ev\x01il");
    // Short enough for a FILE, too long once under the save folder.
    QTest::newRow("longer than a path may be")
        << QByteArray(240, 'x').append('/').repeated(16) + QByteArray(235, 'y');
    QTest::newRow("too deep") << QByteArray("a/").repeated(65) + "evil";
}

void TestFolders::hostilePathsAreRefused()
{
    QFETCH(QByteArray, path);
    FolderFixture f;
    f.offer(path);
    QCOMPARE(f.anna.lastReason(MessageType::Refuse), Reason::NameUnusable);
    QCOMPARE(f.anna.count(MessageType::Accept), 0);
    // The batch goes on, and the refused file left nothing anywhere.
    f.sendAll({{"Trip/ok.txt", "ok"}});
    QCOMPARE(tree(f.inbox()),
             (QMap<QString, QByteArray>{{"Trip", "<folder>"}, {"Trip/ok.txt", "ok"}}));
    QVERIFY(tree(f.outside()).isEmpty());
    QVERIFY(!QFileInfo::exists(f.folder.filePath(QStringLiteral("evil"))));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/evil")));
}

void TestFolders::nothingInTheWayIsFollowed()
{
    FolderFixture f;
    // A link under the top folder's name is no folder to merge into.
    QVERIFY(QFile::link(f.outside(), f.inbox("Trip")));
    f.sendAll({{"Trip/a.txt", "a"}});
    QVERIFY(QFile::link(f.outside(), f.inbox("Trip (1)/link")));
    QVERIFY(writeFile(f.inbox("Trip (1)/file"), "file"));
    for (const QByteArray& path : {QByteArray("Trip/link/evil"), QByteArray("Trip/file/evil")}) {
        f.offer(path);
        QCOMPARE(f.anna.lastReason(MessageType::Refuse), Reason::CannotSave);
    }

    QCOMPARE(f.anna.count(MessageType::Accept), 1);
    QVERIFY(tree(f.outside()).isEmpty());
    QCOMPARE(tree(f.inbox()), (QMap<QString, QByteArray>{{"Trip", "<link>"},
                                                         {"Trip (1)", "<folder>"},
                                                         {"Trip (1)/a.txt", "a"},
                                                         {"Trip (1)/link", "<link>"},
                                                         {"Trip (1)/file", "file"}}));
    QVERIFY(receiveStatusText(f.watch.ends.last()).contains(QStringLiteral("stands where")));
}

void TestFolders::whatStrangersMakeIsBounded()
{
    FolderFixture f;
    ReceiverLimits limits;
    limits.maxStrangerPartBytes = 1000;
    limits.maxStrangerMadePerConnection = 4;
    limits.maxStrangerMade = 6;
    f.station.setReceiveLimits(limits);
    PrivatePeer first, second;
    f.greet(first, kStranger);
    // A file refused for its size leaves none of its folders behind.
    f.offer("Big/day 1/huge", &first, qint64(1) << 40);
    QCOMPARE(first.lastReason(MessageType::Refuse), Reason::NoRoom);
    QVERIFY(tree(f.inbox()).isEmpty());
    // Each file and folder counts, per connection and for all strangers together.
    f.sendAll({{"Trip/a", "a"}, {"Trip/day 1/b", "b"}}, &first);
    f.offer("Trip/c", &first);
    QCOMPARE(first.lastReason(MessageType::Refuse), Reason::NoRoom);
    f.greet(second, kStranger);
    f.sendAll({{"x", "x"}}, &second);
    f.offer("Trip/y", &second);
    QCOMPARE(second.lastReason(MessageType::Refuse), Reason::NoRoom);
    f.sendAll({{"Trip/z", "z"}}); // Anna is no stranger

    QCOMPARE(tree(f.inbox()), (QMap<QString, QByteArray>{{"Trip", "<folder>"},
                                                         {"Trip/a", "a"},
                                                         {"Trip/day 1", "<folder>"},
                                                         {"Trip/day 1/b", "b"},
                                                         {"x", "x"},
                                                         {"Trip (1)", "<folder>"},
                                                         {"Trip (1)/z", "z"}}));
}

QTEST_GUILESS_MAIN(TestFolders)
#include "tst_folders.moc"
