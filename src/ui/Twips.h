#pragma once
// Window geometry is worked out in twips (1/1440 inch) so that the arithmetic can be tested,
// and shown at 15 twips per pixel.

#include <QRect>

namespace ui {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

constexpr int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace ui
