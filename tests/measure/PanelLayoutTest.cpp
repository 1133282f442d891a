#include "measure/PanelLayout.h"

#include "config/MeasurementTypes.h"

#include <gtest/gtest.h>

using namespace measure;

namespace {
std::array<PanelInput, kPanelCount> only(std::initializer_list<std::pair<int, int16_t>> selected)
{
    std::array<PanelInput, kPanelCount> inputs{};
    for (const auto& [channel, type] : selected)
        inputs[static_cast<size_t>(channel)] = PanelInput{true, type};
    return inputs;
}
} // namespace

TEST(PanelLayout, WorkedExampleConductivityThenFlow)
{
    const PanelLayout layout = LayoutChannelPanels(only({{0, config::TypeConductivity}, {1, config::TypeFlow}}));
    const PanelGeometry& first = layout.panels[0];
    EXPECT_EQ(first.valueTop, 1095);
    EXPECT_EQ(first.tagTop, 1095);
    EXPECT_EQ(first.bezelTop, 1035);
    EXPECT_EQ(first.valueHeight, 375);
    EXPECT_FALSE(first.tall);
    const PanelGeometry& second = layout.panels[1];
    EXPECT_EQ(second.valueTop, 1815);
    EXPECT_EQ(second.bezelTop, 1755);
    EXPECT_EQ(second.bezelHeight, 1225);
    EXPECT_EQ(second.valueHeight, 1125);
    EXPECT_TRUE(second.tall);
    EXPECT_EQ(layout.frameHeight, 3660);
    EXPECT_EQ(layout.backgroundHeight, 3410);
}

TEST(PanelLayout, NoChannelLeavesDesignPlacesAndASmallFrame)
{
    const PanelLayout layout = LayoutChannelPanels({});
    EXPECT_EQ(layout.frameHeight, 720);
    EXPECT_EQ(layout.backgroundHeight, 470);
    EXPECT_EQ(layout.panels[2].valueTop, 2070);
    EXPECT_EQ(layout.panels[2].valueHeight, 390);
    EXPECT_EQ(layout.panels[3].tagTop, 2880);
}

TEST(PanelLayout, ASingleChannelMovesToTheTop)
{
    const PanelLayout layout = LayoutChannelPanels(only({{3, config::TypePH}}));
    EXPECT_EQ(layout.panels[3].valueTop, 1095);
    EXPECT_EQ(layout.panels[3].bezelTop, 1035);
    EXPECT_EQ(layout.frameHeight, 375 + 1095 + 720);
}

TEST(PanelLayout, TallPanelsFollowEachOther345Apart)
{
    const PanelLayout layout = LayoutChannelPanels(only({{1, config::TypeFlow}, {2, config::TypeR627}}));
    EXPECT_EQ(layout.panels[1].valueTop, 1095);
    EXPECT_EQ(layout.panels[2].valueTop, 1095 + 1125 + 345);
    EXPECT_TRUE(layout.panels[2].tall); // two lines of text, tall panel all the same
    EXPECT_EQ(layout.panels[2].bezelHeight, 1225);
    EXPECT_EQ(layout.frameHeight, 2565 + 1125 + 720);
    // A channel without a type gets a one-line panel.
    EXPECT_FALSE(LayoutChannelPanels(only({{0, config::TypeNone}})).panels[0].tall);
}
