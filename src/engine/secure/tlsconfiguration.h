#pragma once

#include <QSslConfiguration>
#include <QString>

#include <optional>

class Identity;

// Both ends of the private port: TLS 1.3 only, each showing its own certificate and
// asking for the other's, which the address book judges, not any authority.
QSslConfiguration privateTlsConfiguration(const Identity& identity);

// Why TLS cannot be used here, when it cannot: no TLS library could be loaded.
std::optional<QString> tlsUnavailable();
