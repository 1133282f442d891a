// The windows added beside the four jobs (Diagnostics, MQTT, the device chooser, Trends, Export)
// open inside the operators' small screens, each with its fullest content (every note and problem
// line shown), and their buttons can be reached. CTest runs this once for each screen (1024x768 and
// 1366x768, also scaled by 1.5 and 2), given to the offscreen platform as its one screen.

#include "diagnostics/DiagnosticsWindow.h"
#include "diagnostics/LineCounters.h"
#include "history/ExportWindow.h"
#include "history/TrendWindow.h"
#include "publish/MqttWindow.h"
#include "serial/DeviceChooser.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

struct Opened {
    std::unique_ptr<QWidget> window;
    QStringList buttons; // object names
};

struct WindowCase {
    const char* name;
    // Creates the window with its fullest content and shows it as the program does.
    std::function<Opened(const QString& directory, ScriptedDialogs&)> open;
};

diagnostics::LineCounters& counters()
{
    static diagnostics::LineCounters kept;
    return kept;
}

const WindowCase kWindows[] = {
    {"Diagnostics",
     [](const QString&, ScriptedDialogs&) {
         auto window = std::make_unique<diagnostics::DiagnosticsWindow>(diagnostics::DiagnosticsWindow::Services{
             counters(), {}, {}, QStringLiteral("ZENTLOG  V 2.19")});
         window->setPublishStatus(QStringLiteral("MQTT broker.plant.local:8883: not connected, 120 readings sent, "
                                                 "118 acknowledged, 4000 to backfill. Connection refused"));
         window->Form_Load();
         return Opened{std::move(window), {QStringLiteral("Reset"), QStringLiteral("Close")}};
     }},
    {"MQTT",
     [](const QString& directory, ScriptedDialogs& dialogs) {
         // A damaged option gives the problem line; a site the topics cannot hold gives the note.
         writeFile(directory + QStringLiteral("/zentlog.ini"), "[mqtt]\nenabled=true\nhost=broker\nsite=a/b+c#d\nqos=7\n");
         auto window = std::make_unique<publish::MqttWindow>(publish::MqttWindow::Services{dialogs, directory, QStringLiteral("ZENTLOG  V 2.19")});
         window->Form_Load();
         return Opened{std::move(window), {QStringLiteral("Ok"), QStringLiteral("Cancel")}};
     }},
    {"DeviceChooser",
     [](const QString& directory, ScriptedDialogs& dialogs) {
         // Every port with a note: devices that are not there, and a damaged entry.
         writeFile(directory + QStringLiteral("/zentlog.ini"),
                   "[ports]\nCOM1=/dev/zentlog-none-1\nCOM2=/dev/zentlog-none-2\nCOM3=/dev/zentlog-none-3\n"
                   "COM4=/dev/zentlog-none-4\nCOM5=x\n");
         auto window = std::make_unique<serial::DeviceChooser>(serial::DeviceChooser::Services{
             dialogs, directory, [] { return QList<serial::PortDescription>{}; }});
         window->open();
         return Opened{std::move(window), {QStringLiteral("Ok"), QStringLiteral("Cancel")}};
     }},
    {"Trends",
     [](const QString& directory, ScriptedDialogs& dialogs) {
         std::vector<history::TrendChannel> charted;
         for (int channel = 0; channel < 4; ++channel)
             charted.push_back({channel, QStringLiteral("Tank %1").arg(channel), QStringLiteral("pH")});
         auto window = std::make_unique<history::TrendWindow>(dialogs, QStringLiteral("ZENTLOG  V 2.19"), directory,
                                                              std::move(charted));
         window->Form_Load();
         return Opened{std::move(window), {QStringLiteral("Show"), QStringLiteral("SavePicture")}};
     }},
    {"Export",
     [](const QString& directory, ScriptedDialogs& dialogs) {
         auto window = std::make_unique<history::ExportWindow>(dialogs, QStringLiteral("ZENTLOG  V 2.19"), directory);
         window->Form_Load();
         return Opened{std::move(window), {QStringLiteral("ExportButton"), QStringLiteral("CancelButton")}};
     }},
};

// True when the button is shown and no part of it lies outside the window, under a scroll area's
// edge or beyond the screen.
bool reachable(const QWidget& window, const QPushButton& button, const QRect& available)
{
    const QRect inWindow(button.mapTo(&window, QPoint(0, 0)), button.size());
    return button.isVisible() && window.rect().contains(inWindow) && button.visibleRegion() == QRegion(button.rect())
        && available.contains(QRect(button.mapToGlobal(QPoint(0, 0)), button.size()));
}

} // namespace

TEST(WindowFit, EachWindowOpensInsideTheScreenWithItsButtonsInReach)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QSize pixels = screen->size() * screen->devicePixelRatio();
    ASSERT_EQ(pixels.height(), 768) << "the offscreen platform was not given one of the small screens";
    for (const WindowCase& windowCase : kWindows) {
        SCOPED_TRACE(std::string(windowCase.name) + " on " + std::to_string(pixels.width()) + "x768 at "
                     + std::to_string(screen->devicePixelRatio()));
        QTemporaryDir dir;
        ScriptedDialogs dialogs;
        const Opened opened = windowCase.open(dir.path(), dialogs);
        QWidget& window = *opened.window;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const QRect frame = window.frameGeometry();
        EXPECT_TRUE(screen->availableGeometry().contains(frame))
            << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
        for (const QString& name : opened.buttons) {
            const auto* button = window.findChild<QPushButton*>(name);
            ASSERT_NE(button, nullptr) << name.toStdString();
            EXPECT_TRUE(reachable(window, *button, screen->availableGeometry())) << name.toStdString();
        }
    }
}
