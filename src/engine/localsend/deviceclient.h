#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QUrlQuery>

#include <chrono>
#include <functional>

class QNetworkReply;
class QSslCertificate;

// HTTPS requests to LocalSend devices. Their certificates are their own, signed by no one,
// so none is taken on a signature: each connection's certificate is judged by its
// fingerprint alone, and one judged wrong ends the request before anything is sent on it.
class DeviceClient : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);

    // Judges a certificate's fingerprint at host; false refuses the connection.
    using CertificateCheck =
        std::function<bool(const QString& host, const QByteArray& fingerprint)>;

    explicit DeviceClient(QObject* parent = nullptr);

    void setCertificateCheck(CertificateCheck check) { check_ = std::move(check); }
    // A request that moves nothing for this long ends with a timeout.
    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }

    // The replies belong to the caller, who deletes them (later) once finished. A reply
    // whose body grows past kMaxDocumentBytes is aborted.
    QNetworkReply* get(const QUrl& url);
    QNetworkReply* post(const QUrl& url, const QByteArray& json);
    // body, already open, is read as the request goes, never whole.
    QNetworkReply* post(const QUrl& url, QIODevice* body, qint64 size);

    // Whether reply ended because its certificate was refused.
    static bool certificateRefused(const QNetworkReply* reply);
    // The HTTP status, or 0 when there was no answer.
    static int status(const QNetworkReply* reply);

private:
    QNetworkRequest request(const QUrl& url) const;
    QNetworkReply* watch(QNetworkReply* reply);
    bool accepts(QNetworkReply* reply, const QSslCertificate& certificate);

    QNetworkAccessManager manager_;
    CertificateCheck check_;
    std::chrono::milliseconds idleTimeout_ = kIdleTimeout;
};

// https://HOST:PORT/api/localsend/v2/ROUTE?QUERY
QUrl deviceUrl(const QString& host, quint16 port, const QString& route,
               const QUrlQuery& query = {});
// What a device's HTTP status means, in plain words; offering for a prepare-upload's.
QString deviceStatusText(int status, bool offering);
// The fingerprint LocalSend names a device by: the SHA-256 of its certificate.
QByteArray certificateFingerprint(const QSslCertificate& certificate);
