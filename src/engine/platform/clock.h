#pragma once

#include <QTime>

// The local time of day, replaceable in tests.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QTime timeOfDay() const = 0;
};

class SystemClock : public Clock
{
public:
    QTime timeOfDay() const override;
};
