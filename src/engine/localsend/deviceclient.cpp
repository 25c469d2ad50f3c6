#include "localsend/deviceclient.h"

#include "localsend/messages.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace
{

const char* const kRefusedProperty = "quilloCertificateRefused";

} // namespace

DeviceClient::DeviceClient(QObject* parent) : QObject(parent)
{
    // A proxy from the environment would see the files, and could not reach a LAN device.
    manager_.setProxy(QNetworkProxy::NoProxy);
}

QNetworkRequest DeviceClient::request(const QUrl& url) const
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(idleTimeout_.count()));
    return request;
}

QNetworkReply* DeviceClient::get(const QUrl& url)
{
    return watch(manager_.get(request(url)));
}

QNetworkReply* DeviceClient::post(const QUrl& url, const QByteArray& json)
{
    QNetworkRequest request = this->request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return watch(manager_.post(request, json));
}

QNetworkReply* DeviceClient::post(const QUrl& url, QIODevice* body, qint64 size)
{
    QNetworkRequest request = this->request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/octet-stream"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, size);
    return watch(manager_.post(request, body));
}

QNetworkReply* DeviceClient::watch(QNetworkReply* reply)
{
    // Either comes before the request is sent, and the connection waits for the answer.
    connect(reply, &QNetworkReply::sslErrors, this, [this, reply] {
        if (accepts(reply, reply->sslConfiguration().peerCertificate()))
            reply->ignoreSslErrors();
    });
    connect(reply, &QNetworkReply::encrypted, this, [this, reply] {
        if (!accepts(reply, reply->sslConfiguration().peerCertificate()))
            reply->abort();
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply] {
        if (reply->bytesAvailable() > kMaxDocumentBytes)
            reply->abort();
    });
    return reply;
}

bool DeviceClient::accepts(QNetworkReply* reply, const QSslCertificate& certificate)
{
    const QString host = reply->url().host();
    if (!certificate.isNull() && (!check_ || check_(host, certificateFingerprint(certificate))))
        return true;
    reply->setProperty(kRefusedProperty, true);
    return false;
}

bool DeviceClient::certificateRefused(const QNetworkReply* reply)
{
    return reply->property(kRefusedProperty).toBool();
}

int DeviceClient::status(const QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QUrl deviceUrl(const QString& host, quint16 port, const QString& route, const QUrlQuery& query)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    url.setPort(port);
    url.setPath(QStringLiteral("/api/localsend/v2/") + route);
    url.setQuery(query);
    return url;
}

QByteArray certificateFingerprint(const QSslCertificate& certificate)
{
    return certificate.digest(QCryptographicHash::Sha256);
}
