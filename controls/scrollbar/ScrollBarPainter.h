// Paints the parts of the scroll bar from the twelve skin bitmaps. Each
// bitmap holds every visual state of one part side by side (or stacked); the
// parts are drawn by cutting fixed caps and stretching the middle slices, so
// any bar size works from small pictures.
//
// State indexes: arrow buttons 0 normal, 1 pointer inside the bar, 2 hot,
// 3 pressed, 4 disabled; tracks 0 normal, 1 pressed; thumbs 0 normal, 1 hot,
// 2 pressed, 3 disabled.
#pragma once

#include "controls/scrollbar/ScrollBarGeometry.h"
#include "gfx/OffscreenSurface.h"

#include <QString>

#include <array>

class QPainter;

class ScrollBarPainter
{
public:
    static constexpr int kSurfaceCount = 12;
    // Surface indexes, in the order the bitmaps are loaded.
    enum Surface {
        kBackH = 0,
        kThumbH,
        kGripH,
        kArrowH,
        kArrowHL,
        kArrowHR,
        kBackV,
        kThumbV,
        kGripV,
        kArrowV,
        kArrowVT,
        kArrowVB,
    };

    // Loads the skin bitmaps from the resources; a bitmap that fails to load
    // leaves its surface empty and that part draws nothing.
    ScrollBarPainter();

    // Resource path of surface index (":/skin/<NAME>.bmp").
    static QString resourcePath(int index);
    const OffscreenSurface &surface(int index) const { return m_surfaces.at(index); }

    // Orientation 1 draws horizontally, any other value vertically.
    void drawTrack(QPainter *painter, int orientation, qint16 state, const ScrollRect &r) const;
    void drawThumb(QPainter *painter, int orientation, qint16 state, const ScrollRect &r) const;
    void drawFirstButton(QPainter *painter, int orientation, qint16 state,
                         const ScrollRect &r) const;
    void drawSecondButton(QPainter *painter, int orientation, qint16 state,
                          const ScrollRect &r) const;

private:
    void drawButton(QPainter *painter, int orientation, qint16 state, const ScrollRect &r,
                    int glyphH, int glyphV) const;

    std::array<OffscreenSurface, kSurfaceCount> m_surfaces;
};
