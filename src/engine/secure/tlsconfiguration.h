#pragma once

#include <QSslConfiguration>
#include <QString>

#include <optional>

class Identity;

// Both ends of the private port: TLS 1.3 only, each showing its own certificate and
// asking for the other's, which the address book judges, not any authority.
QSslConfiguration privateTlsConfiguration(const Identity& identity);

// LocalSend's port: this side's certificate, TLS 1.2 or later as such devices speak it,
// a client's certificate asked for but not required.
QSslConfiguration deviceTlsConfiguration(const Identity& identity);

// Why TLS cannot be used here, when it cannot: no TLS library could be loaded.
std::optional<QString> tlsUnavailable();
