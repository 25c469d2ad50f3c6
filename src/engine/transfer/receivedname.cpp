#include "transfer/receivedname.h"

#include "text/peertext.h"

#include <QList>

#include <array>
#include <utility>

namespace
{

constexpr int kMaxNumber = 9999;
// The longest file name the file systems we run on can hold, in bytes, less room for the
// ".part" suffix and a " (9999)" number.
constexpr int kMaxNameBytes = 255 - 5 - 7;

// Characters that show nothing at all: the code points Unicode says to draw as nothing
// when unsupported (fillers, joiners, variation selectors, tags and the like), and the
// braille blank, which is drawn as an empty cell.
constexpr std::array<std::pair<char32_t, char32_t>, 18> kBlankRanges = {{
    {0x00ad, 0x00ad},
    {0x034f, 0x034f},
    {0x061c, 0x061c},
    {0x115f, 0x1160},
    {0x17b4, 0x17b5},
    {0x180b, 0x180f},
    {0x200b, 0x200f},
    {0x202a, 0x202e},
    {0x2060, 0x206f},
    {0x2800, 0x2800},
    {0x3164, 0x3164},
    {0xfe00, 0xfe0f},
    {0xfeff, 0xfeff},
    {0xffa0, 0xffa0},
    {0xfff0, 0xfff8},
    {0x1bca0, 0x1bca3},
    {0x1d173, 0x1d17a},
    {0xe0000, 0xe0fff},
}};

bool hasControlCharacter(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

// Whether a character leaves nothing to see: spaces of any width, and the above.
bool isBlank(char32_t c)
{
    if (QChar::isSpace(c))
        return true;
    for (const auto& [first, last] : kBlankRanges) {
        if (c >= first && c <= last)
            return true;
    }
    return false;
}

// What is left to see of a name: no invisible characters, nothing blank at either end,
// and no dot at the start, so that a file never arrives hidden (".bash_login" is saved as
// "bash_login"). Blanks and dots go together, so that dropping one never uncovers the
// other (". .bash_login" is saved as "bash_login" too). A name of blanks alone is empty.
QString visiblePart(const QString& name)
{
    const QList<uint> text = withoutInvisibleCharacters(name).toUcs4();
    qsizetype start = 0;
    while (start < text.size() && (text.at(start) == U'.' || isBlank(text.at(start))))
        ++start;
    qsizetype end = text.size();
    while (end > start && isBlank(text.at(end - 1)))
        --end;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(text.constData()) + start,
                             end - start);
}

} // namespace

std::optional<QString> receivedFileName(const QByteArray& announced)
{
    if (hasControlCharacter(announced))
        return std::nullopt;
    const qsizetype lastSeparator =
        std::max(announced.lastIndexOf('/'), announced.lastIndexOf('\\'));
    // Names travel in the sender's 8-bit text: UTF-8, or Windows-1252 from older peers.
    const QString name = visiblePart(textFromPeer(announced.mid(lastSeparator + 1)));
    if (name.isEmpty() || name.toUtf8().size() > kMaxNameBytes)
        return std::nullopt;
    return name;
}

QString firstFreeName(const QString& name, const std::function<bool(const QString&)>& isTaken)
{
    if (!isTaken(name))
        return name;
    // "notes.txt" becomes "notes (1).txt"; ".profile" becomes ".profile (1)".
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        dot = name.size();
    const QString stem = name.left(dot);
    const QString extension = name.mid(dot);
    for (int n = 1; n <= kMaxNumber; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(extension);
        if (!isTaken(candidate))
            return candidate;
    }
    return {};
}
