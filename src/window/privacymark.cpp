#include "window/privacymark.h"

#include "window/peertextview.h"

#include <QPainter>
#include <QPainterPath>

namespace
{

constexpr int kSide = 14; // pixels, within a row of the panels
const QColor kClosedColour(0, 128, 0);
const QColor kOpenColour(160, 96, 0);

} // namespace

PrivacyMark::PrivacyMark(QWidget* parent) : QLabel(parent)
{
    setFixedSize(kSide, kSide);
    setAccessibleName(QStringLiteral("Privacy"));
    clear();
}

void PrivacyMark::showPrivate(const QString& name, bool compared)
{
    show(true, privateText(name, compared));
}

void PrivacyMark::showPlain()
{
    show(false, plainText());
}

void PrivacyMark::clear()
{
    QLabel::clear();
    setToolTip({});
    setAccessibleDescription({});
    setVisible(false);
}

QString PrivacyMark::privateText(const QString& name, bool compared)
{
    if (name.isEmpty())
        return QStringLiteral("Private: a stranger");
    if (compared)
        return QStringLiteral("Private: %1's key, compared").arg(name);
    return QStringLiteral("Private: %1's key, not yet compared").arg(name);
}

QString PrivacyMark::plainText()
{
    return QStringLiteral("Not private");
}

QPixmap PrivacyMark::padlock(bool closed, int side, qreal pixelRatio)
{
    QPixmap pixmap(QSize(side, side) * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = closed ? kClosedColour : kOpenColour;
    const qreal s = side;
    // The shackle: an arch over the body, lifted and off its right post when open.
    QPainterPath shackle;
    const qreal lift = closed ? 0 : s * 0.18;
    shackle.moveTo(s * 0.3, s * 0.5 - lift);
    shackle.lineTo(s * 0.3, s * 0.32 - lift);
    shackle.arcTo(QRectF(s * 0.3, s * 0.08 - lift, s * 0.4, s * 0.4), 180, -180);
    shackle.lineTo(s * 0.7, closed ? s * 0.5 : s * 0.3 - lift);
    painter.setPen(QPen(colour, s / 8, Qt::SolidLine, Qt::FlatCap));
    painter.drawPath(shackle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(s * 0.15, s * 0.46, s * 0.7, s * 0.5), s * 0.08, s * 0.08);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(s * 0.5, s * 0.68), s * 0.07, s * 0.07);
    return pixmap;
}

void PrivacyMark::show(bool closed, const QString& text)
{
    setPixmap(padlock(closed, kSide, devicePixelRatioF()));
    setToolTip(plainToolTip(text));
    setAccessibleDescription(text);
    setVisible(true);
}
