#include "text/peertext.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <array>

namespace
{

constexpr unsigned char kFirstDifferentByte = 0x80;
constexpr unsigned char kLastDifferentByte = 0x9f;

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F. The five bytes it leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep their Latin-1 control code points, as
// most decoders do.
constexpr std::array<char16_t, kLastDifferentByte - kFirstDifferentByte + 1> kWindows1252 = {
    0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, // 0x80
    0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d, 0x017d, 0x008f, // 0x88
    0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014, // 0x90
    0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178, // 0x98
};

QString fromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes.at(i));
        const bool differs = byte >= kFirstDifferentByte && byte <= kLastDifferentByte;
        text[i] = QChar(differs ? kWindows1252[byte - kFirstDifferentByte] : char16_t(byte));
    }
    return text;
}

} // namespace

QString textFromPeer(const QByteArray& bytes)
{
    // Stateless, so that a sequence cut off at the end counts as an error instead of
    // waiting for bytes that never come; the BOM is kept, as the bytes hold it.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

bool isInvisibleCharacter(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString withoutInvisibleCharacters(const QString& text)
{
    // By code point: tags and other format characters lie beyond the first 65,536 too.
    QString shown;
    shown.reserve(text.size());
    for (const uint c : text.toUcs4()) {
        if (!isInvisibleCharacter(c))
            shown += QChar::fromUcs4(c);
    }
    return shown;
}

QStringList shownLines(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\n|\\r|\\x{2028}|\\x{2029}"));
    QStringList lines = text.split(lineBreak);
    for (QString& line : lines)
        line = withoutInvisibleCharacters(line);
    return lines;
}

QString shownOnOneLine(const QString& text)
{
    return shownLines(text).join(QStringLiteral(" | "));
}
