#include "window/skin/nonclientskin.h"

#include "window/skin/packedcolour.h"

NonClientSkin::NonClientSkin()
{
    look_.text[0] = look_.text[1] = Qt::white;
    look_.shadow[0] = look_.shadow[1] = Qt::black;
}

NonClientSkin::~NonClientSkin()
{
    delete area_.data();
}

bool NonClientSkin::setColour(QColor& setting, qint64 colour)
{
    if (!isPackedColour(colour))
        return false;
    setting = colourFromPacked(quint32(colour));
    return lookChanged();
}

// A frame already drawn takes up a changed look at once.
bool NonClientSkin::lookChanged()
{
    if (area_)
        area_->setLook(look_);
    return true;
}

bool NonClientSkin::setCaptionTextColour(quint32 colour)
{
    return setColour(look_.text[0], colour);
}

bool NonClientSkin::setCaptionShadowColour(quint32 colour)
{
    return setColour(look_.shadow[0], colour);
}

bool NonClientSkin::setInactiveCaptionTextColour(qint32 colour)
{
    return setColour(look_.text[1], colour);
}

bool NonClientSkin::setInactiveCaptionShadowColour(qint32 colour)
{
    return setColour(look_.shadow[1], colour);
}

bool NonClientSkin::setCaptionAlignment(qint32 alignment)
{
    switch (alignment) {
    case CaptionCentred:
        look_.alignment = Qt::AlignHCenter;
        break;
    case CaptionLeft:
        look_.alignment = Qt::AlignLeft;
        break;
    case CaptionRight:
        look_.alignment = Qt::AlignRight;
        break;
    default:
        return false;
    }
    return lookChanged();
}

bool NonClientSkin::setBackgroundColour(quint32 colour)
{
    if (!isPackedColour(colour))
        return false;
    background_ = colour;
    return true;
}

bool NonClientSkin::setCaptionFont(const QFont& font)
{
    look_.font[0] = font;
    return lookChanged();
}

bool NonClientSkin::setInactiveCaptionFont(const QFont& font)
{
    look_.font[1] = font;
    return lookChanged();
}

bool NonClientSkin::apply(QWidget& window, const QPixmap& captionStrip, const QPixmap& frameEdges,
                          int buttonWidth, int buttonHeight, int fixedLeftEnd, int fixedRightStart,
                          int pieceWidth, int secondPieceLeft)
{
    if (area_ || !window.isWindow())
        return false;
    std::optional<SkinPieces> pieces =
        SkinPieces::cut(captionStrip, frameEdges,
                        SkinLayout{buttonWidth, buttonHeight, fixedLeftEnd, fixedRightStart,
                                   pieceWidth, secondPieceLeft});
    if (!pieces)
        return false;

    const bool visible = window.isVisible();
    const QSize client = window.contentsRect().size();
    window.setWindowFlags(window.windowFlags() | Qt::FramelessWindowHint);
    area_ = new NonClientArea(window, std::move(*pieces), look_);
    // The frame is laid around the client area, which keeps its size.
    window.resize(client.grownBy(area_->frameMargins()));
    if (visible)
        window.show(); // changing the window's flags hid it
    return true;
}

std::optional<quint32> NonClientSkin::backgroundColour() const
{
    return background_;
}
