#include "window/peertextview.h"

#include <QTextDocument>

QString plainToolTip(const QString& text)
{
    return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString notificationBody(const QString& text)
{
    QString body = text;
    body.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    body.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    body.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    return body;
}

QString menuText(const QString& text)
{
    QString shown = text;
    return shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
}
