#include "private/privateconnection.h"

#include "addressbook/peerkeys.h"
#include "identity/certificatekey.h"
#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "platform/socketrelease.h"
#include "transfer/receivetext.h"

#include <QScopedValueRollback>

namespace
{

// How long a closing connection may take to hand over its last messages.
constexpr auto kCloseGrace = std::chrono::seconds(2);

using Code = ReceiveReason::Code;
const ReceiveReason kClosed = ReceiveReason::of(Code::Closed);
const ReceiveReason kProtocolError = ReceiveReason::of(Code::BrokeProtocol);

} // namespace

PrivateConnection::PrivateConnection(int id, QSslSocket* socket, const QSslConfiguration& tls,
                                     PeerKeys& keys, const SenderFilter& accepts,
                                     const QString& saveFolder, const ReceiverLimits& limits,
                                     PartFiles& parts, QObject* parent)
    : IncomingConnection(id, dottedAddress(socket->peerAddress()), parent), socket_(socket),
      keys_(keys), accepts_(accepts), limits_(limits), file_(saveFolder, limits, parts)
{
    adopt(socket);
    connect(socket, &QSslSocket::encrypted, this, &PrivateConnection::judgePeer);
    connect(socket, &QSslSocket::readyRead, this, &PrivateConnection::readArrival);
    connect(socket, &QSslSocket::disconnected, this, [this] {
        if (socket_ && socket_->bytesAvailable() > 0)
            readArrival();
        end(ReceiveEnd::Outcome::Incomplete, kClosed, false);
    });
    connect(socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return; // the close handler takes it
        const SocketError shown = socketError(e, socket_ ? socket_->errorString() : QString());
        end(ReceiveEnd::Outcome::Failed, ReceiveReason::socketError(shown.number), false,
            shown.description);
    });
    connect(socket, &QSslSocket::encryptedBytesWritten, this, &PrivateConnection::answersWritten);

    deadline_.setSingleShot(true);
    deadline_.setInterval(limits_.headerDeadline);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        fail(Reason::TooSlow, ReceiveEnd::Outcome::Idle,
             ReceiveReason::after(Code::NoGreeting, limits_.headerDeadline));
    });
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] {
        fail(Reason::TooSlow, ReceiveEnd::Outcome::Idle,
             ReceiveReason::after(Code::Idle, limits_.idleTimeout));
    });
    connect(&file_, &FileIntake::tooSlow, this, [this](const ReceiveReason& reason) {
        fail(Reason::TooSlow, ReceiveEnd::Outcome::Idle, reason);
    });
    connect(&file_, &FileIntake::settled, this, &PrivateConnection::answerSettled);
    connect(&file_, &FileIntake::takenOver, this, [this] {
        end(ReceiveEnd::Outcome::Incomplete, ReceiveReason::of(Code::TakenOver), true);
    });
    deadline_.start();
    age_.start();

    socket->setSslConfiguration(tls);
    socket->startServerEncryption();
}

PrivateConnection::~PrivateConnection()
{
    dropSocket(false);
}

SeatHolder PrivateConnection::seat() const
{
    const bool receiving = state_ == State::Receiving || state_ == State::Verifying;
    const auto stage = receiving ? SeatHolder::Stage::Receiving : SeatHolder::Stage::NoHeader;
    return {stage, peer_, std::chrono::milliseconds(age_.elapsed()), batchBytes_};
}

void PrivateConnection::stop()
{
    fail(Reason::Stopping, ReceiveEnd::Outcome::Incomplete, kClosed);
}

void PrivateConnection::giveWay()
{
    fail(Reason::TooSlow, ReceiveEnd::Outcome::Idle, ReceiveReason::of(Code::GaveWay));
}

void PrivateConnection::judgePeer()
{
    const std::variant<QByteArray, QString> shown =
        certificateKey(socket_->peerCertificate().toDer());
    if (const QString* problem = std::get_if<QString>(&shown)) {
        fail(Reason::Unknown, ReceiveEnd::Outcome::Refused,
             ReceiveReason::with(Code::NoKey, *problem));
        return;
    }
    const QByteArray key = std::get<QByteArray>(shown);
    const KeyCheck check = keys_.check(peer_, key);
    if (check.verdict == KeyCheck::Verdict::Shared) {
        fail(Reason::KeyChanged, ReceiveEnd::Outcome::Refused,
             ReceiveReason::with(Code::KeyShared, check.name));
        return;
    }
    if (check.isRefused()) {
        fail(Reason::KeyChanged, ReceiveEnd::Outcome::Refused,
             ReceiveReason::with(Code::KeyChanged, check.name));
        return;
    }
    if (!check.isVerified() && accepts_ && !accepts_(peer_)) {
        fail(Reason::NotInAddressBook, ReceiveEnd::Outcome::Refused,
             ReceiveReason::of(Code::NotInAddressBook));
        return;
    }
    if (check.isVerified())
        keyName_ = check.name;
    sender_ = {peer_, key, check.isVerified()};
    state_ = State::Greeting;
    readArrival();
}

// Writing an answer may read what came meanwhile and announce it at once: that arrival
// waits for the loop below, which takes messages strictly in order. While the answers
// already written wait for the sender to read them, nothing more is taken: a sender that
// asks without reading fills its own connection, not this side's memory, and falls
// silent for the idle time.
void PrivateConnection::readArrival()
{
    if (!socket_ || state_ == State::Handshake || state_ == State::Ended || reading_)
        return;
    const QScopedValueRollback<bool> reading(reading_, true);
    PrivateMessage message;
    // What a sender sends after END waits until the file is saved or failed.
    while (socket_ && state_ != State::Ended && state_ != State::Verifying) {
        if (answersPileUp()) {
            heldBack_ = true;
            break;
        }
        const MessageReader::Result result = reader_.next(message);
        if (result == MessageReader::Result::Malformed) {
            fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
            return;
        }
        if (result == MessageReader::Result::Message) {
            take(message);
            continue;
        }
        // Telling the progress writes, and the socket may read what came meanwhile.
        sendCount();
        if (!socket_ || socket_->bytesAvailable() == 0)
            break;
        reader_.feed(socket_->readAll());
    }
}

// Room for answers again: what waited is taken, from the loop, as the socket is in the
// middle of its own work; otherwise the progress is told.
void PrivateConnection::answersWritten()
{
    if (!heldBack_ || answersPileUp()) {
        sendCount();
        return;
    }
    heldBack_ = false;
    QMetaObject::invokeMethod(this, &PrivateConnection::readArrival, Qt::QueuedConnection);
}

bool PrivateConnection::answersPileUp() const
{
    return socket_->encryptedBytesToWrite() + socket_->bytesToWrite() > kMaxQueuedReplyBytes;
}

void PrivateConnection::take(const PrivateMessage& message)
{
    switch (state_) {
    case State::Greeting:
        greet(message);
        return;
    case State::Between:
        idle_.start(limits_.idleTimeout);
        between(message);
        return;
    case State::Receiving:
        if (message.type == MessageType::Data)
            takeData(message.body);
        else if (message.type == MessageType::End)
            takeEnd(message.body);
        else
            fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    case State::Verifying: // the sender waits for SAVED or FAILED
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    case State::Handshake:
    case State::Ended:
        return;
    }
}

void PrivateConnection::greet(const PrivateMessage& message)
{
    const std::optional<Hello> hello =
        message.type == MessageType::Hello ? parseHello(message.body) : std::nullopt;
    if (!hello) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    if (hello->version == 0) {
        fail(Reason::NoCommonVersion, ReceiveEnd::Outcome::Refused,
             ReceiveReason::of(Code::NoCommonVersion));
        return;
    }
    deadline_.stop();
    state_ = State::Between;
    features_ = hello->features & kOurFeatures;
    idle_.start(limits_.idleTimeout);
    send(helloMessage(std::min(hello->version, kPrivateVersion), kOurFeatures));
}

void PrivateConnection::between(const PrivateMessage& message)
{
    switch (message.type) {
    case MessageType::File:
        takeFile(message.body);
        return;
    case MessageType::Chat:
        takeChat(message.body);
        return;
    case MessageType::Bye:
        end(ReceiveEnd::Outcome::Incomplete, kClosed, false);
        return;
    default:
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
}

void PrivateConnection::takeFile(const QByteArray& body)
{
    const std::optional<FileOffer> offer = parseFileOffer(body);
    const bool folders = (features_ & kFeatureFolders) != 0;
    // A path of several parts is a folder's, which only the folders feature allows.
    if (!offer || (offer->path.contains('/') && !folders)) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    show();
    const bool resumes = (features_ & kFeatureResume) != 0;
    if (const std::optional<FileRefusal> refusal = file_.admit(
            {sender_, offer->path, offer->size, folders, resumes, fileCheckOf(features_)})) {
        refuseFile(*refusal, offer->size);
        return;
    }
    counted_ = file_.received();
    state_ = State::Receiving;
    waitForSender();
    Q_EMIT fileStarted(file_.shownName(), file_.size());
    if (file_.offset() > 0)
        Q_EMIT resumed(file_.offset(), file_.size());
    send(acceptMessage(file_.offset()));
}

void PrivateConnection::refuseFile(const FileRefusal& refusal, qint64 size)
{
    const Code why = refusal.reason.code;
    const Reason code = why == Code::NameUnusable || why == Code::PathTooLong ? Reason::NameUnusable
                        : why == Code::NoRoom                                 ? Reason::NoRoom
                                                                              : Reason::CannotSave;
    sendReason(MessageType::Refuse, code, refusal.reason);
    ReceiveEnd end = fileEnd(refusal.outcome, refusal.reason);
    end.size = size;
    told(end);
}

void PrivateConnection::takeData(const QByteArray& body)
{
    if (body.size() > file_.missing()) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    if (!file_.write(body)) {
        // The sender, which would go on sending, is stopped.
        sendReason(MessageType::Failed, Reason::CannotSave, file_.problem());
        end(ReceiveEnd::Outcome::CannotSave, file_.problem(), true);
        return;
    }
    batchBytes_ += body.size();
    waitForSender();
    Q_EMIT progressed(file_.received(), file_.size());
}

// A sender that went on from an offset may say END a while after its last byte, once it
// has read the first bytes back for its digest: only the idle time applies to that wait,
// lengthened by what that reading may take.
void PrivateConnection::waitForSender()
{
    if (file_.missing() > 0) {
        idle_.start(limits_.idleTimeout);
        return;
    }
    idle_.start(limits_.idleTimeout + readBackAllowance(file_.offset()));
}

void PrivateConnection::takeEnd(const QByteArray& digest)
{
    if (file_.missing() != 0 || digest.size() != Checksum::bytes(fileCheckOf(features_))) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    idle_.stop(); // this side reads back what the digest still lacks
    // The last COUNT before SAVED says the whole size.
    if (counted_ != file_.received()) {
        send(countMessage(file_.received()));
        counted_ = file_.received();
    }
    state_ = State::Verifying;
    file_.check(digest);
}

// The file checked, or given up while its first bytes were read back.
void PrivateConnection::answerSettled(ReceiveEnd::Outcome outcome, const ReceiveReason& reason)
{
    if (outcome == ReceiveEnd::Outcome::Saved) {
        send(encodeMessage(MessageType::Saved));
        // The panel shows each file of a batch as a connection of its own, ending as a
        // plain one ends.
        fileDone(outcome, kClosed);
        return;
    }
    const Reason code =
        outcome == ReceiveEnd::Outcome::Failed ? Reason::DigestMismatch : Reason::CannotSave;
    sendReason(MessageType::Failed, code, reason);
    // A sender still sending is stopped, as when the disk is full.
    if (state_ == State::Verifying)
        fileDone(outcome, reason);
    else
        end(outcome, reason, true);
}

void PrivateConnection::fileDone(ReceiveEnd::Outcome outcome, const ReceiveReason& reason)
{
    state_ = State::Between;
    idle_.start(limits_.idleTimeout);
    ReceiveEnd end = fileEnd(outcome, reason);
    end.path = file_.path(); // none for a file that was removed
    told(end);
    QMetaObject::invokeMethod(this, &PrivateConnection::readArrival, Qt::QueuedConnection);
}

// A file told is the end of what the faces show; the next file is shown anew.
void PrivateConnection::told(const ReceiveEnd& end)
{
    shown_ = false;
    Q_EMIT fileEnded(end);
}

void PrivateConnection::takeChat(const QByteArray& body)
{
    const std::optional<QString> text = parseChat(body);
    if (!text) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    Q_EMIT chatReceived({keyName_.isEmpty() ? peer_ : keyName_, *text, peer_});
    if (state_ != State::Ended)
        send(encodeMessage(MessageType::Heard));
}

void PrivateConnection::sendCount()
{
    if (!socket_ || state_ != State::Receiving || file_.received() == counted_ || answersPileUp())
        return;
    send(countMessage(file_.received()));
    counted_ = file_.received();
}

void PrivateConnection::send(const QByteArray& message)
{
    if (!socket_)
        return;
    socket_->write(message);
    socket_->flush();
}

void PrivateConnection::sendReason(MessageType type, Reason code, const ReceiveReason& why)
{
    send(reasonMessage(type, code, receiveReasonText(why, peer_)));
}

void PrivateConnection::show()
{
    if (!std::exchange(shown_, true))
        Q_EMIT shown(true, keyName_);
}

void PrivateConnection::fail(Reason code, ReceiveEnd::Outcome outcome, const ReceiveReason& reason)
{
    if (state_ == State::Ended)
        return;
    if (code != Reason::Unknown && socket_ && socket_->isEncrypted())
        sendReason(MessageType::Error, code, reason);
    // A receiver that stops has nothing to tell of a batch whose files were all told.
    end(outcome, reason, code != Reason::Stopping);
}

void PrivateConnection::end(ReceiveEnd::Outcome outcome, const ReceiveReason& reason, bool tell,
                            const QString& detail)
{
    if (state_ == State::Ended)
        return;
    const bool cutShort = file_.isOpen();
    tell = tell || cutShort || state_ == State::Handshake || state_ == State::Greeting;
    ReceiveEnd end = fileEnd(outcome, reason);
    end.detail = detail;
    file_.keepPart();
    if (cutShort) {
        end.path = file_.path();
    } else if (state_ != State::Receiving) {
        end.size = end.received = 0; // no file was on its way
    }
    state_ = State::Ended;
    deadline_.stop();
    idle_.stop();
    dropSocket(true);
    if (!tell) {
        Q_EMIT closed();
        return;
    }
    show();
    Q_EMIT ended(end);
}

ReceiveEnd PrivateConnection::fileEnd(ReceiveEnd::Outcome outcome,
                                      const ReceiveReason& reason) const
{
    return {id_,    outcome, peer_, {},       file_.size(),     file_.received(),
            reason, {},      true,  keyName_, file_.topFolder()};
}

// A graceful close lets the last message (ERROR, SAVED, HEARD) reach the peer; the socket
// then goes in its own time, or after a short grace, with the receiver at the latest. A
// handshake that never finished has nothing to hand over: a flood of probes must not
// leave a flood of sockets in their grace.
void PrivateConnection::dropSocket(bool graceful)
{
    if (socket_)
        releaseSecureSocket(std::exchange(socket_, nullptr), this, parent(), graceful, kCloseGrace);
}
