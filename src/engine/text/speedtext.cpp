#include "text/speedtext.h"

QString speedText(qint64 bytes, int seconds, const QLocale& locale)
{
    const double kilobytesPerSecond = double(bytes) / double(seconds) / 1024.0;
    // Width 6 with two decimals pads to three digits before the point; never grouped.
    QString number = QString::asprintf("%06.2f", kilobytesPerSecond);
    number.replace(QLatin1Char('.'), locale.decimalPoint());
    return number + QStringLiteral(" K per Second");
}
