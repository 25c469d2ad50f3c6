#include "private/privatesender.h"

#include "addressbook/peerkeys.h"
#include "plain/plainsender.h"

#include <QFileInfo>

#include <algorithm>

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
    connect(&file_, &OutgoingFile::blockReady, this, &PrivateSender::sendMore);
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
    mayFallBack_ = mayFallBack;
    retriesLeft_ = retriesAllowed_;
    if (adopt(path, announced, host))
        return;
    // Files taken ahead that the batch does not send next are let go of: cut off, their
    // receiver keeps what came of them.
    if (!flights_.empty())
        cancel();
    flights_.push_back(std::make_unique<Flight>());
    Flight& file = *flights_.back();
    file.path = path;
    file.announced = announced;
    file.size = size;
    file.inHand = true;
    if (link_.isOpen() && link_.host() == host) {
        Q_EMIT privacyKnown(true, name_);
        offer(file);
        return;
    }
    link_.bye();
    host_ = host;
    opening_ = true;
    link_.open(host);
}

bool PrivateSender::adopt(const QString& path, const QString& announced, const QString& host)
{
    if (flights_.empty())
        return false;
    Flight& next = *flights_.front();
    if (next.inHand || next.path != path || next.announced != announced || host != host_)
        return false;
    next.inHand = true;
    Q_EMIT privacyKnown(true, name_);
    if (next.stage == Stage::Streaming) {
        speed_.record(next.confirmed - next.offset);
        speed_.start();
    }
    // From the loop, as if it happened now: after send() has returned.
    QMetaObject::invokeMethod(
        this,
        [this, turn = turn_] {
            if (turn == turn_)
                tellHeld();
        },
        Qt::QueuedConnection);
    return true;
}

void PrivateSender::tellHeld()
{
    if (flights_.empty() || !flights_.front()->inHand)
        return;
    Flight& file = *flights_.front();
    const QList<std::function<void()>> held = std::exchange(file.held, {});
    file.heldProgress = false;
    // Whoever hears of it may end the batch; the last one retires the file.
    const quint64 turn = turn_;
    for (const std::function<void()>& event : held) {
        event();
        if (turn != turn_)
            return;
    }
}

void PrivateSender::endBatch()
{
    linger_.stop();
    if (!flights_.empty() && flights_.front()->inHand)
        return;
    // Files taken ahead of a batch that ended before them are let go of.
    if (!flights_.empty() || opening_)
        cancel();
    link_.bye();
}

void PrivateSender::cancel()
{
    ++turn_;
    retry_->cancel();
    speed_.stop();
    letGo();
    flights_.clear();
}

void PrivateSender::letGo()
{
    linger_.stop();
    file_.close();
    onWire_ = counting_ = nullptr;
    unanswered_.clear();
    unaccepted_.clear();
    resends_.clear();
    opening_ = drains_ = false;
    link_.abort();
}

void PrivateSender::keyChecked(const KeyCheck& check)
{
    name_ = check.name;
    Q_EMIT privacyKnown(true, name_);
    if (std::exchange(opening_, false) && !flights_.empty())
        offer(*flights_.front());
}

void PrivateSender::offer(Flight& flight)
{
    onWire_ = &flight;
    flight.stage = Stage::Offered;
    flight.unaccepted = goesEagerly(link_.features(), flight.size);
    flight.refusal.reset();
    const bool inFolder = !flight.announced.isEmpty();
    const bool folders = (link_.features() & kFeatureFolders) != 0;
    link_.write(fileMessage(
        flight.size,
        (inFolder && folders ? flight.announced : QFileInfo(flight.path).fileName()).toUtf8()));
    if (inFolder && !folders)
        Q_EMIT loosened(name_.isEmpty() ? host_ : name_);
    awaitAnswers();
    tellBatch(flight, [this] { showStatus(SendStatus::at(SendStatus::Stage::Connected)); });
    // Whoever hears of it may have cancelled the transfer.
    if (onWire_ != &flight || !flight.unaccepted)
        return;
    unaccepted_.push_back(&flight);
    startStreaming(flight, 0);
}

void PrivateSender::offerNext()
{
    if (onWire_ || drains_ || !link_.isOpen())
        return;
    if (!resends_.empty()) {
        Flight* again = resends_.front();
        resends_.pop_front();
        offer(*again);
        return;
    }
    const bool pipelined = (link_.features() & kFeaturePipeline) != 0;
    if (!pipelined || !ahead_ || int(unanswered_.size()) >= pipelineWindow(link_.features()))
        return;
    const std::optional<NextFile> next = ahead_();
    if (!next)
        return;
    flights_.push_back(std::make_unique<Flight>());
    Flight& file = *flights_.back();
    file.path = next->path;
    file.announced = next->announced;
    file.size = next->size;
    offer(file);
}

// Each answer is the earliest file's that awaits that kind: ACCEPT and REFUSE the file
// offered, SAVED and FAILED the first whose END went (or, failing it while its bytes still
// go, the file being sent), COUNT the last file accepted.
void PrivateSender::handleMessage(const PrivateMessage& message)
{
    const bool offered = onWire_ && onWire_->stage == Stage::Offered;
    const bool streaming = onWire_ && onWire_->stage == Stage::Streaming;
    switch (message.type) {
    case MessageType::Accept:
        if (!unaccepted_.empty())
            return acceptedEagerly(message.body);
        if (offered)
            return accepted(*onWire_, message.body);
        break;
    case MessageType::Refuse:
        if (!unaccepted_.empty())
            return refusedEagerly(message);
        if (offered)
            return answered(*std::exchange(onWire_, nullptr), SendOutcome::NotSent,
                            notTaken(NotSentReason::Refused, message));
        break;
    case MessageType::Count:
        if (counting_)
            return countArrived(*counting_, message.body);
        break;
    case MessageType::Saved:
        if (!unanswered_.empty() && !unanswered_.front()->unaccepted) {
            Flight& file = *unanswered_.front();
            unanswered_.pop_front();
            return answered(file, SendOutcome::Sent, SendStatus::at(SendStatus::Stage::Sent));
        }
        break;
    case MessageType::Failed: {
        Flight* failed = !unanswered_.empty() ? unanswered_.front() : streaming ? onWire_ : nullptr;
        if (failed && !failed->unaccepted)
            return failedOnArrival(*failed, message);
        break;
    }
    default:
        break;
    }
    dropBrokenPeer();
}

SendStatus PrivateSender::notTaken(NotSentReason reason, const PrivateMessage& message) const
{
    return SendStatus::notSent(reason, parseReason(message.body).value_or(ReasonText{}).text);
}

void PrivateSender::dropBrokenPeer()
{
    lose(SendOutcome::NotSent, SendStatus::notSent(NotSentReason::BrokeProtocol), false);
}

void PrivateSender::accepted(Flight& flight, const QByteArray& body)
{
    // Only a receiver that continues files may have one start anywhere but its beginning.
    const std::optional<qint64> offset = parseNumber(body);
    const bool resumes = (link_.features() & kFeatureResume) != 0;
    if (!offset || *offset > flight.size || (*offset != 0 && !resumes)) {
        dropBrokenPeer();
        return;
    }
    counting_ = &flight;
    startStreaming(flight, *offset);
}

PrivateSender::Flight& PrivateSender::takeUnaccepted()
{
    Flight& flight = *unaccepted_.front();
    unaccepted_.pop_front();
    flight.unaccepted = false;
    return flight;
}

void PrivateSender::acceptedEagerly(const QByteArray& body)
{
    Flight& flight = takeUnaccepted();
    if (parseNumber(body) != 0) {
        dropBrokenPeer();
        return;
    }
    if (flight.stage != Stage::Done)
        counting_ = &flight;
}

// Its bytes go to their END all the same: the receiver passes over them.
void PrivateSender::refusedEagerly(const PrivateMessage& message)
{
    Flight& flight = takeUnaccepted();
    const SendStatus refusal = notTaken(NotSentReason::Refused, message);
    if (&flight == onWire_) {
        flight.refusal = refusal;
        return;
    }
    const auto sent = std::find(unanswered_.begin(), unanswered_.end(), &flight);
    if (sent == unanswered_.end())
        return; // given up already, as its file could not be read
    unanswered_.erase(sent);
    answered(flight, SendOutcome::NotSent, refusal);
}

void PrivateSender::startStreaming(Flight& flight, qint64 offset)
{
    awaitAnswers();
    flight.stage = Stage::Streaming;
    flight.offset = flight.confirmed = offset;
    ending_ = false;
    if (flight.inHand) {
        speed_.record(0);
        speed_.start();
    }
    SendStatus sending = SendStatus::at(SendStatus::Stage::Sending);
    if (flight.offset > 0) {
        tellBatch(flight, [this, offset = flight.offset, size = flight.size] {
            Q_EMIT resumed(offset, size);
        });
        tellProgress(flight);
        sending.stage = SendStatus::Stage::Resuming;
        sending.offset = flight.offset;
        sending.size = flight.size;
    }
    tellBatch(flight, [this, sending] { showStatus(sending); });
    // Whoever hears of it may have cancelled the transfer.
    if (onWire_ != &flight || !openFile(flight))
        return;
    sendMore();
}

bool PrivateSender::openFile(Flight& flight)
{
    if (!file_.open(flight.path, flight.size, flight.offset,
                    fileCheckOf(link_.features() & kOurFeatures))) {
        readFailedWith(file_.error());
        return false;
    }
    return true;
}

// The receiver waits for bytes that will not come: only a new connection helps, once the
// files sent before have their answers.
void PrivateSender::readFailedWith(const QString& description)
{
    Flight* flight = std::exchange(onWire_, nullptr);
    if (!flight)
        return;
    file_.close();
    drains_ = true;
    const SendStatus status = SendStatus::notSent(NotSentReason::Unreadable, description);
    tellBatch(*flight, [this, status] {
        showStatus(status);
        Q_EMIT readFailed(status);
    });
    conclude(*flight, SendOutcome::NotSent);
    closeIfDrained();
}

void PrivateSender::closeIfDrained()
{
    if (!drains_ || !unanswered_.empty())
        return;
    drains_ = false;
    // Files that waited to be sent again end with the connection.
    lose(SendOutcome::NotSent, std::nullopt, false, onWire_);
}

void PrivateSender::sendMore()
{
    if (!onWire_ || onWire_->stage != Stage::Streaming || !file_.isOpen())
        return;
    while (file_.hasMore() && link_.unsentBytes() < kMaxUnsentBytes) {
        if (!file_.blockAtHand())
            return; // on its way from the disk: blockReady() goes on
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
        // Not waiting for the receiver while this side reads the first bytes back, unless
        // answers to files before are due.
        if (unanswered_.empty())
            link_.stopWaiting();
        file_.finish();
    }
}

void PrivateSender::sendEnd(const QByteArray& digest)
{
    if (!onWire_ || onWire_->stage != Stage::Streaming)
        return;
    Flight& flight = *std::exchange(onWire_, nullptr);
    link_.write(endMessage(digest));
    if (flight.refusal) {
        answered(flight, SendOutcome::NotSent, *flight.refusal);
        return;
    }
    flight.stage = Stage::Unanswered;
    unanswered_.push_back(&flight);
    awaitAnswers();
    offerNext();
}

// The receiver may still be reading the first bytes of a file back.
void PrivateSender::awaitAnswers()
{
    qint64 offset = onWire_ ? onWire_->offset : 0;
    for (const Flight* flight : unanswered_)
        offset = std::max(offset, flight->offset);
    link_.awaitAnswer(readBackAllowance(offset));
}

void PrivateSender::countArrived(Flight& flight, const QByteArray& body)
{
    const std::optional<qint64> count = parseNumber(body);
    if (!count || flight.stage == Stage::Done)
        return;
    const bool readingBack = ending_ && &flight == onWire_ && unanswered_.empty();
    if (*count > flight.confirmed && *count <= flight.size && !readingBack)
        awaitAnswers();
    flight.confirmed = *count;
    if (flight.inHand)
        speed_.record(std::max<qint64>(0, flight.confirmed - flight.offset));
    tellProgress(flight);
}

void PrivateSender::failedOnArrival(Flight& flight, const PrivateMessage& message)
{
    if (&flight == onWire_) {
        // Failed while its bytes still went: the receiver takes no more of them.
        file_.close();
        onWire_ = nullptr;
    } else {
        unanswered_.pop_front();
    }
    if (!sendAgainWhole(flight, message))
        answered(flight, SendOutcome::NotSent, notTaken(NotSentReason::FailedOnArrival, message));
}

void PrivateSender::answered(Flight& flight, SendOutcome outcome, const SendStatus& status)
{
    tellBatch(flight, [this, status] {
        showStatus(status);
        if (!status.told.isEmpty())
            Q_EMIT readFailed(status);
    });
    conclude(flight, outcome);
    closeIfDrained();
    offerNext();
}

void PrivateSender::linkClosed(bool early)
{
    if (flights_.empty() && !opening_)
        return; // an open connection between files, closed by the receiver
    // A receiver with every place taken closes before its acceptance, as on the plain
    // port: that is tried again.
    if (waitsForAcceptance() && retryLater())
        return;
    std::optional<SendStatus> status;
    if (early && opening_)
        status = SendStatus::notSent(NotSentReason::ClosedPrivately);
    lose(SendOutcome::PeerClosed, status, true);
}

bool PrivateSender::waitsForAcceptance() const
{
    if (opening_)
        return true;
    const Flight* inHand = flights_.empty() ? nullptr : flights_.front().get();
    return inHand && inHand->inHand && (inHand->stage == Stage::Offered || inHand->unaccepted);
}

bool PrivateSender::sendAgainWhole(Flight& flight, const PrivateMessage& failed)
{
    const std::optional<ReasonText> reason = parseReason(failed.body);
    if (flight.sentAgain || !reason || reason->reason != Reason::DigestMismatch)
        return false;
    flight.sentAgain = true;
    flight.stage = Stage::Waiting;
    if (counting_ == &flight)
        counting_ = nullptr;
    if (flight.inHand)
        speed_.stop();
    SendStatus again = SendStatus::at(SendStatus::Stage::SendingAgain);
    again.told = reason->text;
    tellBatch(flight, [this, again] { showStatus(again); });
    // Before any file not yet offered.
    resends_.push_back(&flight);
    offerNext();
    return true;
}

void PrivateSender::linkEnded(const SendStatus& status)
{
    if (flights_.empty() && !opening_)
        return;
    lose(SendOutcome::NotSent, status, true);
}

void PrivateSender::linkFailed(QAbstractSocket::SocketError error, const QString& description,
                               bool early)
{
    if (flights_.empty() && !opening_)
        return;
    // A port that refuses, or that nothing answers from (a firewall that rejects or drops
    // it), is one the receiver does not take private connections on.
    const bool refused = early && (error == QAbstractSocket::ConnectionRefusedError ||
                                   error == QAbstractSocket::SocketTimeoutError ||
                                   error == QAbstractSocket::NetworkError);
    if (refused && mayFallBack_ && !link_.reachesKeyedEntry() && opening_) {
        opening_ = false;
        flights_.clear();
        Q_EMIT plainOnly(host_);
        return;
    }
    // A port that refuses is not tried again on the private port: once is all it gets.
    if (refused && opening_)
        Q_EMIT triesUsedUp();
    SendStatus failed = SendStatus::fromSocketError(error, description);
    failed.privatePortRefused = refused;
    lose(SendOutcome::Failed, failed, true);
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
    lose(SendOutcome::Failed, std::nullopt, false);
}

bool PrivateSender::retryLater()
{
    if (retriesLeft_ <= 0) {
        Q_EMIT triesUsedUp();
        return false;
    }
    const int done = retriesAllowed_ - retriesLeft_--;
    Flight* inHand = flights_.empty() ? nullptr : flights_.front().get();
    lose(SendOutcome::PeerClosed, std::nullopt, true, inHand);
    if (inHand)
        inHand->stage = Stage::Waiting;
    opening_ = true;
    retry_->set(PlainSender::retryWait(done, longestRetryWait_));
    return true;
}

void PrivateSender::showStatus(const SendStatus& status)
{
    Q_EMIT statusChanged(status);
}

void PrivateSender::lose(SendOutcome outcome, const std::optional<SendStatus>& status, bool cut,
                         const Flight* spared)
{
    letGo();
    // A file only offered ahead of its turn is sent anew in it.
    if (!flights_.empty()) {
        const Flight& last = *flights_.back();
        if (!last.inHand && !last.sentAgain && last.stage == Stage::Offered && &last != spared)
            flights_.pop_back();
    }
    const auto end = [this, &status, cut, outcome](Flight& flight) {
        if (flight.stage == Stage::Done)
            return;
        const bool accepted = !flight.unaccepted && (flight.stage == Stage::Streaming ||
                                                     flight.stage == Stage::Unanswered);
        if (status)
            tellBatch(flight, [this, status = *status] { showStatus(status); });
        if (cut && accepted)
            tellBatch(flight, [this] { Q_EMIT cutOff(); });
        conclude(flight, outcome);
    };
    // Those held first: telling the file in hand may start anything.
    Flight* inHand = nullptr;
    for (const std::unique_ptr<Flight>& flight : flights_) {
        if (flight.get() == spared)
            continue;
        if (flight->inHand)
            inHand = flight.get();
        else
            end(*flight);
    }
    if (inHand)
        end(*inHand);
}

void PrivateSender::tellBatch(Flight& flight, std::function<void()> event)
{
    if (flight.inHand && flight.held.isEmpty()) {
        event();
        return;
    }
    flight.held.append(std::move(event));
    flight.heldProgress = false;
}

void PrivateSender::tellProgress(Flight& flight)
{
    auto event = [this, confirmed = flight.confirmed, size = flight.size] {
        Q_EMIT progressed(confirmed, size);
    };
    if (flight.inHand && flight.held.isEmpty()) {
        event();
        return;
    }
    if (flight.heldProgress)
        flight.held.last() = std::move(event);
    else
        flight.held.append(std::move(event));
    flight.heldProgress = true;
}

void PrivateSender::conclude(Flight& flight, SendOutcome outcome)
{
    flight.stage = Stage::Done;
    tellBatch(flight, [this, outcome] { retire(outcome); });
}

void PrivateSender::retire(SendOutcome outcome)
{
    if (flights_.empty())
        return;
    if (counting_ == flights_.front().get())
        counting_ = nullptr;
    flights_.pop_front();
    if (outcome != SendOutcome::Failed)
        speed_.stop();
    if (flights_.empty() && link_.isOpen()) {
        link_.stopWaiting();
        linger_.start();
    }
    Q_EMIT finished(outcome);
}
