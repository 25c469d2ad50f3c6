#include "private/privatesender.h"

#include "addressbook/peerkeys.h"
#include "plain/plainsender.h"

#include <QFileInfo>

PrivateSender::PrivateSender(const Identity& identity, PeerKeys& keys,
                             const QHostAddress& bindAddress, Clock& clock, QObject* parent)
    : QObject(parent), link_(identity, keys, bindAddress, clock, this),
      retry_(clock.makeAlarm([this] { link_.open(host_); })),
      retriesAllowed_(PlainSender::kRefusalRetries),
      longestRetryWait_(PlainSender::kLongestRetryWait)
{
    linger_.setSingleShot(true);
    linger_.setInterval(kLinger);
    connect(&linger_, &QTimer::timeout, &link_, &PrivateLink::bye);
    connect(&speed_, &SpeedMeter::ticked, this, &PrivateSender::speedTicked);
    connect(&link_, &PrivateLink::ready, this, &PrivateSender::keyChecked);
    connect(&link_, &PrivateLink::arrived, this, &PrivateSender::handleMessage);
    connect(&link_, &PrivateLink::written, this, &PrivateSender::sendMore);
    connect(&link_, &PrivateLink::keyChanged, this, &PrivateSender::refusedKey);
    connect(&link_, &PrivateLink::closed, this, &PrivateSender::linkClosed);
    connect(&link_, &PrivateLink::failed, this, &PrivateSender::linkFailed);
    connect(&link_, &PrivateLink::silent, this, [this](int seconds) {
        SendStatus silent = SendStatus::at(SendStatus::Stage::NoAnswer);
        silent.seconds = seconds;
        linkEnded(silent);
    });
    connect(&link_, &PrivateLink::ended, this, [this](const QString& told) {
        linkEnded(SendStatus::notSent(NotSentReason::ReceiverEnded, told));
    });
    connect(&link_, &PrivateLink::keyRefused, this, [this](const QString& why) {
        // The batch's other files would meet the same key.
        Q_EMIT triesUsedUp();
        linkEnded(SendStatus::notSent(NotSentReason::KeyRefused, why));
    });
    connect(&link_, &PrivateLink::brokeProtocol, this,
            [this] { linkEnded(SendStatus::notSent(NotSentReason::BrokeProtocol)); });
    connect(&file_, &OutgoingFile::digested, this, &PrivateSender::sendEnd);
    connect(&file_, &OutgoingFile::readBackFailed, this, &PrivateSender::readFailedWith);
}

PrivateSender::~PrivateSender()
{
    cancel();
}

void PrivateSender::setRetries(int count, std::chrono::milliseconds longestWait)
{
    retriesAllowed_ = count;
    longestRetryWait_ = longestWait;
}

void PrivateSender::send(const QString& path, qint64 size, const QString& host, bool mayFallBack,
                         const QString& announced)
{
    retry_->cancel();
    linger_.stop();
    file_.close();
    path_ = path;
    announced_ = announced;
    size_ = size;
    mayFallBack_ = mayFallBack;
    retriesLeft_ = retriesAllowed_;
    sentAgain_ = false;
    if (link_.isOpen() && link_.host() == host) {
        Q_EMIT privacyKnown(true, name_);
        offer();
        return;
    }
    link_.bye();
    host_ = host;
    state_ = State::Opening;
    link_.open(host);
}

void PrivateSender::endBatch()
{
    linger_.stop();
    if (state_ == State::Closed)
        link_.bye();
}

void PrivateSender::cancel()
{
    retry_->cancel();
    linger_.stop();
    speed_.stop();
    file_.close();
    state_ = State::Closed;
    link_.abort();
}

void PrivateSender::keyChecked(const KeyCheck& check)
{
    name_ = check.name;
    Q_EMIT privacyKnown(true, name_);
    if (state_ == State::Opening)
        offer();
}

void PrivateSender::offer()
{
    state_ = State::AwaitingAcceptance;
    const bool inFolder = !announced_.isEmpty();
    const bool folders = (link_.features() & kFeatureFolders) != 0;
    link_.write(fileMessage(
        size_, (inFolder && folders ? announced_ : QFileInfo(path_).fileName()).toUtf8()));
    if (inFolder && !folders)
        Q_EMIT loosened(name_.isEmpty() ? host_ : name_);
    link_.awaitAnswer();
    showStatus(SendStatus::at(SendStatus::Stage::Connected));
}

void PrivateSender::handleMessage(const PrivateMessage& message)
{
    const MessageType type = message.type;
    if (state_ == State::AwaitingAcceptance && type == MessageType::Accept)
        accepted(message.body);
    else if (state_ == State::AwaitingAcceptance && type == MessageType::Refuse)
        answered(SendOutcome::NotSent, notTaken(NotSentReason::Refused, message));
    else if ((state_ == State::Streaming || state_ == State::AwaitingSaved) &&
             type == MessageType::Count)
        countArrived(message.body);
    else if (state_ == State::AwaitingSaved && type == MessageType::Saved)
        answered(SendOutcome::Sent, SendStatus::at(SendStatus::Stage::Sent));
    else if ((state_ == State::Streaming || state_ == State::AwaitingSaved) &&
             type == MessageType::Failed && sendAgainWhole(message))
        return;
    else if ((state_ == State::Streaming || state_ == State::AwaitingSaved) &&
             type == MessageType::Failed)
        answered(SendOutcome::NotSent, notTaken(NotSentReason::FailedOnArrival, message));
    else
        dropBrokenPeer();
}

SendStatus PrivateSender::notTaken(NotSentReason reason, const PrivateMessage& message) const
{
    return SendStatus::notSent(reason, parseReason(message.body).value_or(ReasonText{}).text);
}

void PrivateSender::dropBrokenPeer()
{
    showStatus(SendStatus::notSent(NotSentReason::BrokeProtocol));
    end(SendOutcome::NotSent, false);
}

void PrivateSender::accepted(const QByteArray& body)
{
    // Only a receiver that continues files may have one start anywhere but its beginning.
    const std::optional<qint64> offset = parseNumber(body);
    const bool resumes = (link_.features() & kFeatureResume) != 0;
    if (!offset || *offset > size_ || (*offset != 0 && !resumes)) {
        dropBrokenPeer();
        return;
    }
    link_.awaitAnswer();
    state_ = State::Streaming;
    offset_ = confirmed_ = *offset;
    ending_ = false;
    speed_.record(0);
    speed_.start();
    if (offset_ > 0) {
        Q_EMIT resumed(offset_, size_);
        Q_EMIT progressed(offset_, size_);
    }
    SendStatus sending = SendStatus::at(SendStatus::Stage::Sending);
    if (offset_ > 0) {
        sending.stage = SendStatus::Stage::Resuming;
        sending.offset = offset_;
        sending.size = size_;
    }
    showStatus(sending);
    // Whoever hears of it may have cancelled the transfer.
    if (state_ != State::Streaming || !openFile(offset_))
        return;
    sendMore();
}

bool PrivateSender::openFile(qint64 offset)
{
    const Checksum::Kind check = fileCheckOf(link_.features() & kOurFeatures);
    if (!file_.open(path_, size_, offset, check)) {
        readFailedWith(file_.error());
        return false;
    }
    return true;
}

void PrivateSender::readFailedWith(const QString& description)
{
    const SendStatus status = SendStatus::notSent(NotSentReason::Unreadable, description);
    showStatus(status);
    Q_EMIT readFailed(status);
    // The receiver waits for bytes that will not come: only a new connection helps.
    end(SendOutcome::NotSent, false);
}

void PrivateSender::sendMore()
{
    if (state_ != State::Streaming || !file_.isOpen())
        return;
    while (file_.hasMore() && link_.unsentBytes() < kMaxUnsentBytes) {
        const QByteArray bytes = file_.next();
        if (bytes.isEmpty()) {
            readFailedWith(file_.error());
            return;
        }
        // Apart, so that the block is not copied once more only to join its header.
        link_.write(dataHeader(bytes.size()));
        link_.write(bytes);
    }
    if (!file_.hasMore() && !std::exchange(ending_, true)) {
        // Not waiting for the receiver while this side reads the first bytes back.
        link_.stopWaiting();
        file_.finish();
    }
}

void PrivateSender::sendEnd(const QByteArray& digest)
{
    if (state_ != State::Streaming)
        return;
    state_ = State::AwaitingSaved;
    link_.write(endMessage(digest));
    // The receiver may still be reading its first bytes back.
    link_.awaitAnswer(readBackAllowance(offset_));
}

void PrivateSender::countArrived(const QByteArray& body)
{
    const std::optional<qint64> count = parseNumber(body);
    if (!count)
        return;
    if (*count > confirmed_ && *count <= size_ && !ending_)
        link_.awaitAnswer();
    confirmed_ = *count;
    speed_.record(std::max<qint64>(0, confirmed_ - offset_));
    Q_EMIT progressed(confirmed_, size_);
}

void PrivateSender::answered(SendOutcome outcome, const SendStatus& status)
{
    showStatus(status);
    if (!status.told.isEmpty())
        Q_EMIT readFailed(status);
    end(outcome, true);
}

void PrivateSender::linkClosed(bool early)
{
    if (state_ == State::Closed)
        return; // an open connection between files, closed by the receiver
    // A receiver with every place taken closes before its acceptance, as on the plain
    // port: that is tried again.
    if ((state_ == State::Opening || state_ == State::AwaitingAcceptance) && retryLater())
        return;
    if (early && state_ == State::Opening)
        showStatus(SendStatus::notSent(NotSentReason::ClosedPrivately));
    tellIfCut();
    end(SendOutcome::PeerClosed, false);
}

bool PrivateSender::sendAgainWhole(const PrivateMessage& failed)
{
    const std::optional<ReasonText> reason = parseReason(failed.body);
    if (sentAgain_ || !reason || reason->reason != Reason::DigestMismatch)
        return false;
    sentAgain_ = true;
    speed_.stop();
    file_.close();
    SendStatus again = SendStatus::at(SendStatus::Stage::SendingAgain);
    again.told = reason->text;
    showStatus(again);
    offer();
    return true;
}

void PrivateSender::linkEnded(const SendStatus& status)
{
    if (state_ == State::Closed)
        return;
    showStatus(status);
    tellIfCut();
    end(SendOutcome::NotSent, false);
}

void PrivateSender::tellIfCut()
{
    if (state_ == State::Streaming || state_ == State::AwaitingSaved)
        Q_EMIT cutOff();
}

void PrivateSender::linkFailed(QAbstractSocket::SocketError error, const QString& description,
                               bool early)
{
    if (state_ == State::Closed)
        return;
    // A port that refuses, or that nothing answers from (a firewall that rejects or drops
    // it), is one the receiver does not take private connections on.
    const bool refused = early && (error == QAbstractSocket::ConnectionRefusedError ||
                                   error == QAbstractSocket::SocketTimeoutError ||
                                   error == QAbstractSocket::NetworkError);
    if (refused && mayFallBack_ && !link_.reachesKeyedEntry() && state_ == State::Opening) {
        state_ = State::Closed;
        Q_EMIT plainOnly(host_);
        return;
    }
    // A port that refuses is not tried again on the private port: once is all it gets.
    if (refused && state_ == State::Opening)
        Q_EMIT triesUsedUp();
    SendStatus failed = SendStatus::fromSocketError(error, description);
    failed.privatePortRefused = refused;
    showStatus(failed);
    tellIfCut();
    end(SendOutcome::Failed, false);
}

void PrivateSender::refusedKey(const QString& name)
{
    SendStatus notShown = SendStatus::at(SendStatus::Stage::KeyNotShown);
    notShown.keyName = name;
    notShown.address = host_;
    showStatus(notShown);
    Q_EMIT keyChanged(name, host_);
    // The batch's other files would meet the same key.
    Q_EMIT triesUsedUp();
    end(SendOutcome::Failed, false);
}

bool PrivateSender::retryLater()
{
    if (retriesLeft_ <= 0) {
        Q_EMIT triesUsedUp();
        return false;
    }
    const int done = retriesAllowed_ - retriesLeft_--;
    link_.abort();
    state_ = State::Opening;
    retry_->set(PlainSender::retryWait(done, longestRetryWait_));
    return true;
}

void PrivateSender::showStatus(const SendStatus& status)
{
    Q_EMIT statusChanged(status);
}

void PrivateSender::end(SendOutcome outcome, bool keepLink)
{
    if (state_ == State::Closed)
        return;
    if (outcome != SendOutcome::Failed)
        speed_.stop();
    file_.close();
    state_ = State::Closed;
    link_.stopWaiting();
    if (keepLink)
        linger_.start();
    else
        link_.abort();
    Q_EMIT finished(outcome);
}
