#pragma once

#include <QElapsedTimer>
#include <QString>

#include <chrono>

// One line of the form "name [#####     ]  42%  003.01 K per Second".
QString progressBarText(const QString& name, qint64 done, qint64 size, const QString& speed);

// The progress bar of the transfer in progress, redrawn in place on standard error with
// a carriage return. It is drawn only on a terminal: in a log it would be noise.
class TerminalProgress
{
public:
    static constexpr std::chrono::milliseconds kRedrawInterval = std::chrono::milliseconds(100);

    explicit TerminalProgress(bool enabled) : enabled_(enabled) {}

    // A new transfer: its name goes before the bar, and its speed is not known yet.
    void begin(const QString& name);
    void update(qint64 done, qint64 size);
    void setSpeed(const QString& speed);
    // Erases the bar, so that a line can be printed where it stood.
    void clear();

private:
    void draw(bool now);

    bool enabled_;
    bool shown_ = false;
    int shownWidth_ = 0;
    QElapsedTimer sinceDrawn_;
    QString name_;
    QString speed_;
    qint64 done_ = 0;
    qint64 size_ = 0;
};
