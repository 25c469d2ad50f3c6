#include "window/skin/captionbuttoncontrol.h"

#include <QKeyEvent>

CaptionButtonControl::CaptionButtonControl(CaptionButton button, QWidget* parent)
    : QAbstractButton(parent), button_(button)
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setButton(button);
}

void CaptionButtonControl::setButton(CaptionButton button)
{
    button_ = button;
    setText(nameOf(button));
    setObjectName(QStringLiteral("caption") + nameOf(button));
}

QString CaptionButtonControl::nameOf(CaptionButton button)
{
    switch (button) {
    case CaptionButton::Close:
        return QStringLiteral("Close");
    case CaptionButton::Restore:
        return QStringLiteral("Restore");
    case CaptionButton::Maximise:
        return QStringLiteral("Maximise");
    case CaptionButton::Minimise:
        return QStringLiteral("Minimise");
    }
    return QString();
}

void CaptionButtonControl::paintEvent(QPaintEvent*) {}

// Enter presses the button as Space does, with the same short sinking look.
void CaptionButtonControl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
