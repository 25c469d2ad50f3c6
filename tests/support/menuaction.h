#pragma once

#include <QAction>
#include <QWidget>

// The entry of widget's context menu that reads text, or none.
inline QAction* menuAction(const QWidget& widget, const QString& text)
{
    for (QAction* action : widget.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}
