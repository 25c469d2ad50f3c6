#pragma once

#include <QtGlobal>

#include <optional>

class QFont;
class QPixmap;
class QWidget;

// The calls a window makes on its non-client skinning component: the settings first,
// then apply, after which the component draws the window's caption, caption buttons and
// frame edges by itself for as long as it lives. Every call reports whether the
// component took it; a window whose component refuses a call is not skinned.
// Colours are packed: red in the low byte, green in the second, blue in the third.
class NonClientSkinInterface
{
public:
    // Where the caption text stands in the stretched middle of the caption.
    enum CaptionAlignment : qint32 { CaptionCentred = 0, CaptionLeft = 1, CaptionRight = 2 };

    virtual ~NonClientSkinInterface() = default;

    // The caption text of the active window and the shadow under it.
    virtual bool setCaptionTextColour(quint32 colour) = 0;
    virtual bool setCaptionShadowColour(quint32 colour) = 0;
    // The same two for the inactive window.
    virtual bool setInactiveCaptionTextColour(qint32 colour) = 0;
    virtual bool setInactiveCaptionShadowColour(qint32 colour) = 0;
    // One of CaptionAlignment.
    virtual bool setCaptionAlignment(qint32 alignment) = 0;
    // The colour the window should fill its client area with; read back with
    // backgroundColour().
    virtual bool setBackgroundColour(quint32 colour) = 0;
    // The caption text's font for the active and for the inactive window.
    virtual bool setCaptionFont(const QFont& font) = 0;
    virtual bool setInactiveCaptionFont(const QFont& font) = 0;

    // Takes over window's frame. captionStrip holds two caption pieces, each pieceWidth
    // wide: the active one at column 0, the inactive one at secondPieceLeft. Columns 0 to
    // fixedLeftEnd and fixedRightStart to pieceWidth of a piece keep their size; the
    // columns between are stretched to the window's width. Right of the first piece lie
    // the caption buttons in cells of buttonWidth by buttonHeight (close, restore,
    // maximise, minimise), the normal row above the paler one. frameEdges holds the
    // pieces of the frame's sides and bottom.
    virtual bool apply(QWidget& window, const QPixmap& captionStrip, const QPixmap& frameEdges,
                       int buttonWidth, int buttonHeight, int fixedLeftEnd, int fixedRightStart,
                       int pieceWidth, int secondPieceLeft) = 0;

    // The colour given to setBackgroundColour(), or nothing when none was given.
    virtual std::optional<quint32> backgroundColour() const = 0;
};
