#pragma once

#include <QString>
#include <QTime>

// The time of day as the window shows it: HH:MM:SS on the 24-hour clock.
QString clockText(const QTime& time);
// The same to the minute: HH:MM.
QString clockMinutesText(const QTime& time);
