#include "private/privateconnection.h"

#include "addressbook/peerkeys.h"
#include "identity/certificatekey.h"
#include "platform/localaddress.h"
#include "platform/socketerror.h"
#include "platform/socketrelease.h"
#include "platform/tlssocket.h"
#include "transfer/receivetext.h"

#include <QScopedValueRollback>

namespace
{

// How long a closing connection may take to hand over its last messages.
constexpr auto kCloseGrace = std::chrono::seconds(2);
// At most this much of a file's bytes is taken in one turn of the event loop: decrypting,
// checking and writing it takes a few milliseconds.
constexpr qint64 kBytesPerTurn = 1024 * 1024;

using Code = ReceiveReason::Code;
const ReceiveReason kClosed = ReceiveReason::of(Code::Closed);
const ReceiveReason kProtocolError = ReceiveReason::of(Code::BrokeProtocol);

} // namespace

PrivateConnection::PrivateConnection(int id, TlsSocket* socket, PeerKeys& keys,
                                     const SenderFilter& accepts, const QString& saveFolder,
                                     const ReceiverLimits& limits, PartFiles& parts,
                                     QObject* parent)
    : IncomingConnection(id, dottedAddress(socket->peerAddress()), parent), socket_(socket),
      keys_(keys), accepts_(accepts), limits_(limits), saveFolder_(saveFolder), parts_(parts),
      tree_(std::make_shared<ReceivedTree>(saveFolder))
{
    socket->setParent(this);
    socket->setLowDelay(); // the answers are short, and the sender waits for each
    connect(socket, &TlsSocket::encrypted, this, &PrivateConnection::judgePeer);
    connect(socket, &TlsSocket::readyRead, this, &PrivateConnection::readArrival);
    connect(socket, &TlsSocket::disconnected, this, [this] {
        if (socket_ && socket_->bytesAvailable() > 0)
            readArrival();
        end(ReceiveEnd::Outcome::Incomplete, kClosed, false);
    });
    connect(socket, &TlsSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return; // the close handler takes it
        const SocketError shown = socketError(e, socket_ ? socket_->errorString() : QString());
        end(ReceiveEnd::Outcome::Failed, ReceiveReason::socketError(shown.number), false,
            shown.description);
    });
    connect(socket, &TlsSocket::bytesWritten, this, &PrivateConnection::answersWritten);

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
    deadline_.start();
    age_.start();

    socket->startServerEncryption();
}

PrivateConnection::~PrivateConnection()
{
    dropSocket(false);
}

SeatHolder PrivateConnection::seat() const
{
    const bool receiving = state_ == State::Receiving || awaitingAnswers() > 0;
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
    const std::variant<QByteArray, QString> shown = certificateKey(socket_->peerCertificate());
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
    qint64 taken = 0;
    while (socket_ && state_ != State::Ended && !closing_) {
        if (taken >= kBytesPerTurn) {
            sendCount();
            readNextTurn();
            break;
        }
        if (holdsBack()) {
            heldBack_ = true;
            break;
        }
        const MessageReader::Result result = reader_.next(message, socket_);
        if (result == MessageReader::Result::Malformed) {
            fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
            return;
        }
        if (result == MessageReader::Result::Message) {
            taken += message.body.size();
            take(message);
            continue;
        }
        // Telling the progress writes, and the socket may read what came meanwhile.
        sendCount();
        if (!socket_ || socket_->bytesAvailable() == 0)
            break;
    }
}

// What is left in the socket is taken in the loop's next turn, once however often asked:
// after a turn's share of bytes, so that a fast sender never holds up the window nor other
// transfers, or once held-back answers have gone.
void PrivateConnection::readNextTurn()
{
    if (std::exchange(nextTurn_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            nextTurn_ = false;
            readArrival();
        },
        Qt::QueuedConnection);
}

// Room for answers again, or a file's space set aside: what waited is taken, from the
// loop, as the socket is in the middle of its own work; otherwise the progress is told.
void PrivateConnection::answersWritten()
{
    if (!heldBack_ || holdsBack()) {
        sendCount();
        return;
    }
    heldBack_ = false;
    readNextTurn();
}

bool PrivateConnection::answersPileUp() const
{
    return socket_->bytesToWrite() > kMaxQueuedReplyBytes;
}

// Files refused behind one still being saved wait to be told: a sender that offers file
// after file meanwhile waits for them. So does whatever a sender sends while its window
// of files is full, one file without the pipeline: a file's save goes on off the loop,
// and what the sender may have sent after its END waits for the answer. A file's bytes
// wait until the disk has set its space aside.
bool PrivateConnection::holdsBack() const
{
    const int window = pipelineWindow(features_);
    return answersPileUp() || arrivals_.size() >= 2 * size_t(std::max(window, kPipelineWindow)) ||
           (state_ == State::Between && awaitingAnswers() >= window) ||
           (state_ == State::Receiving && receiving().waitsForDisk());
}

void PrivateConnection::take(const PrivateMessage& message)
{
    switch (state_) {
    case State::Greeting:
        greet(message);
        return;
    case State::Between:
        between(message);
        if (state_ == State::Between)
            waitBetweenFiles();
        return;
    case State::Receiving:
        if (message.type == MessageType::Data)
            takeData(message.body);
        else if (message.type == MessageType::End)
            takeEnd(message.body);
        else
            fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    case State::Passing:
        passOver(message);
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
        // The files in hand are answered first.
        closing_ = true;
        if (arrivals_.empty())
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
    // A path of several parts is a folder's, which only the folders feature allows. (A
    // sender beyond its window is not read until there is room: holdsBack().)
    if (!offer || (offer->path.contains('/') && !folders)) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    auto* file = new FileIntake(saveFolder_, limits_, parts_, this);
    file->shareTree(tree_);
    file->reserveSpace();
    // A file sent eagerly starts from its beginning: its bytes are on their way already.
    const bool eager = goesEagerly(features_, offer->size);
    const bool resumes = (features_ & kFeatureResume) != 0 && !eager;
    if (const std::optional<FileRefusal> refusal = file->admit(
            {sender_, offer->path, offer->size, folders, resumes, fileCheckOf(features_)})) {
        refuseFile(*file, *refusal, offer->size);
        if (eager && state_ == State::Between) {
            state_ = State::Passing;
            passing_ = offer->size;
            idle_.start(limits_.idleTimeout);
        }
        return;
    }
    connect(file, &FileIntake::tooSlow, this, [this](const ReceiveReason& reason) {
        fail(Reason::TooSlow, ReceiveEnd::Outcome::Idle, reason);
    });
    connect(file, &FileIntake::settled, this,
            [this, file](ReceiveEnd::Outcome outcome, const ReceiveReason& reason) {
                settle(file, outcome, reason);
            });
    connect(file, &FileIntake::diskReady, this, &PrivateConnection::answersWritten);
    connect(file, &FileIntake::takenOver, this, [this] {
        end(ReceiveEnd::Outcome::Incomplete, ReceiveReason::of(Code::TakenOver), true);
    });
    arrivals_.push_back({file, std::nullopt, false, false});
    counted_ = file->received();
    state_ = State::Receiving;
    waitForSender();
    if (arrivals_.size() == 1)
        showArrival(arrivals_.front());
    send(acceptMessage(file->offset()));
}

void PrivateConnection::refuseFile(FileIntake& file, const FileRefusal& refusal, qint64 size)
{
    const Code why = refusal.reason.code;
    const Reason code = why == Code::NameUnusable || why == Code::PathTooLong ? Reason::NameUnusable
                        : why == Code::NoRoom                                 ? Reason::NoRoom
                                                                              : Reason::CannotSave;
    sendReason(MessageType::Refuse, code, refusal.reason);
    ReceiveEnd end = fileEnd(&file, refusal.outcome, refusal.reason);
    end.size = size;
    file.deleteLater();
    if (!arrivals_.empty()) {
        arrivals_.push_back({nullptr, end, false, false});
        return;
    }
    show();
    told(end);
}

void PrivateConnection::takeData(const QByteArray& body)
{
    FileIntake& file = receiving();
    if (body.size() > file.missing()) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    if (!file.write(body)) {
        settle(&file, ReceiveEnd::Outcome::CannotSave, file.problem());
        return;
    }
    batchBytes_ += body.size();
    waitForSender();
    if (arrivals_.back().started)
        Q_EMIT progressed(file.received(), file.size());
}

void PrivateConnection::passOver(const PrivateMessage& message)
{
    if (message.type == MessageType::Data && message.body.size() <= passing_) {
        passing_ -= message.body.size();
        return;
    }
    if (message.type == MessageType::End && passing_ == 0 &&
        message.body.size() == Checksum::bytes(fileCheckOf(features_))) {
        state_ = State::Between;
        waitBetweenFiles();
        return;
    }
    fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
}

// A sender that went on from an offset may say END a while after its last byte, once it
// has read the first bytes back for its digest: only the idle time applies to that wait,
// lengthened by what that reading may take.
void PrivateConnection::waitForSender()
{
    const FileIntake& file = receiving();
    if (file.missing() > 0) {
        idle_.start(limits_.idleTimeout);
        return;
    }
    idle_.start(limits_.idleTimeout + readBackAllowance(file.offset()));
}

// While files are being checked and saved, the sender may wait for their answers: its
// silence counts only once every file is answered.
void PrivateConnection::waitBetweenFiles()
{
    if (awaitingAnswers() > 0)
        idle_.stop();
    else
        idle_.start(limits_.idleTimeout);
}

int PrivateConnection::awaitingAnswers() const
{
    return int(std::count_if(arrivals_.cbegin(), arrivals_.cend(),
                             [](const Arrival& arrival) { return arrival.intake != nullptr; }));
}

void PrivateConnection::takeEnd(const QByteArray& digest)
{
    FileIntake& file = receiving();
    if (file.missing() != 0 || digest.size() != Checksum::bytes(fileCheckOf(features_))) {
        fail(Reason::ProtocolError, ReceiveEnd::Outcome::Refused, kProtocolError);
        return;
    }
    // The last COUNT of a file says its whole size, before the next file's ACCEPT.
    if (counted_ != file.received()) {
        send(countMessage(file.received()));
        counted_ = file.received();
    }
    state_ = State::Between;
    waitBetweenFiles(); // this side reads back what the digest still lacks
    file.check(digest);
}

// A file checked, or given up while its bytes were read back or written: the answer waits
// for those of the files before it.
void PrivateConnection::settle(const FileIntake* intake, ReceiveEnd::Outcome outcome,
                               const ReceiveReason& reason)
{
    const auto arrival =
        std::find_if(arrivals_.begin(), arrivals_.end(),
                     [intake](const Arrival& arrival) { return arrival.intake == intake; });
    if (state_ == State::Ended || arrival == arrivals_.end() || arrival->end)
        return;
    const bool saved = outcome == ReceiveEnd::Outcome::Saved;
    // The panel shows each file of a batch as a connection of its own, ending as a plain one
    // ends.
    arrival->end = fileEnd(intake, outcome, saved ? kClosed : reason);
    arrival->end->path = intake->path(); // none for a file that was removed
    // A sender still sending is stopped, as when the disk is full: nothing more is read.
    if (!saved && state_ == State::Receiving && arrival + 1 == arrivals_.end()) {
        arrival->closes = true;
        closing_ = true;
        idle_.stop();
    }
    answerInOrder();
}

void PrivateConnection::answerInOrder()
{
    while (!arrivals_.empty() && arrivals_.front().end && state_ != State::Ended) {
        Arrival arrival = std::move(arrivals_.front());
        arrivals_.pop_front();
        if (arrival.intake)
            arrival.intake->deleteLater(); // its signal may be what brought this
        answerArrival(arrival);
        showArrival(arrival);
        if (arrival.closes) {
            const ReceiveEnd& end = *arrival.end;
            this->end(end.outcome, end.reason, true);
            return;
        }
        show();
        told(*arrival.end);
    }
    if (state_ == State::Ended)
        return;
    if (!arrivals_.empty())
        showArrival(arrivals_.front());
    else if (closing_)
        return end(ReceiveEnd::Outcome::Incomplete, kClosed, false);
    if (state_ == State::Between)
        waitBetweenFiles();
    if (heldBack_ && !holdsBack()) {
        heldBack_ = false;
        QMetaObject::invokeMethod(this, &PrivateConnection::readArrival, Qt::QueuedConnection);
    }
}

void PrivateConnection::answerArrival(const Arrival& arrival)
{
    if (!arrival.intake)
        return; // a refusal, answered when it came
    const ReceiveEnd::Outcome outcome = arrival.end->outcome;
    if (outcome == ReceiveEnd::Outcome::Saved) {
        send(encodeMessage(MessageType::Saved));
        return;
    }
    const Reason code =
        outcome == ReceiveEnd::Outcome::Failed ? Reason::DigestMismatch : Reason::CannotSave;
    sendReason(MessageType::Failed, code, arrival.end->reason);
}

// The first file not yet told is shown with how far it has come.
void PrivateConnection::showArrival(Arrival& arrival)
{
    if (!arrival.intake || std::exchange(arrival.started, true))
        return;
    const FileIntake& file = *arrival.intake;
    show();
    Q_EMIT fileStarted(file.shownName(), file.size());
    if (file.offset() > 0)
        Q_EMIT resumed(file.offset(), file.size());
    if (file.received() > file.offset())
        Q_EMIT progressed(file.received(), file.size());
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
    if (!socket_ || state_ != State::Receiving || receiving().received() == counted_ ||
        answersPileUp())
        return;
    counted_ = receiving().received();
    send(countMessage(counted_));
}

void PrivateConnection::send(const QByteArray& message)
{
    // Not flushed: the answers of one turn go out together, in one write to the system.
    if (socket_)
        socket_->write(message);
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
    tell = tell || state_ == State::Handshake || state_ == State::Greeting;
    state_ = State::Ended;
    ReceiveEnd end = fileEnd(nullptr, outcome, reason);
    if (std::optional<ReceiveEnd> cut = tellOutstanding(outcome, reason)) {
        end = *cut;
        tell = true;
    }
    end.detail = detail;
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

// Files whose outcome is known are told as they ended. The others stay part files, whole or
// not, never named once the connection is over: a sender that comes again goes on with
// them. The last of those is the file the connection's end is about.
std::optional<ReceiveEnd> PrivateConnection::tellOutstanding(ReceiveEnd::Outcome outcome,
                                                             const ReceiveReason& reason)
{
    std::optional<ReceiveEnd> cut;
    while (!arrivals_.empty()) {
        Arrival arrival = std::move(arrivals_.front());
        arrivals_.pop_front();
        showArrival(arrival);
        if (!arrival.end) {
            arrival.intake->keepPart();
            arrival.end = fileEnd(arrival.intake, outcome, reason);
            arrival.end->path = arrival.intake->path();
            if (arrivals_.empty())
                cut = arrival.end;
        }
        if (arrival.intake)
            arrival.intake->deleteLater();
        if (cut)
            break;
        show();
        told(*arrival.end);
    }
    return cut;
}

ReceiveEnd PrivateConnection::fileEnd(const FileIntake* intake, ReceiveEnd::Outcome outcome,
                                      const ReceiveReason& reason) const
{
    if (!intake)
        return {id_, outcome, peer_, {}, 0, 0, reason, {}, true, keyName_, {}};
    return {id_,    outcome, peer_, {},       intake->size(),     intake->received(),
            reason, {},      true,  keyName_, intake->topFolder()};
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
