#include "window/Artwork.h"

#include <QCoreApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace Artwork {

namespace {

QPixmap canvas(QSize size)
{
    QPixmap pixmap(size.expandedTo(QSize(1, 1)));
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The picture as drawn, without what drawing left on it: a pixmap keeps the
// paint engine it was first painted with, and the engine's outline and span
// buffers, for as long as it lives, and these pictures live as long as the
// window (some 100 KiB over all of them). A copy carries the pixels only.
QPixmap finished(const QPixmap &pixmap, QPainter &painter)
{
    painter.end();
    return pixmap.copy();
}

// A thin rounded bar across the middle of the picture.
QPixmap bar(QSize size, const QBrush &brush)
{
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal h = qMax<qreal>(2, size.height() / 4.0);
    p.setPen(Qt::NoPen);
    p.setBrush(brush);
    p.drawRoundedRect(QRectF(0, (size.height() - h) / 2, size.width(), h), h / 2, h / 2);
    return finished(pixmap, p);
}

void triangle(QPainter &p, QPointF a, QPointF b, QPointF c)
{
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    p.drawPath(path);
}

void drawGlyph(QPainter &p, Glyph glyph, const QRectF &r, const QColor &colour)
{
    const qreal w = r.width();
    const QPointF c = r.center();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    switch (glyph) {
    case Glyph::Play:
        triangle(p, c + QPointF(-w * 0.16, -w * 0.22), c + QPointF(-w * 0.16, w * 0.22),
                 c + QPointF(w * 0.24, 0));
        break;
    case Glyph::Pause:
        p.drawRoundedRect(QRectF(c.x() - w * 0.18, c.y() - w * 0.2, w * 0.12, w * 0.4), 1.5, 1.5);
        p.drawRoundedRect(QRectF(c.x() + w * 0.06, c.y() - w * 0.2, w * 0.12, w * 0.4), 1.5, 1.5);
        break;
    case Glyph::Previous:
        p.drawRect(QRectF(c.x() - w * 0.2, c.y() - w * 0.17, w * 0.06, w * 0.34));
        triangle(p, c + QPointF(w * 0.18, -w * 0.17), c + QPointF(w * 0.18, w * 0.17),
                 c + QPointF(-w * 0.12, 0));
        break;
    case Glyph::Next:
        p.drawRect(QRectF(c.x() + w * 0.14, c.y() - w * 0.17, w * 0.06, w * 0.34));
        triangle(p, c + QPointF(-w * 0.18, -w * 0.17), c + QPointF(-w * 0.18, w * 0.17),
                 c + QPointF(w * 0.12, 0));
        break;
    case Glyph::Search: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, qMax(1.5, w * 0.08), Qt::SolidLine, Qt::RoundCap));
        const qreal rad = w * 0.17;
        const QPointF lens = c + QPointF(-w * 0.05, -w * 0.05);
        p.drawEllipse(lens, rad, rad);
        p.drawLine(lens + QPointF(rad * 0.72, rad * 0.72), c + QPointF(w * 0.24, w * 0.24));
        break;
    }
    case Glyph::Minimise:
        p.setPen(QPen(colour, qMax(1.5, w * 0.08), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(-w * 0.2, w * 0.08), c + QPointF(w * 0.2, w * 0.08));
        break;
    case Glyph::Close:
        p.setPen(QPen(colour, qMax(1.5, w * 0.08), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(-w * 0.17, -w * 0.17), c + QPointF(w * 0.17, w * 0.17));
        p.drawLine(c + QPointF(-w * 0.17, w * 0.17), c + QPointF(w * 0.17, -w * 0.17));
        break;
    case Glyph::PlayMode: {
        // Two arrows chasing each other round a loop.
        p.setBrush(Qt::NoBrush);
        const qreal pen = qMax(1.5, w * 0.07);
        p.setPen(QPen(colour, pen, Qt::SolidLine, Qt::RoundCap));
        const QRectF loop(c.x() - w * 0.22, c.y() - w * 0.14, w * 0.44, w * 0.28);
        p.drawArc(loop, 30 * 16, 150 * 16);
        p.drawArc(loop, 210 * 16, 150 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        const QPointF right(loop.right(), c.y());
        const QPointF left(loop.left(), c.y());
        triangle(p, right + QPointF(-w * 0.08, -w * 0.02), right + QPointF(w * 0.08, -w * 0.02),
                 right + QPointF(0, w * 0.1));
        triangle(p, left + QPointF(-w * 0.08, w * 0.02), left + QPointF(w * 0.08, w * 0.02),
                 left + QPointF(0, -w * 0.1));
        break;
    }
    }
}

} // namespace

QPixmap button(Glyph glyph, QSize size, bool hover)
{
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(pixmap.rect()).adjusted(1, 1, -1, -1);
    const bool main = glyph == Glyph::Play || glyph == Glyph::Pause;
    const bool chrome = glyph == Glyph::Minimise || glyph == Glyph::Close;
    if (main) {
        // The play button is the accent disc of the window.
        QRadialGradient fill(r.center(), r.width() / 2);
        fill.setColorAt(0, hover ? kAccentLight : kAccent);
        fill.setColorAt(1, hover ? kAccent : kAccent.darker(130));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawEllipse(r);
        drawGlyph(p, glyph, r, kBackground);
    } else if (chrome) {
        if (hover) {
            p.setPen(Qt::NoPen);
            p.setBrush(glyph == Glyph::Close ? kDanger : kTrack);
            p.drawRoundedRect(r, 4, 4);
        }
        drawGlyph(p, glyph, r, hover ? Qt::white : kGlyph);
    } else {
        p.setPen(QPen(hover ? kAccent : kTrack, 1.5));
        p.setBrush(hover ? kPanel.lighter(130) : kPanel);
        p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
        drawGlyph(p, glyph, r, hover ? kAccentLight : kGlyph);
    }
    return finished(pixmap, p);
}

QPixmap knob(QSize size)
{
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(pixmap.rect()).adjusted(1, 1, -1, -1);
    QRadialGradient fill(r.center() - QPointF(r.width() * 0.15, r.height() * 0.15),
                         r.width() * 0.6);
    fill.setColorAt(0, Qt::white);
    fill.setColorAt(1, kGlyph.darker(115));
    p.setPen(QPen(kAccent, 1.5));
    p.setBrush(fill);
    p.drawEllipse(r);
    return finished(pixmap, p);
}

QPixmap track(QSize size)
{
    return bar(size, kTrack);
}

QPixmap trackFill(QSize size)
{
    QLinearGradient fill(0, 0, size.width(), 0);
    fill.setColorAt(0, kAccent.darker(120));
    fill.setColorAt(1, kAccent);
    return bar(size, fill);
}

QPixmap defaultSinger(QSize size)
{
    QPixmap pixmap = canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = pixmap.rect();
    QLinearGradient back(r.topLeft(), r.bottomRight());
    back.setColorAt(0, kPanel.lighter(125));
    back.setColorAt(1, kBackground);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(r, 8, 8);
    const qreal w = r.width();
    const qreal h = r.height();
    p.setBrush(kTrack.lighter(140));
    p.drawEllipse(QPointF(w / 2, h * 0.38), w * 0.17, h * 0.17);
    QPainterPath shoulders;
    shoulders.moveTo(w * 0.18, h);
    shoulders.cubicTo(w * 0.2, h * 0.62, w * 0.8, h * 0.62, w * 0.82, h);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
    // A small note in the corner says "music", not "missing".
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(w * 0.8, h * 0.22), w * 0.045, w * 0.035);
    p.drawRect(QRectF(w * 0.835, h * 0.08, w * 0.02, h * 0.14));
    return finished(pixmap, p);
}

QPixmap appIconPicture(int side)
{
    QPixmap pixmap = canvas(QSize(side, side));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(pixmap.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(r.topLeft(), r.bottomRight());
    fill.setColorAt(0, kAccentLight);
    fill.setColorAt(1, kAccent.darker(140));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(r);
    // A beamed pair of eighth notes.
    const qreal s = side;
    p.setBrush(kBackground);
    p.drawEllipse(QPointF(s * 0.36, s * 0.68), s * 0.1, s * 0.08);
    p.drawEllipse(QPointF(s * 0.66, s * 0.62), s * 0.1, s * 0.08);
    p.drawRect(QRectF(s * 0.43, s * 0.28, s * 0.05, s * 0.4));
    p.drawRect(QRectF(s * 0.73, s * 0.22, s * 0.05, s * 0.4));
    QPainterPath beam;
    beam.moveTo(s * 0.43, s * 0.28);
    beam.lineTo(s * 0.78, s * 0.22);
    beam.lineTo(s * 0.78, s * 0.31);
    beam.lineTo(s * 0.43, s * 0.37);
    beam.closeSubpath();
    p.drawPath(beam);
    return finished(pixmap, p);
}

namespace {

// The icon is drawn once per application and shared by every window and the
// tray (QIcon is implicitly shared); the post routine lets it go while the
// application that its pixmaps belong to still exists.
QIcon &sharedAppIcon()
{
    static QIcon icon;
    return icon;
}

void releaseAppIcon()
{
    sharedAppIcon() = QIcon();
}

QIcon drawAppIcon()
{
    QIcon icon;
    // Title bar, task bar and tray sizes; larger requests scale the 64 px
    // picture rather than keeping a 256 px one resident.
    for (int side : {16, 24, 32, 48, 64})
        icon.addPixmap(appIconPicture(side));
    return icon;
}

} // namespace

QIcon appIcon()
{
    QIcon &icon = sharedAppIcon();
    if (icon.isNull()) {
        icon = drawAppIcon();
        qAddPostRoutine(releaseAppIcon);
    }
    return icon;
}

} // namespace Artwork
