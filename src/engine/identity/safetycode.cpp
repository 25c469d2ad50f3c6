#include "identity/safetycode.h"

#include "identity/certificatekey.h"
#include "platform/sha256.h"

#include <QSslCertificate>
#include <QStringList>

#include <algorithm>

namespace
{

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int kGroups = 10;
constexpr int kGroupLength = 4;
constexpr int kBitsPerCharacter = 5;
constexpr int kKeyBytes = 32;
// The pair's code: 7 groups of 5 digits, each from 4 bytes of the digest (the bias of
// taking them modulo 100000 is below 1 in 40000), 116 bits in all.
constexpr int kPairGroups = 7;
constexpr int kPairGroupBytes = 4;
constexpr int kPairGroupDigits = 5;
constexpr quint32 kPairGroupModulus = 100000;
// Keeps the pair's digest from meaning anything in another use of the same keys.
constexpr char kPairDomain[] = "Quillo pair comparison code, version 1";

} // namespace

QByteArray keyOf(const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return {};
    const std::variant<QByteArray, QString> key = certificateKey(certificate.toDer());
    return std::holds_alternative<QByteArray>(key) ? std::get<QByteArray>(key) : QByteArray();
}

QString keyText(const QByteArray& key)
{
    return QString::fromLatin1(key.toHex());
}

QByteArray keyFromText(const QString& text)
{
    const QByteArray hex = text.trimmed().toLatin1().toLower();
    if (hex.size() != 2 * kKeyBytes)
        return {};
    for (const char c : hex)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return {};
    return QByteArray::fromHex(hex);
}

QString safetyCode(const QByteArray& key)
{
    QString code;
    int bit = 0;
    for (int group = 0; group < kGroups; ++group) {
        if (group > 0)
            code += QLatin1Char(' ');
        for (int i = 0; i < kGroupLength; ++i, bit += kBitsPerCharacter) {
            int value = 0;
            for (int b = bit; b < bit + kBitsPerCharacter; ++b) {
                const int byte = b / 8;
                const int set = byte < key.size() ? (quint8(key.at(byte)) >> (7 - b % 8)) & 1 : 0;
                value = value << 1 | set;
            }
            code += QLatin1Char(kAlphabet[value]);
        }
    }
    return code;
}

QString pairCode(const QByteArray& ours, const QByteArray& theirs)
{
    const auto [low, high] = std::minmax(ours, theirs);
    Sha256 digest;
    digest.add(kPairDomain, sizeof kPairDomain); // with its terminating zero
    digest.add(low.constData(), low.size());
    digest.add(high.constData(), high.size());
    const QByteArray bytes = digest.result();
    QStringList groups;
    for (int group = 0; group < kPairGroups; ++group) {
        quint32 value = 0;
        for (int i = 0; i < kPairGroupBytes; ++i)
            value = value << 8 | quint8(bytes.at(group * kPairGroupBytes + i));
        groups.append(QStringLiteral("%1").arg(value % kPairGroupModulus, kPairGroupDigits, 10,
                                               QLatin1Char('0')));
    }
    return groups.join(QLatin1Char(' '));
}
