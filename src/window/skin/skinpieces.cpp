#include "window/skin/skinpieces.h"

#include <QImage>

namespace
{

constexpr QRgb kFiller = 0xFFFF00FF; // magenta
constexpr int kButtonCount = 4;
constexpr int kEdgePieceCount = 7;

// The part of source inside area, with the filler made see-through.
QPixmap piece(const QImage& source, const QRect& area)
{
    QImage image = source.copy(area).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == kFiller)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return QPixmap::fromImage(image);
}

bool holdsTogether(const QSize& strip, const QSize& edges, const SkinLayout& l)
{
    const bool positive = l.buttonWidth > 0 && l.buttonHeight > 0 && l.fixedLeftEnd > 0 &&
                          l.pieceWidth > 0 && strip.height() > 0 && edges.height() > 0;
    const bool pieceDivides =
        l.fixedLeftEnd < l.fixedRightStart && l.fixedRightStart < l.pieceWidth;
    const bool buttonsFit = l.pieceWidth + kButtonCount * l.buttonWidth <= l.secondPieceLeft &&
                            2 * l.buttonHeight <= strip.height();
    const bool stripWideEnough = l.secondPieceLeft + l.pieceWidth <= strip.width();
    const bool edgesWideEnough = kEdgePieceCount * edges.height() <= edges.width();
    return positive && pieceDivides && buttonsFit && stripWideEnough && edgesWideEnough;
}

} // namespace

std::optional<SkinPieces> SkinPieces::cut(const QPixmap& captionStrip, const QPixmap& frameEdges,
                                          const SkinLayout& layout)
{
    if (captionStrip.isNull() || frameEdges.isNull() ||
        !holdsTogether(captionStrip.size(), frameEdges.size(), layout))
        return std::nullopt;

    const QImage strip = captionStrip.toImage();
    const QImage edges = frameEdges.toImage();
    const int height = strip.height();
    const int t = edges.height();
    const auto edgePiece = [&](int index) { return piece(edges, QRect(index * t, 0, t, t)); };

    SkinPieces result;
    result.layout_ = layout;
    result.captionPieces_ = {
        piece(strip, QRect(0, 0, layout.pieceWidth, height)),
        piece(strip, QRect(layout.secondPieceLeft, 0, layout.pieceWidth, height))};
    for (int button = 0; button < kButtonCount; ++button) {
        for (int row = 0; row < 2; ++row) {
            const QRect cell(layout.pieceWidth + button * layout.buttonWidth,
                             row * layout.buttonHeight, layout.buttonWidth, layout.buttonHeight);
            result.buttons_[std::size_t(button)][std::size_t(row)] = piece(strip, cell);
        }
    }
    result.leftSides_ = {edgePiece(0), edgePiece(1)};
    result.lowerLeftCorner_ = edgePiece(2);
    result.bottom_ = edgePiece(3);
    result.rightSides_ = {edgePiece(4), edgePiece(5)};
    result.lowerRightCorner_ = edgePiece(6);
    return result;
}
