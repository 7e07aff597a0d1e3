#include "gfx/pcMemDC.h"

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

void pcMemDC::setWidth(int NewValue)
{
    if (NewValue > m_width)
        CreateSurface(NewValue, m_height);
}

void pcMemDC::setHeight(int NewValue)
{
    if (NewValue > m_height)
        CreateSurface(m_width, NewValue);
}

void pcMemDC::CreateSurface(int cx, int cy)
{
    DestroySurface();
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

void pcMemDC::DestroySurface()
{
    m_image = QImage();
    m_masked = QImage();
    m_maskedKey = -1;
    m_width = 0;
    m_height = 0;
}

void pcMemDC::StretchDraw(QPainter *hdc, int xDst, int yDst, int WidthDst, int HeightDst, int xSrc,
                          int ySrc, int WidthSrc, int HeightSrc) const
{
    if (!usable(hdc) || m_image.isNull() || WidthDst <= 0 || HeightDst <= 0)
        return;
    if (WidthSrc <= 0)
        WidthSrc = m_width;
    if (HeightSrc <= 0)
        HeightSrc = m_height;
    CopyMode mode(hdc, QPainter::CompositionMode_Source);
    hdc->drawImage(QRect(xDst, yDst, WidthDst, HeightDst), m_image,
                   QRect(xSrc, ySrc, WidthSrc, HeightSrc));
}

void pcMemDC::Draw(QPainter *hdc, int xSrc, int ySrc, int WidthSrc, int HeightSrc, int xDst,
                   int yDst, bool UseMask) const
{
    if (!usable(hdc) || m_image.isNull())
        return;
    if (WidthSrc <= 0)
        WidthSrc = m_width;
    if (HeightSrc <= 0)
        HeightSrc = m_height;
    const QRect source(xSrc, ySrc, WidthSrc, HeightSrc);
    if (UseMask) {
        // The masked copy of the whole surface is kept, so repeated glyph
        // draws cost one blend each.
        CopyMode mode(hdc, QPainter::CompositionMode_SourceOver);
        hdc->drawImage(QPoint(xDst, yDst), maskedImage(), source);
        return;
    }
    CopyMode mode(hdc, QPainter::CompositionMode_Source);
    hdc->drawImage(QPoint(xDst, yDst), m_image, source);
}

void pcMemDC::CreateFromPicture(const QImage &sPic)
{
    setWidth(sPic.width());
    setHeight(sPic.height());
    if (m_image.isNull() || sPic.isNull())
        return;
    QPainter painter(&m_image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, sPic);
}

const QImage &pcMemDC::maskedImage() const
{
    if (m_maskedKey != m_image.cacheKey() || m_masked.isNull()) {
        m_masked = withMaskCleared(m_image, kMaskColour);
        m_maskedKey = m_image.cacheKey();
    }
    return m_masked;
}

void pcMemDC::DrawTransparent(QPainter *hdcDest, int xDst, int yDst, int width, int height,
                              const QImage &src, int xSrc, int ySrc, QRgb maskColour)
{
    if (!usable(hdcDest) || src.isNull() || width <= 0 || height <= 0)
        return;
    // Compose the block off-screen: copy the source, clear its mask-coloured
    // pixels, then blend the result onto the target in one drawing call.
    const QImage block = withMaskCleared(src.copy(xSrc, ySrc, width, height), maskColour);
    CopyMode mode(hdcDest, QPainter::CompositionMode_SourceOver);
    hdcDest->drawImage(QPoint(xDst, yDst), block);
}
