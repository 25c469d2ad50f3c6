#include "window/skin/nonclientarea.h"

#include "window/skin/captionbuttoncontrol.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QToolTip>
#include <QWindow>

#include <algorithm>

namespace
{

constexpr int kTopGrip = 4;      // pixels at the top of the caption that resize the window
constexpr int kCornerGrip = 16;  // how far a corner reaches along each side
constexpr int kButtonMargin = 2; // between the last caption button and the frame's side
constexpr int kTextPadding = 6;  // at each end of the caption text's room

} // namespace

NonClientArea::NonClientArea(QWidget& window, SkinPieces pieces, const CaptionLook& look)
    : QWidget(&window), window_(window), pieces_(std::move(pieces)), look_(look)
{
    setObjectName(QStringLiteral("nonClientArea"));
    setMouseTracking(true);
    // Made in the order Tab reaches them, after every control of the client area.
    controls_ = {new CaptionButtonControl(CaptionButton::Minimise, this),
                 new CaptionButtonControl(middleButton(), this),
                 new CaptionButtonControl(CaptionButton::Close, this)};
    for (CaptionButtonControl* control : controls_) {
        connect(control, &QAbstractButton::clicked, this,
                [this, control] { press(control->button()); });
        control->installEventFilter(this); // the focus mark lies outside the button
    }
    window_.installEventFilter(this);
    follow();
}

void NonClientArea::setLook(const CaptionLook& look)
{
    look_ = look;
    update();
}

QMargins NonClientArea::frameMargins() const
{
    const int caption = pieces_.captionHeight();
    if (window_.isMaximized() || window_.isFullScreen())
        return QMargins(0, caption, 0, 0);
    const int t = pieces_.frameThickness();
    return QMargins(t, caption, t, t);
}

QRect NonClientArea::buttonRect(CaptionButton button) const
{
    // From the right: close, then maximise or restore, then minimise.
    const int slot = button == CaptionButton::Close ? 0 : button == CaptionButton::Minimise ? 2 : 1;
    const SkinLayout& layout = pieces_.layout();
    const int right = window_.width() - pieces_.frameThickness() - kButtonMargin;
    return QRect(right - (slot + 1) * layout.buttonWidth,
                 (pieces_.captionHeight() - layout.buttonHeight) / 2, layout.buttonWidth,
                 layout.buttonHeight);
}

CaptionButtonControl& NonClientArea::control(CaptionButton button) const
{
    switch (button) {
    case CaptionButton::Minimise:
        return *controls_[0];
    case CaptionButton::Close:
        return *controls_[2];
    case CaptionButton::Restore:
    case CaptionButton::Maximise:
        break;
    }
    return *controls_[1];
}

CaptionButton NonClientArea::middleButton() const
{
    return window_.isMaximized() ? CaptionButton::Restore : CaptionButton::Maximise;
}

// Keeps the window's contents margins at the frame's thickness and covers the frame.
void NonClientArea::follow()
{
    const QMargins margins = frameMargins();
    if (window_.contentsMargins() != margins)
        window_.setContentsMargins(margins);
    setGeometry(window_.rect());
    setMask(QRegion(rect()).subtracted(QRegion(rect().marginsRemoved(margins))));
    placeControls();
    raise();
    update();
}

void NonClientArea::placeControls()
{
    controls_[1]->setButton(middleButton());
    for (CaptionButtonControl* control : controls_)
        control->setGeometry(buttonRect(control->button()));
}

bool NonClientArea::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        update();
    if (watched == &window_) {
        switch (event->type()) {
        case QEvent::WindowStateChange:
            hovered_.reset();
            pressed_.reset();
            follow();
            break;
        case QEvent::Resize:
            follow();
            break;
        case QEvent::ActivationChange:
        case QEvent::WindowTitleChange:
            update();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

NonClientArea::Hit NonClientArea::hitAt(const QPoint& position) const
{
    Hit hit;
    for (CaptionButton button : {CaptionButton::Close, middleButton(), CaptionButton::Minimise}) {
        if (buttonRect(button).contains(position)) {
            hit.button = button;
            return hit;
        }
    }
    if (frameMargins().left() == 0)
        return hit; // a maximised window is not resized by its edges
    const int t = pieces_.frameThickness();
    const int width = window_.width();
    const int height = window_.height();
    bool left = position.x() < t;
    bool right = position.x() >= width - t;
    bool top = position.y() < kTopGrip;
    bool bottom = position.y() >= height - t;
    if (left || right) {
        top = top || position.y() < kCornerGrip;
        bottom = bottom || position.y() >= height - kCornerGrip;
    }
    if (top || bottom) {
        left = left || position.x() < kCornerGrip;
        right = right || position.x() >= width - kCornerGrip;
    }
    hit.edges.setFlag(Qt::LeftEdge, left);
    hit.edges.setFlag(Qt::RightEdge, right);
    hit.edges.setFlag(Qt::TopEdge, top);
    hit.edges.setFlag(Qt::BottomEdge, bottom);
    return hit;
}

bool NonClientArea::onCaption(const QPoint& position) const
{
    const Hit hit = hitAt(position);
    return !hit.button && !hit.edges && position.y() < pieces_.captionHeight();
}

void NonClientArea::showPointer(const Hit& hit)
{
    const Qt::Edges e = hit.edges;
    if (e == (Qt::LeftEdge | Qt::TopEdge) || e == (Qt::RightEdge | Qt::BottomEdge))
        setCursor(Qt::SizeFDiagCursor);
    else if (e == (Qt::RightEdge | Qt::TopEdge) || e == (Qt::LeftEdge | Qt::BottomEdge))
        setCursor(Qt::SizeBDiagCursor);
    else if (e & (Qt::LeftEdge | Qt::RightEdge))
        setCursor(Qt::SizeHorCursor);
    else if (e & (Qt::TopEdge | Qt::BottomEdge))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
}

void NonClientArea::setHovered(std::optional<CaptionButton> button)
{
    if (hovered_ == button)
        return;
    hovered_ = button;
    update();
}

// The window system moves or resizes the window where it can; where it cannot (an X
// server without a window manager, say) the window follows the pointer from here.
void NonClientArea::beginDrag(Qt::Edges edges, const QPoint& pointer)
{
    QWindow* handle = window_.windowHandle();
    const bool bySystem =
        handle && (edges ? handle->startSystemResize(edges) : handle->startSystemMove());
    if (!bySystem)
        drag_ = Drag{edges, pointer, window_.geometry()};
}

void NonClientArea::dragTo(const QPoint& pointer)
{
    const QPoint delta = pointer - drag_->startPointer;
    QRect geometry = drag_->startGeometry;
    const Qt::Edges edges = drag_->edges;
    if (!edges) {
        window_.move(geometry.topLeft() + delta);
        return;
    }
    const QSize least = window_.minimumSizeHint().expandedTo(window_.minimumSize());
    if (edges & Qt::LeftEdge)
        geometry.setLeft(
            std::min(geometry.left() + delta.x(), geometry.right() + 1 - least.width()));
    if (edges & Qt::RightEdge)
        geometry.setRight(
            std::max(geometry.right() + delta.x(), geometry.left() + least.width() - 1));
    if (edges & Qt::TopEdge)
        geometry.setTop(
            std::min(geometry.top() + delta.y(), geometry.bottom() + 1 - least.height()));
    if (edges & Qt::BottomEdge)
        geometry.setBottom(
            std::max(geometry.bottom() + delta.y(), geometry.top() + least.height() - 1));
    window_.setGeometry(geometry);
}

void NonClientArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPoint position = event->position().toPoint();
    const Hit hit = hitAt(position);
    if (hit.button) {
        pressed_ = hit.button;
        setHovered(hit.button);
        update();
    } else if (hit.edges) {
        beginDrag(hit.edges, event->globalPosition().toPoint());
    } else if (position.y() < pieces_.captionHeight()) {
        // Moving starts only once the pointer travels, so that a double click on the
        // caption still reaches this window.
        moveFrom_ = event->globalPosition().toPoint();
    }
}

void NonClientArea::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pointer = event->globalPosition().toPoint();
    if (drag_) {
        dragTo(pointer);
        return;
    }
    if (moveFrom_ && (event->buttons() & Qt::LeftButton)) {
        if ((pointer - *moveFrom_).manhattanLength() >= QApplication::startDragDistance()) {
            const QPoint from = *moveFrom_;
            moveFrom_.reset();
            beginDrag({}, from);
            if (drag_)
                dragTo(pointer);
        }
        return;
    }
    const Hit hit = hitAt(event->position().toPoint());
    if (pressed_) {
        setHovered(hit.button == pressed_ ? pressed_ : std::nullopt);
        return;
    }
    setHovered(hit.button);
    showPointer(hit);
}

void NonClientArea::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    drag_.reset();
    moveFrom_.reset();
    if (!pressed_)
        return;
    const CaptionButton button = *pressed_;
    pressed_.reset();
    update();
    if (hitAt(event->position().toPoint()).button == button)
        press(button);
}

void NonClientArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && onCaption(event->position().toPoint()))
        toggleMaximised();
    else
        mousePressEvent(event);
}

void NonClientArea::leaveEvent(QEvent* event)
{
    if (!pressed_)
        setHovered(std::nullopt);
    unsetCursor();
    QWidget::leaveEvent(event);
}

bool NonClientArea::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const Hit hit = hitAt(help->pos());
    if (!hit.button) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    static const char* const tips[] = {"Close", "Restore", "Maximise", "Minimise"};
    QToolTip::showText(help->globalPos(), QLatin1String(tips[int(*hit.button)]), this,
                       buttonRect(*hit.button));
    return true;
}

void NonClientArea::press(CaptionButton button)
{
    switch (button) {
    case CaptionButton::Close:
        window_.close();
        break;
    case CaptionButton::Restore:
    case CaptionButton::Maximise:
        toggleMaximised();
        break;
    case CaptionButton::Minimise:
        window_.showMinimized();
        break;
    }
}

void NonClientArea::toggleMaximised()
{
    if (window_.isMaximized())
        window_.showNormal();
    else
        window_.showMaximized();
}

void NonClientArea::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool active = window_.isActiveWindow();
    drawCaption(painter, active);
    drawCaptionText(painter, active);
    drawButtons(painter);
    drawEdges(painter, active);
}

// The caption piece's two ends keep their size; its middle stretches to fill the width.
void NonClientArea::drawCaption(QPainter& painter, bool active) const
{
    const QPixmap& piece = pieces_.captionPiece(active);
    const SkinLayout& layout = pieces_.layout();
    const int height = pieces_.captionHeight();
    const int rightPart = layout.pieceWidth - layout.fixedRightStart;
    const int middle = width() - layout.fixedLeftEnd - rightPart;
    if (middle > 0)
        painter.drawPixmap(
            QRect(layout.fixedLeftEnd, 0, middle, height), piece,
            QRect(layout.fixedLeftEnd, 0, layout.fixedRightStart - layout.fixedLeftEnd, height));
    painter.drawPixmap(0, 0, piece, 0, 0, layout.fixedLeftEnd, height);
    painter.drawPixmap(width() - rightPart, 0, piece, layout.fixedRightStart, 0, rightPart, height);
}

// The caption text runs in the stretched middle of the caption.
void NonClientArea::drawCaptionText(QPainter& painter, bool active) const
{
    const SkinLayout& layout = pieces_.layout();
    const int rightPart = layout.pieceWidth - layout.fixedRightStart;
    const QRect room = QRect(layout.fixedLeftEnd, 0, width() - layout.fixedLeftEnd - rightPart,
                             pieces_.captionHeight())
                           .adjusted(kTextPadding, 0, -kTextPadding, 0);
    if (room.width() <= 0)
        return;
    const std::size_t look = active ? 0 : 1;
    painter.setFont(look_.font[look]);
    const QString text =
        painter.fontMetrics().elidedText(window_.windowTitle(), Qt::ElideRight, room.width());
    const int flags = int(look_.alignment | Qt::AlignVCenter) | Qt::TextSingleLine;
    painter.setPen(look_.shadow[look]);
    painter.drawText(room.translated(1, 1), flags, text);
    painter.setPen(look_.text[look]);
    painter.drawText(room, flags, text);
}

// A button under the pointer or with the keyboard focus shows in its paler look, and
// sinks while it is held down by the mouse or the keyboard.
void NonClientArea::drawButtons(QPainter& painter) const
{
    for (CaptionButton button : {CaptionButton::Close, middleButton(), CaptionButton::Minimise}) {
        const CaptionButtonControl& stand = control(button);
        const bool lit = hovered_ == button || stand.hasFocus();
        const bool down = (hovered_ == button && pressed_ == button) || stand.isDown();
        const QPoint sink = down ? QPoint(1, 1) : QPoint();
        painter.drawPixmap(buttonRect(button).topLeft() + sink, pieces_.button(button, lit));
        if (stand.hasFocus())
            drawFocus(painter, buttonRect(button));
    }
}

// A bar under the button, on the caption, in the caption text's shadow colour.
void NonClientArea::drawFocus(QPainter& painter, const QRect& button) const
{
    painter.fillRect(QRect(button.left(), button.bottom() + 3, button.width(), 2), look_.shadow[0]);
}

void NonClientArea::drawEdges(QPainter& painter, bool active) const
{
    if (frameMargins().left() == 0)
        return;
    const int t = pieces_.frameThickness();
    const int top = pieces_.captionHeight();
    const int sideHeight = height() - t - top;
    if (sideHeight > 0) {
        painter.drawTiledPixmap(QRect(0, top, t, sideHeight), pieces_.leftSide(active));
        painter.drawTiledPixmap(QRect(width() - t, top, t, sideHeight), pieces_.rightSide(active));
    }
    painter.drawTiledPixmap(QRect(t, height() - t, width() - 2 * t, t), pieces_.bottom());
    painter.drawPixmap(0, height() - t, pieces_.lowerLeftCorner());
    painter.drawPixmap(width() - t, height() - t, pieces_.lowerRightCorner());
}
