// The Alarms window over the real alarm service (its history in a real "history.sqlite"): an
// alarm raised by a reading is listed, acknowledged from the window and stays active; the panel's
// look follows. The settings window refuses what cannot be stored, naming the input and the field,
// and leaves the file as it was.

#include "alarms/AlarmSettingsWindow.h"
#include "alarms/AlarmsWindow.h"
#include "alarms/PanelAlarms.h"
#include "app/AlarmService.h"
#include "measure/Reading.h"
#include "ui/QtDialogs.h"

#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using testing_support::ScriptedDialogs;

namespace {

measure::Reading ph(qint64 timeMs, double value)
{
    measure::Reading reading;
    reading.timeMs = timeMs;
    reading.channel = 2;
    reading.tag = QStringLiteral("basin pH");
    reading.ok = true;
    reading.shown.text = QString::number(value);
    reading.shown.value = value;
    return reading;
}

} // namespace

TEST(AlarmWindows, AnAlarmAcknowledgedFromTheWindowStaysActiveAndStopsBlinking)
{
    QTemporaryDir dir;
    qint64 now = 1'700'000'000'000;
    app::AlarmService service({dir.path(), true, [&] { return now; }, 1000});
    alarms::AlarmSettings settings;
    settings.inputs[2].value.high = 8.5;
    settings.inputs[2].value.highHigh = 9.5;
    service.setSettings(settings, dir.filePath(QStringLiteral("zentlog.ini")));
    service.readings({ph(now, 9.0)});
    ASSERT_EQ(service.alarms().size(), 1u);

    alarms::AlarmsWindow window({[&] { return service.alarms(); }, [&](qint64 id) { service.acknowledge(id); },
                                 [&] { service.acknowledgeAll(); }, QStringLiteral("ZENTLOG")});
    QObject::connect(&service, &app::AlarmService::alarmsChanged, &window, &alarms::AlarmsWindow::refresh);
    window.Form_Load();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(alarms::panelAlarmOf(service.alarms(), 2), (measure::PanelAlarm{measure::AlarmColour::Amber, true}));
    EXPECT_EQ(alarms::panelAlarmOf(service.alarms(), 1), measure::PanelAlarm{});

    QTableWidget* table = window.Table();
    ASSERT_EQ(table->rowCount(), 1);
    const QStringList expected{QStringLiteral("Input 2"), QStringLiteral("basin pH"), QStringLiteral("high"),
                               QStringLiteral("Active, unacknowledged")};
    for (int column = 0; column < expected.size(); ++column)
        EXPECT_EQ(table->item(0, column)->text(), expected[column]);
    EXPECT_EQ(table->item(0, 5)->text(), QStringLiteral("9"));
    EXPECT_EQ(table->item(0, 6)->text(), QStringLiteral("8.5"));
    EXPECT_FALSE(window.AcknowledgeButton()->isEnabled()); // nothing selected yet

    table->selectRow(0);
    ASSERT_TRUE(window.AcknowledgeButton()->isEnabled());
    QTest::mouseClick(window.AcknowledgeButton(), Qt::LeftButton);
    ASSERT_EQ(service.alarms().size(), 1u);
    EXPECT_EQ(service.alarms()[0].state(), alarms::AlarmState::ActiveAcknowledged);
    EXPECT_EQ(table->item(0, 3)->text(), QStringLiteral("Active, acknowledged"));
    EXPECT_FALSE(table->item(0, 7)->text().isEmpty());
    EXPECT_FALSE(window.AcknowledgeAllButton()->isEnabled());
    EXPECT_EQ(alarms::panelAlarmOf(service.alarms(), 2), (measure::PanelAlarm{measure::AlarmColour::Amber, false}));

    // Past high_high: a second, red alarm; "Acknowledge all" takes it.
    service.readings({ph(now += 1000, 9.8)});
    EXPECT_EQ(alarms::panelAlarmOf(service.alarms(), 2), (measure::PanelAlarm{measure::AlarmColour::Red, true}));
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("high_high")); // the unacknowledged first
    QTest::mouseClick(window.AcknowledgeAllButton(), Qt::LeftButton);
    for (const alarms::Alarm& alarm : service.alarms())
        EXPECT_EQ(alarm.state(), alarms::AlarmState::ActiveAcknowledged) << alarms::kindName(alarm.kind).toStdString();
}

TEST(AlarmWindows, AHistoryTurnedOnWhileMeasuringTakesTheStandingAlarmUnderANumberOfItsOwn)
{
    QTemporaryDir dir;
    qint64 now = 1'700'000'000'000;
    alarms::AlarmSettings settings;
    settings.inputs[2].value.high = 8.5;
    const auto raisedIn = [&](bool history) {
        auto service = std::make_unique<app::AlarmService>(app::AlarmService::Options{dir.path(), history, [&] { return now; }, 1000});
        service->setSettings(settings, dir.filePath(QStringLiteral("zentlog.ini")));
        service->readings({ph(now += 1000, 9.0)});
        return service;
    };
    raisedIn(true); // alarm 1 of an earlier run stays in the file
    const auto service = raisedIn(false);
    ASSERT_EQ(service->alarms().at(0).id, 1);
    service->setHistory(true);
    EXPECT_EQ(service->alarms().at(0).id, 2);
    // A restart finds the alarm that stood when the history was turned on.
    EXPECT_EQ(raisedIn(true)->alarms().at(0).id, 2);
}

TEST(AlarmWindows, TheSettingsWindowRefusesWhatCannotBeStoredNamingTheInputAndTheField)
{
    const struct {
        const char* key;
        const char* typed;
        const char* said;
    } cases[] = {
        {"low", "7.5", "Input 1: low=7.5 is not below high=7"},
        {"high_high", "6.9", "Input 1: high=7 is not"},
        {"delay_s", "-1", "Input 1: delay_s=-1"},
        {"failing_s", "abc", "Input 1: failing_s \"abc\" is not a number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("zentlog.ini"));
        const QByteArray before = "[alarms-input1]\nlow=6.5\nhigh=7\n";
        testing_support::writeFile(ini, before);
        ScriptedDialogs dialogs;
        alarms::AlarmSettingsWindow window({dialogs, dir.path(), QStringLiteral("ZENTLOG")});
        ASSERT_TRUE(window.inputChoice(1)->isChecked()); // it has limits in the file
        window.field(1, QString::fromLatin1(c.key))->setText(QString::fromLatin1(c.typed));
        window.accept();
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QString::fromUtf8(c.said))) << dialogs.boxes[0].text.toStdString();
        EXPECT_EQ(window.result(), QDialog::Rejected);
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before);
    }

    // Once with a real box, as the program shows it: the refusal waits for OK and stores nothing.
    QTemporaryDir dir;
    ui::QtDialogs dialogs;
    alarms::AlarmSettingsWindow window({dialogs, dir.path(), QStringLiteral("ZENTLOG")});
    window.inputChoice(0)->setChecked(true);
    window.field(0, QStringLiteral("delay_s"))->setText(QStringLiteral("-1"));
    QStringList said;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            said << box->text();
            box->accept();
        }
    });
    closer.start(50);
    window.accept();
    ASSERT_EQ(said.size(), 1);
    EXPECT_TRUE(said[0].startsWith(QStringLiteral("Input 0: delay_s=-1"))) << said[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("zentlog.ini"))));
}
