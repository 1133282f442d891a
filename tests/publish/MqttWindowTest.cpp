// The window "MQTT...": what the user types reaches "zentlog.ini" on OK, entries that cannot be
// used are told and keep the window open, the menu command opens it and the application learns of
// a save; and the publishing status line of the Diagnostics window.

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "diagnostics/DiagnosticsWindow.h"
#include "publish/MqttWindow.h"
#include "serial/FakeSerialControl.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace publish;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

class MqttWindowTest : public ::testing::Test {
protected:
    void TearDown() override { delete window.data(); }

    MqttWindow& open()
    {
        window = new MqttWindow({dialogs, dir.path(), QStringLiteral("ZENTLOG")});
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->Form_Load();
        return *window;
    }
    template <typename T>
    T* field(const char* name)
    {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void type(const char* name, const QString& text)
    {
        QLineEdit* edit = field<QLineEdit>(name);
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, text);
    }
    void ok() { field<QPushButton>("Ok")->click(); }
    QString ini() const { return dir.filePath(QStringLiteral("zentlog.ini")); }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    QPointer<MqttWindow> window;
};

} // namespace

TEST_F(MqttWindowTest, WhatIsFilledInIsStoredOnOk)
{
    writeFile(ini(), "; our plant\n[history]\nenabled=false\n");
    const QString ca = dir.filePath(QStringLiteral("ca.pem"));
    writeFile(ca, "-----BEGIN CERTIFICATE-----\n");
    open();
    EXPECT_FALSE(field<QLineEdit>("Host")->isEnabled()); // greyed out while publishing is off
    EXPECT_FALSE(field<QLineEdit>("Site")->placeholderText().isEmpty());
    EXPECT_EQ(field<QSpinBox>("Port")->text(), QStringLiteral("Default (1883)"));
    field<QCheckBox>("Enabled")->click();
    EXPECT_TRUE(field<QLineEdit>("Host")->isEnabled());
    type("Host", QStringLiteral("broker.plant.local"));
    type("CaFile", ca);
    EXPECT_EQ(field<QSpinBox>("Port")->text(), QStringLiteral("Default (8883)"));
    type("UserName", QStringLiteral("station-2"));
    const int height = window->height();
    type("Site", QStringLiteral("a/b")); // the topics cannot hold it: the window says what is used instead
    EXPECT_TRUE(field<QLabel>("SiteNote")->isVisible() && field<QLabel>("SiteNote")->text().contains(QLatin1String("as \"a_b\"")));
    type("Site", QStringLiteral("north"));
    EXPECT_FALSE(field<QLabel>("SiteNote")->isVisible());
    EXPECT_EQ(window->height(), height); // back down once the note has gone
    field<QComboBox>("Qos")->setCurrentIndex(2);
    field<QComboBox>("Format")->setCurrentIndex(1);
    QSignalSpy saved(window.data(), &MqttWindow::saved);
    ok();

    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join(u'|').toStdString();
    EXPECT_EQ(saved.count(), 1);
    EXPECT_FALSE(window && window->isVisible());
    const MqttSettings stored = MqttSettings::load(dir.path());
    EXPECT_TRUE(stored.problem.isEmpty()) << stored.problem.toStdString();
    EXPECT_TRUE(stored.enabled);
    EXPECT_EQ(stored.host, QStringLiteral("broker.plant.local"));
    EXPECT_EQ(stored.caFile, ca);
    EXPECT_FALSE(stored.tls.has_value());
    EXPECT_EQ(stored.effectivePort(), 8883);
    EXPECT_EQ(stored.username, QStringLiteral("station-2"));
    EXPECT_EQ(stored.site, QStringLiteral("north"));
    EXPECT_EQ(stored.qos, 2);
    EXPECT_EQ(stored.format, Format::Sparkplug);
    EXPECT_TRUE(readFile(ini()).startsWith("; our plant\n[history]\nenabled=false\n"));

    // Opened again, the window shows what is stored; Cancel stores nothing.
    open();
    EXPECT_EQ(field<QLineEdit>("Host")->text(), QStringLiteral("broker.plant.local"));
    EXPECT_EQ(field<QComboBox>("Format")->currentIndex(), 1);
    const QByteArray before = readFile(ini());
    type("Host", QStringLiteral("elsewhere"));
    field<QPushButton>("Cancel")->click();
    EXPECT_EQ(readFile(ini()), before);
}

TEST_F(MqttWindowTest, AFileThatCannotBeUsedIsNamedAndTheWindowStaysOpen)
{
    open();
    field<QCheckBox>("Enabled")->click();
    const QString missingCa = dir.filePath(QStringLiteral("no-such-ca.pem"));
    type("CaFile", missingCa);
    QSignalSpy saved(window.data(), &MqttWindow::saved);
    ok();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(missingCa)) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Warning);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(QFile::exists(ini()));

    // A pipe as the password file is refused without waiting on it.
    type("CaFile", QString());
    const QString fifo = dir.filePath(QStringLiteral("password"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    type("PasswordFile", fifo);
    ok();
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(fifo)) << dialogs.boxes[1].text.toStdString();
    EXPECT_TRUE(window->isVisible());

    type("PasswordFile", QString());
    type("Host", QStringLiteral("my broker"));
    ok();
    ASSERT_EQ(dialogs.boxes.size(), 3);
    EXPECT_TRUE(dialogs.boxes[2].text.contains(QStringLiteral("\"my broker\" holds a space")));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(saved.count(), 0);
    EXPECT_FALSE(QFile::exists(ini()));

    // Turning publishing off is never refused for the files it no longer uses.
    type("Host", QStringLiteral("localhost"));
    type("CaFile", missingCa);
    field<QCheckBox>("Enabled")->click();
    ok();
    EXPECT_EQ(dialogs.boxes.size(), 3);
    EXPECT_EQ(saved.count(), 1);
    EXPECT_EQ(MqttSettings::load(dir.path()).caFile, missingCa);
}

TEST_F(MqttWindowTest, AFailedSaveIsToldAndAnOpenPasswordFileIsWarnedOfWithoutHoldingUp)
{
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.ini"));
    writeFile(elsewhere, "[mqtt]\nhost=a\n");
    ASSERT_TRUE(QFile::link(elsewhere, ini()));
    open();
    type("Host", QStringLiteral("b"));
    ok();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(ini()) && dialogs.boxes[0].text.contains(QStringLiteral("symbolic link")))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(readFile(elsewhere), "[mqtt]\nhost=a\n");

    QFile::remove(ini());
    const QString password = dir.filePath(QStringLiteral("password"));
    writeFile(password, "secret\n");
    ASSERT_EQ(::chmod(QFile::encodeName(password).constData(), 0644), 0);
    field<QCheckBox>("Enabled")->click();
    type("PasswordFile", password);
    ok();
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_FALSE(dialogs.boxes[1].waited);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(password));
    EXPECT_EQ(MqttSettings::load(dir.path()).passwordFile, password);
    EXPECT_FALSE(window && window->isVisible());
}

TEST(MqttMenu, TheCommandOpensOneWindowAndASaveReachesTheApplication)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    app::Application app(dialogs, std::make_unique<serial::FakeSerialControl>(), dir.path());
    app.setQuitHandler([] {});
    QSignalSpy changed(&app, &app::Application::mqttSettingsChanged);
    QAction* command = app.mainWindow().findChild<QAction*>(QStringLiteral("Mqtt"));
    ASSERT_NE(command, nullptr);
    command->trigger();
    QPointer<MqttWindow> window = app.mqttWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    // Opened before the configuration has set the program's title, it still names the program.
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ZENTLOG [MQTT publishing]"));
    command->trigger();
    EXPECT_EQ(app.mqttWindow(), window.data());

    window->findChild<QPushButton*>(QStringLiteral("Ok"))->click();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("zentlog.ini"))));
    // Closed, the window is gone: the next command reads the file afresh.
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 10000);
    command->trigger();
    EXPECT_NE(app.mqttWindow(), nullptr);
}

TEST(DiagnosticsPublishStatus, ShowsItsTextAndHidesWhenThereIsNone)
{
    diagnostics::LineCounters counters;
    diagnostics::DiagnosticsWindow window({counters, {}, {}, QString()});
    window.Form_Load();
    QLabel* status = window.findChild<QLabel*>(QStringLiteral("PublishStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(status->isVisible());
    window.setPublishStatus(QStringLiteral("MQTT: connected to localhost:1883, 0 waiting"));
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("MQTT: connected to localhost:1883, 0 waiting"));
    window.setPublishStatus(QString());
    EXPECT_FALSE(status->isVisible());
    QApplication::setActiveWindow(&window);
    QTest::keyClick(&window, Qt::Key_Escape); // a window to look at and leave
    EXPECT_FALSE(window.isVisible());
}

TEST(MqttWindowStatus, ShowsHowPublishingStandsInRedWhileTheBrokerIsNotReached)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    MqttWindow window({dialogs, dir.path(), QStringLiteral("ZENTLOG")});
    window.Form_Load();
    const auto* line = window.findChild<QLabel*>(QStringLiteral("PublishStatus"));
    const PublishStatus refused{true, false, false, QStringLiteral("b:1883"), 0, 0, 0, QStringLiteral("refused")};
    PublishStatus connecting = refused;
    connecting.connecting = true;
    for (const auto& [status, red] : {std::pair{refused, true}, std::pair{connecting, false}, std::pair{PublishStatus{}, false}}) {
        window.setPublishStatus(status);
        EXPECT_EQ(line->isVisible(), status.enabled);
        EXPECT_EQ(line->text(), describe(status));
        EXPECT_EQ(line->styleSheet().contains(QLatin1String("color")), red);
    }
}

