#pragma once

#include <QPixmap>

#include <array>
#include <optional>

// How a caption strip is divided; see NonClientSkinInterface::apply.
struct SkinLayout {
    int buttonWidth = 0;
    int buttonHeight = 0;
    int fixedLeftEnd = 0;
    int fixedRightStart = 0;
    int pieceWidth = 0;
    int secondPieceLeft = 0;
};

// The caption buttons, in the order of their cells in the caption strip.
enum class CaptionButton { Close, Restore, Maximise, Minimise };

// The pictures a skinned frame is drawn from, cut out of the caption strip and the
// frame-edge image. Magenta (red 255, green 0, blue 255) is filler: it is see-through in
// every piece.
//
// The frame-edge image is as high as the frame is thick (t) and holds seven pieces of
// t by t side by side: the left side for the active and for the inactive window, the
// lower left corner, the bottom edge, the right side for the active and for the inactive
// window, and the lower right corner. Side pieces are tiled downwards, the bottom edge
// along the bottom.
class SkinPieces
{
public:
    // Nothing when the layout does not hold together or the images are too small for it.
    static std::optional<SkinPieces> cut(const QPixmap& captionStrip, const QPixmap& frameEdges,
                                         const SkinLayout& layout);

    const SkinLayout& layout() const { return layout_; }
    int captionHeight() const { return captionPieces_[0].height(); }
    int frameThickness() const { return bottom_.height(); }

    const QPixmap& captionPiece(bool active) const { return captionPieces_[active ? 0 : 1]; }
    const QPixmap& button(CaptionButton button, bool paler) const
    {
        return buttons_[std::size_t(button)][paler ? 1 : 0];
    }
    const QPixmap& leftSide(bool active) const { return leftSides_[active ? 0 : 1]; }
    const QPixmap& rightSide(bool active) const { return rightSides_[active ? 0 : 1]; }
    const QPixmap& bottom() const { return bottom_; }
    const QPixmap& lowerLeftCorner() const { return lowerLeftCorner_; }
    const QPixmap& lowerRightCorner() const { return lowerRightCorner_; }

private:
    SkinLayout layout_;
    std::array<QPixmap, 2> captionPieces_;
    std::array<std::array<QPixmap, 2>, 4> buttons_;
    std::array<QPixmap, 2> leftSides_;
    std::array<QPixmap, 2> rightSides_;
    QPixmap bottom_;
    QPixmap lowerLeftCorner_;
    QPixmap lowerRightCorner_;
};
