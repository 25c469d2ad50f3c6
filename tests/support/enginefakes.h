#pragma once

#include "platform/clock.h"
#include "platform/randomsource.h"

#include <QList>
#include <QTime>

class FixedClock : public Clock
{
public:
    QTime now{0, 0, 0};
    QTime timeOfDay() const override { return now; }
};

// Gives the scripted numbers first, then those of the program's own generator.
class ScriptedRandom : public RandomSource
{
public:
    QList<float> numbers;
    float next() override { return numbers.isEmpty() ? unscripted_.next() : numbers.takeFirst(); }

private:
    UnseededRandom unscripted_;
};
