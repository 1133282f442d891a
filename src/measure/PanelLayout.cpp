#include "measure/PanelLayout.h"

#include "config/MeasurementTypes.h"

namespace measure {

bool isTallPanelType(int16_t measurementType)
{
    return measurementType == config::TypeFlow || measurementType == config::TypeR627;
}

PanelLayout LayoutChannelPanels(const std::array<PanelInput, kPanelCount>& channels)
{
    PanelLayout layout;
    // Unselected channels keep their design places (they are hidden anyway).
    for (int i = 0; i < kPanelCount; ++i) {
        const auto k = static_cast<size_t>(i);
        layout.panels[k] = PanelGeometry{kValueTops[k], kValueHeights[k], 720 * (i + 1), kBezelTops[k], kBezelHeight, false};
    }

    // The running top starts at the frame's own top in the window, which is why the first
    // panel sits 345 + 750 twips down the frame.
    float top = kFrameTop;
    float height = 0;
    float frameHeight = 720;
    for (int i = 0; i < kPanelCount; ++i) {
        const auto k = static_cast<size_t>(i);
        if (!channels[k].selected)
            continue;
        PanelGeometry& panel = layout.panels[k];
        panel.valueTop = static_cast<int>(top + height + 345);
        panel.tagTop = panel.valueTop;
        panel.bezelTop = panel.valueTop - 60;
        if (isTallPanelType(channels[k].measurementType)) {
            panel.tall = true;
            panel.bezelHeight = kTallBezelHeight;
            panel.valueHeight = kTallValueHeight;
        }
        top = static_cast<float>(panel.valueTop);
        height = static_cast<float>(panel.valueHeight);
        frameHeight = height + top + 720;
    }
    layout.frameHeight = static_cast<int>(frameHeight);
    layout.backgroundHeight = layout.frameHeight - 250;
    return layout;
}

} // namespace measure
