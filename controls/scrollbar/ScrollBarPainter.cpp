#include "controls/scrollbar/ScrollBarPainter.h"

#include <QImage>

using scrollbar::roundHalfEven;

namespace {

// Bitmap names in surface order.
const char *const kResourceNames[ScrollBarPainter::kSurfaceCount] = {
    "SCRBACKH", "SCRTHUMBH", "SCRGRIPH", "SCRARROWH", "SCRARROWHL", "SCRARROWHR",
    "SCRBACKV", "SCRTHUMBV", "SCRGRIPV", "SCRARROWV", "SCRARROWVT", "SCRARROWVB",
};

constexpr int kCap = 3;          // fixed caps and corners of every nine-slice part
constexpr int kTrackState = 2;   // width (or height) of one track state
constexpr int kTrackMiddle = 11; // middle band of a track between its caps
constexpr int kFrameLength = 18; // button frame length along the bar
constexpr int kFrameMiddle = 11; // button frame between its caps
constexpr int kGlyphAcross = 17;
constexpr int kThumbBlockAcross = 17; // one thumb state across the bar
constexpr int kThumbBlockAlong = 15;  // and along it
constexpr int kThumbFarCap = 12;      // offset of the far corner/edge slices in a block
constexpr int kThumbFarCapAcross = 14;
constexpr int kGripLong = 10;     // grip picture along the bar
constexpr int kGripShort = 9;     // and across it
constexpr int kGripMinThumb = 16; // shorter thumbs show no grip

} // namespace

ScrollBarPainter::ScrollBarPainter()
{
    for (int i = 0; i < kSurfaceCount; ++i) {
        const QImage picture(resourcePath(i));
        if (!picture.isNull())
            m_surfaces[i].createFromPicture(picture);
    }
}

QString ScrollBarPainter::resourcePath(int index)
{
    if (index < 0 || index >= kSurfaceCount)
        return {};
    return QStringLiteral(":/skin/%1.bmp").arg(QLatin1String(kResourceNames[index]));
}

void ScrollBarPainter::drawTrack(QPainter *painter, int orientation, qint16 state,
                                 const ScrollRect &r) const
{
    const int s = state;
    const int w = r.width();
    const int h = r.height();
    if (orientation == scrollbar::kHorizontal) {
        const OffscreenSurface &back = m_surfaces[kBackH];
        const int column = kTrackState * s;
        back.stretchDraw(painter, r.left, r.top, w, kCap, column, 0, kTrackState, kCap);
        back.stretchDraw(painter, r.left, r.bottom - kCap, w, kCap, column, kCap + kTrackMiddle,
                         kTrackState, kCap);
        back.stretchDraw(painter, r.left, r.top + kCap, w, h - 2 * kCap, column, kCap, kTrackState,
                         kTrackMiddle);
        return;
    }
    const OffscreenSurface &back = m_surfaces[kBackV];
    const int row = kTrackState * s;
    back.stretchDraw(painter, r.left, r.top, kCap, h, 0, row, kCap, kTrackState);
    back.stretchDraw(painter, r.right - kCap, r.top, kCap, h, kCap + kTrackMiddle, row, kCap,
                     kTrackState);
    back.stretchDraw(painter, r.left + kCap, r.top, w - 2 * kCap, h, kCap, row, kTrackMiddle,
                     kTrackState);
}

void ScrollBarPainter::drawThumb(QPainter *painter, int orientation, qint16 state,
                                 const ScrollRect &r) const
{
    const int s = state;
    const int l = r.left;
    const int t = r.top;
    const int w = r.width();
    const int h = r.height();
    const int farX = r.right - kCap;
    const int farY = r.bottom - kCap;
    if (orientation == scrollbar::kHorizontal) {
        const OffscreenSurface &thumb = m_surfaces[kThumbH];
        const int top = kThumbBlockAcross * s;
        const int bottom = top + kThumbFarCapAcross;
        const int middleW = kThumbBlockAlong - 2 * kCap;  // 9
        const int middleH = kThumbBlockAcross - 2 * kCap; // 11
        thumb.draw(painter, 0, top, kCap, kCap, l, t, false);
        thumb.draw(painter, kThumbFarCap, top, kCap, kCap, farX, t, false);
        thumb.draw(painter, 0, bottom, kCap, kCap, l, farY, false);
        thumb.draw(painter, kThumbFarCap, bottom, kCap, kCap, farX, farY, false);
        thumb.stretchDraw(painter, l, t + kCap, kCap, h - 2 * kCap, 0, top + kCap, kCap, middleH);
        thumb.stretchDraw(painter, farX, t + kCap, kCap, h - 2 * kCap, kThumbFarCap, top + kCap,
                          kCap, middleH);
        thumb.stretchDraw(painter, l + kCap, t, w - 2 * kCap, kCap, kCap, top, middleW, kCap);
        thumb.stretchDraw(painter, l + kCap, farY, w - 2 * kCap, kCap, kCap, bottom, middleW, kCap);
        thumb.stretchDraw(painter, l + kCap, t + kCap, w - 2 * kCap, h - 2 * kCap, kCap, top + kCap,
                          middleW, middleH);
        if (w >= kGripMinThumb) {
            m_surfaces[kGripH].draw(painter, 0, kGripShort * s, kGripLong, kGripShort,
                                    l + roundHalfEven((w - kGripLong) / 2.0),
                                    roundHalfEven((h - kGripShort) / 2.0), true);
        }
        return;
    }
    const OffscreenSurface &thumb = m_surfaces[kThumbV];
    const int left = kThumbBlockAcross * s;
    const int right = left + kThumbFarCapAcross;
    const int middleW = kThumbBlockAcross - 2 * kCap; // 11
    const int middleH = kThumbBlockAlong - 2 * kCap;  // 9
    thumb.draw(painter, left, 0, kCap, kCap, l, t, false);
    thumb.draw(painter, right, 0, kCap, kCap, farX, t, false);
    thumb.draw(painter, left, kThumbFarCap, kCap, kCap, l, farY, false);
    thumb.draw(painter, right, kThumbFarCap, kCap, kCap, farX, farY, false);
    thumb.stretchDraw(painter, l + kCap, t, w - 2 * kCap, kCap, left + kCap, 0, middleW, kCap);
    thumb.stretchDraw(painter, l + kCap, farY, w - 2 * kCap, kCap, left + kCap, kThumbFarCap,
                      middleW, kCap);
    thumb.stretchDraw(painter, l, t + kCap, kCap, h - 2 * kCap, left, kCap, kCap, middleH);
    thumb.stretchDraw(painter, farX, t + kCap, kCap, h - 2 * kCap, right, kCap, kCap, middleH);
    thumb.stretchDraw(painter, l + kCap, t + kCap, w - 2 * kCap, h - 2 * kCap, left + kCap, kCap,
                      middleW, middleH);
    if (h >= kGripMinThumb) {
        m_surfaces[kGripV].draw(painter, 0, kGripLong * s, kGripShort, kGripLong,
                                roundHalfEven((w - kGripShort) / 2.0),
                                t + roundHalfEven((h - kGripLong) / 2.0), true);
    }
}

void ScrollBarPainter::drawFirstButton(QPainter *painter, int orientation, qint16 state,
                                       const ScrollRect &r) const
{
    drawButton(painter, orientation, state, r, kArrowHL, kArrowVT);
}

void ScrollBarPainter::drawSecondButton(QPainter *painter, int orientation, qint16 state,
                                        const ScrollRect &r) const
{
    drawButton(painter, orientation, state, r, kArrowHR, kArrowVB);
}

void ScrollBarPainter::drawButton(QPainter *painter, int orientation, qint16 state,
                                  const ScrollRect &r, int glyphH, int glyphV) const
{
    const int s = state;
    const int w = r.width();
    const int h = r.height();
    // The frame is always a whole button long; a shorter rectangle (a bar
    // too short for two buttons) simply shows part of it beyond its edge.
    if (orientation == scrollbar::kHorizontal) {
        const OffscreenSurface &frame = m_surfaces[kArrowH];
        const int column = kFrameLength * s;
        frame.draw(painter, column, 0, kFrameLength, kCap, r.left, r.top, false);
        frame.draw(painter, column, kCap + kFrameMiddle, kFrameLength, kCap, r.left,
                   r.bottom - kCap, false);
        frame.stretchDraw(painter, r.left, r.top + kCap, kFrameLength, h - 2 * kCap, column, kCap,
                          kFrameLength, kFrameMiddle);
        m_surfaces[glyphH].draw(painter, column, 0, kFrameLength, kGlyphAcross, r.left,
                                roundHalfEven((h - kGlyphAcross) / 2.0), true);
        return;
    }
    const OffscreenSurface &frame = m_surfaces[kArrowV];
    const int row = kFrameLength * s;
    frame.draw(painter, 0, row, kCap, kFrameLength, r.left, r.top, false);
    frame.draw(painter, kCap + kFrameMiddle, row, kCap, kFrameLength, r.right - kCap, r.top, false);
    frame.stretchDraw(painter, r.left + kCap, r.top, w - 2 * kCap, kFrameLength, kCap, row,
                      kFrameMiddle, kFrameLength);
    m_surfaces[glyphV].draw(painter, 0, row, kGlyphAcross, kFrameLength,
                            roundHalfEven((w - kGlyphAcross) / 2.0), r.top, true);
}
