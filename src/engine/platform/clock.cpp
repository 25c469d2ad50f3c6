#include "platform/clock.h"

#include <QTimer>

namespace
{

class TimerAlarm : public Alarm
{
public:
    explicit TimerAlarm(std::function<void()> rang)
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, std::move(rang));
    }
    void set(std::chrono::milliseconds after) override { timer_.start(after); }
    void cancel() override { timer_.stop(); }
    bool isSet() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

QTime SystemClock::timeOfDay() const
{
    return QTime::currentTime();
}

std::chrono::milliseconds SystemClock::steadyTime() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

std::unique_ptr<Alarm> SystemClock::makeAlarm(std::function<void()> rang)
{
    return std::make_unique<TimerAlarm>(std::move(rang));
}

SystemClock& systemClock()
{
    static SystemClock clock;
    return clock;
}
