#include "window/windowfont.h"

#include <QApplication>

QFont windowFont(qreal pointSize, bool bold)
{
    QFont font;
    font.setFamilies(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void useWindowFontForDialogs()
{
    QApplication::setFont(windowFont());
}
