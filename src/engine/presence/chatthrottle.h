#pragma once

#include "presence/presence.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

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

    using Now = std::function<std::chrono::milliseconds()>;
    // now tells the time that has passed since some fixed moment; a steady clock unless
    // given.
    explicit ChatThrottle(QObject* parent = nullptr, Now now = {});

    // The lines that may be shown, in the order they came.
    QList<ChatLine> admit(const QList<ChatLine>& lines);
    // Tells what was dropped since the last report, at once; the timer calls it too.
    void report();

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
    void forgetSome(std::chrono::milliseconds now);

    Now now_;
    QHash<QString, Sender> senders_;
    QTimer reporting_;
};
