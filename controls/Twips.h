// The window is laid out in twips (1440 to the inch, so 15 to a pixel at
// 96 dpi), the unit the knob rules and the column widths are given in.
#pragma once

#include <QtMath>

namespace Twips {

// Twips in one logical inch.
constexpr int kPerInch = 1440;

inline int toPixels(double twips, int dpi)
{
    return qRound(twips * dpi / kPerInch);
}

inline double fromPixels(double pixels, int dpi)
{
    return dpi > 0 ? pixels * kPerInch / dpi : 0.0;
}

} // namespace Twips
