#include "window/traytexts.h"

#include "presence/notices.h"
#include "station/station.h"

#include <QLocale>
#include <QStringList>

QString trayToolTip(const TrayActivity& activity)
{
    QStringList lines{QStringLiteral("Quillo")};
    if (!activity.receiving.isEmpty())
        lines.append(QStringLiteral("Receiving %1 %2 %")
                         .arg(activity.receiving, QString::number(activity.receivedPercent)));
    if (activity.sendingRow > 0)
        lines.append(
            QStringLiteral("Sending %1 of %2")
                .arg(QString::number(activity.sendingRow), QString::number(activity.sendingRows)));
    if (lines.size() == 1)
        lines.append(QStringLiteral("Idle"));
    return lines.join(QLatin1Char('\n'));
}

QString readableSize(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString receivedNotice(const QString& name, qint64 size, const QString& peer)
{
    return QStringLiteral("%1 (%2) from %3").arg(name, readableSize(size), peer);
}

QString chatNotice(const QList<ChatLine>& lines)
{
    QStringList shown;
    for (const ChatLine& line : lines) {
        for (const ShownLine& part : shownChatLines(receivedLineSpeaker(line.name), line.text))
            shown.append(part.speaker + part.text);
    }
    return shown.join(QLatin1Char('\n'));
}
