#include "localsend/deviceclient.h"

#include "localsend/devicebook.h"
#include "localsend/messages.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace
{

const char* const kRefusedProperty = "quilloCertificateRefused";

QAbstractSocket::SocketError socketErrorOf(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QAbstractSocket::ConnectionRefusedError;
    case QNetworkReply::RemoteHostClosedError:
        return QAbstractSocket::RemoteHostClosedError;
    case QNetworkReply::HostNotFoundError:
        return QAbstractSocket::HostNotFoundError;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QAbstractSocket::SocketTimeoutError;
    case QNetworkReply::SslHandshakeFailedError:
        return QAbstractSocket::SslHandshakeFailedError;
    default:
        return QAbstractSocket::UnknownSocketError;
    }
}

} // namespace

DeviceClient::DeviceClient(DeviceBook& devices, QObject* parent)
    : QObject(parent), devices_(devices)
{
    // A proxy from the environment would see the files, and could not reach a LAN device.
    manager_.setProxy(QNetworkProxy::NoProxy);
}

QNetworkRequest DeviceClient::request(const QUrl& url, std::chrono::milliseconds patience) const
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(std::max(idleTimeout_, patience).count()));
    return request;
}

QNetworkReply* DeviceClient::get(const QUrl& url)
{
    return watch(manager_.get(request(url)));
}

QNetworkReply* DeviceClient::post(const QUrl& url, const QByteArray& json,
                                  std::chrono::milliseconds patience)
{
    QNetworkRequest request = this->request(url, patience);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return watch(manager_.post(request, json));
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
    if (certificate.isNull()) {
        reply->setProperty(kRefusedProperty, true);
        return false;
    }
    const KeyCheck check =
        devices_.checkCertificate(reply->url().host(), certificateFingerprint(certificate));
    if (!check.isRefused())
        return true;
    refusedName_ = check.name;
    reply->setProperty(kRefusedProperty, true);
    return false;
}

bool DeviceClient::certificateRefused(const QNetworkReply* reply)
{
    return reply->property(kRefusedProperty).toBool();
}

DeviceAnswer DeviceClient::answer(const QNetworkReply* reply) const
{
    DeviceAnswer answer;
    answer.status = status(reply);
    answer.error = socketErrorOf(reply->error());
    answer.errorString = reply->errorString();
    answer.certificateRefused = certificateRefused(reply);
    if (answer.certificateRefused)
        answer.refusedName = refusedName_;
    return answer;
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
