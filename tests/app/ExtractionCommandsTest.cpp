#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "logger/Extraction.h"
#include "serial/FakeSerialControl.h"

#include "ScriptedDialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testing_support::ScriptedDialogs;

namespace {

class ExtractionCommandsTest : public ::testing::Test {
protected:
    ExtractionCommandsTest()
        : app(dialogs, std::make_unique<serial::FakeSerialControl>(), dir.path())
    {
        app.setQuitHandler([] {});
    }

    void trigger(const char* command)
    {
        app.mainWindow().findChild<QAction*>(QString::fromLatin1(command))->trigger();
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    app::Application app;
};

} // namespace

TEST_F(ExtractionCommandsTest, EachLoggerCommandLeavesExactlyOneButtonEnabled)
{
    app.mainWindow().Form_Load();
    EXPECT_EQ(app.extractionWindow(), nullptr);

    trigger("RAZfich");
    logger::Extraction* window = app.extractionWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->Command1()->isEnabled());
    EXPECT_FALSE(window->Command3()->isEnabled());
    // Before the configuration ever loaded, the title has no program name.
    EXPECT_EQ(window->windowTitle(), QStringLiteral(" [logger data file]"));

    window->Command2_Click();
    EXPECT_FALSE(window->isVisible());
    trigger("Extract");
    EXPECT_EQ(app.extractionWindow(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->Command1()->isEnabled());
    EXPECT_TRUE(window->Command3()->isEnabled());
}

TEST_F(ExtractionCommandsTest, ClosingUnloadsAndTheTitleIsTakenAtTheNextLoad)
{
    app.showExtraction(false);
    QPointer<logger::Extraction> first = app.extractionWindow();
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(app.extractionWindow(), nullptr);

    app.ProgramTitle() = QStringLiteral("ZENTLOG   V 2.19");
    app.showExtraction(true);
    ASSERT_NE(app.extractionWindow(), nullptr);
    EXPECT_EQ(app.extractionWindow()->windowTitle(), QStringLiteral("ZENTLOG   V 2.19 [logger data file]"));
    // Set only at load.
    app.ProgramTitle().clear();
    app.showExtraction(false);
    EXPECT_EQ(app.extractionWindow()->windowTitle(), QStringLiteral("ZENTLOG   V 2.19 [logger data file]"));
}
