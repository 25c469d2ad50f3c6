#pragma once

#include "platform/clock.h"
#include "presence/presence.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <chrono>
#include <memory>

// Holds back a flood of chat lines from one address, over however many connections they
// come: a burst of kBurst lines is shown at once, then one line for every
// kRefill that passes. Lines beyond that are dropped and counted, and how many were
// dropped is told once per kReportInterval, for each address that lost any.
class ChatThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBurst = 20;
    static constexpr std::chrono::milliseconds kRefill = std::chrono::seconds(1);
    static constexpr std::chrono::milliseconds kReportInterval = std::chrono::seconds(5);
    // Addresses remembered at once; beyond it, those that could send a full burst again
    // are forgotten, and then those with nothing to report.
    static constexpr int kMaxAddresses = 1024;

    // The clock's steady time refills the bursts and times the reports.
    explicit ChatThrottle(Clock& clock = systemClock(), QObject* parent = nullptr);

    // The lines that may be shown, in the order they came.
    QList<ChatLine> admit(const QList<ChatLine>& lines);

Q_SIGNALS:
    // count lines from address (name as the last of them came) were not shown.
    void dropped(const QString& name, const QString& address, int count);

private:
    struct Sender {
        double lines = kBurst; // how many may pass now
        std::chrono::milliseconds since{};
        QString name;
        int dropped = 0;
    };

    bool take(const ChatLine& line);
    // Tells what was dropped since the last report.
    void report();
    void forgetSome(std::chrono::milliseconds now);

    Clock& clock_;
    QHash<QString, Sender> senders_;
    std::unique_ptr<Alarm> reporting_;
};
