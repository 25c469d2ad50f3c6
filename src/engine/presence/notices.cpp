#include "presence/notices.h"

#include "text/clocktext.h"
#include "text/peertext.h"

QString onlineNotice(const QString& name, const QTime& arrival)
{
    return shownOnOneLine(name) + QStringLiteral(" is online at ") + clockMinutesText(arrival);
}

QString receivedLineSpeaker(const QString& name)
{
    return shownOnOneLine(name) + QStringLiteral(" Says: ");
}

QString ownLineSpeaker()
{
    return QStringLiteral("You Said: ");
}

QList<ShownLine> shownChatLines(const QString& speaker, const QString& text)
{
    QList<ShownLine> lines;
    for (const QString& line : shownLines(text))
        lines.append({lines.isEmpty() ? speaker : QStringLiteral("    | "), line});
    return lines;
}

QString droppedChatNotice(const QString& name, int count)
{
    return QStringLiteral("%1 chat lines from %2 were not shown: too many at once")
        .arg(QString::number(count), withoutInvisibleCharacters(name));
}
