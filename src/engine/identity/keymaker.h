#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A new key pair on the curve P-256 and a self-signed certificate for it, both in PEM:
// the private key (PKCS #8) first, then the certificate. Nothing when the system's
// cryptographic library cannot make them; error then says why.
std::optional<QByteArray> makeIdentityPem(QString* error);

// The public half of the private key in pem, as a certificate carries it (DER
// SubjectPublicKeyInfo, what QSslKey::toDer() gives for a public key). Empty when pem
// holds no private key.
QByteArray publicKeyDer(const QByteArray& privateKeyPem);
