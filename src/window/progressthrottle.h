#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// Passes a transfer's progress on to the window at most about ten times a second. The
// last value always arrives: at once when the transfer is complete, otherwise at the end
// of the interval.
class ProgressThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kInterval = std::chrono::milliseconds(100);
    using Show = std::function<void(qint64 done, qint64 size)>;

    explicit ProgressThrottle(Show show, QObject* parent = nullptr);

    void update(qint64 done, qint64 size);
    // Forgets a value not yet shown.
    void cancel();

private:
    void showNow();

    Show show_;
    QTimer later_;
    QElapsedTimer sinceShown_;
    qint64 done_ = 0;
    qint64 size_ = 0;
};
