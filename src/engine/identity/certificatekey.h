#pragma once

#include <QByteArray>
#include <QString>

#include <variant>

// The key a certificate carries, as peers keep it: the SHA-256 of its SubjectPublicKeyInfo
// exactly as the certificate's DER holds it. Only ECDSA keys on P-256 are taken: any other
// kind, or a certificate that cannot be read, gives the reason it is refused instead, in
// words for the user ("its certificate holds an RSA key ...").
std::variant<QByteArray, QString> certificateKey(const QByteArray& certificateDer);
// The SubjectPublicKeyInfo of a DER certificate, its bytes as they are; empty when the
// certificate's outer structure cannot be walked.
QByteArray subjectPublicKeyInfo(const QByteArray& certificateDer);
