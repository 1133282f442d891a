#pragma once
// Where the four channel panels of the measurement window go, in twips. The panels of the
// selected channels are stacked from the top without gaps; flow and dual-resistivity panels
// are three lines tall.

#include <array>
#include <cstdint>

namespace measure {

inline constexpr int kPanelCount = 4;

// Design geometry, twips, inside the frame Cadre1.
inline constexpr int kValueLeft = 5940;
inline constexpr std::array<int, kPanelCount> kValueTops{650, 1350, 2070, 2790};
inline constexpr std::array<int, kPanelCount> kValueWidths{3285, 3290, 3290, 3290};
inline constexpr std::array<int, kPanelCount> kValueHeights{375, 375, 390, 375};
inline constexpr int kTallValueHeight = 1125;
inline constexpr int kTagLeft = 4995;
inline constexpr int kTagWidth = 60;
inline constexpr int kTagHeight = 300;
inline constexpr int kBezelLeft = 5850;
inline constexpr std::array<int, kPanelCount> kBezelTops{570, 1290, 2010, 2730};
inline constexpr int kBezelWidth = 3495;
inline constexpr int kBezelHeight = 525;
inline constexpr int kTallBezelHeight = 1225;
inline constexpr int kFrameTop = 750;      // Cadre1 in the window
inline constexpr int kFrameLeft = 1800;
inline constexpr int kFrameWidth = 9555;
inline constexpr int kFrameDesignHeight = 6315;
inline constexpr int kBackgroundLeft = 45; // Dessin2 in Cadre1
inline constexpr int kBackgroundTop = 240;
inline constexpr int kBackgroundWidth = 9465;

struct PanelInput {
    bool selected = false; // check box value exactly 1
    int16_t measurementType = -1;
};

struct PanelGeometry {
    int valueTop = 0;
    int valueHeight = 0;
    int tagTop = 0;
    int bezelTop = 0;
    int bezelHeight = 0;
    bool tall = false; // shows "instrum1.bmp" instead of the plain bezel
};

struct PanelLayout {
    std::array<PanelGeometry, kPanelCount> panels{};
    int frameHeight = 0;      // Cadre1
    int backgroundHeight = 0; // Dessin2
};

// True for the types whose value text needs three lines (flow, dual resistivity).
bool isTallPanelType(int16_t measurementType);

PanelLayout LayoutChannelPanels(const std::array<PanelInput, kPanelCount>& channels);

} // namespace measure
