// The real program measuring stations that zentlog-sim serves records every channel visit into
// "history.sqlite": each row holds the text the panel showed at that cycle and the numbers that
// text shows; a viewer holding the write lock costs the measurement nothing and loses nothing.

#include "app/Application.h"
#include "app/ZENTLOG.h"
#include "serial/QtSerialControl.h"
#include "ui/QtDialogs.h"
#include "history/Recorder.h"
#include "measure/F_Mesure.h"

#include "HistoryFiles.h"
#include "ProgramOnSim.h"
#include "PtyPeer.h"
#include "ScriptedDialogs.h"
#include "TextNumbers.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using testing_support::Channel;
using testing_support::ScriptedDialogs;
using testing_support::SimProcess;
using testing_support::waitFor;

namespace {

struct Row {
    int channel = 0;
    bool ok = false;
    QString type;
    QString text;
    std::vector<QVariant> numbers; // value, temperature, value2, total_day, total
};

std::vector<Row> readRows(const QString& path)
{
    std::vector<Row> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-rows"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT channel, ok, type, text, value, temperature, value2, total_day, total "
                                  "FROM readings ORDER BY id"));
            while (q.next())
                rows.push_back(Row{q.value(0).toInt(), q.value(1).toBool(), q.value(2).toString(), q.value(3).toString(),
                                   {q.value(4), q.value(5), q.value(6), q.value(7), q.value(8)}});
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-rows"));
    return rows;
}

using testing_support::numbersIn;

class HistoryE2E : public ::testing::Test {
protected:
    ~HistoryE2E() override
    {
        app.reset();
        qunsetenv("ZENTLOG_COM1");
    }
    void start(const QStringList& stations, const std::array<Channel, 4>& channels)
    {
        // Every cycle written at once, so that each cycle's rows and faults show in the file.
        if (!QFileInfo::exists(dir.filePath(QStringLiteral("zentlog.ini"))))
            testing_support::writeFile(dir.filePath(QStringLiteral("zentlog.ini")), "[history]\nwrite_interval_seconds=0\n");
        sim = std::make_unique<SimProcess>(stations);
        app = testing_support::startMeasuring(dialogs, dir.path(), sim->linkPath(), channels);
        ASSERT_NE(app->measurementWindow(), nullptr);
        QObject::connect(app->measurementWindow(), &measure::F_Mesure::cycleCompleted, [this](qint64 ms) {
            std::array<QString, 4> texts;
            for (int i = 0; i < 4; ++i)
                texts[static_cast<size_t>(i)] = app->measurementWindow()->valueText(i);
            shown.push_back(texts);
            durations.push_back(ms);
        });
    }
    QString dbPath() const { return QDir(dir.path()).filePath(QStringLiteral("history.sqlite")); }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<app::Application> app;
    std::vector<std::array<QString, 4>> shown; // the panels' texts at the end of every cycle
    std::vector<qint64> durations;
};

} // namespace

TEST_F(HistoryE2E, TenCyclesOfFourChannelsAreFortyRowsAsShown)
{
    // Drifting values, so that every cycle shows other numbers; station 4 never answers.
    start({QStringLiteral("1 0 ph"), QStringLiteral("2 0 flow"), QStringLiteral("3 0 r_627"),
           QStringLiteral("4 0 conductivity silent")},
          {Channel{1, 2, "1", true}, Channel{1, 5, "2", true}, Channel{1, 13, "3", true}, Channel{1, 1, "4", true}});
    waitFor([&] { return shown.size() >= 10; }, 90000);
    ASSERT_GE(shown.size(), 10u);
    // Stop before reading: no cycle more runs meanwhile.
    app->measurementWindow()->Minuterie1().stop();
    const std::vector<Row> rows = readRows(dbPath());
    ASSERT_EQ(rows.size(), 4 * shown.size());
    for (std::size_t cycle = 0; cycle < 10; ++cycle) {
        for (int channel = 0; channel < 4; ++channel) {
            const Row& row = rows[cycle * 4 + static_cast<std::size_t>(channel)];
            SCOPED_TRACE(QStringLiteral("cycle %1 channel %2: %3").arg(cycle).arg(channel).arg(row.text).toStdString());
            EXPECT_EQ(row.channel, channel);
            EXPECT_EQ(row.text, shown[cycle][static_cast<size_t>(channel)]);
            EXPECT_EQ(row.ok, channel != 3);
            std::vector<double> numbers;
            for (const QVariant& n : row.numbers)
                if (!n.isNull())
                    numbers.push_back(n.toDouble());
            if (channel == 1) { // the flow: value, temperature, then the two totals
                EXPECT_EQ(numbers.size(), 4u);
            }
            EXPECT_EQ(numbersIn(row.text), numbers);
        }
    }
    EXPECT_EQ(rows[0].type, QStringLiteral("pH"));
    EXPECT_EQ(rows[1].type, QStringLiteral("Flow"));
    EXPECT_EQ(rows[2].type, QStringLiteral("R_627"));
    EXPECT_EQ(rows[3].text, QStringLiteral("Out of order"));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(HistoryE2E, AViewerHoldingTheWriteLockNeitherSlowsTheMeasurementNorLosesReadings)
{
    start({QStringLiteral("1 0 ph"), QStringLiteral("2 0 orp")},
          {Channel{1, 2, "1", true}, Channel{1, 3, "2", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
    waitFor([&] { return shown.size() >= 2; }, 20000);
    ASSERT_GE(shown.size(), 2u);
    {
        history_test::LockHolder viewer(dbPath());
        ASSERT_TRUE(viewer.holding());
        const std::size_t before = shown.size();
        waitFor([&] { return shown.size() >= before + 6; }, 30000);
        ASSERT_GE(shown.size(), before + 6);
        ASSERT_EQ(dialogs.boxes.size(), 1);
        EXPECT_FALSE(dialogs.boxes[0].waited);
        EXPECT_TRUE(dialogs.boxes[0].text.contains(dbPath())) << dialogs.boxes[0].text.toStdString();
        EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("locked")));
        // Two stations on a pseudo-terminal answer in a few milliseconds; waiting 50 ms for the
        // lock now and then keeps a cycle far below its second.
        for (std::size_t k = before; k < shown.size(); ++k)
            EXPECT_LT(durations[k], 800) << "cycle " << k;
        EXPECT_GT(app->recorder()->pendingCount(), 0u);
    }
    // The lock is gone: the kept readings are written within a few seconds.
    waitFor([&] { return app->recorder()->pendingCount() == 0 && !app->recorder()->failing(); }, 20000);
    app->measurementWindow()->Minuterie1().stop();
    EXPECT_EQ(app->recorder()->pendingCount(), 0u);
    EXPECT_EQ(readRows(dbPath()).size(), 2 * shown.size());
    EXPECT_EQ(dialogs.boxes.size(), 1);
}

TEST_F(HistoryE2E, TheReasonOfEachFailureIsRecordedAndTracedWhenTheTraceIsOn)
{
    testing_support::writeFile(QDir(dir.path()).filePath(QStringLiteral("zentlog.ini")), "[diagnostics]\ntrace=true\n");
    start({QStringLiteral("1 0 ph"), QStringLiteral("2 0 ph exception=6")},
          {Channel{1, 2, "1", true}, Channel{1, 2, "2", true}, Channel{1, 2, "3", true}, Channel{0, -1, "", true}});
    // Station 3 is not on the line: every cycle waits out its reply limit.
    waitFor([&] { return shown.size() >= 2; }, 30000);
    ASSERT_GE(shown.size(), 2u);
    // The panels say why, from the real exchanges on the line.
    EXPECT_TRUE(app->measurementWindow()->Etiquette3(1)->toolTip().startsWith(
        QStringLiteral("Last failure: exception 6 (slave device busy) (")));
    EXPECT_TRUE(app->measurementWindow()->Etiquette3(2)->toolTip().startsWith(
        QStringLiteral("Last failure: no reply within 2000 ms (")));
    EXPECT_EQ(app->lineCounters().channel(1).exceptions.at(6), app->lineCounters().channel(1).requests);
    app.reset(); // everything written and closed

    QStringList outcomes;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-outcomes"));
        db.setDatabaseName(dbPath());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT outcome FROM readings WHERE id <= 3 ORDER BY id"));
        while (q.next())
            outcomes << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-outcomes"));
    EXPECT_EQ(outcomes, (QStringList{"value", "exception_6", "no_reply"}));

    const QStringList traces = QDir(dir.path()).entryList({QStringLiteral("trace-*.log")}, QDir::Files);
    ASSERT_EQ(traces.size(), 1);
    const QString trace = QString::fromLatin1(testing_support::readFile(QDir(dir.path()).filePath(traces[0])));
    EXPECT_GE(trace.count(QStringLiteral(" COM1 TX 01 03 00 00 00 08 44 0C\n")), 2) << trace.toStdString();
    EXPECT_GE(trace.count(QStringLiteral(" | exception_6 ")), 2) << trace.toStdString();
    EXPECT_GE(trace.count(QStringLiteral(" COM1 RX - | no_reply\n")), 2) << trace.toStdString();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(HistoryE2E, WithTheHistoryOffNothingIsRecorded)
{
    testing_support::writeFile(QDir(dir.path()).filePath(QStringLiteral("zentlog.ini")), "[history]\nenabled=false\n");
    start({QStringLiteral("1 0 ph")},
          {Channel{1, 2, "1", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
    waitFor([&] { return shown.size() >= 2; }, 20000);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(app->recorder(), nullptr);
    EXPECT_FALSE(QFileInfo::exists(dbPath()));
    // Nor is any frame traced unless asked for.
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("trace-*")}).isEmpty());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

namespace {

// The program measuring two stations with its files on a small tmpfs.
class HistoryOnTmpFs : public HistoryE2E {
protected:
    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
    void startThere()
    {
        sim = std::make_unique<SimProcess>(QStringList{QStringLiteral("1 0 ph"), QStringLiteral("2 0 orp")});
        app = testing_support::startMeasuring(
            dialogs, disk.path(), sim->linkPath(),
            {Channel{1, 2, "1", true}, Channel{1, 3, "2", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
        ASSERT_NE(app->measurementWindow(), nullptr);
        QObject::connect(app->measurementWindow(), &measure::F_Mesure::cycleCompleted, [this](qint64 ms) {
            shown.push_back({});
            durations.push_back(ms);
        });
    }
    QString path() const { return QDir(disk.path()).filePath(QStringLiteral("history.sqlite")); }
    // Lets `cycles` more cycles run under the fault: one message, each cycle well within its second.
    void measureThroughTheFault(std::size_t cycles, const QString& reason)
    {
        // A full disk still takes writes into the log's space that the last checkpoint freed.
        waitFor([&] { return app->recorder()->failing(); }, 40000);
        const std::size_t before = shown.size();
        waitFor([&] { return shown.size() >= before + cycles; }, 40000);
        ASSERT_GE(shown.size(), before + cycles);
        ASSERT_EQ(dialogs.boxes.size(), 1) << dialogs.texts().join(QStringLiteral(" | ")).toStdString();
        EXPECT_FALSE(dialogs.boxes[0].waited);
        EXPECT_TRUE(dialogs.boxes[0].text.contains(path())) << dialogs.boxes[0].text.toStdString();
        EXPECT_TRUE(dialogs.boxes[0].text.contains(reason)) << dialogs.boxes[0].text.toStdString();
        for (std::size_t k = before; k < shown.size(); ++k)
            EXPECT_LT(durations[k], 800) << "cycle " << k;
        EXPECT_GT(app->recorder()->pendingCount(), 0u);
    }
    // Once the fault is gone every reading of every cycle is in the file.
    void expectEveryReadingWritten()
    {
        waitFor([&] { return app->recorder()->pendingCount() == 0 && !app->recorder()->failing(); }, 20000);
        app->measurementWindow()->Minuterie1().stop();
        EXPECT_EQ(app->recorder()->pendingCount(), 0u);
        EXPECT_EQ(history_test::rowCount(path()), qint64(2 * shown.size()));
        EXPECT_EQ(dialogs.boxes.size(), 1);
    }

    history_test::TmpFs disk{"2m"};
};

} // namespace

TEST_F(HistoryOnTmpFs, AReadOnlyFolderNeitherSlowsTheMeasurementNorLosesReadings)
{
    testing_support::writeFile(QDir(disk.path()).filePath(QStringLiteral("config.txt")),
                               testing_support::configFor({Channel{1, 2, "1", true}, Channel{1, 3, "2", true},
                                                           Channel{0, -1, "", true}, Channel{0, -1, "", true}}));
    testing_support::writeFile(QDir(disk.path()).filePath(QStringLiteral("PortCom.dat")), " 1  0 \r\n 0 \r\n 0 \r\n");
    ASSERT_TRUE(disk.setReadOnly(true));
    // The program's files are there already and only read; it writes them only when they differ.
    sim = std::make_unique<SimProcess>(QStringList{QStringLiteral("1 0 ph"), QStringLiteral("2 0 orp")});
    qputenv("ZENTLOG_COM1", sim->linkPath().toLocal8Bit());
    app = std::make_unique<app::Application>(dialogs, std::make_unique<serial::QtSerialControl>(), disk.path());
    app->mainWindow().Form_Load();
    app->mainWindow().Mesure_Click();
    ASSERT_NE(app->measurementWindow(), nullptr);
    QObject::connect(app->measurementWindow(), &measure::F_Mesure::cycleCompleted, [this](qint64 ms) {
        shown.push_back({});
        durations.push_back(ms);
    });
    measureThroughTheFault(4, QStringLiteral("is read-only"));
    ASSERT_TRUE(disk.setReadOnly(false));
    expectEveryReadingWritten();
}

TEST_F(HistoryOnTmpFs, AFullDiskNeitherSlowsTheMeasurementNorLosesReadings)
{
    startThere();
    waitFor([&] { return shown.size() >= 2; }, 20000);
    ASSERT_GE(shown.size(), 2u);
    // An empty log: the next writes need new space on the disk (not the log's freed frames).
    history_test::queryValue(path(), QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    disk.fill(QStringLiteral("filler"));
    measureThroughTheFault(25, QStringLiteral("full"));
    ASSERT_TRUE(QFile::remove(QDir(disk.path()).filePath(QStringLiteral("filler"))));
    expectEveryReadingWritten();
    EXPECT_EQ(history_test::queryValue(path(), QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
}

TEST(HistoryMessageBoxE2E, TheHistorysBoxOnTheScreenDoesNotHoldTheMeasurement)
{
    QTemporaryDir dir;
    ui::QtDialogs dialogs;
    SimProcess sim({QStringLiteral("1 0 ph"), QStringLiteral("2 0 orp")});
    auto app = testing_support::startMeasuring(
        dialogs, dir.path(), sim.linkPath(),
        {Channel{1, 2, "1", true}, Channel{1, 3, "2", true}, Channel{0, -1, "", true}, Channel{0, -1, "", true}});
    ASSERT_NE(app->measurementWindow(), nullptr);
    int cycles = 0;
    QObject::connect(app->measurementWindow(), &measure::F_Mesure::cycleCompleted, [&](qint64) { ++cycles; });
    waitFor([&] { return cycles >= 2; }, 20000);
    const QString path = QDir(dir.path()).filePath(QStringLiteral("history.sqlite"));
    const auto historyBox = [&]() -> QMessageBox* {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible() && box->text().contains(path))
                return box;
        return nullptr;
    };
    {
        history_test::LockHolder viewer(path);
        ASSERT_TRUE(viewer.holding());
        waitFor([&] { return historyBox() != nullptr; }, 20000);
        ASSERT_NE(historyBox(), nullptr);
        // The box stays up, nobody answers it, and the cycles go on beneath it.
        const int before = cycles;
        waitFor([&] { return cycles >= before + 4; }, 20000);
        EXPECT_GE(cycles, before + 4);
        EXPECT_NE(historyBox(), nullptr);
    }
    waitFor([&] { return app->recorder()->pendingCount() == 0; }, 20000);
    app->measurementWindow()->Minuterie1().stop();
    EXPECT_EQ(history_test::rowCount(path), qint64(2 * cycles));
    app.reset();
    qunsetenv("ZENTLOG_COM1");
}
