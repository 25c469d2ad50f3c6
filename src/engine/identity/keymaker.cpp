#include "identity/keymaker.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <memory>

namespace
{

constexpr int kSerialBytes = 16;
// Nobody checks the dates: the certificate only carries the key, for as long as it is used.
constexpr long kValidDays = 100L * 365;
const char* const kCommonName = "Quillo";

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* object) const { Free(object); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Number = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using Memory = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

QString lastError()
{
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return QString::fromLatin1(text);
}

bool setSerial(X509* certificate)
{
    unsigned char bytes[kSerialBytes];
    if (RAND_bytes(bytes, kSerialBytes) != 1)
        return false;
    bytes[0] &= 0x7F; // a positive number
    const Number serial(BN_bin2bn(bytes, kSerialBytes, nullptr));
    return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate));
}

bool fill(X509* certificate, EVP_PKEY* key)
{
    X509_NAME* name = X509_get_subject_name(certificate);
    return X509_set_version(certificate, 2) && setSerial(certificate) &&
           X509_gmtime_adj(X509_getm_notBefore(certificate), 0) &&
           X509_time_adj_ex(X509_getm_notAfter(certificate), int(kValidDays), 0, nullptr) &&
           X509_set_pubkey(certificate, key) &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(kCommonName), -1, -1,
                                      0) &&
           X509_set_issuer_name(certificate, name) && X509_sign(certificate, key, EVP_sha256()) > 0;
}

} // namespace

std::optional<QByteArray> makeIdentityPem(QString* error)
{
    const Key key(EVP_EC_gen("P-256"));
    const Certificate certificate(X509_new());
    const Memory pem(BIO_new(BIO_s_mem()));
    if (!key || !certificate || !pem || !fill(certificate.get(), key.get()) ||
        !PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(pem.get(), certificate.get())) {
        if (error)
            *error = QStringLiteral("Cannot make a key: ") + lastError();
        return std::nullopt;
    }
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(pem.get(), &bytes);
    return QByteArray(bytes, int(length));
}

QByteArray publicKeyDer(const QByteArray& privateKeyPem)
{
    const Memory pem(BIO_new_mem_buf(privateKeyPem.constData(), int(privateKeyPem.size())));
    const Key key(pem ? PEM_read_bio_PrivateKey(pem.get(), nullptr, nullptr, nullptr) : nullptr);
    const int length = key ? i2d_PUBKEY(key.get(), nullptr) : 0;
    if (length <= 0)
        return {};
    QByteArray der(length, Qt::Uninitialized);
    auto* end = reinterpret_cast<unsigned char*>(der.data());
    return i2d_PUBKEY(key.get(), &end) == length ? der : QByteArray();
}
