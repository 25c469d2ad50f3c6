#include "transfer/receivedname.h"

#include "platform/peertext.h"

namespace
{

constexpr int kMaxNumber = 9999;
// The longest file name the file systems we run on can hold, in bytes, less room for the
// ".part" suffix and a " (9999)" number.
constexpr int kMaxNameBytes = 255 - 5 - 7;

bool hasControlCharacter(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

// What is left to see of a name: no invisible characters, and no leading dots, so that a
// file never arrives hidden (".bash_login" is saved as "bash_login").
QString visiblePart(const QString& name)
{
    const QString visible = withoutInvisibleCharacters(name);
    qsizetype start = 0;
    while (start < visible.size() && visible.at(start) == QLatin1Char('.'))
        ++start;
    return visible.mid(start).trimmed();
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
