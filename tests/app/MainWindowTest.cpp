#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "config/ConfigW.h"
#include "serial/ConfLS.h"
#include "serial/FakeSerialControl.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::ScriptedDialogs;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
        : app(dialogs, makePort(), dir.path())
    {
        app.setQuitHandler([this] { ++quits; });
        testing_support::writeFile(dir.filePath(QStringLiteral("PortCom.dat")), " 1  0 \r\n 0 \r\n 0 \r\n");
    }

    std::unique_ptr<serial::SerialControl> makePort()
    {
        auto port = std::make_unique<serial::FakeSerialControl>();
        fake = port.get();
        return port;
    }

    void command(const char* name)
    {
        app.mainWindow().findChild<QAction*>(QLatin1String(name))->trigger();
    }

    QStringList captions()
    {
        QStringList result;
        for (QAction* top : app.mainWindow().menuBar()->actions()) {
            result << top->text();
            if (top->menu()) {
                for (QAction* sub : top->menu()->actions())
                    result << QStringLiteral("  ") + sub->text();
            }
        }
        return result;
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    serial::FakeSerialControl* fake = nullptr;
    app::Application app;
    int quits = 0;
};

} // namespace

TEST_F(MainWindowTest, LoadsMaximisedWithTheEnglishMenusAndAnEmptyTitle)
{
    app.mainWindow().Form_Load();
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("&File"), QStringLiteral("  &Exit"),
                                       QStringLiteral("&Configuration"), QStringLiteral("  &Serial interface"),
                                       QStringLiteral("  &Application"), QStringLiteral("  &MQTT..."),
                                       QStringLiteral("  &Alarms..."), QStringLiteral("&Measurement"),
                                       QStringLiteral("&Logger"), QStringLiteral("  &Init./Erase file"),
                                       QStringLiteral("  &Data Extraction"), QStringLiteral("&History"),
                                       QStringLiteral("  &Export..."), QStringLiteral("  &Trends"),
                                       QStringLiteral("&Diagnostics"), QStringLiteral("&Alarms")}));
    EXPECT_TRUE(app.mainWindow().isVisible());
    EXPECT_TRUE(app.mainWindow().windowState() & Qt::WindowMaximized);
    EXPECT_EQ(app.mainWindow().windowTitle(), QString());
    EXPECT_EQ(app.mainWindow().centralWidget()->palette().color(QPalette::Window), QColor(255, 255, 232));
    EXPECT_FALSE(app.mainWindow().Picture1()->pixmap().isNull());
}

TEST(MainWindowLogo, IsCentredFromTheOuterSizeInTwips)
{
    const app::LogoPosition p = app::centreLogo(9600, 7200, 4800, 2400);
    EXPECT_EQ(p.left, 2400);
    EXPECT_EQ(p.top, 2400);
}

TEST_F(MainWindowTest, MeasurementWithNoChannelSelectedBeepsAndRefuses)
{
    // No "config.txt" at all: the first read reports it (the configuration window loads) and
    // counts nothing.
    app.mainWindow().Form_Load();
    app.flags().StopRequest = "\x1b";
    app.mainWindow().Mesure_Click();
    EXPECT_TRUE(app.flags().StopRequest.isEmpty());
    EXPECT_EQ(dialogs.beeps, 1);
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("config.txt")));
    EXPECT_EQ(dialogs.boxes[1].text, QStringLiteral("No measurement cycle configured"));
    EXPECT_EQ(dialogs.boxes[1].icon, ui::Icon::Warning);
    EXPECT_EQ(dialogs.boxes[1].buttons, ui::Buttons::Ok);
}

TEST_F(MainWindowTest, MeasurementCountsOnlyCheckBoxesThatAreExactlyOne)
{
    testing_support::writeFile(dir.filePath(QStringLiteral("config.txt")),
                               "2,1\r\n\"1\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n"
                               "#TRUE#,#FALSE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n");
    app.mainWindow().Mesure_Click();
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("No measurement cycle configured")});
}

TEST_F(MainWindowTest, ExitAndTheCloseBoxEndTheProgram)
{
    app.mainWindow().Form_Load();
    app.mainWindow().findChild<QAction*>(QStringLiteral("Quitter"))->trigger();
    EXPECT_EQ(quits, 1);
    app.mainWindow().close();
    EXPECT_EQ(quits, 2);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

namespace {
const QByteArray kChannel0Selected = "1,2\r\n\"5\",\"tank\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n0,-1\r\n\"\",\"\"\r\n"
                                     "#TRUE#,#FALSE#,#FALSE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#FALSE#\r\n";
}

TEST_F(MainWindowTest, MeasurementCreatesTheConfigurationWindowBeforeItCounts)
{
    testing_support::writeFile(dir.filePath(QStringLiteral("config.txt")), kChannel0Selected);
    app.mainWindow().Form_Load();
    EXPECT_EQ(app.applicationConfigWindow(), nullptr);
    EXPECT_TRUE(app.ProgramTitle().isEmpty());
    app.mainWindow().Mesure_Click();
    EXPECT_TRUE(dialogs.boxes.isEmpty()); // channel 0 counted: the file was loaded by then
    config::ConfigW* window = app.applicationConfigWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("AdresseStation_0"))->text(), QStringLiteral("5"));
    EXPECT_EQ(app.ProgramTitle(), QStringLiteral("ZENTLOG   V 2.19"));
    EXPECT_EQ(app.flags().stopMarker, QByteArray("\x1b"));
    EXPECT_EQ(app.serialSettings().portNumber, 1);
    app.mainWindow().Mesure_Click();
    EXPECT_EQ(app.applicationConfigWindow(), window);
}

TEST_F(MainWindowTest, ApplicationShowsTheWindowAgainUntilItsCloseBoxDiscardsIt)
{
    testing_support::writeFile(dir.filePath(QStringLiteral("config.txt")), kChannel0Selected);
    app.mainWindow().Form_Load();
    command("ConfApp");
    QPointer<config::ConfigW> first = app.applicationConfigWindow();
    ASSERT_FALSE(first.isNull());
    app.mainWindow().hide();
    first->findChild<QPushButton*>(QStringLiteral("Commande2"))->click();
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(app.mainWindow().isVisible());
    command("ConfApp");
    EXPECT_EQ(app.applicationConfigWindow(), first.data());
    EXPECT_TRUE(first->isVisible());

    app.channels().setTag(0, QStringLiteral("unsaved"));
    first->close();
    EXPECT_EQ(app.applicationConfigWindow(), nullptr);
    EXPECT_EQ(app.channels().tag(0), QStringLiteral("tank")); // the read brought a new window from the file
    ASSERT_NE(app.applicationConfigWindow(), nullptr);
    EXPECT_NE(app.applicationConfigWindow(), first.data());
    EXPECT_TRUE(app.applicationConfigWindow()->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
}

TEST_F(MainWindowTest, SerialInterfaceProbesOnlyWhenItCreatesTheWindow)
{
    app.mainWindow().Form_Load();
    command("LS");
    QPointer<serial::ConfLS> first = app.serialInterfaceWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(fake->openCount(), 4);
    first->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    EXPECT_FALSE(first->isVisible());
    command("LS");
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(fake->openCount(), 4);

    first->close();
    command("LS");
    EXPECT_NE(app.serialInterfaceWindow(), first.data());
    EXPECT_EQ(fake->openCount(), 8);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}
