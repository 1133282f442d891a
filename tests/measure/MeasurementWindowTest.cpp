#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "serial/FakeSerialControl.h"
#include "serial/PortComFile.h"
#include "serial/SerialDevices.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using testing_support::ScriptedDialogs;

namespace {

// Channel 0 pH at address 1 (Master), channel 1 flow at 2 (Master), channel 2 pH at 1 (Ext.).
const QByteArray kConfig = "1,2\r\n\"1\",\"Tank\"\r\n1,5\r\n\"2\",\"PUMP A\"\r\n1,2\r\n\"1\",\"Outlet\"\r\n0,-1\r\n\"\",\"\"\r\n"
                           "#TRUE#,#TRUE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n";

class MeasurementWindowTest : public ::testing::Test {
protected:
    MeasurementWindowTest()
    {
        testing_support::writeFile(dir.filePath(QStringLiteral("config.txt")), kConfig);
        testing_support::writeFile(dir.filePath(QStringLiteral("PortCom.dat")), " 2  0 \r\n 0 \r\n 0 \r\n");
        auto fake = std::make_unique<serial::FakeSerialControl>();
        port = fake.get();
        app = std::make_unique<app::Application>(dialogs, std::move(fake), dir.path());
        app->setQuitHandler([this] { ++quits; });
        app->setChannelReader([this](int16_t type, double address, int16_t start) -> std::optional<QString> {
            reads << QStringLiteral("%1@%2/%3").arg(type).arg(address).arg(start);
            if (duringRead)
                duringRead();
            if (silent.contains(address))
                return std::nullopt;
            return QStringLiteral("value %1").arg(address);
        });
        serial::LoadSerialSettings(app->serialSettings(), dialogs, dir.path());
        app->mainWindow().Form_Load();
    }

    measure::F_Mesure* window() { return app->measurementWindow(); }
    void start()
    {
        app->mainWindow().Mesure_Click();
        ASSERT_NE(window(), nullptr);
    }
    void tick() { window()->Minuterie1_Timer(); }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    serial::FakeSerialControl* port = nullptr;
    std::unique_ptr<app::Application> app;
    QStringList reads;
    QList<double> silent;
    std::function<void()> duringRead;
    int quits = 0;
};

} // namespace

TEST_F(MeasurementWindowTest, LoadsWithTitleCaptionsPanelsAndAnOpenPort)
{
    app->ProgramTitle() = QStringLiteral("ZENTLOG   V 2.19");
    start();
    EXPECT_EQ(window()->windowTitle(), QStringLiteral("ZENTLOG   V 2.19 [Measurement]"));
    EXPECT_EQ(window()->findChild<QPushButton*>(QStringLiteral("Commande1"))->text(), QStringLiteral("CANCEL"));
    EXPECT_EQ(window()->findChild<QLabel*>(QStringLiteral("Etiquette2_1"))->text(), QStringLiteral("Reading"));
    EXPECT_TRUE(window()->Minuterie1().isActive());
    EXPECT_EQ(window()->Minuterie1().interval(), 1000);
    EXPECT_TRUE(port->PortOpen());
    EXPECT_EQ(port->CommPort(), 2);
    EXPECT_EQ(port->Settings(), "9600,n,8, 1");
    EXPECT_EQ(window()->layout().panels[1].valueTop, 1815);
    EXPECT_EQ(window()->Etiquette3(1)->height(), 1125 / 15);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(MeasurementWindowTest, TicksFillTheLabelsAndRepaintsFollowTheSelection)
{
    start();
    silent << 2;
    tick();
    EXPECT_EQ(reads, (QStringList{QStringLiteral("2@1/0"), QStringLiteral("5@2/0"), QStringLiteral("2@1/20")}));
    EXPECT_EQ(window()->valueText(0), QStringLiteral("value 1"));
    EXPECT_EQ(window()->valueText(1), QStringLiteral("Out of order"));
    EXPECT_EQ(window()->Etiquette3(2)->text(), QStringLiteral("value 1"));
    silent.clear();
    tick();
    EXPECT_EQ(window()->valueText(1), QStringLiteral("value 2"));

    app->channels().BuildChannelLabels();
    window()->Form_Paint();
    EXPECT_TRUE(window()->Etiquette1(1)->isVisibleTo(window()));
    EXPECT_EQ(window()->Etiquette1(1)->text(), QStringLiteral("PUMP A\nDaily totalization\nTotalization"));
    EXPECT_FALSE(window()->Etiquette3(3)->isVisibleTo(window()));
    app->channels().setSelected(2, 0);
    window()->Form_Paint();
    EXPECT_FALSE(window()->Dessin1(2)->isVisibleTo(window()));
}

TEST_F(MeasurementWindowTest, CancelBetweenTicksLeavesAtOnceWithOneBeep)
{
    start();
    tick();
    QPointer<measure::F_Mesure> gone = window();
    QTest::mouseClick(window()->findChild<QPushButton*>(QStringLiteral("Commande1")), Qt::LeftButton);
    EXPECT_FALSE(port->PortOpen());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_TRUE(app->mainWindow().isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());

    // Starting again loads the window anew and reopens the port.
    start();
    EXPECT_TRUE(port->PortOpen());
    EXPECT_EQ(port->openCount(), 2);
}

TEST_F(MeasurementWindowTest, CancelDuringAReadFinishesThatChannelThenLeavesOnTheNextTick)
{
    start();
    duringRead = [this] {
        if (reads.size() == 2)
            window()->Commande1_Click();
    };
    tick();
    EXPECT_EQ(reads.size(), 2); // channel 2 is not polled
    EXPECT_EQ(window()->valueText(1), QStringLiteral("value 2"));
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_TRUE(port->PortOpen());
    EXPECT_TRUE(window()->isVisible());
    duringRead = nullptr;
    tick();
    EXPECT_EQ(reads.size(), 2);
    EXPECT_FALSE(port->PortOpen());
    EXPECT_EQ(dialogs.beeps, 1);
}

TEST_F(MeasurementWindowTest, ATickDuringACycleIsSkipped)
{
    start();
    int nested = 0;
    duringRead = [&] {
        if (nested++ == 0)
            tick(); // a timer tick delivered while the reply is awaited
    };
    tick();
    EXPECT_EQ(reads.size(), 3);
}

TEST_F(MeasurementWindowTest, TheCloseBoxAsksAndNoKeepsMeasuring)
{
    start();
    dialogs.answer(ui::Answer::No);
    window()->close();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Are you sure to quit?"));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Question);
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNo);
    EXPECT_EQ(dialogs.boxes[0].title, window()->windowTitle());
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(window()->Minuterie1().isActive());
    EXPECT_EQ(quits, 0);

    dialogs.answer(ui::Answer::Yes);
    window()->close();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(port->PortOpen());
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(MeasurementWindowTest, APortThatCannotBeOpenedIsReportedOnceAndRetriedEveryTick)
{
    port->setUnopenable({2});
    start();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("COM2")));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(serial::deviceForPort(2)));
    tick();
    tick();
    EXPECT_EQ(dialogs.boxes.size(), 1);
    EXPECT_FALSE(port->PortOpen());

    port->setUnopenable({});
    tick();
    EXPECT_TRUE(port->PortOpen());

    // Unplugged while measuring: reported once more, recovered by itself.
    port->losePort(QStringLiteral("device gone"));
    port->setUnopenable({2});
    tick();
    tick();
    EXPECT_EQ(dialogs.boxes.size(), 2);
    port->setUnopenable({});
    tick();
    EXPECT_TRUE(port->PortOpen());
    EXPECT_EQ(dialogs.boxes.size(), 2);
}

TEST_F(MeasurementWindowTest, ASecondCommandOnlyRearmsTheTimer)
{
    start();
    measure::F_Mesure* first = window();
    window()->Minuterie1().stop();
    app->flags().StopRequest = app->flags().stopMarker;
    app->mainWindow().Mesure_Click();
    EXPECT_EQ(window(), first);
    EXPECT_TRUE(window()->Minuterie1().isActive());
    EXPECT_TRUE(app->flags().StopRequest.isEmpty());
    EXPECT_EQ(port->openCount(), 1);
}
