#include "sending/filesender.h"

#include "addressbook/peerkeys.h"
#include "addressbook/peername.h"
#include "localsend/devicebook.h"
#include "private/privatesender.h"

#include <QFileInfo>

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
        if (devices_ && devices_->needsProbe(end_.address))
            devices_->remember(end_.address, Speaks::Plain);
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
    if (device_)
        device_->setIdleTimeout(timeout);
    if (private_)
        private_->setIdleTimeout(timeout);
}

void FileSender::setRefusalRetries(int count, std::chrono::milliseconds longestWait)
{
    retries_ = count;
    longestRetryWait_ = longestWait;
    plain_.setRefusalRetries(count, longestWait);
    if (device_)
        device_->setRetries(count, longestWait);
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
    private_->setAhead(ahead_);
    forward(*private_);
    connect(private_.get(), &PrivateSender::privacyKnown, this,
            [this](bool isPrivate, const QString& name) {
                privateHosts_.insert(end_.address);
                if (devices_ && devices_->needsProbe(end_.address))
                    devices_->remember(end_.address, Speaks::Private);
                Q_EMIT privacyKnown(isPrivate, name);
            });
    connect(private_.get(), &PrivateSender::resumed, this, &FileSender::resumed);
    connect(private_.get(), &PrivateSender::cutOff, this, &FileSender::cutOff);
    connect(private_.get(), &PrivateSender::keyChanged, this, &FileSender::keyChanged);
    connect(private_.get(), &PrivateSender::loosened, this, &FileSender::tellLoosened);
    connect(private_.get(), &PrivateSender::plainOnly, this, [this](const QString& host) {
        refusedPrivately_ = host;
        probeThenSendPlain();
    });
}

void FileSender::setDevices(DeviceBook* devices, const DeviceInfo& own)
{
    devices_ = devices;
    device_ = std::make_unique<DeviceSender>(*devices, clock_);
    device_->setParent(this);
    device_->setOwnInfo(own);
    device_->setIdleTimeout(idleTimeout_);
    device_->setRetries(retries_, longestRetryWait_);
    forward(*device_);
    connect(device_.get(), &DeviceSender::keyChanged, this, &FileSender::keyChanged);
    connect(device_.get(), &DeviceSender::pinNeeded, this, &FileSender::pinNeeded);
    connect(device_.get(), &DeviceSender::probed, this, [this](const QString&, bool answered) {
        if (answered)
            sendToDevice();
        else
            sendPlain();
    });
    // Once the device's certificate has been judged, the file goes encrypted to it.
    connect(device_.get(), &DeviceSender::statusChanged, this, [this](const SendStatus& status) {
        if (status.stage == SendStatus::Stage::Connected && !end_.isPrivate)
            Q_EMIT privacyKnown(true, end_.peerName);
    });
}

void FileSender::setAhead(NextFileSource ahead)
{
    ahead_ = std::move(ahead);
    if (private_)
        private_->setAhead(ahead_);
}

void FileSender::setLocalSendPin(const QString& host, const QString& pin)
{
    if (device_)
        device_->setPin(host, pin);
}

void FileSender::answerPin(const QString& pin)
{
    if (device_)
        device_->answerPin(pin);
}

void FileSender::probeThenSendPlain()
{
    if (devices_ && devices_->needsProbe(end_.address))
        device_->probe(end_.address);
    else
        sendPlain();
}

void FileSender::sendToDevice()
{
    end_.isLocalSend = true;
    const QString name = announced_.isEmpty() ? QFileInfo(end_.path).fileName() : announced_;
    device_->send({end_.path, name, end_.size}, end_.address,
                  upcoming_ ? upcoming_() : QList<UpcomingFile>());
}

bool FileSender::isBusy() const
{
    return plain_.isBusy() || (private_ && private_->isBusy()) || (device_ && device_->isBusy());
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
    if (devices_ && devices_->isLocalSend(host)) {
        sendToDevice();
        return;
    }
    const bool keyed = keys_ && keys_->hasKey(host);
    if (keyed && !private_) {
        refuseInTheClear();
        return;
    }
    if (!private_ || (plainHosts_.contains(host) && !keyed)) {
        probeThenSendPlain();
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
    if (device_)
        device_->cancel();
}

void FileSender::endBatch()
{
    toldLoosened_ = false;
    gaveUp_.clear();
    if (private_)
        private_->endBatch();
    if (device_)
        device_->endBatch();
}

QString loosenedMessage(const QString& name)
{
    return name + QStringLiteral("'s copy takes files only: the folder's files arrive loose");
}
