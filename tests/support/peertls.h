#pragma once

#include "identity/identity.h"
#include "secure/tlsconfiguration.h"

#include <QSslConfiguration>

// The private port as another copy, or another program, may speak it with Qt's own TLS
// socket: as LocalSend's port is spoken, its certificate shown and the other's asked for,
// never checked against an authority, but TLS 1.3 only.
inline QSslConfiguration privateTlsConfiguration(const Identity& identity)
{
    QSslConfiguration configuration = deviceTlsConfiguration(identity);
    configuration.setProtocol(QSsl::TlsV1_3OrLater);
    return configuration;
}
