#pragma once

#include <QColor>
#include <QtGlobal>

// Colours as single numbers: red in the low byte, green in the second, blue in the third.

constexpr quint32 packedColour(int red, int green, int blue)
{
    return quint32(red) | quint32(green) << 8 | quint32(blue) << 16;
}

// Whether value is a colour at all: nothing may stand above the three colour bytes.
constexpr bool isPackedColour(qint64 value)
{
    return value >= 0 && value <= 0xFFFFFF;
}

inline QColor colourFromPacked(quint32 colour)
{
    return QColor(int(colour & 0xFF), int(colour >> 8 & 0xFF), int(colour >> 16 & 0xFF));
}
