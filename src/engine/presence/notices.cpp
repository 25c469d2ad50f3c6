#include "presence/notices.h"

#include "platform/clocktext.h"
#include "platform/peertext.h"

#include <QRegularExpression>

QString onlineNotice(const QString& name, const QTime& arrival)
{
    return name + QStringLiteral(" is online at ") + clockMinutesText(arrival);
}

QString receivedLineSpeaker(const QString& name)
{
    return name + QStringLiteral(" Says: ");
}

QString ownLineSpeaker()
{
    return QStringLiteral("You Said: ");
}

QList<ShownLine> shownChatLines(const QString& speaker, const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\n|\\r|\\x{2028}|\\x{2029}"));
    QList<ShownLine> lines;
    for (const QString& line : text.split(lineBreak)) {
        lines.append({lines.isEmpty() ? speaker : QStringLiteral("    | "),
                      withoutInvisibleCharacters(line)});
    }
    return lines;
}

QString droppedChatNotice(const QString& name, int count)
{
    return QStringLiteral("%1 chat lines from %2 were not shown: too many at once")
        .arg(QString::number(count), withoutInvisibleCharacters(name));
}
