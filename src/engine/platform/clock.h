#pragma once

#include <QTime>

#include <chrono>
#include <functional>
#include <memory>

// Goes off once, some time after it is set, and calls what it was made with.
class Alarm
{
public:
    virtual ~Alarm() = default;
    // Goes off after this long; setting it again while it is set moves it.
    virtual void set(std::chrono::milliseconds after) = 0;
    virtual void cancel() = 0;
    virtual bool isSet() const = 0;
};

// Time as the program sees it: the local time of day, a steady time to measure what passes,
// and alarms. The system's follows the machine and the event loop; a test's moves only when
// the test moves it.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QTime timeOfDay() const = 0;
    // The time passed since some fixed moment; it never goes back.
    virtual std::chrono::milliseconds steadyTime() const = 0;
    // An alarm that calls rang each time it goes off. It must not outlive the clock.
    virtual std::unique_ptr<Alarm> makeAlarm(std::function<void()> rang) = 0;
};

class SystemClock : public Clock
{
public:
    QTime timeOfDay() const override;
    std::chrono::milliseconds steadyTime() const override;
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> rang) override;
};

// The system's clock holds nothing, so one serves every part that is given no other.
SystemClock& systemClock();
