#pragma once

#include <QByteArray>
#include <QString>

class QSslCertificate;

// A key is the SHA-256 of the certificate's SubjectPublicKeyInfo as the certificate holds
// it (see certificateKey()); the address book keeps it as 64 lower-case hexadecimal digits.
// Empty for a null certificate, and for one whose key Quillo does not take.
QByteArray keyOf(const QSslCertificate& certificate);
QString keyText(const QByteArray& key);
// The key back from its text; empty when the text is not one.
QByteArray keyFromText(const QString& text);

// The code people compare aloud: the first 200 bits of the key as 10 groups of 4
// characters, 5 bits to a character, in an alphabet without I, L, O and U.
QString safetyCode(const QByteArray& key);

// The code two people compare, one on each screen: the same for both copies whichever
// side asks, as the two keys go into it in byte order. 35 digits in groups of 5.
QString pairCode(const QByteArray& ours, const QByteArray& theirs);
