#include "text/timelefttext.h"

#include <cmath>

namespace
{

QString count(qint64 number, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(number).arg(QLatin1String(number == 1 ? one : many));
}

QString about(const QString& howLong)
{
    return QStringLiteral("About ") + howLong + QStringLiteral(" left");
}

// The seconds in whole steps of step seconds: up when rounding up, else to the nearest.
qint64 steps(double seconds, qint64 step, bool up)
{
    const double ratio = seconds / double(step);
    return qint64(up ? std::ceil(ratio) : std::floor(ratio + 0.5));
}

} // namespace

QString timeLeftText(qint64 remaining, qint64 bytes, int seconds)
{
    if (remaining <= 0 || bytes <= 0 || seconds <= 0)
        return {};
    const double left = std::ceil(double(remaining) * double(seconds) / double(bytes));
    if (left <= 5)
        return QStringLiteral("A few seconds left");
    const qint64 fives = steps(left, 5, true) * 5;
    if (fives < 60)
        return about(count(fives, "second", "seconds"));
    const qint64 minutes = steps(left, 60, false);
    if (minutes < 60)
        return about(count(minutes, "minute", "minutes"));
    // Beyond an hour, to ten minutes.
    const qint64 tens = steps(left, 600, false) * 10;
    const QString hours = count(tens / 60, "hour", "hours");
    if (tens % 60 == 0)
        return about(hours);
    return about(hours + QLatin1Char(' ') + count(tens % 60, "minute", "minutes"));
}
