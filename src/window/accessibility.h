#pragma once

class QWidget;
struct MainUi;

// Makes the window make sense to assistive technology such as a screen reader: the
// window shows as a frame, not as a plain group of controls, under a name that reads as
// a word, and each list and text field carries the name of the header above it, which
// also labels it.
void makeAccessible(QWidget& window, const MainUi& ui);
