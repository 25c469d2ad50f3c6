#pragma once

#include "window/skin/skinpieces.h"

#include <QAbstractButton>

// One caption button as a real button: it takes the keyboard focus in the window's tab
// order, is pressed with Space or Enter, and shows to assistive technology as a push
// button named for what it does, with a press action. It draws nothing itself and lets
// the mouse through: the skinned frame around it draws the button from the skin's
// pictures and works it with the mouse, as before.
class CaptionButtonControl : public QAbstractButton
{
    Q_OBJECT

public:
    CaptionButtonControl(CaptionButton button, QWidget* parent);

    CaptionButton button() const { return button_; }
    // The middle button turns from maximise to restore and back with the window's state.
    void setButton(CaptionButton button);

    static QString nameOf(CaptionButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CaptionButton button_;
};
