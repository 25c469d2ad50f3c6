#pragma once

#include <QSslConfiguration>
#include <QString>

#include <memory>
#include <optional>

class Identity;
class TlsContext;

// Both ends of the private port (see TlsContext), made once for an identity while any
// connection holds it: reading the key for each would slow a burst of them. Nothing when
// the identity's key cannot be used, error then saying why.
std::shared_ptr<const TlsContext> privateTlsContext(const Identity& identity,
                                                    QString* error = nullptr);

// LocalSend's port, on Qt's TLS sockets: this side's certificate, TLS 1.2 or later as such
// devices speak it, a client's certificate asked for but not required, and never checked
// against an authority.
QSslConfiguration deviceTlsConfiguration(const Identity& identity);

// Why TLS cannot be used here, when it cannot: no TLS library could be loaded.
std::optional<QString> tlsUnavailable();
