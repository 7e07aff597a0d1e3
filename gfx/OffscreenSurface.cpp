#include "gfx/OffscreenSurface.h"

#include <QPainter>

namespace {

// Runs a copy with the painter in "replace" mode and without smoothing, and
// puts the painter back as it was: a copy must overwrite the target pixels
// exactly as a raster copy does, whatever the caller's painter state.
class CopyMode
{
public:
    CopyMode(QPainter *painter, QPainter::CompositionMode mode) : m_painter(painter)
    {
        m_painter->save();
        m_painter->setCompositionMode(mode);
        m_painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    ~CopyMode() { m_painter->restore(); }
    CopyMode(const CopyMode &) = delete;
    CopyMode &operator=(const CopyMode &) = delete;

private:
    QPainter *m_painter;
};

bool usable(const QPainter *painter)
{
    return painter && painter->isActive();
}

// Premultiplied copy of image with every pixel of maskColour fully clear.
QImage withMaskCleared(const QImage &image, QRgb maskColour)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRgb key = maskColour & 0xFFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == key && qAlpha(line[x]) == 0xFF)
                line[x] = 0;
        }
    }
    return out;
}

} // namespace

void OffscreenSurface::setWidth(int value)
{
    if (value > m_width)
        createSurface(value, m_height);
}

void OffscreenSurface::setHeight(int value)
{
    if (value > m_height)
        createSurface(m_width, value);
}

void OffscreenSurface::createSurface(int cx, int cy)
{
    destroySurface();
    if (cx < 0 || cy < 0)
        return;
    // A surface one of whose sizes is still 0 (width set, height not yet)
    // holds no pixels but keeps its sizes, so the next assignment builds on it.
    if (cx > 0 && cy > 0) {
        m_image = QImage(cx, cy, QImage::Format_RGB32);
        if (m_image.isNull())
            return; // out of memory: no surface
    }
    m_width = cx;
    m_height = cy;
}

void OffscreenSurface::destroySurface()
{
    m_image = QImage();
    m_masked = QImage();
    m_maskedKey = -1;
    m_width = 0;
    m_height = 0;
}

void OffscreenSurface::stretchDraw(QPainter *painter, int xDst, int yDst, int widthDst,
                                   int heightDst, int xSrc, int ySrc, int widthSrc,
                                   int heightSrc) const
{
    if (!usable(painter) || m_image.isNull() || widthDst <= 0 || heightDst <= 0)
        return;
    if (widthSrc <= 0)
        widthSrc = m_width;
    if (heightSrc <= 0)
        heightSrc = m_height;
    CopyMode mode(painter, QPainter::CompositionMode_Source);
    painter->drawImage(QRect(xDst, yDst, widthDst, heightDst), m_image,
                       QRect(xSrc, ySrc, widthSrc, heightSrc));
}

void OffscreenSurface::draw(QPainter *painter, int xSrc, int ySrc, int widthSrc, int heightSrc,
                            int xDst, int yDst, bool useMask) const
{
    if (!usable(painter) || m_image.isNull())
        return;
    if (widthSrc <= 0)
        widthSrc = m_width;
    if (heightSrc <= 0)
        heightSrc = m_height;
    const QRect source(xSrc, ySrc, widthSrc, heightSrc);
    if (useMask) {
        // The masked copy of the whole surface is kept, so repeated glyph
        // draws cost one blend each.
        CopyMode mode(painter, QPainter::CompositionMode_SourceOver);
        painter->drawImage(QPoint(xDst, yDst), maskedImage(), source);
        return;
    }
    CopyMode mode(painter, QPainter::CompositionMode_Source);
    painter->drawImage(QPoint(xDst, yDst), m_image, source);
}

void OffscreenSurface::createFromPicture(const QImage &picture)
{
    setWidth(picture.width());
    setHeight(picture.height());
    if (m_image.isNull() || picture.isNull())
        return;
    QPainter painter(&m_image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture);
}

const QImage &OffscreenSurface::maskedImage() const
{
    if (m_maskedKey != m_image.cacheKey() || m_masked.isNull()) {
        m_masked = withMaskCleared(m_image, kMaskColour);
        m_maskedKey = m_image.cacheKey();
    }
    return m_masked;
}

void OffscreenSurface::drawTransparent(QPainter *painter, int xDst, int yDst, int width, int height,
                                       const QImage &src, int xSrc, int ySrc, QRgb maskColour)
{
    if (!usable(painter) || src.isNull() || width <= 0 || height <= 0)
        return;
    // Compose the block off-screen: copy the source, clear its mask-coloured
    // pixels, then blend the result onto the target in one drawing call.
    const QImage block = withMaskCleared(src.copy(xSrc, ySrc, width, height), maskColour);
    CopyMode mode(painter, QPainter::CompositionMode_SourceOver);
    painter->drawImage(QPoint(xDst, yDst), block);
}
