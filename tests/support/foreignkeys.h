#pragma once

#include <QByteArray>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

// A key of a kind Quillo does not make ("RSA", "ED25519", or "EC" on curve), with a
// self-signed certificate for it: what another program might show on the private port.
struct ForeignIdentity {
    QByteArray certificateDer;
    QByteArray keyPem;
};

inline ForeignIdentity foreignIdentity(const char* kind, const char* curve = nullptr)
{
    const bool rsa = qstrcmp(kind, "RSA") == 0;
    EVP_PKEY* key = curve ? EVP_PKEY_Q_keygen(nullptr, nullptr, kind, curve)
                    : rsa ? EVP_PKEY_Q_keygen(nullptr, nullptr, kind, size_t(2048))
                          : EVP_PKEY_Q_keygen(nullptr, nullptr, kind);
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
    // An Edwards key signs with its own digest.
    X509_sign(certificate, key, qstrcmp(kind, "ED25519") == 0 ? nullptr : EVP_sha256());
    ForeignIdentity made;
    unsigned char* bytes = nullptr;
    const int length = i2d_X509(certificate, &bytes);
    made.certificateDer = QByteArray(reinterpret_cast<const char*>(bytes), length);
    OPENSSL_free(bytes);
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(pem, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* pemBytes = nullptr;
    const long pemLength = BIO_get_mem_data(pem, &pemBytes);
    made.keyPem = QByteArray(pemBytes, int(pemLength));
    BIO_free(pem);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return made;
}
