#pragma once

#include "platform/clock.h"
#include "platform/randomsource.h"

#include <QList>
#include <QTime>

#include <list>
#include <optional>

// A clock whose time of day stays where a test puts it, and whose steady time moves only
// when the test advances it, ringing the alarms that fall due on the way.
class FixedClock : public Clock
{
public:
    QTime now{0, 0, 0};

    QTime timeOfDay() const override { return now; }
    std::chrono::milliseconds steadyTime() const override { return steady_; }
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> rang) override
    {
        return std::make_unique<ManualAlarm>(*this, std::move(rang));
    }

    // Moves the steady time on by step. Each alarm due by then rings at its own time, the
    // earliest first, and an alarm set again as it rings rings again if due.
    void advance(std::chrono::milliseconds step)
    {
        const std::chrono::milliseconds end = steady_ + step;
        while (ManualAlarm* next = nextDue(end)) {
            steady_ = next->due;
            next->armed = false;
            next->rang();
        }
        steady_ = end;
    }

    // How long until the next alarm set rings; none when none is set.
    std::optional<std::chrono::milliseconds> nextAlarm() const
    {
        const ManualAlarm* next = nextDue(std::chrono::milliseconds::max());
        return next ? std::optional(next->due - steady_) : std::nullopt;
    }

private:
    struct ManualAlarm : Alarm {
        ManualAlarm(FixedClock& clock, std::function<void()> rang)
            : clock(clock), rang(std::move(rang))
        {
            clock.alarms_.push_back(this);
        }
        ~ManualAlarm() override { clock.alarms_.remove(this); }
        void set(std::chrono::milliseconds after) override
        {
            due = clock.steady_ + after;
            armed = true;
        }
        void cancel() override { armed = false; }
        bool isSet() const override { return armed; }

        FixedClock& clock;
        std::function<void()> rang;
        std::chrono::milliseconds due{};
        bool armed = false;
    };

    ManualAlarm* nextDue(std::chrono::milliseconds end) const
    {
        ManualAlarm* next = nullptr;
        for (ManualAlarm* alarm : alarms_)
            if (alarm->armed && alarm->due <= end && (!next || alarm->due < next->due))
                next = alarm;
        return next;
    }

    std::chrono::milliseconds steady_{0};
    std::list<ManualAlarm*> alarms_;
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
