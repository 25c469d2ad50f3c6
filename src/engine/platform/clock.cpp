#include "platform/clock.h"

QTime SystemClock::timeOfDay() const
{
    return QTime::currentTime();
}
