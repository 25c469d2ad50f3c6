#include "window/progressthrottle.h"

ProgressThrottle::ProgressThrottle(Show show, QObject* parent)
    : QObject(parent), show_(std::move(show))
{
    later_.setSingleShot(true);
    connect(&later_, &QTimer::timeout, this, &ProgressThrottle::showNow);
}

void ProgressThrottle::update(qint64 done, qint64 size)
{
    done_ = done;
    size_ = size;
    const qint64 interval = kInterval.count();
    if (done >= size || !sinceShown_.isValid() || sinceShown_.elapsed() >= interval) {
        showNow();
        return;
    }
    if (!later_.isActive())
        later_.start(int(interval - sinceShown_.elapsed()));
}

void ProgressThrottle::cancel()
{
    later_.stop();
    sinceShown_.invalidate();
}

void ProgressThrottle::showNow()
{
    later_.stop();
    sinceShown_.start();
    show_(done_, size_);
}
