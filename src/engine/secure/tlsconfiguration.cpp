#include "secure/tlsconfiguration.h"

#include "identity/identity.h"

#include <QSslSocket>

QSslConfiguration privateTlsConfiguration(const Identity& identity)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_3OrLater);
    configuration.setLocalCertificate(identity.certificate());
    configuration.setPrivateKey(identity.privateKey());
    // Asked for and shown, never checked against an authority: see PeerKeys.
    configuration.setPeerVerifyMode(QSslSocket::QueryPeer);
    configuration.setCaCertificates({});
    return configuration;
}

QSslConfiguration deviceTlsConfiguration(const Identity& identity)
{
    QSslConfiguration configuration = privateTlsConfiguration(identity);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

std::optional<QString> tlsUnavailable()
{
    if (QSslSocket::supportsSsl())
        return std::nullopt;
    return QStringLiteral("Private transfers are off: no TLS library could be loaded, so "
                          "Quillo sends and receives in the clear only");
}
