#include "identity/identity.h"
#include "platform/tlscontext.h"
#include "platform/tlssocket.h"
#include "private/privateserver.h"
#include "secure/tlsconfiguration.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int kWaitMs = 5000;
const QHostAddress kHere(QStringLiteral("127.0.0.150"));

// A descriptor connected from kHere to its port, made as the dialer makes them.
int dial(quint16 port)
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kHere.toIPv4Address());
    const bool bound =
        ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    address.sin_port = htons(port);
    if (!bound ||
        ::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype k = 0; k < size; ++k)
        bytes[k] = char((k * 7 + k / 65536) & 0xff);
    return bytes;
}

// Two ends of one private connection on kHere, each with an identity of its own.
struct Pair {
    QTemporaryDir clientFolder, serverFolder;
    std::optional<Identity> clientIdentity = Identity::open(clientFolder.path(), nullptr);
    std::optional<Identity> serverIdentity = Identity::open(serverFolder.path(), nullptr);
    PrivateServer server;
    std::unique_ptr<TlsSocket> client, accepted;

    bool connect()
    {
        if (!clientIdentity || !serverIdentity || !server.listen(kHere))
            return false;
        QObject::connect(&server, &PrivateServer::accepted, &server, [this](qintptr descriptor) {
            accepted = std::make_unique<TlsSocket>(descriptor, privateTlsContext(*serverIdentity));
            accepted->startServerEncryption();
        });
        const int descriptor = dial(server.serverPort());
        if (descriptor < 0)
            return false;
        client = std::make_unique<TlsSocket>(descriptor, privateTlsContext(*clientIdentity));
        client->startClientEncryption(kHere.toString());
        return true;
    }
};

// Reads whatever comes, as the connections do, until the peer closes.
struct Reader {
    QByteArray all;
    bool closed = false;
    explicit Reader(TlsSocket& socket)
    {
        QObject::connect(&socket, &TlsSocket::readyRead, &socket, [this, &socket] {
            char block[40000]; // not a whole number of records
            while (const qint64 n = socket.read(block, sizeof block))
                all.append(block, n);
        });
        QObject::connect(&socket, &TlsSocket::disconnected, &socket, [this] { closed = true; });
    }
};

// The suite a receiver of context settles on with a sender of the same context that offers
// suites, in that order; empty when they agree on none. Through a pair of memory BIOs.
QByteArray agreedSuite(const TlsContext& context, const QByteArray& suites)
{
    using Ssl = std::unique_ptr<SSL, decltype(&SSL_free)>;
    Ssl receiver(SSL_new(context.handle()), SSL_free), sender(SSL_new(context.handle()), SSL_free);
    BIO *receiverEnd = nullptr, *senderEnd = nullptr;
    if (!receiver || !sender || BIO_new_bio_pair(&receiverEnd, 0, &senderEnd, 0) != 1 ||
        SSL_set_ciphersuites(sender.get(), suites.constData()) != 1)
        return {};
    SSL_set_bio(receiver.get(), receiverEnd, receiverEnd);
    SSL_set_bio(sender.get(), senderEnd, senderEnd);
    SSL_set_accept_state(receiver.get());
    SSL_set_connect_state(sender.get());
    for (int turn = 0; turn < 20; ++turn) {
        const int sent = SSL_do_handshake(sender.get()), taken = SSL_do_handshake(receiver.get());
        if (sent == 1 && taken == 1)
            return SSL_get_cipher_name(receiver.get());
        if (SSL_get_error(sender.get(), sent) == SSL_ERROR_SSL ||
            SSL_get_error(receiver.get(), taken) == SSL_ERROR_SSL)
            return {};
    }
    return {};
}

} // namespace

class TestTlsSocket : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bytesGoBothWaysAndAllBeforeTheClose();
    void aResetWhileWritingEndsTheConnectionNotTheProgram();
    void aPeerThatSpeaksNoTlsFailsTheHandshake();
    void theReceiverPicksTheCheapestSuiteBothOffer();
};

// Each side sees the other's certificate; what one writes comes whole, in order, and before
// its close, however the reads fall across the records; a close is answered by one.
void TestTlsSocket::bytesGoBothWaysAndAllBeforeTheClose()
{
    Pair pair;
    QVERIFY(pair.connect());
    QSignalSpy clientEncrypted(pair.client.get(), &TlsSocket::encrypted);
    QTRY_VERIFY_WITH_TIMEOUT(pair.accepted && pair.accepted->isEncrypted(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(clientEncrypted.size(), 1, kWaitMs);
    QCOMPARE(pair.client->peerCertificate(), pair.serverIdentity->certificate().toDer());
    QCOMPARE(pair.accepted->peerCertificate(), pair.clientIdentity->certificate().toDer());
    QCOMPARE(pair.accepted->peerAddress(), kHere);

    Reader server(*pair.accepted);
    Reader client(*pair.client);
    qint64 told = 0;
    connect(pair.client.get(), &TlsSocket::bytesWritten, this, [&told](qint64 n) { told += n; });
    const QByteArray big = pattern(8 * 1024 * 1024 + 5);
    pair.client->write(big.left(3));
    pair.client->write(big.mid(3));
    pair.accepted->write(QByteArrayLiteral("answer"));
    QTRY_COMPARE_WITH_TIMEOUT(client.all, QByteArrayLiteral("answer"), kWaitMs);
    pair.client->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(server.closed, kWaitMs);
    QCOMPARE(server.all.size(), big.size());
    QVERIFY(server.all == big);
    QCOMPARE(told, big.size());
    QCOMPARE(pair.client->bytesToWrite(), 0);
    // The side that closed first waits for the peer's close, which its own brings.
    QTRY_VERIFY_WITH_TIMEOUT(client.closed, kWaitMs);
    QCOMPARE(pair.client->state(), QAbstractSocket::UnconnectedState);
}

// A peer that resets the connection while this side still writes: once the reset is known,
// the next write meets a broken pipe, which a plain write to the socket would turn into
// SIGPIPE, ending the program. Here it ends the connection as a close.
void TestTlsSocket::aResetWhileWritingEndsTheConnectionNotTheProgram()
{
    Pair pair;
    QVERIFY(pair.connect());
    QTRY_VERIFY_WITH_TIMEOUT(pair.accepted && pair.accepted->isEncrypted(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(pair.client->isEncrypted(), kWaitMs);
    QSignalSpy closed(pair.client.get(), &TlsSocket::disconnected);
    const QByteArray block = pattern(1024 * 1024);
    qint64 written = 0;
    connect(pair.client.get(), &TlsSocket::bytesWritten, this, [&](qint64 n) {
        written += n;
        if (pair.client->bytesToWrite() < block.size())
            pair.client->write(block);
    });
    pair.client->write(block);
    const int descriptor = int(pair.client->socketDescriptor());
    // The peer reads nothing: the system's buffers fill, and the rest waits here.
    QTRY_VERIFY_WITH_TIMEOUT(written > block.size() && pair.client->bytesToWrite() > 0, kWaitMs);
    const linger reset{1, 0};
    QVERIFY(::setsockopt(int(pair.accepted->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                         sizeof reset) == 0);
    pair.accepted->abort();
    int error = 0;
    socklen_t length = sizeof error;
    QVERIFY(::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) == 0);
    QCOMPARE(error, ECONNRESET);
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, kWaitMs);
    QCOMPARE(pair.client->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(pair.client->bytesToWrite(), 0);
    QCOMPARE(pair.client->write(block), qint64(-1));
}

void TestTlsSocket::aPeerThatSpeaksNoTlsFailsTheHandshake()
{
    Pair pair;
    QVERIFY(pair.clientIdentity && pair.serverIdentity && pair.server.listen(kHere));
    std::unique_ptr<TlsSocket> accepted;
    QList<QAbstractSocket::SocketError> failed;
    connect(&pair.server, &PrivateServer::accepted, this, [&](qintptr descriptor) {
        accepted = std::make_unique<TlsSocket>(descriptor, privateTlsContext(*pair.serverIdentity));
        connect(accepted.get(), &TlsSocket::errorOccurred, this,
                [&failed](QAbstractSocket::SocketError error) { failed << error; });
        accepted->startServerEncryption();
    });
    const int descriptor = dial(pair.server.serverPort());
    QVERIFY(descriptor >= 0);
    const QByteArray request("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(::send(descriptor, request.constData(), size_t(request.size()), 0),
             ssize_t(request.size()));
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, kWaitMs);
    QCOMPARE(failed.first(), QAbstractSocket::SslHandshakeFailedError);
    QVERIFY2(accepted->errorString().startsWith(QLatin1String("Error during SSL handshake: ")),
             qPrintable(accepted->errorString()));
    QVERIFY(!accepted->isEncrypted());
    ::close(descriptor);
}

// Two copies agree on the suite this processor does cheapest, and so does a copy that
// never chose an order; a sender whose first choice is ChaCha20 gets it; a peer with one
// suite only is still served.
void TestTlsSocket::theReceiverPicksTheCheapestSuiteBothOffer()
{
    QTemporaryDir folder;
    const std::optional<Identity> identity = Identity::open(folder.path(), nullptr);
    QVERIFY(identity);
    const std::shared_ptr<const TlsContext> context = privateTlsContext(*identity);
    QVERIFY(context);
    const QByteArray ours = tlsCipherSuites(aesInHardware());
    const QByteArray cheapest = ours.left(ours.indexOf(':'));
    QCOMPARE(cheapest, aesInHardware() ? "TLS_AES_128_GCM_SHA256" : "TLS_CHACHA20_POLY1305_SHA256");
    QCOMPARE(agreedSuite(*context, ours), cheapest);
    QCOMPARE(agreedSuite(*context, "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:"
                                   "TLS_AES_128_GCM_SHA256"),
             cheapest);
    QCOMPARE(agreedSuite(*context, tlsCipherSuites(false)), "TLS_CHACHA20_POLY1305_SHA256");
    QCOMPARE(agreedSuite(*context, "TLS_AES_256_GCM_SHA384"), "TLS_AES_256_GCM_SHA384");
}

QTEST_GUILESS_MAIN(TestTlsSocket)
#include "tst_tlssocket.moc"
