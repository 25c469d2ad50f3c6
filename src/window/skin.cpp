// The window's skin: its routine Skin, and what the window does when the skin cannot be
// set up.

#include "window/mainwindow.h"
#include "window/skin/nonclientskininterface.h"
#include "window/skin/packedcolour.h"

#include <QPalette>

namespace
{

// Layout of the caption strip, as its own notes give it: a button cell is 19 by 20; a
// caption piece is 240 wide and only its columns 90 to 140 stretch; the second caption
// piece begins at column 400.
constexpr int kButtonWidth = 19;
constexpr int kButtonHeight = 20;
constexpr int kFixedLeftEnd = 90;
constexpr int kFixedRightStart = 140;
constexpr int kPieceWidth = 240;
constexpr int kSecondPieceLeft = 400;

} // namespace

// Configures the skinning object once; from then on it draws the frame by itself. Stops
// at the first call the object refuses and returns false.
bool Main::Skin(QWidget& window, NonClientSkinInterface& skin)
{
    if (!skin.setCaptionTextColour(16777215))
        return false;
    if (!skin.setCaptionShadowColour(13382451)) // red 51, green 51, blue 204
        return false;
    if (!skin.setInactiveCaptionTextColour(0))
        return false;
    if (!skin.setInactiveCaptionShadowColour(16777215))
        return false;
    if (!skin.setCaptionAlignment(0))
        return false;
    if (!skin.setBackgroundColour(packedColour(123, 189, 214)))
        return false;
    if (!skin.setCaptionFont(window.font()))
        return false;
    if (!skin.setInactiveCaptionFont(window.font()))
        return false;
    if (!skin.apply(window, ui_.TheSkin[0], ui_.TheSkin[1], kButtonWidth, kButtonHeight,
                    kFixedLeftEnd, kFixedRightStart, kPieceWidth, kSecondPieceLeft))
        return false;

    const std::optional<quint32> background = skin.backgroundColour();
    if (!background)
        return false;
    // Polishing applies the window's style sheet, which sets its palette afresh: polish it
    // first, so that the background set here stays.
    window.ensurePolished();
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, colourFromPacked(*background));
    window.setPalette(palette);
    return true;
}

// Without a skin the window keeps the system's own frame. The skinning object is let go,
// so that nothing of a half-made skin stays on the window, and the client area keeps its
// size.
void Main::useSystemFrame()
{
    const QSize client = contentsRect().size();
    skinObject_.reset();
    if (windowFlags() & Qt::FramelessWindowHint)
        setWindowFlags(windowFlags() & ~Qt::FramelessWindowHint);
    setContentsMargins(0, 0, 0, 0);
    resize(client);
}
