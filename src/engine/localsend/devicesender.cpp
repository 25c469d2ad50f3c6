#include "localsend/devicesender.h"

#include "localsend/devicebook.h"
#include "plain/plainsender.h"

#include <QNetworkReply>

QString deviceStatusText(int status, bool offering)
{
    switch (status) {
    case 400:
        return QStringLiteral("the device could not read the request (HTTP 400)");
    case 403:
        return offering ? QStringLiteral("the person at the device declined the files")
                        : QStringLiteral("the device no longer takes this file (HTTP 403)");
    case 409:
        return QStringLiteral("the device is busy with another transfer");
    case 429:
        return QStringLiteral("the device turned away too many requests; try again later");
    case 500:
        return QStringLiteral("the device failed with an error of its own (HTTP 500)");
    default:
        return QStringLiteral("the device answered HTTP %1").arg(status);
    }
}

DeviceSender::DeviceSender(DeviceBook& devices, Clock& clock, QObject* parent)
    : QObject(parent), client_(devices), upload_(devices), devices_(devices),
      retry_(clock.makeAlarm([this] { offer(); })), retriesAllowed_(PlainSender::kRefusalRetries),
      longestRetryWait_(PlainSender::kLongestRetryWait)
{
    connect(&speed_, &SpeedMeter::ticked, this, &DeviceSender::speedTicked);
    connect(&upload_, &DeviceUpload::progressed, this, [this](qint64 sent) {
        speed_.record(sent);
        Q_EMIT progressed(sent, file_.size);
    });
    connect(&upload_, &DeviceUpload::finished, this, &DeviceSender::uploadAnswered);
}

DeviceSender::~DeviceSender()
{
    if (reply_)
        reply_->abort();
}

void DeviceSender::setRetries(int count, std::chrono::milliseconds longestWait)
{
    retriesAllowed_ = count;
    longestRetryWait_ = longestWait;
}

void DeviceSender::probe(const QString& host)
{
    busy_ = true;
    QNetworkReply* reply =
        client_.get(deviceUrl(host, devices_.port(host), QStringLiteral("info")));
    reply_ = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, host] {
        reply->deleteLater();
        busy_ = false;
        const std::optional<DeviceInfo> info =
            DeviceClient::status(reply) == 200 ? readDeviceInfo(reply->readAll()) : std::nullopt;
        if (info)
            devices_.remember(host, Speaks::LocalSend, info->deviceType);
        Q_EMIT probed(host, info.has_value());
    });
}

void DeviceSender::send(const UpcomingFile& file, const QString& host,
                        const QList<UpcomingFile>& upcoming)
{
    busy_ = true;
    file_ = file;
    retriesLeft_ = retriesAllowed_;
    if (host == host_ && !notTaken_.isEmpty() && ids_.contains(file.path)) {
        if (tokens_.contains(ids_.value(file.path)) && !uploaded_.contains(file.path)) {
            upload();
            return;
        }
        // After send() has returned, as every other ending comes.
        QMetaObject::invokeMethod(
            this,
            [this] {
                end(SendOutcome::NotSent, SendStatus::notSent(NotSentReason::Refused, notTaken_));
            },
            Qt::QueuedConnection);
        return;
    }
    endBatch();
    host_ = host;
    offered_ = {file};
    for (const UpcomingFile& next : upcoming) {
        if (offered_.size() == kMaxFilesPerSession)
            break;
        if (next.path != file.path)
            offered_.append(next);
    }
    for (qsizetype k = 0; k < offered_.size(); ++k)
        ids_.insert(offered_.at(k).path, QString::number(k + 1));
    offer();
}

void DeviceSender::offer()
{
    QList<OfferedFile> files;
    for (const UpcomingFile& file : std::as_const(offered_))
        files.append({ids_.value(file.path), file.name, file.size, {}});
    QUrlQuery query;
    if (pins_.contains(host_))
        query.addQueryItem(QStringLiteral("pin"), pins_.value(host_));
    QNetworkReply* reply = client_.post(
        deviceUrl(host_, devices_.port(host_), QStringLiteral("prepare-upload"), query),
        prepareUploadDocument(own_, files), kDecisionTimeout);
    reply_ = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { offerAnswered(reply); });
}

void DeviceSender::offerAnswered(QNetworkReply* reply)
{
    reply->deleteLater();
    reply_.clear();
    if (failed(client_.answer(reply), true))
        return;
    Q_EMIT statusChanged(SendStatus::at(SendStatus::Stage::Connected));
    if (!busy_)
        return;
    if (DeviceClient::status(reply) == 204) {
        notTaken_ = QStringLiteral("the device needed none of the files");
        end(SendOutcome::NotSent, SendStatus::notSent(NotSentReason::Refused, notTaken_));
        return;
    }
    const std::optional<Acceptance> acceptance = readAcceptance(reply->readAll());
    if (!acceptance) {
        ids_.clear();
        end(SendOutcome::NotSent,
            SendStatus::notSent(NotSentReason::Refused,
                                QStringLiteral("the device's answer could not be read")));
        return;
    }
    sessionId_ = acceptance->sessionId;
    notTaken_ = QStringLiteral("the person at the device declined it");
    tokens_ = QHash<QString, QString>(acceptance->tokens.keyValueBegin(),
                                      acceptance->tokens.keyValueEnd());
    if (tokens_.contains(ids_.value(file_.path)))
        upload();
    else
        end(SendOutcome::NotSent, SendStatus::notSent(NotSentReason::Refused, notTaken_));
}

void DeviceSender::upload()
{
    const QString id = ids_.value(file_.path);
    const QUrlQuery query{{QStringLiteral("sessionId"), sessionId_},
                          {QStringLiteral("fileId"), id},
                          {QStringLiteral("token"), tokens_.value(id)}};
    if (!upload_.start(deviceUrl(host_, devices_.port(host_), QStringLiteral("upload"), query),
                       file_.path, file_.size)) {
        const SendStatus status = SendStatus::notSent(NotSentReason::Unreadable, upload_.error());
        Q_EMIT readFailed(status);
        QMetaObject::invokeMethod(
            this, [this, status] { end(SendOutcome::NotSent, status); }, Qt::QueuedConnection);
        return;
    }
    Q_EMIT statusChanged(SendStatus::at(SendStatus::Stage::Sending));
    Q_EMIT progressed(0, file_.size);
    if (!busy_)
        return; // cancelled by whoever heard
    speed_.record(0);
    speed_.start();
}

void DeviceSender::uploadAnswered(const DeviceAnswer& answer)
{
    if (answer.unreadable) {
        const SendStatus status =
            SendStatus::notSent(NotSentReason::Unreadable, answer.errorString);
        Q_EMIT readFailed(status);
        end(SendOutcome::NotSent, status);
        return;
    }
    if (failed(answer, false))
        return;
    uploaded_.insert(file_.path);
    Q_EMIT progressed(file_.size, file_.size);
    end(SendOutcome::Sent, SendStatus::at(SendStatus::Stage::Sent));
}

bool DeviceSender::failed(const DeviceAnswer& answer, bool offering)
{
    const int status = answer.status;
    if (answer.certificateRefused) {
        SendStatus notShown = SendStatus::at(SendStatus::Stage::KeyNotShown);
        notShown.keyName = answer.refusedName;
        notShown.address = host_;
        Q_EMIT keyChanged(answer.refusedName, host_);
        Q_EMIT triesUsedUp();
        end(SendOutcome::Failed, notShown);
        return true;
    }
    const bool busy =
        status == 409 || (offering && answer.error == QAbstractSocket::ConnectionRefusedError);
    if (busy && retriesLeft_ > 0) {
        const int done = retriesAllowed_ - retriesLeft_--;
        retry_->set(PlainSender::retryWait(done, longestRetryWait_));
        return true;
    }
    if (status == 0) {
        if (offering)
            Q_EMIT triesUsedUp();
        end(SendOutcome::Failed, SendStatus::fromSocketError(answer.error, answer.errorString));
        return true;
    }
    if (status == 401 && offering) {
        Q_EMIT pinNeeded(host_, pins_.contains(host_));
        return true;
    }
    if (status >= 200 && status < 300)
        return false;
    if (offering) {
        ids_.clear();
        Q_EMIT triesUsedUp();
    }
    end(SendOutcome::NotSent,
        SendStatus::notSent(NotSentReason::Refused, deviceStatusText(status, offering)));
    return true;
}

void DeviceSender::answerPin(const QString& pin)
{
    if (!busy_ || reply_)
        return;
    if (!pin.isEmpty()) {
        pins_.insert(host_, pin);
        offer();
        return;
    }
    ids_.clear();
    Q_EMIT triesUsedUp();
    end(SendOutcome::NotSent,
        SendStatus::notSent(NotSentReason::Refused,
                            QStringLiteral("the device asks for a PIN, and none was given")));
}

void DeviceSender::end(SendOutcome outcome, const SendStatus& status)
{
    speed_.stop();
    upload_.abort();
    busy_ = false;
    Q_EMIT statusChanged(status);
    Q_EMIT finished(outcome);
}

void DeviceSender::cancel()
{
    retry_->cancel();
    speed_.stop();
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
    upload_.abort();
    busy_ = false;
    endBatch();
}

void DeviceSender::endBatch()
{
    if (!sessionId_.isEmpty() && uploaded_.size() < tokens_.size())
        sendCancel();
    sessionId_.clear();
    notTaken_.clear();
    ids_.clear();
    tokens_.clear();
    uploaded_.clear();
    offered_.clear();
}

void DeviceSender::sendCancel()
{
    const QUrlQuery query{{QStringLiteral("sessionId"), sessionId_}};
    QNetworkReply* reply = client_.post(
        deviceUrl(host_, devices_.port(host_), QStringLiteral("cancel"), query), QByteArray());
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
