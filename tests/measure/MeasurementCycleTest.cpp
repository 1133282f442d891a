#include "measure/MeasurementCycle.h"

#include "config/ChannelConfiguration.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace measure;

namespace {

struct Call {
    int16_t type;
    double address;
    int16_t start;
    bool operator==(const Call&) const = default;
};

class MeasurementCycleTest : public ::testing::Test {
protected:
    MeasurementCycleTest()
        : channels(dialogs, dir.path())
        , cycle(channels, flags, [this](int16_t type, double address, int16_t start) {
                    calls.push_back(Call{type, address, start});
                    if (duringRead)
                        duringRead();
                    return answers.count(address) ? measure::ChannelRead::of(answers[address])
                                                  : measure::ChannelRead::failed(diagnostics::Outcome::noReply(2000));
                },
                [this](int channel, const QString& text) { shown[channel] = text; })
    {
        channels.ensureLoaded();
        dialogs.clear();
    }

    void select(int i, int16_t type, const QString& address, bool master)
    {
        channels.setSelected(i, 1);
        channels.setMeasurementType(i, type);
        channels.setStationAddress(i, address);
        channels.setRoleOption(i, master ? 0 : 1, true);
    }

    QTemporaryDir dir;
    testing_support::ScriptedDialogs dialogs;
    config::ChannelConfiguration channels;
    MeasurementFlags flags;
    std::vector<Call> calls;
    std::map<double, QString> answers;
    std::map<int, QString> shown;
    std::function<void()> duringRead;
    MeasurementCycle cycle;
};

} // namespace

TEST_F(MeasurementCycleTest, PollsSelectedChannelsInOrderFromTheirBlocks)
{
    select(0, config::TypePH, QStringLiteral("3"), true);
    select(2, config::TypeConductivity, QStringLiteral("2.5"), false);
    answers[3] = QStringLiteral("7.00 pH");
    cycle.RunMeasurementCycle();
    EXPECT_EQ(calls, (std::vector<Call>{{config::TypePH, 3, 0}, {config::TypeConductivity, 2.5, 20}}));
    EXPECT_EQ(shown, (std::map<int, QString>{{0, QStringLiteral("7.00 pH")}, {2, kOutOfOrder}}));
    EXPECT_FALSE(flags.CycleRunning);
}

TEST_F(MeasurementCycleTest, AChannelWithoutTypeSendsNothingAndKeepsItsLabel)
{
    select(1, config::TypeNone, QStringLiteral("4"), true);
    channels.setSelected(3, 2); // greyed check box: not selected
    channels.setMeasurementType(3, config::TypePH);
    cycle.RunMeasurementCycle();
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(shown.empty());
}

TEST_F(MeasurementCycleTest, EditsCountAtTheNextVisitAndNoRoleReadsTheExtBlock)
{
    select(0, config::TypeORP, QStringLiteral("5"), true);
    cycle.RunMeasurementCycle();
    channels.setStationAddress(0, QStringLiteral("6"));
    channels.setRoleOption(0, 0, false); // no role left
    cycle.RunMeasurementCycle();
    EXPECT_EQ(calls, (std::vector<Call>{{config::TypeORP, 5, 0}, {config::TypeORP, 6, 20}}));
}

TEST_F(MeasurementCycleTest, AStopRequestEndsTheCycleAfterTheCurrentChannel)
{
    for (int i = 0; i < 4; ++i)
        select(i, config::TypePH, QString::number(i + 1), true);
    answers[2] = QStringLiteral("4.00 pH");
    duringRead = [this] {
        if (calls.size() == 2) {
            EXPECT_TRUE(flags.CycleRunning);
            flags.StopRequest = flags.stopMarker;
        }
    };
    cycle.RunMeasurementCycle();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(shown[1], QStringLiteral("4.00 pH")); // the channel under way completes
    EXPECT_FALSE(flags.CycleRunning);
}

TEST_F(MeasurementCycleTest, HandsOverOneReadingPerVisitWithTheTextShown)
{
    select(0, config::TypePH, QStringLiteral("3"), true);
    select(1, config::TypeFlow, QStringLiteral("4"), true);
    channels.setTag(0, QStringLiteral("Tank"));
    answers[3] = QStringLiteral("7.00 pH");
    std::vector<std::vector<Reading>> handed;
    cycle.setReadingsSink([&](std::vector<Reading> readings) { handed.push_back(std::move(readings)); });
    cycle.RunMeasurementCycle();
    ASSERT_EQ(handed.size(), 1u);
    const std::vector<Reading>& readings = handed[0];
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].channel, 0);
    EXPECT_EQ(readings[0].tag, QStringLiteral("Tank"));
    EXPECT_EQ(readings[0].typeName, QStringLiteral("pH"));
    EXPECT_TRUE(readings[0].ok);
    EXPECT_EQ(readings[0].shown.text, shown[0]);
    EXPECT_EQ(readings[1].typeName, QStringLiteral("Flow")); // the list's trailing blank is not part of the name
    EXPECT_FALSE(readings[1].ok);
    EXPECT_EQ(readings[1].shown.text, kOutOfOrder);
    EXPECT_FALSE(readings[1].shown.value);
    EXPECT_LE(readings[0].timeMs, readings[1].timeMs);
    EXPECT_GT(readings[0].timeMs, 1'700'000'000'000); // UTC milliseconds, not seconds
}
