#include "localsend/devicemessage.h"

#include "addressbook/peerkeys.h"
#include "localsend/devicebook.h"

#include <QNetworkReply>

DeviceMessage::DeviceMessage(DeviceBook& devices, const DeviceInfo& own, QObject* parent)
    : QObject(parent), client_(devices), devices_(devices), own_(own)
{
}

void DeviceMessage::send(const QString& host, const QString& text)
{
    host_ = host;
    text_ = text.toUtf8();
    const OfferedFile file{QStringLiteral("1"), QStringLiteral("message.txt"), text_.size(), text};
    QNetworkReply* reply =
        client_.post(deviceUrl(host, devices_.port(host), QStringLiteral("prepare-upload")),
                     prepareUploadDocument(own_, {file}));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { answered(reply, true); });
}

void DeviceMessage::answered(QNetworkReply* reply, bool offering)
{
    reply->deleteLater();
    const int status = DeviceClient::status(reply);
    if (DeviceClient::certificateRefused(reply)) {
        Q_EMIT done(keyNotShownText(client_.refusedName(), host_));
        return;
    }
    if (status == 0) {
        Q_EMIT done(reply->errorString());
        return;
    }
    if (status == 401) {
        Q_EMIT done(QStringLiteral("the device asks for a PIN"));
        return;
    }
    if (status < 200 || status >= 300) {
        Q_EMIT done(deviceStatusText(status, offering));
        return;
    }
    const std::optional<Acceptance> acceptance =
        status == 200 && offering ? readAcceptance(reply->readAll()) : std::nullopt;
    if (!acceptance || !acceptance->tokens.contains(QStringLiteral("1"))) {
        Q_EMIT done({});
        return;
    }
    const QUrlQuery query{{QStringLiteral("sessionId"), acceptance->sessionId},
                          {QStringLiteral("fileId"), QStringLiteral("1")},
                          {QStringLiteral("token"), acceptance->tokens.value(QStringLiteral("1"))}};
    QNetworkReply* upload = client_.post(
        deviceUrl(host_, devices_.port(host_), QStringLiteral("upload"), query), text_);
    connect(upload, &QNetworkReply::finished, this, [this, upload] { answered(upload, false); });
}
