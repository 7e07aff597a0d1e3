// An off-screen drawing surface: one image of a known size that callers fill
// once (createFromPicture, or by painting into mutableImage()) and then copy slices of
// onto a painter, stretched or at their own size, optionally with magenta
// treated as transparent. The scroll bar skin keeps one surface per bitmap.
//
// width and height only ever grow: assigning a larger value recreates the
// surface (contents undefined), a smaller or equal one is ignored, so a
// surface reused for several pictures keeps the largest size it has seen.
#pragma once

#include <QImage>
#include <QRgb>

class QPainter;

class OffscreenSurface
{
public:
    // Pixels of this colour are left out by draw(..., useMask = true).
    static constexpr QRgb kMaskColour = 0xFFFF00FF; // RGB(255, 0, 255), magenta

    OffscreenSurface() = default;

    int width() const { return m_width; }
    void setWidth(int value);
    int height() const { return m_height; }
    void setHeight(int value);

    // The surface to draw into; a null image while either size is 0.
    QImage *mutableImage() { return &m_image; }
    const QImage &image() const { return m_image; }

    // Copies the source rectangle onto painter at (xDst, yDst), stretched to
    // widthDst x heightDst with nearest-neighbour sampling (no smoothing, so
    // skin slices stay crisp). widthSrc/heightSrc <= 0 mean the whole surface.
    // A destination size <= 0 draws nothing.
    void stretchDraw(QPainter *painter, int xDst, int yDst, int widthDst, int heightDst, int xSrc,
                     int ySrc, int widthSrc, int heightSrc) const;
    // Copies the source rectangle at its own size to (xDst, yDst): a plain
    // copy, or with useMask the magenta pixels leave the target unchanged.
    // Note the order: source first, destination last.
    void draw(QPainter *painter, int xSrc, int ySrc, int widthSrc, int heightSrc, int xDst,
              int yDst, bool useMask) const;
    // Grows the surface to the picture's size and copies the picture to (0, 0).
    void createFromPicture(const QImage &picture);

    // Copies a width x height block of src at (xSrc, ySrc) to (xDst, yDst) so
    // that pixels of maskColour leave the target unchanged. The block is
    // composed off-screen and the target is touched once.
    static void drawTransparent(QPainter *painter, int xDst, int yDst, int width, int height,
                                const QImage &src, int xSrc, int ySrc,
                                QRgb maskColour = kMaskColour);

private:
    void createSurface(int cx, int cy);
    void destroySurface();
    const QImage &maskedImage() const;

    QImage m_image;
    int m_width = 0;
    int m_height = 0;
    // The surface with magenta turned transparent, rebuilt when the surface
    // changes (its cache key moves whenever someone paints into it).
    mutable QImage m_masked;
    mutable qint64 m_maskedKey = -1;
};
