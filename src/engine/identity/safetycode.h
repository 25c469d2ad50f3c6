#pragma once

#include <QByteArray>
#include <QString>

class QSslCertificate;

// A key is the SHA-256 of a public key in its DER SubjectPublicKeyInfo form; the address
// book keeps it as 64 lower-case hexadecimal digits.
QByteArray keyOf(const QSslCertificate& certificate);
QString keyText(const QByteArray& key);
// The key back from its text; empty when the text is not one.
QByteArray keyFromText(const QString& text);

// The code people compare aloud: the first 200 bits of the key as 10 groups of 4
// characters, 5 bits to a character, in an alphabet without I, L, O and U.
QString safetyCode(const QByteArray& key);
