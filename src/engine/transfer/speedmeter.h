#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// The average speed of one transfer. Once a second it reports the bytes counted so far
// and the seconds since the transfer started, so that every transfer is averaged from
// its own beginning.
class SpeedMeter : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kInterval = std::chrono::seconds(1);

    explicit SpeedMeter(QObject* parent = nullptr);

    // Counts from zero seconds and ticks every second.
    void start();
    // Stops ticking and sets the seconds back to zero.
    void stop();
    bool isRunning() const { return timer_.isActive(); }
    // The bytes the next tick reports.
    void record(qint64 bytes) { bytes_ = bytes; }

    // One second has passed. The timer calls it; a test may too, having set the timer's
    // interval out of its way.
    void tick();
    void setInterval(std::chrono::milliseconds interval) { timer_.setInterval(interval); }

Q_SIGNALS:
    // seconds is at least 1.
    void ticked(qint64 bytes, int seconds);

private:
    QTimer timer_;
    qint64 bytes_ = 0;
    int seconds_ = 0;
};
