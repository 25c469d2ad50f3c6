// Drives both ends of the private port with arbitrary bytes from the first byte on, over
// loopback: a receiver that listens as a station does takes them as a stranger's
// connection, and a sender sending a chat line takes them as the receiver's answer. Each
// must end the connection in its own time and stay up for the next one; a crash, a hang
// or a sanitizer's report is what the fuzzer looks for.
#include "addressbook/addressbook.h"
#include "addressbook/peerkeys.h"
#include "identity/identity.h"
#include "private/privatechat.h"
#include "private/privateconnection.h"
#include "receiving/filereceiver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

namespace
{

const QHostAddress kReceiver(QStringLiteral("127.0.12.1"));
const QHostAddress kProbe(QStringLiteral("127.0.12.2"));
const QHostAddress kHostileReceiver(QStringLiteral("127.0.12.3"));
constexpr auto kDeadline = std::chrono::milliseconds(200);
constexpr int kSettleMs = 2000;

// Everything that lives from one input to the next.
struct Bench {
    Bench()
    {
        identity = Identity::open(folder.path(), nullptr);
        if (!identity)
            std::abort();
        ReceiverLimits limits;
        limits.headerDeadline = kDeadline;
        limits.idleTimeout = kDeadline;
        receiver.setLimits(limits);
        receiver.setDataFolder(folder.path());
        receiver.setSaveFolder(folder.path());
        receiver.setAddressBook(book);
        receiver.setPrivacy(&*identity, &keys);
        if (receiver.listen())
            std::abort();
    }

    QTemporaryDir folder;
    std::optional<Identity> identity;
    AddressBook book;
    PeerKeys keys{book};
    FileReceiver receiver{kReceiver};
};

// Runs the loop until done says so; a hang past the limit is a finding.
void runUntil(const std::function<bool()>& done)
{
    QDeadlineTimer limit(kSettleMs);
    while (!done()) {
        if (limit.hasExpired())
            std::abort();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
}

void probeTheReceiver(Bench& bench, const QByteArray& bytes)
{
    QTcpSocket probe;
    probe.bind(kProbe);
    probe.connectToHost(kReceiver, kPrivatePort);
    runUntil([&probe] { return probe.state() != QAbstractSocket::ConnectingState; });
    probe.write(bytes);
    runUntil([&probe] { return probe.bytesToWrite() == 0 || !probe.isOpen(); });
    probe.abort();
    runUntil([&bench] { return bench.receiver.findChildren<PrivateConnection*>().isEmpty(); });
}

void answerTheSender(Bench& bench, const QByteArray& bytes)
{
    QTcpServer hostile;
    if (!hostile.listen(kHostileReceiver, kPrivatePort))
        std::abort();
    QObject::connect(&hostile, &QTcpServer::newConnection, &hostile, [&hostile, &bytes] {
        while (QTcpSocket* socket = hostile.nextPendingConnection()) {
            socket->write(bytes);
            socket->disconnectFromHost();
        }
    });
    PrivateChat chat(*bench.identity, bench.keys, kReceiver);
    chat.setIdleTimeout(kDeadline);
    bool done = false;
    QObject::connect(&chat, &PrivateChat::done, [&done] { done = true; });
    chat.send(kHostileReceiver.toString(), QStringLiteral("Lunch?"));
    runUntil([&done] { return done; });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Bench bench;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    probeTheReceiver(bench, bytes);
    answerTheSender(bench, bytes);
    return 0;
}
