#include "sending/filesender.h"

#include "addressbook/peerkeys.h"
#include "addressbook/peername.h"
#include "private/privatesender.h"

FileSender::FileSender(RandomSource& random, const QHostAddress& bindAddress, Clock& clock,
                       QObject* parent)
    : QObject(parent), plain_(random, bindAddress, clock, this), bindAddress_(bindAddress),
      clock_(clock)
{
    forward(plain_);
    connect(this, &FileSender::statusChanged, this,
            [this](const SendStatus& status) { end_.status = status; });
    connect(this, &FileSender::progressed, this,
            [this](qint64 confirmed) { end_.counted = confirmed; });
    connect(this, &FileSender::privacyKnown, this, [this](bool isPrivate, const QString& name) {
        end_.isPrivate = isPrivate;
        if (!name.isEmpty())
            end_.peerName = name;
    });
    connect(&plain_, &PlainSender::reached, this, [this] {
        if (!refusedPrivately_.isEmpty())
            plainHosts_.insert(std::exchange(refusedPrivately_, {}));
    });
}

FileSender::~FileSender() = default;

template <typename Sender> void FileSender::forward(Sender& sender)
{
    connect(&sender, &Sender::triesUsedUp, this, [this] { usedUp_ = true; });
    connect(&sender, &Sender::statusChanged, this, &FileSender::statusChanged);
    connect(&sender, &Sender::progressed, this, &FileSender::progressed);
    connect(&sender, &Sender::readFailed, this, &FileSender::readFailed);
    connect(&sender, &Sender::speedTicked, this, &FileSender::speedTicked);
    connect(&sender, &Sender::finished, this, &FileSender::finishFile);
}

void FileSender::setIdleTimeout(std::chrono::milliseconds timeout)
{
    idleTimeout_ = timeout;
    plain_.setIdleTimeout(timeout);
    if (private_)
        private_->setIdleTimeout(timeout);
}

void FileSender::setRefusalRetries(int count, std::chrono::milliseconds longestWait)
{
    retries_ = count;
    longestRetryWait_ = longestWait;
    plain_.setRefusalRetries(count, longestWait);
    if (private_)
        private_->setRetries(count, longestWait);
}

void FileSender::setPrivacy(const Identity* identity, PeerKeys* keys)
{
    private_.reset();
    keys_ = keys;
    if (!identity || !keys)
        return;
    private_ = std::make_unique<PrivateSender>(*identity, *keys, bindAddress_, clock_);
    private_->setParent(this);
    private_->setIdleTimeout(idleTimeout_);
    private_->setRetries(retries_, longestRetryWait_);
    forward(*private_);
    connect(private_.get(), &PrivateSender::privacyKnown, this,
            [this](bool isPrivate, const QString& name) {
                privateHosts_.insert(end_.address);
                Q_EMIT privacyKnown(isPrivate, name);
            });
    connect(private_.get(), &PrivateSender::resumed, this, &FileSender::resumed);
    connect(private_.get(), &PrivateSender::cutOff, this, &FileSender::cutOff);
    connect(private_.get(), &PrivateSender::keyChanged, this, &FileSender::keyChanged);
    connect(private_.get(), &PrivateSender::loosened, this, &FileSender::tellLoosened);
    connect(private_.get(), &PrivateSender::plainOnly, this, [this](const QString& host) {
        refusedPrivately_ = host;
        sendPlain();
    });
}

bool FileSender::isBusy() const
{
    return plain_.isBusy() || (private_ && private_->isBusy());
}

bool FileSender::isSendingPrivately() const
{
    return private_ && private_->isBusy(); // it is idle once it has fallen back to plain
}

void FileSender::send(const QString& path, qint64 size, const QString& host,
                      const QString& announced)
{
    announced_ = announced;
    refusedPrivately_.clear();
    usedUp_ = false;
    end_ = {};
    end_.path = path;
    end_.size = size;
    end_.address = host;
    if (keys_)
        end_.peerName = senderName(keys_->book(), host).value_or(QString());
    if (const auto before = gaveUp_.constFind(host); before != gaveUp_.cend()) {
        endUnsent(before->outcome, before->status);
        return;
    }
    // Someone whose key is known is only ever sent to privately, even after a refusal,
    // and not at all while this copy has no identity of its own.
    const bool keyed = keys_ && keys_->hasKey(host);
    if (keyed && !private_) {
        refuseInTheClear();
        return;
    }
    if (!private_ || (plainHosts_.contains(host) && !keyed)) {
        sendPlain();
        return;
    }
    private_->send(path, size, host, !keyed && !privateHosts_.contains(host), announced);
}

void FileSender::tellLoosened(const QString& name)
{
    if (toldLoosened_)
        return;
    toldLoosened_ = true;
    Q_EMIT loosened(name);
}

void FileSender::refuseInTheClear()
{
    endUnsent(SendOutcome::NotSent, SendStatus::notSent(NotSentReason::KeyKnown));
}

void FileSender::endUnsent(SendOutcome outcome, const SendStatus& status)
{
    Q_EMIT statusChanged(status);
    SendEnd end = end_;
    end.outcome = outcome;
    // After send() has returned, as every other ending comes.
    QMetaObject::invokeMethod(
        this, [this, end] { Q_EMIT finished(end); }, Qt::QueuedConnection);
}

void FileSender::finishFile(SendOutcome outcome)
{
    // Kept before the batch hears of it, so that its next file finds it.
    if (std::exchange(usedUp_, false))
        gaveUp_.insert(end_.address, {outcome, end_.status});
    SendEnd end = end_;
    end.outcome = outcome;
    Q_EMIT finished(end);
}

void FileSender::sendPlain()
{
    Q_EMIT privacyKnown(false, {});
    // The plain protocol carries bare names only.
    if (!announced_.isEmpty())
        tellLoosened(keys_ ? nameOrAddress(keys_->book(), end_.address) : end_.address);
    plain_.send(end_.path, end_.size, end_.address);
}

void FileSender::cancel()
{
    gaveUp_.clear();
    plain_.cancel();
    if (private_)
        private_->cancel();
}

void FileSender::endBatch()
{
    toldLoosened_ = false;
    gaveUp_.clear();
    if (private_)
        private_->endBatch();
}

QString loosenedMessage(const QString& name)
{
    return name + QStringLiteral("'s copy takes files only: the folder's files arrive loose");
}
