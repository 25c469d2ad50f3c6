#include "secure/tlsconfiguration.h"

#include "identity/identity.h"
#include "platform/tlscontext.h"

#include <QSslSocket>

std::shared_ptr<const TlsContext> privateTlsContext(const Identity& identity, QString* error)
{
    static std::weak_ptr<const TlsContext> last;
    static QByteArray lastKey;
    if (std::shared_ptr<const TlsContext> context = last.lock();
        context && lastKey == identity.key())
        return context;
    std::shared_ptr<const TlsContext> context =
        TlsContext::make(identity.certificate().toDer(), identity.privateKey().toPem(), error);
    last = context;
    lastKey = identity.key();
    return context;
}

QSslConfiguration deviceTlsConfiguration(const Identity& identity)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setLocalCertificate(identity.certificate());
    configuration.setPrivateKey(identity.privateKey());
    configuration.setPeerVerifyMode(QSslSocket::QueryPeer);
    configuration.setCaCertificates({});
    return configuration;
}

std::optional<QString> tlsUnavailable()
{
    if (QSslSocket::supportsSsl())
        return std::nullopt;
    return QStringLiteral("Private transfers are off: no TLS library could be loaded, so "
                          "Quillo sends and receives in the clear only");
}
