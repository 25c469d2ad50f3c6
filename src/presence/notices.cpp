#include "presence/notices.h"

#include "platform/clocktext.h"

#include <QRegularExpression>

namespace
{

// The notice shows the time to the minute: HH:MM of HH:MM:SS.
constexpr int kNoticeTimeLength = 5;

} // namespace

QString onlineNotice(const QString& name, const QTime& arrival)
{
    return name + QStringLiteral(" is online at ") + clockText(arrival).left(kNoticeTimeLength);
}

QString receivedLineSpeaker(const QString& name)
{
    return name + QStringLiteral(" Says: ");
}

QString ownLineSpeaker()
{
    return QStringLiteral("You Said: ");
}

QStringList chatMessageLines(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\n|\\r|\\x{2028}|\\x{2029}"));
    QStringList lines = text.split(lineBreak);
    for (QString& line : lines) {
        line.removeIf([](QChar c) {
            return c.category() == QChar::Other_Format || c.category() == QChar::Other_Control;
        });
    }
    return lines;
}

QString continuedLineSpeaker()
{
    return QStringLiteral("    | ");
}
