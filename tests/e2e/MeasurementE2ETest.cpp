// The real program (application object, windows offscreen, QSerialPort) measuring stations that
// zentlog-sim serves on a pseudo-terminal, with real one-second ticks.

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "serial/QtSerialControl.h"

#include "PtyPeer.h"
#include "ScriptedDialogs.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using testing_support::ScriptedDialogs;
using testing_support::SimProcess;
using testing_support::waitFor;

namespace {

const QStringList kStations{QStringLiteral("1 0 ph fixed"), QStringLiteral("1 20 orp fixed"),
                            QStringLiteral("2 0 conductivity fixed"), QStringLiteral("3 0 flow fixed")};
const QString kPh = QStringLiteral("7.00 pH     18.0  °C");
const QString kOrp = QStringLiteral("350 mV     18.0  °C");
const QString kFlow = QStringLiteral("  12.50  m3/h    12.0  °C\r\n 1234   m3  \r\n 123456   m3  ");
const QString kRequestPh = QStringLiteral("1 3 0 8");

struct Channel {
    int selected;
    int type;
    const char* address;
    bool master;
};

QByteArray configFor(const std::array<Channel, 4>& channels)
{
    QByteArray text;
    QByteArray masters;
    QByteArray exts;
    for (const Channel& c : channels) {
        text += QByteArray::number(c.selected) + "," + QByteArray::number(c.type) + "\r\n\"" + c.address + "\",\"tag\"\r\n";
        masters += QByteArray(masters.isEmpty() ? "" : ",") + (c.master ? "#TRUE#" : "#FALSE#");
        exts += QByteArray(exts.isEmpty() ? "" : ",") + (c.master ? "#FALSE#" : "#TRUE#");
    }
    return text + masters + "\r\n" + exts + "\r\n";
}

class MeasurementE2E : public ::testing::Test {
protected:
    void start(const std::array<Channel, 4>& channels, const QStringList& stations = kStations)
    {
        sim = std::make_unique<SimProcess>(stations);
        qputenv("ZENTLOG_COM1", sim->linkPath().toLocal8Bit());
        testing_support::writeFile(dir.filePath(QStringLiteral("config.txt")), configFor(channels));
        testing_support::writeFile(dir.filePath(QStringLiteral("PortCom.dat")), " 1  0 \r\n 0 \r\n 0 \r\n");
        app = std::make_unique<app::Application>(dialogs, std::make_unique<serial::QtSerialControl>(), dir.path());
        app->setQuitHandler([this] { ++quits; });
        app->mainWindow().Form_Load();
        app->mainWindow().Mesure_Click();
        ASSERT_NE(window(), nullptr);
    }
    ~MeasurementE2E() override
    {
        app.reset();
        qunsetenv("ZENTLOG_COM1");
    }

    measure::F_Mesure* window() const { return app->measurementWindow(); }
    QString label(int i) const { return window()->valueText(i); }
    // Lets the program run until `done`, at most `ms`.
    bool runUntil(const std::function<bool()>& done, int ms)
    {
        waitFor(done, ms);
        return done();
    }
    qsizetype requestCount() const { return sim->requests().size(); }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<app::Application> app;
    int quits = 0;
};

} // namespace

TEST_F(MeasurementE2E, TwoSelectedChannelsGiveTwoRequestsPerTickInChannelOrder)
{
    // Channel 2's address "2.5" goes out as 2; as an Ext. channel it reads from register 20, a
    // block that station 2 does not have. Channel 3 is selected without a type.
    start({Channel{1, 2, "1", true}, Channel{0, 1, "2", true}, Channel{1, 1, "2.5", false}, Channel{1, -1, "3", true}});
    ASSERT_TRUE(runUntil([&] { return requestCount() >= 6; }, 8000));
    const QStringList requests = sim->requests().mid(0, 6);
    EXPECT_EQ(requests, (QStringList{kRequestPh, QStringLiteral("2 3 20 8"), kRequestPh, QStringLiteral("2 3 20 8"),
                                     kRequestPh, QStringLiteral("2 3 20 8")}));
    EXPECT_EQ(label(0), kPh);
    EXPECT_EQ(label(2), QStringLiteral("Out of order"));
    EXPECT_EQ(label(3), QString());
    EXPECT_EQ(window()->Etiquette3(3)->text(), QString());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(MeasurementE2E, ASilentStationIsOutOfOrderWhileTheOthersUpdateAndComesBack)
{
    start({Channel{1, 3, "1", false}, Channel{1, 5, "3", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
    ASSERT_TRUE(runUntil([&] { return label(1) == kFlow; }, 5000));
    EXPECT_EQ(label(0), kOrp);

    sim->reconfigure({QStringLiteral("1 20 orp fixed"), QStringLiteral("3 0 flow fixed silent")});
    ASSERT_TRUE(runUntil([&] { return label(1) == QStringLiteral("Out of order"); }, 8000));
    const qsizetype before = requestCount();
    ASSERT_TRUE(runUntil([&] { return requestCount() >= before + 2; }, 8000));
    EXPECT_EQ(label(0), kOrp); // still read every tick

    sim->reconfigure(kStations);
    ASSERT_TRUE(runUntil([&] { return label(1) == kFlow; }, 8000));
}

TEST_F(MeasurementE2E, CancelDuringAReplyWaitFinishesThatChannelAndLeavesOnTheNextTick)
{
    start({Channel{1, 2, "4", true}, Channel{1, 2, "1", true}, Channel{1, 5, "3", true}, Channel{0, -1, "", true}},
          kStations + QStringList{QStringLiteral("4 0 ph silent")});
    // Press CANCEL once the request to the silent station 4 is out, while its reply is awaited.
    QTimer watcher;
    bool pressed = false;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!pressed && sim->requests().contains(QStringLiteral("4 3 0 8"))) {
            pressed = true;
            QTest::mouseClick(window()->findChild<QPushButton*>(QStringLiteral("Commande1")), Qt::LeftButton);
        }
    });
    watcher.start(20);
    QPointer<measure::F_Mesure> measurement = window();
    ASSERT_TRUE(runUntil([&] { return pressed; }, 5000));
    EXPECT_TRUE(measurement);
    ASSERT_TRUE(runUntil([&] { return measurement.isNull() || !measurement->isVisible(); }, 8000));
    EXPECT_EQ(sim->requests(), QStringList{QStringLiteral("4 3 0 8")}); // no further channel polled
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_TRUE(app->mainWindow().isVisible());
}

TEST_F(MeasurementE2E, CancelBetweenTicksLeavesAtOnceAndTheCloseBoxWithNoKeepsPolling)
{
    start({Channel{1, 2, "1", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
    ASSERT_TRUE(runUntil([&] { return label(0) == kPh; }, 5000));

    dialogs.answer(ui::Answer::No);
    window()->close();
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("Are you sure to quit?")});
    const qsizetype before = requestCount();
    ASSERT_TRUE(runUntil([&] { return requestCount() >= before + 2; }, 5000));
    EXPECT_EQ(quits, 0);

    ASSERT_FALSE(app->flags().CycleRunning);
    QPointer<measure::F_Mesure> measurement = window();
    QTest::mouseClick(window()->findChild<QPushButton*>(QStringLiteral("Commande1")), Qt::LeftButton);
    EXPECT_FALSE(measurement->isVisible());
    EXPECT_EQ(dialogs.beeps, 1);
    const qsizetype after = requestCount();
    QTest::qWait(1500);
    EXPECT_EQ(requestCount(), after);
}

TEST_F(MeasurementE2E, AnUnpluggedLineThatComesBackIsRecoveredWithoutTheUser)
{
    start({Channel{1, 2, "1", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
    ASSERT_TRUE(runUntil([&] { return label(0) == kPh; }, 5000));
    const qsizetype before = requestCount();
    sim->recreateLine();
    ASSERT_TRUE(runUntil([&] { return !dialogs.boxes.isEmpty(); }, 8000));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("COM1")));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(sim->linkPath()));
    // The new line is read again by itself.
    ASSERT_TRUE(runUntil([&] { return sim->requests().size() >= before + 2 && label(0) == kPh; }, 10000));
    EXPECT_EQ(dialogs.boxes.size(), 1);
}
