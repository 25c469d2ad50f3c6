#pragma once

#include <QLocale>
#include <QString>

// The average speed of a transfer: bytes over seconds, in K (1024 bytes) per second,
// with at least three digits before the locale's decimal separator and two after it,
// as in "003.01 K per Second". seconds is at least 1.
QString speedText(qint64 bytes, int seconds, const QLocale& locale = QLocale());
