// zentlog-history against real database files: info, export in both formats and locales, the
// period's edges in local time, exit statuses, a target that must not be written, files that
// cannot be read, the rescue of a damaged one, and nothing left beside a file only read.

#include "ExportTestDatabase.h"
#include "HistoryFiles.h"
#include "TestFiles.h"
#include "ToolRun.h"

#include "history/HistorySchema.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using history_test::Reading;
using history_test::utcMs;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

using testing_support::ToolRun;

class HistoryToolTest : public ::testing::Test {
protected:
    QProcessEnvironment environment(const QString& locale) const
    {
        QProcessEnvironment env = testing_support::environmentWithLocale(locale);
        env.insert(QStringLiteral("TZ"), QStringLiteral("CET-1CEST,M3.5.0,M10.5.0/3"));
        return env;
    }

    ToolRun tool(const QStringList& arguments, const QString& locale = QStringLiteral("C"))
    {
        return testing_support::runTool(QStringLiteral(ZENTLOG_HISTORY), arguments, work.path(), environment(locale), 120000);
    }
    QString inWork(const QString& name) const { return QDir(work.path()).filePath(name); }
    QStringList filesInWork() const { return QDir(work.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name); }

    void fillSample()
    {
        history_test::TestDatabase db(inWork(QStringLiteral("history.sqlite")));
        db.add({utcMs("2026-12-09T02:00:00"), 0, QStringLiteral("PH 1"), QStringLiteral("pH"), true, 7.25, QStringLiteral("pH"),
                21.5, {}, {}, {}, {}, QStringLiteral("t")});
        db.add({utcMs("2026-12-09T02:00:00.500"), 3, QStringLiteral("T°"), QStringLiteral("Temperature"), false, {}, {}, {},
                {}, {}, {}, {}, QStringLiteral("Out of order")});
        db.add({utcMs("2026-12-09T03:00:00"), 0, QStringLiteral("PH 1"), QStringLiteral("pH"), true, 0.0001, QStringLiteral("pH"),
                21.0, {}, {}, {}, {}, QStringLiteral("t")});
    }

    QTemporaryDir work;
};

} // namespace

TEST_F(HistoryToolTest, InfoTellsRowsAndTimesPerChannelAndTheFileSize)
{
    fillSample();
    const QByteArray before = readFile(inWork(QStringLiteral("history.sqlite")));
    const ToolRun run = tool({QStringLiteral("info")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("history.sqlite: %1 bytes\n"
                                      "input 0: 2 readings from 2026-12-09T03:00:00+01:00 to 2026-12-09T04:00:00+01:00\n"
                                      "input 3: 1 readings from 2026-12-09T03:00:00+01:00 to 2026-12-09T03:00:00+01:00\n")
                           .arg(before.size()));
    // Read-only: not a byte of the file changes, and SQLite leaves no journal beside it.
    EXPECT_EQ(readFile(inWork(QStringLiteral("history.sqlite"))), before);
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));

    EXPECT_EQ(tool({QStringLiteral("info"), QStringLiteral("missing.sqlite")}).exitCode, 2);
    writeFile(inWork(QStringLiteral("notes.txt")), QByteArray(2048, 'n'));
    const ToolRun foreign = tool({QStringLiteral("info"), QStringLiteral("notes.txt")});
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_TRUE(foreign.err.contains(QStringLiteral("notes.txt"))) << foreign.err.toStdString();
}

TEST_F(HistoryToolTest, ExportsXlsByDefaultIntoTheWorkingDirectory)
{
    fillSample();
    const ToolRun run = tool({QStringLiteral("export")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("3 readings written to history.xls\n"));
    EXPECT_EQ(readFile(inWork(QStringLiteral("history.xls"))),
              QByteArray("time\tchannel\ttag\ttype\tok\tvalue\tunit\ttemperature\tvalue2\tunit2\ttotal_day\ttotal\toutcome\r\n"
                         "2026-12-09 03:00:00\t0\tPH 1\tpH\t1\t7.25\tpH\t21.5\t\t\t\t\tvalue\r\n"
                         "2026-12-09 03:00:00\t3\tT\xb0\tTemperature\t0\t\t\t\t\t\t\t\t\r\n"
                         "2026-12-09 04:00:00\t0\tPH 1\tpH\t1\t0.0001\tpH\t21\t\t\t\t\tvalue\r\n"));
}

TEST_F(HistoryToolTest, ExportsCsvWithTheLocaleSeparatorsAndTheChosenChannel)
{
    fillSample();
    const ToolRun run = tool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--channel"),
                              QStringLiteral("0"), QStringLiteral("--output"), QStringLiteral("ph.csv")},
                             QStringLiteral("fr_FR.UTF-8"));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(inWork(QStringLiteral("ph.csv"))),
              QByteArray("\xEF\xBB\xBFtime;channel;tag;type;ok;value;unit;temperature;value2;unit2;total_day;total;outcome\r\n"
                         "2026-12-09T03:00:00.000+01:00;0;PH 1;pH;1;7,25;pH;21,5;;;;;value\r\n"
                         "2026-12-09T04:00:00.000+01:00;0;PH 1;pH;1;0,0001;pH;21;;;;;value\r\n"));
}

TEST_F(HistoryToolTest, FromIsInToIsOutAndAnEmptyPeriodExitsWithOne)
{
    fillSample();
    // Local times: 03:00 is the first two readings, 04:00 the last.
    ToolRun run = tool({QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-09T03:00"), QStringLiteral("--to"),
                        QStringLiteral("2026-12-09T04:00")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("2 readings written to history.xls\n"));
    run = tool({QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-09T04:00")});
    EXPECT_EQ(run.out, QStringLiteral("1 readings written to history.xls\n"));

    QFile::remove(inWork(QStringLiteral("history.xls")));
    run = tool({QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-10"), QStringLiteral("--format"),
                QStringLiteral("csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("no readings"))) << run.err.toStdString();
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));
}

TEST_F(HistoryToolTest, UsageAndFileErrorsExitWithTwo)
{
    fillSample();
    const QList<QStringList> wrong{
        {},
        {QStringLiteral("purge")},
        {QStringLiteral("export"), QStringLiteral("--input"), QStringLiteral("4")},
        {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("ods")},
        {QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("yesterday")},
        {QStringLiteral("export"), QStringLiteral("--from"), QStringLiteral("2026-12-10"), QStringLiteral("--to"), QStringLiteral("2026-12-09")},
        {QStringLiteral("info"), QStringLiteral("--channel"), QStringLiteral("1")},
        {QStringLiteral("export"), QStringLiteral("a.sqlite"), QStringLiteral("b.sqlite")},
    };
    for (const QStringList& arguments : wrong) {
        const ToolRun run = tool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("usage:"))) << run.err.toStdString();
    }

    // A link at the output name is refused, and what it points at is left alone.
    writeFile(inWork(QStringLiteral("precious.txt")), "keep me");
    ASSERT_EQ(::symlink("precious.txt", inWork(QStringLiteral("history.xls")).toLocal8Bit().constData()), 0);
    const ToolRun run = tool({QStringLiteral("export")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("symbolic link"))) << run.err.toStdString();
    EXPECT_EQ(readFile(inWork(QStringLiteral("precious.txt"))), "keep me");
    EXPECT_TRUE(QFileInfo(inWork(QStringLiteral("history.xls"))).isSymLink());
}

TEST_F(HistoryToolTest, AnInterruptedExportLeavesNoFile)
{
    {
        history_test::TestDatabase db(inWork(QStringLiteral("history.sqlite")));
        db.addSeries(0, utcMs("2026-12-01T00:00:00"), 400000);
    }
    QProcess process;
    process.setProcessEnvironment(environment(QStringLiteral("C")));
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(ZENTLOG_HISTORY), {QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv")});
    ASSERT_TRUE(process.waitForStarted());
    // The temporary file has no name on Linux (O_TMPFILE), so there is nothing to wait for: the
    // export of 400000 rows takes most of a second, and the interruption comes well before.
    QThread::msleep(150);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(120000));
    if (process.exitCode() == 0)
        GTEST_SKIP() << "the export ended before the interruption reached it";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));
}

namespace {

// A history as the recorder writes it: WAL mode, `rows` readings over four channels, their
// minutes and one MQTT acknowledgement. While the object lives its connection stays open and the
// readings wait in the journal beside the file; once it is gone, no journal is left.
class RecordedHistory {
public:
    RecordedHistory(const QString& path, int rows)
        : name_(QStringLiteral("recorded-%1").arg(++count_))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        EXPECT_EQ(history::ensureSchema(db), QString());
        QSqlQuery query(db);
        for (const QString& sql :
             {QStringLiteral("PRAGMA journal_mode = WAL"), QStringLiteral("PRAGMA wal_autocheckpoint = 0"),
              QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                             " INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, text, outcome)"
                             " SELECT 1796785200000 + i * 250, i % 4, 'PH ' || (i % 4), 'pH', i % 7 <> 0, 7 + i % 100 / 100.0,"
                             " 'pH', 21.5, printf('   %.2f pH     21.5 °C', 7 + i % 100 / 100.0), 'value' FROM n")
                  .arg(rows),
              QString::fromLatin1(history::kFillMinutes), QStringLiteral("INSERT INTO mqtt_acked VALUES ('broker:1883 site json', 1, 100)")})
            EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
    }
    ~RecordedHistory()
    {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    RecordedHistory(const RecordedHistory&) = delete;
    RecordedHistory& operator=(const RecordedHistory&) = delete;

private:
    static inline int count_ = 0;
    QString name_;
};

} // namespace

TEST_F(HistoryToolTest, RecoverKeepsTheReadableRowsOfAFileDamagedInPlaceAndNothingElse)
{
    constexpr int kRows = 5000;
    const QString damaged = inWork(QStringLiteral("history.sqlite"));
    RecordedHistory{damaged, kRows};
    QTemporaryDir originals;
    const QString original = QDir(originals.path()).filePath(QStringLiteral("original.sqlite"));
    ASSERT_TRUE(QFile::copy(damaged, original));
    // Random bytes over about three pages of readings, from the middle of a row: that row is cut
    // by the damage's edge, and its end is garbage.
    QByteArray bytes = readFile(damaged);
    ASSERT_GT(bytes.size(), 400'000);
    QRandomGenerator random(20261209);
    for (qsizetype i = 200'000; i < 213'000; ++i)
        bytes[i] = char(random.bounded(256));
    writeFile(damaged, bytes);

    const ToolRun failed = tool({QStringLiteral("export"), QStringLiteral("--output"), QStringLiteral("all.csv")});
    EXPECT_EQ(failed.exitCode, 2);
    EXPECT_TRUE(failed.err.contains(QStringLiteral("\"history.sqlite\" is damaged"))) << failed.err.toStdString();

    const ToolRun run = tool({QStringLiteral("recover"), QStringLiteral("history.sqlite"), QStringLiteral("--output"),
                              QStringLiteral("rescued.sqlite")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const qint64 rescued = run.out.section(QLatin1Char(' '), 1, 1).toLongLong();
    EXPECT_GT(rescued, kRows * 9 / 10) << run.out.toStdString();
    EXPECT_LT(rescued, kRows) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("Skipped \\d+ ranges? of ids .*: \\d+"))))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("The rescued history is \"rescued.sqlite\"."))) << run.out.toStdString();
    EXPECT_EQ(readFile(damaged), bytes);
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite"), QStringLiteral("rescued.sqlite")}));

    // Every row rescued is the original row, the new file is sound and of the current layout,
    // and its minutes sum up exactly the rescued readings.
    const QString copy = inWork(QStringLiteral("rescued.sqlite"));
    EXPECT_EQ(history_test::rowCount(copy), rescued);
    const QString sameAsOriginal = QStringLiteral(
        "SELECT count(*) FROM readings r JOIN original.readings o USING (id) WHERE r.time_ms IS o.time_ms AND r.channel IS o.channel"
        " AND r.tag IS o.tag AND r.type IS o.type AND r.ok IS o.ok AND r.value IS o.value AND r.unit IS o.unit"
        " AND r.temperature IS o.temperature AND r.value2 IS o.value2 AND r.unit2 IS o.unit2 AND r.total_day IS o.total_day"
        " AND r.total IS o.total AND r.text IS o.text AND r.outcome IS o.outcome");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("compare"));
        db.setDatabaseName(copy);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("ATTACH '%1' AS original").arg(original)));
        for (const auto& [sql, expected] : std::initializer_list<std::pair<QString, QVariant>>{
                 {sameAsOriginal, rescued},
                 {QStringLiteral("PRAGMA main.integrity_check"), QStringLiteral("ok")},
                 {QStringLiteral("PRAGMA main.user_version"), history::kSchemaVersion},
                 {QStringLiteral("SELECT sum(ok_count + failed) FROM main.minutes"), rescued},
                 {QStringLiteral("SELECT count(*) FROM main.mqtt_acked"), 1}}) {
            ASSERT_TRUE(query.exec(sql) && query.next()) << sql.toStdString();
            EXPECT_EQ(query.value(0).toString(), expected.toString()) << sql.toStdString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("compare"));

    // An existing file at the new name is refused and left as it is.
    const QByteArray first = readFile(copy);
    const ToolRun again = tool({QStringLiteral("recover"), QStringLiteral("history.sqlite"), QStringLiteral("--output"),
                                QStringLiteral("rescued.sqlite")});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_TRUE(again.err.contains(QStringLiteral("\"rescued.sqlite\" already exists"))) << again.err.toStdString();
    EXPECT_EQ(readFile(copy), first);
}

TEST_F(HistoryToolTest, EveryCommandNamesTheFileAndWhyItCannotBeRead)
{
    history_test::TmpFs readOnly("4m");
    struct Case {
        const char* name;
        std::function<QString()> make; // the file's path, or empty when the case cannot be made here
        const char* why;
        int recoverExit;
    };
    const std::vector<Case> cases{
        {"random bytes", [&] {
             QByteArray noise(8192, '\0');
             QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
             writeFile(inWork(QStringLiteral("noise.sqlite")), noise);
             return QStringLiteral("noise.sqlite");
         }, "could not be read: file is not a database.", 1},
        {"0 bytes", [&] { writeFile(inWork(QStringLiteral("empty.sqlite")), {}); return QStringLiteral("empty.sqlite"); },
         "is empty (0 bytes)", 1},
        {"missing", [] { return QStringLiteral("missing.sqlite"); }, "does not exist.", 2},
        {"unreadable", [&] {
             RecordedHistory{inWork(QStringLiteral("locked.sqlite")), 10};
             QFile::setPermissions(inWork(QStringLiteral("locked.sqlite")), {});
             return ::geteuid() == 0 ? QString() : QStringLiteral("locked.sqlite"); // root reads it all the same
         }, "cannot be opened: Permission denied.", 2},
        {"a journal in a read-only folder", [&] {
             if (!readOnly.mounted())
                 return QString();
             // A copy of a file and its journal, taken while the recorder wrote.
             const RecordedHistory writer(inWork(QStringLiteral("live.sqlite")), 10);
             const QString path = QDir(readOnly.path()).filePath(QStringLiteral("history.sqlite"));
             for (const QString& suffix : {QString(), QStringLiteral("-wal")})
                 EXPECT_TRUE(QFile::copy(inWork(QStringLiteral("live.sqlite")) + suffix, path + suffix));
             EXPECT_TRUE(readOnly.setReadOnly(true));
             return path;
         }, "is read-only", 1},
    };
    for (const Case& c : cases) {
        const QString path = c.make();
        if (path.isEmpty())
            continue;
        const ToolRun info = tool({QStringLiteral("info"), path});
        const ToolRun exported = tool({QStringLiteral("export"), path});
        const ToolRun recovered = tool({QStringLiteral("recover"), path, QStringLiteral("--output"), QStringLiteral("new.sqlite")});
        const QString named = QStringLiteral("\"%1\"").arg(path);
        for (const ToolRun* run : {&info, &exported}) {
            EXPECT_EQ(run->exitCode, 2) << c.name;
            EXPECT_TRUE(run->err.contains(named) && run->err.contains(QLatin1String(c.why))) << c.name << ": " << run->err.toStdString();
        }
        EXPECT_EQ(exported.err, info.err) << c.name;
        EXPECT_EQ(recovered.exitCode, c.recoverExit) << c.name;
        EXPECT_TRUE(recovered.err.startsWith(info.err.trimmed())) << c.name << ": " << recovered.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(inWork(QStringLiteral("new.sqlite"))));
    readOnly.setReadOnly(false);
}

TEST_F(HistoryToolTest, ReadingLeavesNothingBesideTheFileThatWasNotThere)
{
    RecordedHistory{inWork(QStringLiteral("history.sqlite")), 100};
    const QList<QStringList> commands{{QStringLiteral("info")},
                                      {QStringLiteral("export"), QStringLiteral("--output"), QStringLiteral("all.csv")},
                                      {QStringLiteral("recover"), QStringLiteral("history.sqlite"), QStringLiteral("--output"),
                                       QStringLiteral("copy.sqlite")}};
    for (const QStringList& command : commands) {
        const ToolRun run = tool(command);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(filesInWork().filter(QStringLiteral("history.sqlite")), QStringList({QStringLiteral("history.sqlite")}))
            << command.join(QLatin1Char(' ')).toStdString();
    }

    // While a recorder writes, its journal's readings are read and its files stay as they were.
    const RecordedHistory writer(inWork(QStringLiteral("live.sqlite")), 100);
    const QStringList before = filesInWork();
    const ToolRun run = tool({QStringLiteral("info"), QStringLiteral("live.sqlite")});
    EXPECT_TRUE(run.out.contains(QStringLiteral("input 0: 25 readings"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("in its journal"))) << run.out.toStdString();
    EXPECT_EQ(filesInWork(), before);
}

TEST(HistoryReadme, NamesTheLayoutVersionOfNewFiles)
{
    const QString source = qEnvironmentVariable("ZENTLOG_SOURCE_DIR");
    ASSERT_FALSE(source.isEmpty());
    const QString readme = QString::fromUtf8(readFile(QDir(source).filePath(QStringLiteral("README.md"))));
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("`PRAGMA user_version` \\((\\d+)")).match(readme);
    ASSERT_TRUE(match.hasMatch());
    EXPECT_EQ(match.captured(1).toInt(), history::kSchemaVersion);
}
