#include "identity/certificatekey.h"

#include "platform/sha256.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>

namespace
{

constexpr quint8 kSequence = 0x30;
constexpr quint8 kExplicitVersion = 0xA0;
// The tbsCertificate fields before the key: serialNumber, signature, issuer, validity,
// subject.
constexpr int kFieldsBeforeKey = 5;
const char* const kCurve = "prime256v1";

// One DER element: where it starts, its tag, and where its contents start and end.
struct Element {
    qsizetype start = 0;
    quint8 tag = 0;
    qsizetype contents = 0;
    qsizetype end = 0;
};

// The element at position of der, when it fits inside limit. Lengths of up to four bytes
// are enough for anything a certificate may hold.
std::optional<Element> elementAt(const QByteArray& der, qsizetype position, qsizetype limit)
{
    if (position + 2 > limit)
        return std::nullopt;
    Element element{position, quint8(der.at(position)), position + 2, 0};
    qsizetype length = quint8(der.at(position + 1));
    if (length & 0x80) {
        const int bytes = int(length & 0x7F);
        if (bytes == 0 || bytes > 4 || element.contents + bytes > limit)
            return std::nullopt;
        length = 0;
        for (int i = 0; i < bytes; ++i)
            length = length << 8 | quint8(der.at(element.contents++));
    }
    if (length > limit - element.contents)
        return std::nullopt;
    element.end = element.contents + length;
    return element;
}

struct KeyFreer {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

QString kindOf(EVP_PKEY* key)
{
    if (EVP_PKEY_is_a(key, "RSA") || EVP_PKEY_is_a(key, "RSA-PSS"))
        return QStringLiteral("an RSA key");
    if (EVP_PKEY_is_a(key, "ED25519"))
        return QStringLiteral("an Ed25519 key");
    if (EVP_PKEY_is_a(key, "EC"))
        return QStringLiteral("an elliptic-curve key on another curve than P-256");
    return QStringLiteral("a key of another kind");
}

std::optional<QString> whyNotP256(const QByteArray& info)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(info.constData());
    const std::unique_ptr<EVP_PKEY, KeyFreer> key(d2i_PUBKEY(nullptr, &bytes, long(info.size())));
    if (!key || bytes != reinterpret_cast<const unsigned char*>(info.constData()) + info.size())
        return QStringLiteral("its certificate holds a key that cannot be read");
    char curve[64] = {};
    size_t length = 0;
    if (EVP_PKEY_is_a(key.get(), "EC") &&
        EVP_PKEY_get_group_name(key.get(), curve, sizeof curve, &length) == 1 &&
        qstrcmp(curve, kCurve) == 0)
        return std::nullopt;
    return QStringLiteral("its certificate holds %1, and Quillo takes ECDSA P-256 keys only")
        .arg(kindOf(key.get()));
}

} // namespace

QByteArray subjectPublicKeyInfo(const QByteArray& der)
{
    const std::optional<Element> certificate = elementAt(der, 0, der.size());
    if (!certificate || certificate->tag != kSequence)
        return {};
    const std::optional<Element> signedPart =
        elementAt(der, certificate->contents, certificate->end);
    if (!signedPart || signedPart->tag != kSequence)
        return {};
    std::optional<Element> field = elementAt(der, signedPart->contents, signedPart->end);
    if (field && field->tag == kExplicitVersion)
        field = elementAt(der, field->end, signedPart->end);
    for (int i = 0; i < kFieldsBeforeKey && field; ++i)
        field = elementAt(der, field->end, signedPart->end);
    if (!field || field->tag != kSequence)
        return {};
    return der.mid(field->start, field->end - field->start);
}

std::variant<QByteArray, QString> certificateKey(const QByteArray& certificateDer)
{
    if (certificateDer.isEmpty())
        return QStringLiteral("it showed no certificate");
    const QByteArray info = subjectPublicKeyInfo(certificateDer);
    if (info.isEmpty())
        return QStringLiteral("its certificate cannot be read");
    if (const std::optional<QString> problem = whyNotP256(info))
        return *problem;
    return Sha256::of(info);
}
