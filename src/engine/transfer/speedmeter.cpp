#include "transfer/speedmeter.h"

SpeedMeter::SpeedMeter(QObject* parent) : QObject(parent)
{
    timer_.setInterval(kInterval);
    connect(&timer_, &QTimer::timeout, this, &SpeedMeter::tick);
}

void SpeedMeter::start()
{
    seconds_ = 0;
    timer_.start();
}

void SpeedMeter::stop()
{
    seconds_ = 0;
    timer_.stop();
}

void SpeedMeter::tick()
{
    ++seconds_;
    Q_EMIT ticked(bytes_, seconds_);
}
