// The real program measuring stations that zentlog-sim serves, with its real message boxes
// (QMessageBox, offscreen): the measurement goes on while a box is on the screen, whether it
// reports a port problem or a damaged "zentlog.ini", or asks whether to quit.

#include "app/Application.h"
#include "publish/MqttWindow.h"
#include "measure/F_Mesure.h"
#include "serial/SerialControl.h"
#include "ui/QtDialogs.h"

#include "ProgramOnSim.h"
#include "PtyPeer.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

using testing_support::Channel;
using testing_support::SimProcess;
using testing_support::waitFor;

namespace {

const QStringList kStations{QStringLiteral("1 0 ph fixed"), QStringLiteral("1 20 orp fixed"),
                            QStringLiteral("4 0 ph silent")};
const QString kPh = QStringLiteral("7.00 pH     18.0  °C");
const QString kOrp = QStringLiteral("350 mV     18.0  °C");
// pH (Master) and ORP (Ext.) of station 1.
const std::array<Channel, 4> kTwoChannels{Channel{1, 2, "1", true}, Channel{1, 3, "1", false}, Channel{0, -1, "", true},
                                          Channel{0, -1, "", true}};

void report(const char* name, qint64 value)
{
    std::printf("%s %lld\n", name, static_cast<long long>(value));
}

// The message boxes on the screen.
QList<QMessageBox*> visibleBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes << box;
    }
    return boxes;
}

QMessageBox* visibleBoxWith(const QString& textStart)
{
    for (QMessageBox* box : visibleBoxes()) {
        if (box->text().startsWith(textStart))
            return box;
    }
    return nullptr;
}

class MessageBoxE2E : public ::testing::Test {
protected:
    void start(const std::array<Channel, 4>& channels, const QString& line)
    {
        app = testing_support::startMeasuring(dialogs, dir.path(), line, channels);
        app->setQuitHandler([this] { ++quits; });
        ASSERT_NE(window(), nullptr);
    }
    ~MessageBoxE2E() override
    {
        // Boxes without a parent window outlive the program's windows: they go first.
        for (const QPointer<QMessageBox>& box : visibleBoxesGuarded())
            delete box.data();
        app.reset();
        qunsetenv("ZENTLOG_COM1");
    }
    static QList<QPointer<QMessageBox>> visibleBoxesGuarded()
    {
        QList<QPointer<QMessageBox>> boxes;
        for (QMessageBox* box : visibleBoxes())
            boxes << box;
        return boxes;
    }

    measure::F_Mesure* window() const { return app->measurementWindow(); }
    bool runUntil(const std::function<bool()>& done, int ms)
    {
        waitFor(done, ms);
        return done();
    }

    QTemporaryDir dir;
    ui::QtDialogs dialogs;
    SimProcess sim{kStations};
    std::unique_ptr<app::Application> app;
    int quits = 0;
};

} // namespace

TEST_F(MessageBoxE2E, ThePortBoxHoldsNothingUpAndTheMeasurementComesBackBeneathIt)
{
    // COM1 points at a device that is not there yet.
    const QString line = dir.filePath(QStringLiteral("line"));
    start(kTwoChannels, line);
    QPointer<QMessageBox> box;
    ASSERT_TRUE(runUntil([&] { return (box = visibleBoxWith(QStringLiteral("The serial port COM1"))) != nullptr; }, 5000))
        << visibleBoxes().size() << " boxes";
    // It stands over the measurement window, which therefore cannot hide it.
    EXPECT_EQ(box->parentWidget(), window());
    EXPECT_EQ(box->text(), QStringLiteral("The serial port COM1 (%1) cannot be opened: No such file or directory\n\n"
                                          "The channels show \"Out of order\" meanwhile. The program tries the port "
                                          "again every second and carries on by itself once it is back.")
                               .arg(line));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(window()->valueText(0), QStringLiteral("Out of order"));
    EXPECT_EQ(window()->valueText(1), QStringLiteral("Out of order"));

    // The device appears while the box is still open: the ticks find it by themselves.
    ASSERT_TRUE(QFile::link(sim.linkPath(), line));
    ASSERT_TRUE(runUntil([&] { return window()->valueText(0) == kPh && window()->valueText(1) == kOrp; }, 10000));
    // Five more seconds under the box: two requests a tick.
    const qsizetype firstRequests = sim.requests().size();
    QTest::qWait(5000);
    EXPECT_TRUE(box && box->isVisible());
    const qsizetype requestsUnderTheBox = sim.requests().size();
    report("requests_in_5_s_while_the_port_box_is_open", requestsUnderTheBox - firstRequests);
    EXPECT_GE(requestsUnderTheBox - firstRequests, 4);
    EXPECT_EQ(visibleBoxes().size(), 1);

    // The device goes away in the middle of the measurement: from the moment the program knows,
    // no panel shows a value read before.
    QStringList shownAfterLoss;
    bool lost = false;
    QStringList atLoss;
    QString labelAtLoss;
    QObject::connect(&app->MSComm1(), &serial::SerialControl::portLost, window(), [&] {
        lost = true;
        atLoss = QStringList{window()->valueText(0), window()->valueText(1)};
        labelAtLoss = window()->Etiquette3(0)->text();
    });
    QObject::connect(window(), &measure::F_Mesure::valueShown, window(), [&](int i) {
        if (lost)
            shownAfterLoss << QStringLiteral("%1 %2").arg(i).arg(window()->valueText(i));
    });
    sim.recreateLine();
    ASSERT_TRUE(runUntil([&] { return lost; }, 10000));
    EXPECT_EQ(atLoss, (QStringList{QStringLiteral("Out of order"), QStringLiteral("Out of order")}));
    // Looked at in the moment of the loss: on a loaded machine the port can be back, and a new
    // value shown, before this test gets to look again.
    EXPECT_EQ(labelAtLoss, QStringLiteral("Out of order"));
    QPointer<QMessageBox> lossBox = visibleBoxWith(QStringLiteral("The serial port COM1 (%1) stopped working: ").arg(line));
    ASSERT_TRUE(lossBox);
    EXPECT_FALSE(lossBox->text().contains(QStringLiteral("stopped working: COM1")));

    // Back on the new terminal by itself, both boxes still open.
    ASSERT_TRUE(runUntil([&] { return window()->valueText(0) == kPh && window()->valueText(1) == kOrp; }, 10000));
    const qsizetype firstNewValue = shownAfterLoss.indexOf(QStringLiteral("0 ") + kPh);
    ASSERT_GE(firstNewValue, 0) << shownAfterLoss.join(u'|').toStdString();
    const QStringList beforeNewValues = shownAfterLoss.mid(0, firstNewValue);
    for (const QString& shown : beforeNewValues)
        EXPECT_TRUE(shown.endsWith(QStringLiteral("Out of order"))) << shown.toStdString();
    EXPECT_TRUE(box && box->isVisible());
    EXPECT_TRUE(lossBox && lossBox->isVisible());
    EXPECT_EQ(visibleBoxes().size(), 2); // one per outage
    report("requests_while_both_boxes_are_open", sim.requests().size() - requestsUnderTheBox);
}

TEST_F(MessageBoxE2E, APortInUseByAnotherProgramSaysSo)
{
    // zentlog-poll holds the line, as another program would.
    QProcess other;
    other.start(QStringLiteral(ZENTLOG_POLL),
                {QStringLiteral("--device"), sim.linkPath(), QStringLiteral("--address"), QStringLiteral("1"),
                 QStringLiteral("--role"), QStringLiteral("Master"), QStringLiteral("--type"), QStringLiteral("pH"),
                 QStringLiteral("--watch"), QStringLiteral("--interval"), QStringLiteral("200")});
    ASSERT_TRUE(other.waitForReadyRead(10000)) << "zentlog-poll did not read";
    start(kTwoChannels, sim.linkPath());
    QPointer<QMessageBox> box;
    ASSERT_TRUE(runUntil([&] { return (box = visibleBoxWith(QStringLiteral("The serial port COM1"))) != nullptr; }, 5000));
    EXPECT_TRUE(box->text().startsWith(
        QStringLiteral("The serial port COM1 (%1) cannot be opened: in use by another program (process %2)\n\n")
            .arg(sim.linkPath())
            .arg(other.processId())))
        << box->text().toStdString();

    // Once the other program lets go, the measurement starts by itself.
    other.terminate();
    other.waitForFinished(5000);
    ASSERT_TRUE(runUntil([&] { return window()->valueText(0) == kPh; }, 10000));
    EXPECT_TRUE(box && box->isVisible());
}

TEST_F(MessageBoxE2E, TheQuitQuestionLetsTheMeasurementGoOnUntilYes)
{
    start(kTwoChannels, sim.linkPath());
    ASSERT_TRUE(runUntil([&] { return window()->valueText(0) == kPh; }, 10000));
    EXPECT_TRUE(visibleBoxes().isEmpty());

    window()->close();
    window()->close(); // a second close while the question is open asks nothing more
    ASSERT_EQ(visibleBoxes().size(), 1);
    QPointer<QMessageBox> question = visibleBoxes().front();
    EXPECT_EQ(question->text(), QStringLiteral("Are you sure to quit?"));
    EXPECT_EQ(question->windowTitle(), window()->windowTitle());
    EXPECT_EQ(question->icon(), QMessageBox::Question);
    const qsizetype before = sim.requests().size();
    QTest::qWait(5000);
    report("requests_in_5_s_while_the_quit_question_is_open", sim.requests().size() - before);
    EXPECT_GE(sim.requests().size(), before + 4);
    EXPECT_TRUE(question && question->isVisible());

    question->button(QMessageBox::No)->click();
    EXPECT_TRUE(runUntil([&] { return visibleBoxes().isEmpty(); }, 5000));
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(quits, 0);
    const qsizetype afterNo = sim.requests().size();
    ASSERT_TRUE(runUntil([&] { return sim.requests().size() >= afterNo + 2; }, 10000));

    window()->close();
    ASSERT_EQ(visibleBoxes().size(), 1);
    visibleBoxes().front()->button(QMessageBox::Yes)->click();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->MSComm1().PortOpen());
    const qsizetype afterYes = sim.requests().size();
    QTest::qWait(2500);
    EXPECT_EQ(sim.requests().size(), afterYes);
    EXPECT_FALSE(app->MSComm1().PortOpen());
}

TEST_F(MessageBoxE2E, YesDuringAReplyWaitEndsOnceTheWaitingCycleHasUnwound)
{
    // Channel 0 reads the silent station 4: every cycle waits out its reply limit there.
    start({Channel{1, 2, "4", true}, Channel{1, 2, "1", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}},
          sim.linkPath());
    ASSERT_TRUE(runUntil([&] { return window()->valueText(1) == kPh; }, 10000));
    window()->close();
    ASSERT_EQ(visibleBoxes().size(), 1);
    QPointer<QMessageBox> question = visibleBoxes().front();
    // Yes is clicked while the request to station 4 waits for its reply.
    QTimer watcher;
    bool clicked = false;
    bool cycleWasRunning = false;
    const qsizetype before = sim.requests().size();
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!clicked && sim.requests().size() > before && sim.requests().back() == QStringLiteral("4 3 0 8")) {
            clicked = true;
            cycleWasRunning = app->flags().CycleRunning;
            question->button(QMessageBox::Yes)->click();
        }
    });
    watcher.start(20);
    ASSERT_TRUE(runUntil([&] { return clicked; }, 10000));
    EXPECT_TRUE(cycleWasRunning);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->MSComm1().PortOpen());
    ASSERT_TRUE(runUntil([&] { return !app->flags().CycleRunning; }, 10000));
    const qsizetype afterYes = sim.requests().size();
    QTest::qWait(2500);
    EXPECT_EQ(sim.requests().size(), afterYes);
    EXPECT_FALSE(app->MSComm1().PortOpen());
    EXPECT_EQ(quits, 1);
}

TEST_F(MessageBoxE2E, ADamagedZentlogIniIsToldOnceWhileTheMeasurementGoesOn)
{
    const QString ini = dir.filePath(QStringLiteral("zentlog.ini"));
    QByteArray noise(20000, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    testing_support::writeFile(ini, noise);
    start(kTwoChannels, sim.linkPath());
    ASSERT_TRUE(runUntil([&] { return window()->valueText(0) == kPh; }, 10000));
    // Stored MQTT settings make the program read the file again.
    app->showMqttSettings();
    emit app->mqttWindow()->saved();
    QTest::qWait(1500);
    const QList<QMessageBox*> boxes = visibleBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->parentWidget(), window());
    const QString text = boxes[0]->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("\"%1\" cannot be read: line 1 ").arg(ini))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(
        QStringLiteral("; the history, MQTT, diagnostics and serial device settings use their defaults.")))
        << text.toStdString();
    EXPECT_EQ(window()->valueText(1), kOrp);
}
