#include "identity/safetycode.h"

#include "platform/sha256.h"

#include <QSslCertificate>
#include <QSslKey>

namespace
{

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int kGroups = 10;
constexpr int kGroupLength = 4;
constexpr int kBitsPerCharacter = 5;
constexpr int kKeyBytes = 32;

} // namespace

QByteArray keyOf(const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return {};
    return Sha256::of(certificate.publicKey().toDer());
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
