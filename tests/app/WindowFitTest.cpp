// The added windows (Diagnostics, MQTT, the device chooser, Trends, Export, Alarms, alarm settings) open inside the
// operators' small screens with their fullest content (every note and problem line shown) and
// their buttons in reach. CTest runs this once for each screen (1024x768 and 1366x768, also scaled
// by 1.5 and 2), given to the offscreen platform as its only screen.

#include "alarms/AlarmSettingsWindow.h"
#include "alarms/AlarmsWindow.h"
#include "diagnostics/DiagnosticsWindow.h"
#include "diagnostics/LineCounters.h"
#include "history/ExportWindow.h"
#include "history/TrendWindow.h"
#include "publish/MqttWindow.h"
#include "serial/DeviceChooser.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

const QString kTitle = QStringLiteral("ZENTLOG   V 2.19");

template <typename Window>
std::unique_ptr<QWidget> loaded(std::unique_ptr<Window> window)
{
    window->Form_Load();
    return window;
}

const struct {
    const char* name;
    std::function<std::unique_ptr<QWidget>(const QString& directory, ScriptedDialogs&)> open;
    QStringList buttons;
} kWindows[] = {
    {"Diagnostics", [](const QString&, ScriptedDialogs&) {
         static diagnostics::LineCounters counters;
         auto window = std::make_unique<diagnostics::DiagnosticsWindow>(diagnostics::DiagnosticsWindow::Services{counters, {}, {}, kTitle});
         window->setPublishStatus(QStringLiteral("MQTT broker:8883: not connected, connection refused. ").repeated(4));
         return loaded(std::move(window));
     }, {QStringLiteral("Reset"), QStringLiteral("Close")}},
    {"MQTT", [](const QString& directory, ScriptedDialogs& dialogs) {
         writeFile(directory + QStringLiteral("/zentlog.ini"), "[mqtt]\nenabled=true\nsite=a/b+c#d\nqos=7\n");
         return loaded(std::make_unique<publish::MqttWindow>(publish::MqttWindow::Services{dialogs, directory, kTitle}));
     }, {QStringLiteral("Ok"), QStringLiteral("Cancel")}},
    {"DeviceChooser", [](const QString& directory, ScriptedDialogs& dialogs) {
         writeFile(directory + QStringLiteral("/zentlog.ini"), "[ports]\nCOM1=/dev/no1\nCOM2=/dev/no2\nCOM3=/dev/no3\nCOM4=/dev/no4\nCOM5=x\n");
         auto window = std::make_unique<serial::DeviceChooser>(serial::DeviceChooser::Services{dialogs, directory, [] { return QList<serial::PortDescription>{}; }});
         window->open();
         return std::unique_ptr<QWidget>(std::move(window));
     }, {QStringLiteral("Ok"), QStringLiteral("Cancel")}},
    {"Trends", [](const QString& directory, ScriptedDialogs& dialogs) {
         std::vector<history::TrendChannel> charted{{0, "Tank", "pH"}, {1, "Rinse", "pH"}, {2, "Pump", "pH"}, {3, "Redox", "pH"}};
         return loaded(std::make_unique<history::TrendWindow>(dialogs, kTitle, directory, std::move(charted)));
     }, {QStringLiteral("Show"), QStringLiteral("SavePicture")}},
    {"Export", [](const QString& directory, ScriptedDialogs& dialogs) {
         return loaded(std::make_unique<history::ExportWindow>(dialogs, kTitle, directory));
     }, {QStringLiteral("ExportButton"), QStringLiteral("CancelButton")}},
    {"Alarms", [](const QString&, ScriptedDialogs&) {
         const auto list = [] {
             std::vector<alarms::Alarm> many(40);
             for (int k = 0; k < 40; ++k)
                 many[static_cast<size_t>(k)] = {k + 1, k % 4, alarms::AlarmKind::HighHigh, QStringLiteral("basin pH, long tag"), 1'700'000'000'000 + k, 9.9, 9.5, {}, {}};
             return many;
         };
         auto window = std::make_unique<alarms::AlarmsWindow>(alarms::AlarmsWindow::Services{list, [](qint64) {}, [] {}, kTitle});
         window->setNotice(QStringLiteral("The station service cannot be reached: its feed does not answer. ").repeated(3));
         return loaded(std::move(window));
     }, {QStringLiteral("Acknowledge"), QStringLiteral("AcknowledgeAll"), QStringLiteral("Close")}},
    {"AlarmSettings", [](const QString& directory, ScriptedDialogs& dialogs) {
         writeFile(directory + QStringLiteral("/zentlog.ini"), "[alarms-input0]\nlow=x\n");
         return loaded(std::make_unique<alarms::AlarmSettingsWindow>(alarms::AlarmSettingsWindow::Services{
             dialogs, directory, kTitle, {QStringLiteral("basin pH"), QStringLiteral("rinse"), QStringLiteral("pump"), QStringLiteral("redox")}, {true, true, true, true}}));
     }, {QStringLiteral("Ok"), QStringLiteral("Cancel")}},
};

} // namespace

TEST(WindowFit, EachWindowOpensInsideTheScreenWithItsButtonsInReach)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_EQ(screen->size().height() * screen->devicePixelRatio(), 768) << "no small screen given to the platform";
    const QRect room = screen->availableGeometry();
    for (const auto& windowCase : kWindows) {
        SCOPED_TRACE(windowCase.name);
        QTemporaryDir dir;
        ScriptedDialogs dialogs;
        const std::unique_ptr<QWidget> window = windowCase.open(dir.path(), dialogs);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_TRUE(room.contains(window->frameGeometry()));
        for (const QString& name : windowCase.buttons) {
            const auto* button = window->findChild<QPushButton*>(name);
            ASSERT_NE(button, nullptr) << name.toStdString();
            // Shown whole: not cut by the window, a scroll area or the screen's edge.
            EXPECT_TRUE(button->isVisible() && button->visibleRegion() == QRegion(button->rect())
                        && room.contains(QRect(button->mapToGlobal(QPoint()), button->size())))
                << name.toStdString();
        }
    }
}
