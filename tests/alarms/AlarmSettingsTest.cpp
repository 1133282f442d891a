// The alarm options of "zentlog.ini": limits in order, bad values turning one input's alarms off,
// and what the settings window saves read back as it was.

#include "alarms/AlarmSettings.h"
#include "common/IniSections.h"

#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace alarms;

TEST(AlarmSettings, LimitsOutOfOrderAndNegativeTimesAreRefusedNamingTheKey)
{
    const auto limits = [](std::optional<double> lowLow, std::optional<double> low, std::optional<double> high,
                           std::optional<double> highHigh) {
        InputLimits l;
        l.value = {lowLow, low, high, highHigh};
        return l;
    };
    InputLimits negativeDelay;
    negativeDelay.delayS = -1;
    InputLimits temperature;
    temperature.temperature = {std::nullopt, 20, 10, std::nullopt};
    const struct {
        InputLimits limits;
        QString problem;
    } cases[] = {
        {limits(6, 6.5, 8.5, 9), {}},
        {limits(6.5, 6.5, 8.5, 8.5), {}},
        {limits(std::nullopt, 8, 8, std::nullopt), QStringLiteral("low=8 is not below high=8")},
        {limits(7, 6.5, std::nullopt, std::nullopt), QStringLiteral("low_low=7 is not at or below low=6.5")},
        {limits(std::nullopt, std::nullopt, 9, 8), QStringLiteral("high=9 is not at or below high_high=8")},
        {limits(9, std::nullopt, std::nullopt, 8), QStringLiteral("low_low=9 is not below high_high=8")},
        {temperature, QStringLiteral("temperature_low=20 is not below temperature_high=10")},
        {negativeDelay, QStringLiteral("delay_s=-1 is negative")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(limitsProblem(c.limits), c.problem);
}

TEST(AlarmSettings, ABadValueTurnsOffThatInputOnlyAndSavedSettingsReadBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zentlog.ini"));
    testing_support::writeFile(path, "[alarms]\ncommand=/usr/local/bin/notify\n"
                                     "[alarms-input0]\nhigh=8.5\nlow=6.5\ndeadband=0.1\ndelay_s=5\nfailing_s=600\n"
                                     "[alarms-input1]\nhigh=abc\nlow=1\n"
                                     "[alarms-input2]\nhigh=1\nlow=2\n");
    const AlarmSettings loaded = AlarmSettings::load(dir.path());
    EXPECT_EQ(loaded.command, QStringLiteral("/usr/local/bin/notify"));
    EXPECT_EQ(loaded.inputs[0].value.high, 8.5);
    EXPECT_EQ(loaded.inputs[0].failingS, 600.0);
    EXPECT_FALSE(loaded.inputs[1].any());
    EXPECT_FALSE(loaded.inputs[2].any());
    EXPECT_TRUE(loaded.problem.contains(QStringLiteral("[alarms-input1] high=abc is not a number; the alarms of input 1 are off")))
        << loaded.problem.toStdString();
    EXPECT_TRUE(loaded.problem.contains(QStringLiteral("[alarms-input2] low=2 is not below high=1"))) << loaded.problem.toStdString();

    AlarmSettings changed = loaded;
    changed.inputs[1].value.high = 3;
    changed.inputs[1].value.low = 1;
    changed.inputs[3].temperature.high = 40;
    EXPECT_EQ(changed.save({false, true, false, true}, dir.path()), QString());
    const AlarmSettings again = AlarmSettings::load(dir.path());
    EXPECT_EQ(again.inputs[0], loaded.inputs[0]);
    EXPECT_EQ(again.inputs[1], changed.inputs[1]);
    EXPECT_EQ(again.inputs[3], changed.inputs[3]);
    EXPECT_FALSE(again.problem.contains(QStringLiteral("input1"))) << again.problem.toStdString();

    changed.inputs[3].delayS = -2;
    EXPECT_EQ(changed.save({false, false, false, true}, dir.path()), QStringLiteral("Input 3: delay_s=-2 is negative."));
}

TEST(AlarmSettings, ACommandFromAFileOthersMayWriteIsRefused)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zentlog.ini"));
    testing_support::writeFile(path, "[alarms]\n");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    EXPECT_EQ(commandFileProblem(path), QString());
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::WriteGroup);
    EXPECT_TRUE(commandFileProblem(path).contains(QStringLiteral("may be written by others")));
}
