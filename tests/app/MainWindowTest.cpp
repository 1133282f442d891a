#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "serial/FakeSerialControl.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::ScriptedDialogs;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
        : app(dialogs, std::make_unique<serial::FakeSerialControl>(), dir.path())
    {
        app.setQuitHandler([this] { ++quits; });
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
    app::Application app;
    int quits = 0;
};

} // namespace

TEST_F(MainWindowTest, LoadsMaximisedWithTheEnglishMenusAndAnEmptyTitle)
{
    app.mainWindow().Form_Load();
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("&File"), QStringLiteral("  &Exit"),
                                       QStringLiteral("&Configuration"), QStringLiteral("  &Serial interface"),
                                       QStringLiteral("  &Application"), QStringLiteral("&Measurement"),
                                       QStringLiteral("&Logger"), QStringLiteral("  &Init./Erase file"),
                                       QStringLiteral("  &Data Extraction")}));
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
    // No "config.txt" at all: the first read reports it and counts nothing.
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
