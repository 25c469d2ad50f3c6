#include "platform/tlssocket.h"
#include "presence/chatthrottle.h"
#include "private/privatechat.h"
#include "private/privateconnection.h"
#include "support/privatestation.h"

#include <QDir>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>

#include <memory>

#include <sys/socket.h>

// What a stranger on the network may send to the private port, or answer from one: the
// probes of port scanners, old TLS clients, other protocols, records cut off or out of
// place. The table is the fuzz target's corpus (tests/fuzz/privateport), so that every
// input the fuzzer keeps can join it.

namespace
{

const QHostAddress kStation(QStringLiteral("127.0.11.1"));
const QHostAddress kAnna(QStringLiteral("127.0.11.2"));
const QHostAddress kHostileReceiver(QStringLiteral("127.0.11.3"));
const QHostAddress kNewcomer(QStringLiteral("127.0.11.4"));
const QHostAddress kSluggard(QStringLiteral("127.0.11.5"));
const QHostAddress kChatterbox(QStringLiteral("127.0.11.6"));
// The probes come from addresses of their own, a different one each time, so that no
// probe finds the seats of its address taken by the one before.
constexpr int kFirstProbeAddress = 10;
constexpr int kProbeAddresses = 16;
constexpr int kWaitMs = 10000;

QHostAddress probeAddress(int index)
{
    return QHostAddress(
        QStringLiteral("127.0.11.%1").arg(kFirstProbeAddress + index % kProbeAddresses));
}

QList<QPair<QString, QByteArray>> corpus()
{
    QList<QPair<QString, QByteArray>> inputs;
    const QDir folder(QStringLiteral(QUILLO_PRIVATE_PORT_CORPUS));
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            inputs.append({name, file.readAll()});
    }
    return inputs;
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void strangeBytesLeaveTheReceiverRunning_data();
    void strangeBytesLeaveTheReceiverRunning();
    void closedConnectionsLeaveNothingBehind();
    void aSenderThatNeverReadsIsHeldBack();
    void aChatFloodIsHeldBack();
    void chatLinesComeBackWithTime();
    void aHostileReceiverLeavesTheSenderRunning_data();
    void aHostileReceiverLeavesTheSenderRunning();

private:
    // Whether someone who means well still gets an answer to HELLO.
    bool answersANewcomer();

    std::unique_ptr<PrivateStation> station_;
    int probes_ = 0;
};

void TestHostile::initTestCase()
{
    QVERIFY(corpus().size() > 30);
    station_ = std::make_unique<PrivateStation>(kStation, kAnna);
    QVERIFY(!station_->identityProblem);
    QVERIFY(!station_->listenProblem);
    // A probe that says too little to answer waits for the deadline.
    ReceiverLimits limits;
    limits.headerDeadline = std::chrono::milliseconds(500);
    station_->station.setReceiveLimits(limits);
}

void TestHostile::cleanupTestCase()
{
    station_.reset();
}

void TestHostile::strangeBytesLeaveTheReceiverRunning_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("waits");
    for (const auto& [name, bytes] : corpus()) {
        // Gone at once, before the receiver has answered, or there until the receiver
        // has had its say.
        QTest::addRow("%s, gone at once", qPrintable(name)) << bytes << false;
        QTest::addRow("%s, waiting for the answer", qPrintable(name)) << bytes << true;
    }
}

void TestHostile::strangeBytesLeaveTheReceiverRunning()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, waits);
    QTcpSocket probe;
    QVERIFY(probe.bind(probeAddress(probes_++)));
    probe.connectToHost(kStation, kPrivatePort);
    QTRY_COMPARE_WITH_TIMEOUT(probe.state(), QAbstractSocket::ConnectedState, kWaitMs);
    probe.write(bytes);
    if (waits) {
        QTRY_VERIFY_WITH_TIMEOUT(probe.bytesAvailable() > 0 ||
                                     probe.state() == QAbstractSocket::UnconnectedState,
                                 kWaitMs);
        probe.disconnectFromHost();
    } else {
        probe.flush();
        probe.abort();
    }
    QVERIFY(answersANewcomer());
}

void TestHostile::closedConnectionsLeaveNothingBehind()
{
    Station& station = station_->station;
    QTRY_COMPARE_WITH_TIMEOUT(station.findChildren<PrivateConnection*>().size(), 0, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(station.findChildren<QAbstractSocket*>().size(), 0, kWaitMs);
}

// Requests sent back to back without reading the answers: the receiver stops taking them
// once its answers wait, instead of keeping them all, and closes after the idle time.
void TestHostile::aSenderThatNeverReadsIsHeldBack()
{
    constexpr int kRequests = 20000;
    constexpr qint64 kMostWaiting = 64 * 1024 + 8 * 1024; // the cap, one answer, TLS records
    Station& station = station_->station;
    ReceiverLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(500);
    station.setReceiveLimits(limits);
    qint64 mostWaiting = 0;
    int refused = 0;
    bool idle = false;
    const QMetaObject::Connection watching =
        connect(&station, &Station::incomingEnded, this, [&](const ReceiveEnd& end) {
            refused += end.outcome == ReceiveEnd::Outcome::Refused;
            idle = idle || end.outcome == ReceiveEnd::Outcome::Idle;
            for (const TlsSocket* socket : station.findChildren<TlsSocket*>())
                mostWaiting = std::max(mostWaiting, socket->bytesToWrite());
        });
    PrivatePeer sluggard;
    sluggard.socket.setReadBufferSize(1); // takes a byte from the system only once one is read
    station_->greet(sluggard, kSluggard);
    QTRY_COMPARE_WITH_TIMEOUT(sluggard.count(MessageType::Hello), 1, kWaitMs);
    sluggard.socket.disconnect(); // and reads nothing from now on
    // Nor does the system take much of the answers on either side.
    const int smallBuffer = 4096;
    QVERIFY(::setsockopt(int(sluggard.socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUF,
                         &smallBuffer, sizeof smallBuffer) == 0);
    for (const TlsSocket* socket : station.findChildren<TlsSocket*>())
        QVERIFY(::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &smallBuffer,
                             sizeof smallBuffer) == 0);
    for (int k = 0; k < kRequests; ++k)
        sluggard.send(fileMessage(kEagerBytes + 1, "bell\x07.txt")); // refused for its name

    QTRY_VERIFY_WITH_TIMEOUT(idle, kWaitMs);
    disconnect(watching);
    QVERIFY(refused > 0);
    QVERIFY2(refused < kRequests / 2, qPrintable(QString::number(refused)));
    QVERIFY2(mostWaiting <= kMostWaiting, qPrintable(QString::number(mostWaiting)));
}

// Every line is answered, but only a burst of them is shown; the rest is told as a number.
void TestHostile::aChatFloodIsHeldBack()
{
    constexpr int kLines = 200;
    Station& station = station_->station;
    int shown = 0;
    QSignalSpy dropped(&station, &Station::chatDropped);
    const QMetaObject::Connection watching =
        connect(&station, &Station::chatReceived, this,
                [&shown](const QList<ChatLine>& lines) { shown += int(lines.size()); });
    PrivatePeer chatterbox;
    station_->greet(chatterbox, kChatterbox);
    for (int k = 0; k < kLines; ++k)
        chatterbox.send(chatMessage(QStringLiteral("line %1").arg(k)));
    QTRY_COMPARE_WITH_TIMEOUT(chatterbox.count(MessageType::Heard), kLines, kWaitMs);
    disconnect(watching);

    // The station's clock stands still, so no line came back while they arrived.
    QCOMPARE(shown, ChatThrottle::kBurst);
    QVERIFY(dropped.isEmpty());
    station_->clock.advance(ChatThrottle::kReportInterval);
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped.first().at(1).toString(), kChatterbox.toString());
    QCOMPARE(dropped.first().at(2).toInt(), kLines - shown);
}

void TestHostile::chatLinesComeBackWithTime()
{
    FixedClock clock;
    ChatThrottle throttle(clock);
    QSignalSpy dropped(&throttle, &ChatThrottle::dropped);
    const ChatLine anna{QStringLiteral("Anna"), QStringLiteral("hi"), QStringLiteral("10.0.0.2")};
    const ChatLine bea{QStringLiteral("Bea"), QStringLiteral("hi"), QStringLiteral("10.0.0.3")};
    QCOMPARE(throttle.admit(QList<ChatLine>(ChatThrottle::kBurst + 5, anna)).size(),
             ChatThrottle::kBurst);
    QCOMPARE(throttle.admit({bea}).size(), 1); // each address has its own
    clock.advance(3 * ChatThrottle::kRefill);
    QCOMPARE(throttle.admit(QList<ChatLine>(5, anna)).size(), 3);
    // Told once, when the interval since the first dropped line is over.
    clock.advance(ChatThrottle::kReportInterval - 3 * ChatThrottle::kRefill -
                  std::chrono::milliseconds(1));
    QVERIFY(dropped.isEmpty());
    clock.advance(std::chrono::milliseconds(1));
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped.first(),
             QVariantList({QStringLiteral("Anna"), QStringLiteral("10.0.0.2"), 7}));
    clock.advance(10 * ChatThrottle::kReportInterval);
    QCOMPARE(dropped.size(), 1);

    // A full burst again once enough time has passed.
    QCOMPARE(throttle.admit(QList<ChatLine>(ChatThrottle::kBurst + 1, anna)).size(),
             ChatThrottle::kBurst);
}

bool TestHostile::answersANewcomer()
{
    PrivatePeer newcomer;
    station_->greet(newcomer, kNewcomer);
    return QTest::qWaitFor([&newcomer] { return newcomer.count(MessageType::Hello) == 1; },
                           kWaitMs);
}

void TestHostile::aHostileReceiverLeavesTheSenderRunning_data()
{
    QTest::addColumn<QByteArray>("bytes");
    for (const auto& [name, bytes] : corpus())
        QTest::addRow("%s", qPrintable(name)) << bytes;
}

// The sender meets whatever the port says instead of a TLS handshake: it ends with a
// problem to tell, and nothing else.
void TestHostile::aHostileReceiverLeavesTheSenderRunning()
{
    QFETCH(QByteArray, bytes);
    QTcpServer hostile;
    QVERIFY(hostile.listen(kHostileReceiver, kPrivatePort));
    connect(&hostile, &QTcpServer::newConnection, &hostile, [&hostile, bytes] {
        while (QTcpSocket* socket = hostile.nextPendingConnection()) {
            socket->write(bytes);
            connect(socket, &QTcpSocket::readyRead, socket, [socket, bytes] {
                socket->readAll();
                socket->write(bytes); // and again at every step of the handshake
            });
        }
    });
    AddressBook book; // the station's, as its settings hold it
    book.load(station_->settings);
    PeerKeys keys(book);
    PrivateChat chat(*station_->station.identity(), keys, kStation);
    chat.setIdleTimeout(std::chrono::milliseconds(500));
    QSignalSpy done(&chat, &PrivateChat::done);
    chat.send(kHostileReceiver.toString(), QStringLiteral("Lunch?"));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kWaitMs);
    QVERIFY(!done.first().first().toString().isEmpty());
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
