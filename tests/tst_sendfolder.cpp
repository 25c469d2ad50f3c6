#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "support/enginefakes.h"
#include "support/privatereceiver.h"
#include "support/rawreceiver.h"
#include "support/testfiles.h"
#include "transfer/filesender.h"
#include "transfer/protocol.h"
#include "transfer/sendbatch.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

namespace
{

const QHostAddress kMe(QStringLiteral("127.0.9.1"));
constexpr int kWait = 10000;

} // namespace

// A queued folder goes as one row: its files one after another, with their paths inside it
// where the receiver takes folders, loose where it does not.
class TestSendFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void treeGoesWithItsPathsOverOneConnection();
    void receiverWithoutFoldersGetsLooseFiles();
    void plainPeerGetsLooseFiles();

private:
    // Trip/{b.txt, a.txt, empty.txt, day 1/a.jpg, day 1/night/a.jpg, .hidden}, queued with
    // a loose file after it.
    void queueTrip();
    void sendAll(const QString& host);

    std::unique_ptr<QTemporaryDir> dir_;
    std::optional<Identity> identity_;
    ScriptedRandom random_;
    AddressBook book_;
    std::unique_ptr<PeerKeys> keys_;
    std::unique_ptr<FileSender> sender_;
    std::unique_ptr<SendBatch> batch_;
    std::unique_ptr<QSignalSpy> loosened_;
    std::unique_ptr<QSignalSpy> finished_;
    std::unique_ptr<QSignalSpy> folderEnded_;
};

void TestSendFolder::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    identity_ = Identity::open(dir_->path(), nullptr);
    QVERIFY(identity_);
    book_ = AddressBook();
    keys_ = std::make_unique<PeerKeys>(book_);
    sender_ = std::make_unique<FileSender>(random_, kMe);
    sender_->setRefusalRetries(0, std::chrono::milliseconds(10));
    sender_->setPrivacy(&*identity_, keys_.get());
    batch_ = std::make_unique<SendBatch>(*sender_);
    loosened_ = std::make_unique<QSignalSpy>(sender_.get(), &FileSender::loosened);
    finished_ = std::make_unique<QSignalSpy>(batch_.get(), &SendBatch::rowFinished);
    folderEnded_ = std::make_unique<QSignalSpy>(batch_.get(), &SendBatch::folderEnded);
}

void TestSendFolder::cleanup()
{
    folderEnded_.reset();
    finished_.reset();
    loosened_.reset();
    batch_.reset();
    sender_.reset();
    keys_.reset();
    dir_.reset();
}

void TestSendFolder::queueTrip()
{
    const QDir root(dir_->path());
    for (const char* name : {"Trip/b.txt", "Trip/a.txt", "Trip/empty.txt", "Trip/day 1/a.jpg",
                             "Trip/day 1/night/a.jpg", "Trip/.hidden", "loose.txt"}) {
        const QString path = root.filePath(QString::fromUtf8(name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QByteArray content =
            QByteArray(name).endsWith("empty.txt") ? QByteArray() : QByteArray(name);
        if (!writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
    }
    batch_->append(root.filePath(QStringLiteral("Trip")));
    batch_->append(root.filePath(QStringLiteral("loose.txt")));
}

void TestSendFolder::sendAll(const QString& host)
{
    batch_->start([host] { return std::optional<QString>(host); });
}

const QList<QByteArray> kTripPaths{"Trip/a.txt", "Trip/b.txt", "Trip/empty.txt", "Trip/day 1/a.jpg",
                                   "Trip/day 1/night/a.jpg"};

void TestSendFolder::treeGoesWithItsPathsOverOneConnection()
{
    const QHostAddress peer(QStringLiteral("127.0.9.2"));
    PrivateReceiver receiver;
    receiver.features = kFeatureFolders;
    QVERIFY(receiver.start(peer));
    queueTrip();
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QCOMPARE(receiver.connections, 1);
    QList<QByteArray> names;
    for (const PrivateReceiver::File& file : receiver.files) {
        names.append(file.name);
        QVERIFY(file.digestMatched);
    }
    QCOMPARE(names, kTripPaths + QList<QByteArray>{"loose.txt"});
    QCOMPARE(receiver.files[2].content, QByteArray());
    QCOMPARE(receiver.files[4].content, QByteArray("Trip/day 1/night/a.jpg"));
    QCOMPARE(loosened_->count(), 0);
    // Every file reports with its folder's row and its own path; the folder ends once.
    QCOMPARE(finished_->size(), 6);
    QCOMPARE(finished_->at(3).at(0).toInt(), 0);
    QCOMPARE(finished_->at(3).at(1).toString(),
             QDir(dir_->path()).filePath(QStringLiteral("Trip/day 1/a.jpg")));
    QCOMPARE(finished_->at(5).at(0).toInt(), 1);
    QCOMPARE(folderEnded_->size(), 1);
    QCOMPARE(folderEnded_->first().at(2).toBool(), true);
}

void TestSendFolder::receiverWithoutFoldersGetsLooseFiles()
{
    const QHostAddress peer(QStringLiteral("127.0.9.3"));
    PrivateReceiver receiver;
    QVERIFY(receiver.start(peer));
    book_.append(QStringLiteral("Bea"), peer.toString());
    queueTrip();
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QList<QByteArray> names;
    for (const PrivateReceiver::File& file : receiver.files)
        names.append(file.name);
    QCOMPARE(names,
             (QList<QByteArray>{"a.txt", "b.txt", "empty.txt", "a.jpg", "a.jpg", "loose.txt"}));
    QCOMPARE(loosened_->count(), 1);
    QCOMPARE(loosened_->first().first().toString(), QStringLiteral("Bea"));
    QCOMPARE(loosenedMessage(QStringLiteral("Bea")),
             QStringLiteral("Bea's copy takes files only: the folder's files arrive loose"));

    // Told again in the next batch.
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);
    QCOMPARE(receiver.files.size(), 12);
    QCOMPARE(loosened_->count(), 2);
}

void TestSendFolder::plainPeerGetsLooseFiles()
{
    const QHostAddress peer(QStringLiteral("127.0.9.4"));
    RawReceiver plain;
    QVERIFY(plain.listen(peer, kFilePort));
    // Confirms each file whole as soon as its header has come.
    QObject::connect(&plain.server, &QTcpServer::newConnection, &plain.server, [&plain] {
        QTcpSocket* socket = plain.last().socket;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &plain] {
            const QByteArray& received = plain.last().received;
            const qsizetype headerEnd = received.indexOf("\r\n");
            const qsizetype mark = received.lastIndexOf('#', headerEnd);
            const qint64 size = received.mid(mark + 1, headerEnd - mark - 1).toLongLong();
            if (received.size() == headerEnd + 2)
                socket->write("OK\n");
            if (received.size() == headerEnd + 2 + size)
                socket->write(QByteArray::number(size) + "\n");
        });
    });
    queueTrip();
    sendAll(peer.toString());
    QTRY_VERIFY_WITH_TIMEOUT(!batch_->isRunning(), kWait);

    QCOMPARE(plain.count(), 6);
    QCOMPARE(plain.connections[3]->received, QByteArray("FILENAME a.jpg #16\r\nTrip/day 1/a.jpg"));
    QCOMPARE(plain.connections[5]->received, QByteArray("FILENAME loose.txt #9\r\nloose.txt"));
    QCOMPARE(loosened_->count(), 1);
    QCOMPARE(loosened_->first().first().toString(), peer.toString());
}

QTEST_GUILESS_MAIN(TestSendFolder)
#include "tst_sendfolder.moc"
