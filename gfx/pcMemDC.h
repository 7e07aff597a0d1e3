// An off-screen drawing surface: one image of a known size that callers fill
// once (CreateFromPicture, or by painting into hdc()) and then copy slices of
// onto a painter, stretched or at their own size, optionally with magenta
// treated as transparent. The scroll bar skin keeps one surface per bitmap.
//
// Width and Height only ever grow: assigning a larger value recreates the
// surface (contents undefined), a smaller or equal one is ignored, so a
// surface reused for several pictures keeps the largest size it has seen.
#pragma once

#include <QImage>
#include <QRgb>

class QPainter;

class pcMemDC
{
public:
    // Pixels of this colour are left out by Draw(..., UseMask = true).
    static constexpr QRgb kMaskColour = 0xFFFF00FF; // RGB(255, 0, 255), magenta

    pcMemDC() = default;

    int Width() const { return m_width; }
    void setWidth(int NewValue);
    int Height() const { return m_height; }
    void setHeight(int NewValue);

    // The surface to draw into; a null image while either size is 0.
    QImage *hdc() { return &m_image; }
    const QImage &image() const { return m_image; }

    // Copies the source rectangle onto hdc at (xDst, yDst), stretched to
    // WidthDst x HeightDst with nearest-neighbour sampling (no smoothing, so
    // skin slices stay crisp). WidthSrc/HeightSrc <= 0 mean the whole surface.
    // A destination size <= 0 draws nothing.
    void StretchDraw(QPainter *hdc, int xDst, int yDst, int WidthDst, int HeightDst, int xSrc,
                     int ySrc, int WidthSrc, int HeightSrc) const;
    // Copies the source rectangle at its own size to (xDst, yDst): a plain
    // copy, or with UseMask the magenta pixels leave the target unchanged.
    // Note the order: source first, destination last.
    void Draw(QPainter *hdc, int xSrc, int ySrc, int WidthSrc, int HeightSrc, int xDst, int yDst,
              bool UseMask) const;
    // Grows the surface to the picture's size and copies the picture to (0, 0).
    void CreateFromPicture(const QImage &sPic);

    // Copies a width x height block of src at (xSrc, ySrc) to (xDst, yDst) so
    // that pixels of maskColour leave the target unchanged. The block is
    // composed off-screen and the target is touched once.
    static void DrawTransparent(QPainter *hdcDest, int xDst, int yDst, int width, int height,
                                const QImage &src, int xSrc, int ySrc,
                                QRgb maskColour = kMaskColour);

private:
    void CreateSurface(int cx, int cy);
    void DestroySurface();
    const QImage &maskedImage() const;

    QImage m_image;
    int m_width = 0;
    int m_height = 0;
    // The surface with magenta turned transparent, rebuilt when the surface
    // changes (its cache key moves whenever someone paints into it).
    mutable QImage m_masked;
    mutable qint64 m_maskedKey = -1;
};
