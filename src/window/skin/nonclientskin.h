#pragma once

#include "window/skin/nonclientarea.h"
#include "window/skin/nonclientskininterface.h"

#include <QPointer>

// The non-client skinning component: takes the settings, and on apply makes the window
// frameless and hands its frame to a NonClientArea drawn from the two images. The frame
// stays for as long as this object lives. Apply is made once; it changes nothing on the
// window when it fails.
class NonClientSkin : public NonClientSkinInterface
{
public:
    NonClientSkin();
    ~NonClientSkin() override;

    bool setCaptionTextColour(quint32 colour) override;
    bool setCaptionShadowColour(quint32 colour) override;
    bool setInactiveCaptionTextColour(qint32 colour) override;
    bool setInactiveCaptionShadowColour(qint32 colour) override;
    bool setCaptionAlignment(qint32 alignment) override;
    bool setBackgroundColour(quint32 colour) override;
    bool setCaptionFont(const QFont& font) override;
    bool setInactiveCaptionFont(const QFont& font) override;
    bool apply(QWidget& window, const QPixmap& captionStrip, const QPixmap& frameEdges,
               int buttonWidth, int buttonHeight, int fixedLeftEnd, int fixedRightStart,
               int pieceWidth, int secondPieceLeft) override;
    std::optional<quint32> backgroundColour() const override;

    // The frame once applied, else null.
    NonClientArea* area() const { return area_; }

private:
    bool setColour(QColor& setting, qint64 colour);
    bool lookChanged();

    CaptionLook look_;
    std::optional<quint32> background_;
    QPointer<NonClientArea> area_;
};
