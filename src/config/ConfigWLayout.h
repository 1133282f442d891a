#pragma once
// The grid of the application configuration window, in twips: one row per channel under four
// column headings, every control of a row centred on the row's middle line. All figures are
// whole pixels (multiples of 15 twips), so the rows stay aligned on the screen too.

#include "ui/Twips.h"

namespace config::layout {

// The panel that holds every control; the window centres it horizontally.
inline constexpr int kPanelWidth = 13140;

// Title "Inputs configuration": a shadow label and the label over it.
inline constexpr int kTitleTop = 240;
inline constexpr int kTitleHeight = 600;
inline constexpr int kTitleShadowOffset = 30;

// Column headings.
inline constexpr int kHeadingTop = 1020;
inline constexpr int kHeadingHeight = 300;

// Rows.
inline constexpr int kFirstRowTop = 1440;
inline constexpr int kRowPitch = 720;
inline constexpr int kRowHeight = 570; // the address and role frame fills the row
inline constexpr int kControlHeight = 390; // type list, boxes and labels
inline constexpr int kCheckSize = 300;

// Columns: left edge and width.
inline constexpr int kCheckLeft = 360;
inline constexpr int kInputLabelLeft = 780;
inline constexpr int kInputLabelWidth = 1200;
inline constexpr int kTypeLeft = 2280;
inline constexpr int kTypeWidth = 2700;
inline constexpr int kFrameLeft = 5280;
inline constexpr int kFrameWidth = 3600;
inline constexpr int kTagLeft = 9180;
inline constexpr int kTagWidth = 3600;

// Inside the frame: the address box, then the Master and Ext. options with their labels.
inline constexpr int kAddressLeft = 120;
inline constexpr int kAddressWidth = 720;
inline constexpr int kRoleLeft[2] = {1080, 2400};
inline constexpr int kRoleLabelGap = 300;
inline constexpr int kRoleLabelWidth[2] = {900, 720};

// OK and CANCEL under the rows, either side of the panel's middle.
inline constexpr int kButtonWidth = 1500;
inline constexpr int kButtonHeight = 480;
inline constexpr int kButtonGap = 240;

constexpr int rowTop(int channel)
{
    return kFirstRowTop + channel * kRowPitch;
}

// Top of a control of the given height centred in its row (or in the frame, which fills the row).
constexpr int centredTop(int height)
{
    return (kRowHeight - height) / 2;
}

inline constexpr int kButtonTop = rowTop(4) + 240;
inline constexpr int kPanelHeight = kButtonTop + kButtonHeight + 240;

constexpr bool wholePixels(int twips)
{
    return twips % ui::kTwipsPerPixel == 0;
}

static_assert(wholePixels(kRowPitch) && wholePixels(kFirstRowTop) && wholePixels(centredTop(kControlHeight))
                  && wholePixels(centredTop(kCheckSize)) && wholePixels(kRowHeight),
              "row figures must be whole pixels so that the rows stay aligned");
static_assert(kTagLeft + kTagWidth <= kPanelWidth && kFrameLeft + kFrameWidth <= kTagLeft
                  && kTypeLeft + kTypeWidth <= kFrameLeft,
              "columns must not overlap");
static_assert(kRoleLeft[1] + kRoleLabelGap + kRoleLabelWidth[1] <= kFrameWidth, "the roles fit in their frame");

} // namespace config::layout
