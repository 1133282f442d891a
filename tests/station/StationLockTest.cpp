// One measurement per folder and per device: a second zentlog-station is refused and names the
// process that holds them, and the first goes on.

#include "SimProcess.h"
#include "StationRun.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testing_support;

TEST(StationLocks, ASecondStationOnTheSameFolderOrDeviceIsRefusedNamingTheHolder)
{
    SimProcess sim(twoStations());
    QTemporaryDir dir;
    QTemporaryDir otherDir;
    writeStationFiles(dir.path());
    writeStationFiles(otherDir.path());
    Station first(dir.path(), sim.linkPath());
    ASSERT_TRUE(first.waitForLog(QStringLiteral("valid reading"), 2, 10000)) << first.log().toStdString();

    const struct {
        QString folder;
        QString refusal;
    } cases[]{
        {dir.path(), QStringLiteral("is already being measured by process %1\\b")},
        {otherDir.path(), QStringLiteral("COM1 \\([^)\\n]+\\) is in use by process %1\\b")},
    };
    for (const auto& c : cases) {
        Station second(c.folder, sim.linkPath());
        EXPECT_EQ(second.waitForExit(5000), 3) << second.log().toStdString();
        EXPECT_EQ(matches(second.log(), c.refusal.arg(first.pid())), 1) << second.log().toStdString();
    }

    EXPECT_TRUE(first.running());
    EXPECT_EQ(matches(first.log(), QStringLiteral("cannot be opened|stopped working")), 0) << first.log().toStdString();
    first.signal(SIGINT);
    EXPECT_EQ(first.waitForExit(2500), 0) << first.log().toStdString();
}
