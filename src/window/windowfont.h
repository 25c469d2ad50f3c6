#pragma once

#include <QFont>

// The window's face at 8.25 points, the size of its captions, buttons and values.
constexpr qreal kWindowPointSize = 8.25;

// The window's face: Arial where it is installed, else its metric twin Liberation Sans,
// else the desktop's sans-serif. Naming the faces matters: a family that is not installed
// falls back to the application's font, and fontconfig's "sans-serif" on a system with only
// the Liberation fonts is Liberation Mono.
QFont windowFont(qreal pointSize = kWindowPointSize, bool bold = false);

// Makes the window's face the application's, for the message boxes and dialogs, which are
// windows of their own and do not take the main window's font.
void useWindowFontForDialogs();
