#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "diagnostics/DiagnosticsWindow.h"
#include "measure/F_Mesure.h"
#include "serial/FakeSerialControl.h"
#include "serial/PortComFile.h"
#include "serial/SerialDevices.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QAction>
#include <QImage>
#include <QTableWidget>
#include <QLabel>
#include <QLockFile>
#include <QSignalBlocker>
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
        app->setChannelReader([this](int16_t type, double address, int16_t start) {
            reads << QStringLiteral("%1@%2/%3").arg(type).arg(address).arg(start);
            if (duringRead)
                duringRead();
            if (silent.contains(address))
                return measure::ChannelRead::failed(diagnostics::Outcome::noReply(2000));
            if (replies.contains(address))
                return measure::ChannelRead::of(replies.value(address));
            return measure::ChannelRead::of(QStringLiteral("value %1").arg(address));
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
    QMap<double, QString> replies;
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

TEST_F(MeasurementWindowTest, TheCloseBoxAsksWithoutWaitingAndNoKeepsMeasuring)
{
    start();
    dialogs.answer(ui::Answer::No);
    window()->close();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Are you sure to quit?"));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Question);
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNo);
    EXPECT_EQ(dialogs.boxes[0].title, window()->windowTitle());
    EXPECT_FALSE(dialogs.boxes[0].waited); // a waiting box would hold up the ticks
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(window()->Minuterie1().isActive());
    EXPECT_EQ(quits, 0);
    tick();
    EXPECT_EQ(reads.size(), 3);

    // A second close after No asks again.
    dialogs.answer(ui::Answer::Yes);
    window()->close();
    EXPECT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(port->PortOpen());
    EXPECT_EQ(dialogs.beeps, 0);
    // Ending: no tick reads or reopens the port any more.
    EXPECT_FALSE(window()->Minuterie1().isActive());
    tick();
    EXPECT_EQ(reads.size(), 3);
    EXPECT_FALSE(port->PortOpen());
}

TEST_F(MeasurementWindowTest, YesWhileACycleWaitsForAReplyEndsOnceTheCycleIsOver)
{
    start();
    // The question is answered from within a reply wait, as a real box is.
    duringRead = [this] {
        if (reads.size() == 1) {
            dialogs.answer(ui::Answer::Yes);
            window()->close();
            EXPECT_EQ(quits, 1);
            EXPECT_FALSE(port->PortOpen());
        }
    };
    QPointer<measure::F_Mesure> measurement = window();
    tick();
    ASSERT_TRUE(measurement);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(port->PortOpen());
    duringRead = nullptr;
    tick();
    EXPECT_FALSE(port->PortOpen());
}

TEST_F(MeasurementWindowTest, APortThatCannotBeOpenedIsReportedOnceWithoutWaitingAndRetriedEveryTick)
{
    port->setUnopenable({2});
    start();
    const QString expected = QStringLiteral("The serial port COM2 (%1) cannot be opened: No such file or directory\n\n"
                                            "The channels show \"Out of order\" meanwhile. The program tries the port "
                                            "again every second and carries on by itself once it is back.")
                                 .arg(serial::deviceForPort(2));
    // The box comes once the window is on screen, over it.
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, expected);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
    EXPECT_FALSE(dialogs.boxes[0].waited);
    // Every selected channel says so at once, before any tick.
    for (int i : {0, 1, 2})
        EXPECT_EQ(window()->Etiquette3(i)->text(), QStringLiteral("Out of order")) << i;
    EXPECT_EQ(window()->Etiquette3(3)->text(), QString());
    // Each tick still records every selected channel, failed for want of a port, so that the
    // history shows the outage.
    QStringList recorded;
    QObject::connect(&app->session(), &measure::MeasurementSession::cycleCompleted,
                     [&](const std::vector<measure::Reading>& readings) {
                         for (const measure::Reading& reading : readings)
                             recorded << QStringLiteral("%1 %2").arg(reading.channel).arg(reading.outcome.code());
                     });
    tick();
    tick();
    EXPECT_EQ(recorded, QStringList({"0 port_closed", "1 port_closed", "2 port_closed", "0 port_closed",
                                     "1 port_closed", "2 port_closed"}));
    EXPECT_EQ(dialogs.boxes.size(), 1);
    EXPECT_FALSE(port->PortOpen());
    EXPECT_EQ(port->openCount(), 0);
    EXPECT_TRUE(reads.isEmpty()); // nothing to read without a port

    port->setUnopenable({});
    tick();
    EXPECT_TRUE(port->PortOpen());
    EXPECT_EQ(window()->valueText(1), QStringLiteral("value 2"));
}

TEST_F(MeasurementWindowTest, APortLostWhileMeasuringIsOutOfOrderAtOnceReportedOnceAndRecovered)
{
    start();
    tick();
    EXPECT_EQ(window()->valueText(0), QStringLiteral("value 1"));

    // Between ticks: no panel keeps a value read before the loss.
    port->losePort(QStringLiteral("Input/output error"));
    for (int i : {0, 1, 2})
        EXPECT_EQ(window()->valueText(i), QStringLiteral("Out of order")) << i;
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("The serial port COM2 (%1) stopped working: "
                                                                "Input/output error\n\n")
                                                     .arg(serial::deviceForPort(2))))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_FALSE(dialogs.boxes[0].waited);
    port->setUnopenable({2});
    tick();
    tick();
    EXPECT_EQ(dialogs.boxes.size(), 1); // one box per outage
    port->setUnopenable({});
    tick();
    EXPECT_TRUE(port->PortOpen());
    EXPECT_EQ(window()->valueText(0), QStringLiteral("value 1"));

    // Lost in the middle of a cycle (while channel 1's reply is awaited): the channel read
    // before the loss does not go on showing its value.
    ASSERT_EQ(reads.size(), 6);
    duringRead = [this] {
        if (reads.size() == 8) {
            port->losePort(QStringLiteral("Input/output error"));
            silent << 1 << 2; // the reads after the loss fail, as they do without a port
        }
    };
    tick();
    EXPECT_EQ(reads.size(), 9);
    EXPECT_EQ(window()->valueText(0), QStringLiteral("Out of order"));
    EXPECT_EQ(dialogs.boxes.size(), 2);
}

TEST_F(MeasurementWindowTest, AFolderAnotherProcessMeasuresIsRefusedNamingIt)
{
    QLockFile held(dir.filePath(QStringLiteral("zentlog-measure.lock")));
    ASSERT_TRUE(held.tryLock(0));
    app->mainWindow().Mesure_Click();
    EXPECT_EQ(window(), nullptr);
    EXPECT_FALSE(port->PortOpen());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("process %1").arg(QCoreApplication::applicationPid())))
        << dialogs.boxes[0].text.toStdString();

    // Free again once the other measurement has ended; and this one holds it while it measures.
    held.unlock();
    start();
    EXPECT_FALSE(held.tryLock(0));
    window()->Commande1_Click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(held.tryLock(0));
}

TEST_F(MeasurementWindowTest, TagsAndSelectionShowWithoutWaitingForARepaint)
{
    start();
    app->channels().BuildChannelLabels();
    EXPECT_EQ(window()->Etiquette1(1)->text(), QStringLiteral("PUMP A\nDaily totalization\nTotalization"));
    // No event is processed from here on, so no paint event either.
    app->channels().setTag(1, QStringLiteral("PUMP B"));
    EXPECT_EQ(window()->Etiquette1(1)->text(), QStringLiteral("PUMP A\nDaily totalization\nTotalization"));
    app->channels().BuildChannelLabels(); // OK in the configuration window
    EXPECT_EQ(window()->Etiquette1(1)->text(), QStringLiteral("PUMP B\nDaily totalization\nTotalization"));
    const int right = window()->Etiquette1(1)->geometry().right();
    app->channels().setTag(1, QStringLiteral("A much longer tag for pump B"));
    app->channels().BuildChannelLabels();
    EXPECT_EQ(window()->Etiquette1(1)->geometry().right(), right); // still right-aligned on the panel

    app->channels().setSelected(2, 0);
    EXPECT_FALSE(window()->Dessin1(2)->isVisibleTo(window()));
    EXPECT_FALSE(window()->Etiquette1(2)->isVisibleTo(window()));
    EXPECT_FALSE(window()->Etiquette3(2)->isVisibleTo(window()));
    app->channels().setSelected(2, 1);
    EXPECT_TRUE(window()->Etiquette3(2)->isVisibleTo(window()));

    // Shown again ("&Measurement" after the window was hidden) it shows the configuration as it is.
    window()->hide();
    {
        const QSignalBlocker quiet(&app->channels());
        app->channels().setTag(0, QStringLiteral("Basin"));
        app->channels().BuildChannelLabels();
        app->channels().setSelected(2, 0);
    }
    EXPECT_EQ(window()->Etiquette1(0)->text(), QStringLiteral("Tank"));
    window()->show();
    EXPECT_EQ(window()->Etiquette1(0)->text(), QStringLiteral("Basin"));
    EXPECT_FALSE(window()->Etiquette3(2)->isVisibleTo(window()));
}

namespace {

// The rightmost column of each line of text drawn in `label`: rows holding text pixels (bright
// yellow on the dark blue ground) grouped into lines.
QList<int> rightEdgesOfLines(QLabel* label)
{
    const QImage image = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QList<int> edges;
    bool inLine = false;
    for (int y = 0; y < image.height(); ++y) {
        int rowRight = -1;
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 128 && c.green() > 128 && c.blue() < 128)
                rowRight = x;
        }
        if (rowRight < 0) {
            inLine = false;
            continue;
        }
        if (!inLine)
            edges.append(rowRight);
        else
            edges.back() = qMax(edges.back(), rowRight);
        inLine = true;
    }
    return edges;
}

} // namespace

TEST_F(MeasurementWindowTest, TheUnitsOfTheFlowTotalsStandOneAboveTheOther)
{
    // Both totals end in "m3" and two blanks: their units end in the same column.
    const QString flow = QString::fromUtf16(u"  12.50  m3/h    12.0  \u00B0C\r\n 1234   m3  \r\n 123456   m3  ");
    replies[2] = flow;
    start();
    tick();
    QLabel* value = window()->Etiquette3(1);
    EXPECT_EQ(window()->valueText(1), flow); // the text itself as the cycle made it
    const QList<int> edges = rightEdgesOfLines(value);
    ASSERT_EQ(edges.size(), 3) << value->text().toStdString();
    EXPECT_LE(std::abs(edges[1] - edges[2]), 1) << edges[1] << " " << edges[2];
    // The blanks are kept: the units end well left of the label's right side.
    const QFontMetrics metrics(value->font());
    EXPECT_LE(edges[2], value->contentsRect().right() - metrics.horizontalAdvance(QStringLiteral("  ")) + 2);
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

TEST_F(MeasurementWindowTest, TheDiagnosticsWindowAndThePanelsSayWhyAChannelFails)
{
    start();
    silent << 2;
    tick();
    tick();
    EXPECT_TRUE(window()->Etiquette3(1)->toolTip().startsWith(QStringLiteral("Last failure: no reply within 2000 ms (")));
    EXPECT_TRUE(window()->Etiquette3(1)->toolTip().endsWith(QStringLiteral("No valid reading since the counters were reset")));
    EXPECT_TRUE(window()->Etiquette3(0)->toolTip().startsWith(QStringLiteral("Last valid reading: ")));

    // Reached from the measurement window, whose menus are hidden while it measures.
    ASSERT_NE(window()->findChild<QAction*>(QStringLiteral("ShowTrends")), nullptr);
    auto* command = window()->findChild<QAction*>(QStringLiteral("ShowDiagnostics"));
    ASSERT_NE(command, nullptr);
    command->trigger();
    diagnostics::DiagnosticsWindow* diagnosticsWindow = app->diagnosticsWindow();
    ASSERT_NE(diagnosticsWindow, nullptr);
    EXPECT_TRUE(diagnosticsWindow->isVisible());
    const QStringList rows = diagnostics::counterRowNames();
    const auto cell = [&](const char* row, int channel) {
        return diagnosticsWindow->Counters()->item(static_cast<int>(rows.indexOf(QString::fromLatin1(row))), channel)->text();
    };
    EXPECT_EQ(cell("Requests", 1), QStringLiteral("2"));
    EXPECT_EQ(cell("No reply (time-out)", 1), QStringLiteral("2"));
    EXPECT_EQ(cell("Consecutive failures", 1), QStringLiteral("2"));
    EXPECT_EQ(cell("Valid replies", 0), QStringLiteral("2"));
    EXPECT_EQ(cell("Not sent (address, type)", 3), QStringLiteral("0")); // not selected: never visited
    EXPECT_EQ(diagnosticsWindow->Counters()->horizontalHeaderItem(1)->text(), QStringLiteral("Input 1\nPUMP A"));
    ASSERT_EQ(diagnosticsWindow->Failures()->rowCount(), 2);
    EXPECT_EQ(diagnosticsWindow->Failures()->item(0, 1)->text(), QStringLiteral("Input 1: PUMP A"));
    EXPECT_EQ(diagnosticsWindow->Failures()->item(0, 2)->text(), QStringLiteral("no reply within 2000 ms"));

    // Live: every visit updates it; Reset starts from nothing.
    diagnosticsWindow->ResetButton()->click();
    EXPECT_EQ(cell("Requests", 1), QStringLiteral("0"));
    EXPECT_EQ(diagnosticsWindow->Failures()->rowCount(), 0);
    silent.clear();
    tick();
    EXPECT_EQ(cell("Requests", 1), QStringLiteral("1"));
    EXPECT_EQ(cell("Consecutive failures", 1), QStringLiteral("0"));
    EXPECT_TRUE(window()->Etiquette3(1)->toolTip().startsWith(QStringLiteral("Last valid reading: ")));
}
