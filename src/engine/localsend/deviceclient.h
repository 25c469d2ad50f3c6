#pragma once

#include <QAbstractSocket>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrlQuery>

#include <chrono>

class DeviceBook;
class QNetworkReply;
class QSslCertificate;

// What became of a request to a device: its HTTP status, or 0 and the error that ended it.
struct DeviceAnswer {
    int status = 0;
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QString errorString;
    // The device showed another certificate than the one pinned for its address, that of
    // the entry refusedName, or none at all: nothing was sent.
    bool certificateRefused = false;
    QString refusedName;
    // An upload's file could not be read on; errorString says why.
    bool unreadable = false;
};

// HTTPS requests to LocalSend devices. Their certificates are their own, signed by no one,
// so none is taken on a signature: each connection's certificate is judged by its
// fingerprint alone, and one judged wrong ends the request before anything is sent on it.
class DeviceClient : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(60);

    // Certificates are judged by the pins devices keeps, which must outlive the client.
    explicit DeviceClient(DeviceBook& devices, QObject* parent = nullptr);

    // A request that moves nothing for this long ends with a timeout.
    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }

    // The replies belong to the caller, who deletes them (later) once finished. A reply
    // whose body grows past kMaxDocumentBytes is aborted.
    QNetworkReply* get(const QUrl& url);
    // patience, when longer than the idle timeout, is how long the answer may take: a
    // person at the device decides on an offer.
    QNetworkReply* post(const QUrl& url, const QByteArray& json,
                        std::chrono::milliseconds patience = {});

    // The entry whose pinned certificate the last refused one was not.
    const QString& refusedName() const { return refusedName_; }
    // Whether reply ended because its certificate was refused.
    static bool certificateRefused(const QNetworkReply* reply);
    // What became of reply, once finished.
    DeviceAnswer answer(const QNetworkReply* reply) const;
    // The HTTP status, or 0 when there was no answer.
    static int status(const QNetworkReply* reply);

private:
    QNetworkRequest request(const QUrl& url, std::chrono::milliseconds patience = {}) const;
    QNetworkReply* watch(QNetworkReply* reply);
    bool accepts(QNetworkReply* reply, const QSslCertificate& certificate);

    QNetworkAccessManager manager_;
    DeviceBook& devices_;
    QString refusedName_;
    std::chrono::milliseconds idleTimeout_ = kIdleTimeout;
};

// https://HOST:PORT/api/localsend/v2/ROUTE?QUERY
QUrl deviceUrl(const QString& host, quint16 port, const QString& route,
               const QUrlQuery& query = {});
// What a device's HTTP status means, in plain words; offering for a prepare-upload's.
QString deviceStatusText(int status, bool offering);
// The fingerprint LocalSend names a device by: the SHA-256 of its certificate.
QByteArray certificateFingerprint(const QSslCertificate& certificate);
