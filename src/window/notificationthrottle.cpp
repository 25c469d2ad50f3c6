#include "window/notificationthrottle.h"

struct NotificationThrottle::Kind {
    QString title;
    QTimer interval;
    // What came since the last one shown.
    int news = 0;
    int count = 0;
    QStringList peers;
    QString sum;
    QString text;
    QString filePath;
};

NotificationThrottle::NotificationThrottle(Show show, std::chrono::milliseconds interval,
                                           QObject* parent)
    : QObject(parent), show_(std::move(show)), interval_(interval)
{
}

NotificationThrottle::~NotificationThrottle() = default;

NotificationThrottle::Kind& NotificationThrottle::kind(const QString& title)
{
    std::unique_ptr<Kind>& slot = kinds_[title];
    if (!slot) {
        slot = std::make_unique<Kind>();
        slot->title = title;
        slot->interval.setSingleShot(true);
        slot->interval.setInterval(interval_);
        Kind* made = slot.get();
        connect(&made->interval, &QTimer::timeout, this, [this, made] { intervalEnded(*made); });
    }
    return *slot;
}

void NotificationThrottle::add(const QString& title, const QString& text, const QString& filePath,
                               const QString& sum, int count, const QStringList& peers)
{
    Kind& news = kind(title);
    if (!news.interval.isActive()) {
        show_(title, text, filePath);
        news.interval.start();
        return;
    }
    ++news.news;
    news.count += count;
    for (const QString& peer : peers) {
        if (!news.peers.contains(peer))
            news.peers.append(peer);
    }
    news.sum = sum;
    news.text = text;
    news.filePath = filePath;
}

// A quiet interval ends the throttling; otherwise what came is shown, and another
// interval begins.
void NotificationThrottle::intervalEnded(Kind& news)
{
    if (news.news == 0)
        return;
    const QString text =
        news.news == 1 ? news.text : news.sum.arg(news.count).arg(peersText(news.peers));
    const QString filePath = news.filePath;
    news.news = 0;
    news.count = 0;
    news.peers.clear();
    news.interval.start();
    show_(news.title, text, filePath);
}

QString peersText(const QStringList& peers)
{
    if (peers.size() == 1)
        return peers.first();
    if (peers.size() == 2)
        return QStringLiteral("%1 and %2").arg(peers.first(), peers.last());
    return QStringLiteral("%1 people").arg(peers.size());
}
