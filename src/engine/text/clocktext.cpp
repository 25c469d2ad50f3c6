#include "text/clocktext.h"

QString clockText(const QTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString clockMinutesText(const QTime& time)
{
    return time.toString(QStringLiteral("HH:mm"));
}
