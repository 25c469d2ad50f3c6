#pragma once

#include "window/skin/skinpieces.h"

#include <array>

#include <QFont>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <optional>

class CaptionButtonControl;

// How the caption text is drawn, for the active and for the inactive window.
struct CaptionLook {
    QColor text[2];   // [0] active, [1] inactive
    QColor shadow[2]; // drawn one pixel down and right of the text
    QFont font[2];
    Qt::Alignment alignment = Qt::AlignHCenter;
};

// The skinned frame of one top-level window: a child that covers the window and is
// masked to the part around the client area, so that it draws the caption, caption
// buttons and frame edges there and takes the mouse only there. It keeps the window's
// contents margins equal to the frame's thickness, follows the window's size, state and
// activation, moves and resizes the window through the window system, and works the
// caption buttons. Each caption button also stands as a CaptionButtonControl, so that
// the keyboard and assistive technology reach it; a focused one shows in its paler
// look, underlined.
class NonClientArea : public QWidget
{
    Q_OBJECT

public:
    NonClientArea(QWidget& window, SkinPieces pieces, const CaptionLook& look);

    void setLook(const CaptionLook& look);
    // The frame's thickness on each side for the window's present state.
    QMargins frameMargins() const;
    // Where a caption button stands in the window.
    QRect buttonRect(CaptionButton button) const;
    // The button that stands for a caption button, at its place; for the middle one,
    // whichever of maximise and restore it is now.
    CaptionButtonControl& control(CaptionButton button) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // What lies under a point of the frame: a caption button, the edges it would resize,
    // or else the caption.
    struct Hit {
        std::optional<CaptionButton> button;
        Qt::Edges edges;
    };

    // A move or resize that the program carries out itself, where the window system
    // will not.
    struct Drag {
        Qt::Edges edges; // none for a move
        QPoint startPointer;
        QRect startGeometry;
    };

    void follow();
    void placeControls();
    Hit hitAt(const QPoint& position) const;
    bool onCaption(const QPoint& position) const;
    void showPointer(const Hit& hit);
    void setHovered(std::optional<CaptionButton> button);
    void beginDrag(Qt::Edges edges, const QPoint& pointer);
    void dragTo(const QPoint& pointer);
    void press(CaptionButton button);
    void toggleMaximised();
    CaptionButton middleButton() const;

    void drawCaption(QPainter& painter, bool active) const;
    void drawCaptionText(QPainter& painter, bool active) const;
    void drawButtons(QPainter& painter) const;
    void drawFocus(QPainter& painter, const QRect& button) const;
    void drawEdges(QPainter& painter, bool active) const;

    QWidget& window_;
    SkinPieces pieces_;
    CaptionLook look_;
    std::optional<CaptionButton> hovered_;
    std::optional<CaptionButton> pressed_;
    std::optional<QPoint> moveFrom_; // a press on the caption that may become a move
    std::optional<Drag> drag_;
    // Minimise, the middle button and close, in the order that Tab reaches them.
    std::array<CaptionButtonControl*, 3> controls_{};
};
