#include "presence/chatthrottle.h"

#include <algorithm>

ChatThrottle::ChatThrottle(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), reporting_(clock.makeAlarm([this] { report(); }))
{
}

QList<ChatLine> ChatThrottle::admit(const QList<ChatLine>& lines)
{
    QList<ChatLine> shown;
    for (const ChatLine& line : lines)
        if (take(line))
            shown.append(line);
    return shown;
}

bool ChatThrottle::take(const ChatLine& line)
{
    const std::chrono::milliseconds now = clock_.steadyTime();
    if (!senders_.contains(line.address)) {
        if (senders_.size() >= kMaxAddresses)
            forgetSome(now);
        senders_.insert(line.address, {kBurst, now, {}, 0});
    }
    Sender& sender = senders_[line.address];
    const double refilled = double((now - sender.since).count()) / double(kRefill.count());
    sender.lines = std::min<double>(kBurst, sender.lines + refilled);
    sender.since = now;
    if (sender.lines >= 1) {
        sender.lines -= 1;
        return true;
    }
    sender.name = line.name;
    ++sender.dropped;
    if (!reporting_->isSet())
        reporting_->set(kReportInterval);
    return false;
}

void ChatThrottle::report()
{
    reporting_->cancel();
    QList<std::pair<QString, Sender>> lost; // told once the table is left alone
    for (auto sender = senders_.begin(); sender != senders_.end(); ++sender) {
        if (sender->dropped > 0)
            lost.append({sender.key(), *sender});
        sender->dropped = 0;
    }
    for (const auto& [address, sender] : lost)
        Q_EMIT dropped(sender.name, address, sender.dropped);
}

void ChatThrottle::forgetSome(std::chrono::milliseconds now)
{
    const auto refilled = [now](const Sender& s) {
        return s.lines + double((now - s.since).count()) / double(kRefill.count()) >= kBurst;
    };
    senders_.removeIf([&](const auto& entry) { return refilled(entry.value()); });
    if (senders_.size() >= kMaxAddresses)
        senders_.removeIf([](const auto& entry) { return entry.value().dropped == 0; });
    if (senders_.size() >= kMaxAddresses)
        report(); // told before forgotten
    if (senders_.size() >= kMaxAddresses)
        senders_.clear();
}
