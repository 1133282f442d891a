// The export core against real database files and real file systems: both formats byte for byte,
// the period's edges, and every way an export can end without leaving a half-written file.

#include "history/Export.h"

#include "ExportTestDatabase.h"
#include "../hardening/SmallFileSystem.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using history::ExportFormat;
using history::ExportOutcome;
using history_test::Reading;
using history_test::utcMs;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class ExportTest : public ::testing::Test {
protected:
    ExportTest()
    {
        // Paris time, without depending on the zone files being installed.
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
    }
    ~ExportTest() override
    {
        qunsetenv("TZ");
        tzset();
    }

    history::ExportRequest request(ExportFormat format, const QLocale& locale = QLocale::c()) const
    {
        return {dbPath, target, utcMs("2026-12-09T00:00:00"), utcMs("2026-12-10T00:00:00"), {0, 1, 2, 3}, format, locale};
    }

    // Rows of three channels, out of insertion order, covering every kind of field; numbers with
    // the decimals their text shows, and without a text that shows them.
    void fillSample()
    {
        history_test::TestDatabase db(dbPath);
        Reading flow{utcMs("2026-12-09T02:00:01.250"), 2, QStringLiteral("FLOW; \"IN\""), QStringLiteral("Flow"), true,
                     123456789.0, QStringLiteral("m³/h"), {}, {}, {}, 12.5, 0.0001, QStringLiteral("x")};
        Reading ph{utcMs("2026-12-09T02:00:01.000"), 0, QStringLiteral("PH 1"), QStringLiteral("pH"), true,
                   7.25, QStringLiteral("pH"), 21.5, {}, {}, {}, {}, QStringLiteral("7.25 pH\r\n21.5 °C")};
        Reading broken{utcMs("2026-12-09T02:00:01.250"), 1, QStringLiteral("O2"), QStringLiteral("Oxygen"), false,
                       {}, {}, {}, {}, {}, {}, {}, QStringLiteral("Out of order")};
        Reading oxygen{utcMs("2026-12-09T02:00:02.000"), 1, QStringLiteral("O2"), QStringLiteral("Oxygen"), true,
                       -2.5, QStringLiteral("mg/l"), 20.0, 95.0, QStringLiteral("%"), {}, {},
                       QStringLiteral("  -2.50 mg/l\r\n 20.0 \u00b0C  95.0 %")};
        db.add(flow);
        db.add(oxygen);
        db.add(ph);
        db.add(broken, QStringLiteral("invalid_crc"));
    }

    QStringList filesInWork() const { return QDir(work.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir work;
    QString dbPath = work.filePath(QStringLiteral("history.sqlite"));
    QString target = work.filePath(QStringLiteral("out.xls"));
};

} // namespace

TEST(ExportNumbers, AreFixedWithTheDecimalsTheyNeed)
{
    EXPECT_EQ(history::exportNumberText(0.0001, '.'), "0.0001");
    EXPECT_EQ(history::exportNumberText(123456789.0, '.'), "123456789");
    EXPECT_EQ(history::exportNumberText(-2.5, ','), "-2,5");
    EXPECT_EQ(history::exportNumberText(7.1, '.'), "7.1");
    EXPECT_EQ(history::exportNumberText(1e20, '.'), "100000000000000000000");
    EXPECT_EQ(history::exportNumberText(1.5e-7, '.'), "0.00000015");
    EXPECT_EQ(history::exportNumberText(std::numeric_limits<double>::infinity(), '.'), "");
    EXPECT_EQ(history::exportNumberText(std::numeric_limits<double>::max(), '.').size(), 309);
}

TEST(ExportSeparators, FollowTheLocale)
{
    const QLocale french(QLocale::French, QLocale::France);
    EXPECT_EQ(history::exportFieldSeparator(ExportFormat::Csv, french), ';');
    EXPECT_EQ(history::exportFieldSeparator(ExportFormat::Csv, QLocale::c()), ',');
    EXPECT_EQ(history::exportFieldSeparator(ExportFormat::Xls, french), '\t');
    EXPECT_EQ(history::exportDecimalSeparator(french), ',');
}

TEST_F(ExportTest, XlsIsTabSeparatedWindows1252InTimeOrder)
{
    fillSample();
    const ExportOutcome outcome = history::exportReadings(request(ExportFormat::Xls));
    ASSERT_EQ(outcome.status, ExportOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_EQ(outcome.rows, 4);
    EXPECT_EQ(readFile(target),
              QByteArray("time\tchannel\ttag\ttype\tok\tvalue\tunit\ttemperature\tvalue2\tunit2\ttotal_day\ttotal\toutcome\r\n"
                         "2026-12-09 03:00:01\t0\tPH 1\tpH\t1\t7.25\tpH\t21.5\t\t\t\t\tvalue\r\n"
                         "2026-12-09 03:00:01\t1\tO2\tOxygen\t0\t\t\t\t\t\t\t\tinvalid_crc\r\n"
                         "2026-12-09 03:00:01\t2\tFLOW; \"IN\"\tFlow\t1\t123456789\tm\xb3/h\t\t\t\t12.5\t0.0001\tvalue\r\n"
                         "2026-12-09 03:00:02\t1\tO2\tOxygen\t1\t-2.50\tmg/l\t20.0\t95.0\t%\t\t\tvalue\r\n"));
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite"), QStringLiteral("out.xls")}));
}

TEST_F(ExportTest, XlsWritesTheLocaleDecimalCommaAndKeepsTabsOutOfTexts)
{
    {
        history_test::TestDatabase db(dbPath);
        db.add({utcMs("2026-12-09T10:00:00"), 0, QStringLiteral("A\tB\r\nC"), QStringLiteral("pH"), true, 7.25,
                QStringLiteral("pH"), 21.5, {}, {}, {}, {}, QStringLiteral("t")});
    }
    const ExportOutcome outcome = history::exportReadings(request(ExportFormat::Xls, QLocale(QLocale::French, QLocale::France)));
    ASSERT_EQ(outcome.status, ExportOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_EQ(readFile(target).split('\n').at(1), QByteArray("2026-12-09 11:00:00\t0\tA B  C\tpH\t1\t7,25\tpH\t21,5\t\t\t\t\tvalue\r"));
}

TEST_F(ExportTest, CsvIsUtf8Rfc4180WithIsoTimesAndTheLocaleSeparators)
{
    fillSample();
    target = work.filePath(QStringLiteral("out.csv"));
    ExportOutcome outcome = history::exportReadings(request(ExportFormat::Csv, QLocale(QLocale::French, QLocale::France)));
    ASSERT_EQ(outcome.status, ExportOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_EQ(readFile(target),
              QByteArray("\xEF\xBB\xBFtime;channel;tag;type;ok;value;unit;temperature;value2;unit2;total_day;total;outcome\r\n"
                         "2026-12-09T03:00:01.000+01:00;0;PH 1;pH;1;7,25;pH;21,5;;;;;value\r\n"
                         "2026-12-09T03:00:01.250+01:00;1;O2;Oxygen;0;;;;;;;;invalid_crc\r\n"
                         "2026-12-09T03:00:01.250+01:00;2;\"FLOW; \"\"IN\"\"\";Flow;1;123456789;m\xc2\xb3/h;;;;12,5;0,0001;value\r\n"
                         "2026-12-09T03:00:02.000+01:00;1;O2;Oxygen;1;-2,50;mg/l;20,0;95,0;%;;;value\r\n"));

    // With a decimal point the separator is a comma; the tag with a quote is still quoted, and
    // no number needs quotes.
    outcome = history::exportReadings(request(ExportFormat::Csv));
    ASSERT_EQ(outcome.status, ExportOutcome::Status::Done) << outcome.message.toStdString();
    const QList<QByteArray> lines = readFile(target).split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[1], "2026-12-09T03:00:01.000+01:00,0,PH 1,pH,1,7.25,pH,21.5,,,,,value\r");
    EXPECT_EQ(lines[3], "2026-12-09T03:00:01.250+01:00,2,\"FLOW; \"\"IN\"\"\",Flow,1,123456789,m\xc2\xb3/h,,,,12.5,0.0001,value\r");
}

TEST_F(ExportTest, CsvTimesKeepTheRepeatedHourApartWhenTheClocksGoBack)
{
    {
        history_test::TestDatabase db(dbPath);
        // 2026-10-25: 03:00 summer time becomes 02:00 winter time at 01:00 UTC.
        for (const char* time : {"2026-10-25T00:59:59", "2026-10-25T01:00:00", "2026-10-25T01:30:00"})
            db.add({utcMs(time), 0, QStringLiteral("T"), QStringLiteral("pH"), true, 7.0, {}, {}, {}, {}, {}, {}, QStringLiteral("t")});
    }
    target = work.filePath(QStringLiteral("out.csv"));
    history::ExportRequest r = request(ExportFormat::Csv);
    r.fromMs = utcMs("2026-10-24T00:00:00");
    ASSERT_EQ(history::exportReadings(r).status, ExportOutcome::Status::Done);
    QStringList times;
    for (const QByteArray& line : readFile(target).split('\n').mid(1, 3))
        times << QString::fromUtf8(line.left(line.indexOf(',')));
    EXPECT_EQ(times, QStringList({QStringLiteral("2026-10-25T02:59:59.000+02:00"), QStringLiteral("2026-10-25T02:00:00.000+01:00"),
                                  QStringLiteral("2026-10-25T02:30:00.000+01:00")}));
}

TEST_F(ExportTest, AReadingAtTheStartIsInAndOneAtTheEndIsOut)
{
    {
        history_test::TestDatabase db(dbPath);
        for (qint64 ms : {utcMs("2026-12-08T23:59:59.999"), utcMs("2026-12-09T00:00:00"), utcMs("2026-12-09T23:59:59.999"),
                          utcMs("2026-12-10T00:00:00")})
            db.add({ms, 3, QStringLiteral("T"), QStringLiteral("pH"), true, double(ms % 100000), {}, {}, {}, {}, {}, {}, QStringLiteral("t")});
    }
    ASSERT_EQ(history::exportReadings(request(ExportFormat::Xls)).rows, 2);
    const QList<QByteArray> lines = readFile(target).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith("2026-12-09 01:00:00\t3\t")) << lines[1].constData();
    EXPECT_TRUE(lines[2].startsWith("2026-12-10 00:59:59\t3\t")) << lines[2].constData();
}

TEST_F(ExportTest, TheLatestTagOfEachChannelNamesItsBox)
{
    EXPECT_EQ(history::latestTags(dbPath), (std::array<QString, history::kExportChannelCount>{}));
    fillSample();
    history_test::TestDatabase(dbPath).add({utcMs("2026-12-09T01:00:00"), 1, QStringLiteral("O2 before"), QStringLiteral("Oxygen"), true,
                                            1.0, {}, {}, {}, {}, {}, {}, QStringLiteral("1")});
    EXPECT_EQ(history::latestTags(dbPath), (std::array<QString, history::kExportChannelCount>{
                                               QStringLiteral("PH 1"), QStringLiteral("O2"), QStringLiteral("FLOW; \"IN\""), QString()}));
}

TEST_F(ExportTest, OnlyTheChosenChannelsAreExported)
{
    fillSample();
    history::ExportRequest r = request(ExportFormat::Xls);
    r.channels = {1};
    EXPECT_EQ(history::exportReadings(r).rows, 2);
    EXPECT_EQ(readFile(target).count("\tO2\t"), 2);
}

TEST_F(ExportTest, AnEmptyPeriodWritesNothingAndLeavesTheOldFile)
{
    fillSample();
    writeFile(target, "earlier export");
    history::ExportRequest r = request(ExportFormat::Xls);
    r.fromMs = utcMs("2026-12-10T00:00:00");
    r.toMs = utcMs("2026-12-11T00:00:00");
    const ExportOutcome outcome = history::exportReadings(r);
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Empty);
    EXPECT_FALSE(outcome.message.isEmpty());
    EXPECT_EQ(readFile(target), "earlier export");
    EXPECT_EQ(filesInWork().size(), 2);
}

TEST_F(ExportTest, ACancelledExportLeavesNoFileAndTheOldOneAsItWas)
{
    {
        history_test::TestDatabase db(dbPath);
        db.addSeries(0, utcMs("2026-12-09T01:00:00"), 20000);
    }
    int calls = 0;
    qint64 lastTotal = 0;
    ExportOutcome outcome = history::exportReadings(request(ExportFormat::Csv), [&](qint64 done, qint64 total) {
        lastTotal = total;
        return ++calls < 3 && done < total;
    });
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Cancelled);
    EXPECT_EQ(lastTotal, 20000);
    EXPECT_EQ(filesInWork(), QStringList({QStringLiteral("history.sqlite")}));

    writeFile(target, "earlier export");
    outcome = history::exportReadings(request(ExportFormat::Csv), [](qint64 done, qint64) { return done < 10000; });
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Cancelled);
    EXPECT_EQ(readFile(target), "earlier export");
    EXPECT_EQ(filesInWork().size(), 2);
}

TEST_F(ExportTest, ProgressCountsUpToTheTotal)
{
    {
        history_test::TestDatabase db(dbPath);
        db.addSeries(0, utcMs("2026-12-09T01:00:00"), 10000);
        db.addSeries(2, utcMs("2026-12-09T01:00:00"), 10000);
    }
    QList<qint64> seen;
    const ExportOutcome outcome = history::exportReadings(request(ExportFormat::Xls), [&](qint64 done, qint64 total) {
        EXPECT_EQ(total, 20000);
        seen << done;
        return true;
    });
    EXPECT_EQ(outcome.rows, 20000);
    ASSERT_GE(seen.size(), 3);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.constLast(), 20000);
    EXPECT_EQ(readFile(target).count('\n'), 20001);
}

TEST_F(ExportTest, RefusesALinkADirectoryAFifoAndTheHistoryItself)
{
    fillSample();
    const QString elsewhere = work.filePath(QStringLiteral("precious.txt"));
    writeFile(elsewhere, "keep me");
    ASSERT_EQ(::symlink(elsewhere.toLocal8Bit().constData(), target.toLocal8Bit().constData()), 0);
    ExportOutcome outcome = history::exportReadings(request(ExportFormat::Xls));
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("symbolic link"))) << outcome.message.toStdString();
    EXPECT_EQ(readFile(elsewhere), "keep me");
    EXPECT_TRUE(QFileInfo(target).isSymLink());

    target = work.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("folder")));
    EXPECT_EQ(history::exportReadings(request(ExportFormat::Xls)).status, ExportOutcome::Status::Failed);

    target = work.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(target.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(history::exportReadings(request(ExportFormat::Xls)).status, ExportOutcome::Status::Failed);

    const QByteArray database = readFile(dbPath);
    target = dbPath;
    outcome = history::exportReadings(request(ExportFormat::Xls));
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("history file itself"))) << outcome.message.toStdString();
    target = work.filePath(QStringLiteral("hard-link.xls"));
    ASSERT_EQ(::link(dbPath.toLocal8Bit().constData(), target.toLocal8Bit().constData()), 0);
    EXPECT_EQ(history::exportReadings(request(ExportFormat::Xls)).status, ExportOutcome::Status::Failed);
    EXPECT_EQ(readFile(dbPath), database);
}

TEST_F(ExportTest, AMissingOrForeignHistoryIsReported)
{
    // Nothing recorded yet is no failure: the message says how the history starts.
    ExportOutcome outcome = history::exportReadings(request(ExportFormat::Xls));
    EXPECT_EQ(outcome.status, ExportOutcome::Status::NoHistory);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("does not exist. No readings have been recorded yet: the history "
                                                        "starts when the measurement runs")))
        << outcome.message.toStdString();

    writeFile(dbPath, QByteArray(4096, 'x'));
    outcome = history::exportReadings(request(ExportFormat::Xls));
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("history.sqlite"))) << outcome.message.toStdString();
    EXPECT_EQ(readFile(dbPath), QByteArray(4096, 'x'));
    EXPECT_FALSE(QFile::exists(target));

    QFile::remove(dbPath);
    ASSERT_EQ(::mkfifo(dbPath.toLocal8Bit().constData(), 0600), 0);
    outcome = history::exportReadings(request(ExportFormat::Xls));
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("not a regular file"))) << outcome.message.toStdString();
}

TEST_F(ExportTest, AFullDiskStopsTheExportWithTheReasonAndNoFile)
{
    hardening_test::SmallFileSystem disk;
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    {
        history_test::TestDatabase db(dbPath);
        db.addSeries(1, utcMs("2026-12-09T01:00:00"), 5000); // about 300 KB of text
    }
    target = disk.filePath(QStringLiteral("out.csv"));
    writeFile(target, "earlier export");
    const ExportOutcome outcome = history::exportReadings(request(ExportFormat::Csv));
    EXPECT_EQ(outcome.status, ExportOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("No space left on device"))) << outcome.message.toStdString();
    EXPECT_EQ(readFile(target), "earlier export");
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("out.csv")}));
}

TEST_F(ExportTest, TheRecorderCommitsWhileAnExportIsUnderWay)
{
    {
        history_test::TestDatabase db(dbPath);
        db.addSeries(0, utcMs("2026-12-09T01:00:00"), 20000);
    }
    history::Exporter exporter(request(ExportFormat::Csv));
    ASSERT_TRUE(exporter.start());
    ASSERT_TRUE(exporter.step(1000));

    // A second connection, as the recorder's, in SQLite's default rollback journal mode: a
    // statement of the export left running between slices would hold the read lock and make
    // this commit fail at once with "database is locked".
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("recorder"));
        writer.setDatabaseName(dbPath);
        writer.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        ASSERT_TRUE(writer.open());
        QSqlQuery insert(writer);
        EXPECT_TRUE(insert.exec(QStringLiteral("INSERT INTO readings (time_ms, channel, tag, type, ok, text) VALUES (%1, 0, "
                                               "'LATE', 'pH', 0, 'Out of order')")
                                    .arg(utcMs("2026-12-09T20:00:00"))))
            << insert.lastError().text().toStdString();
        writer.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("recorder"));

    while (exporter.step(1000)) {
    }
    ASSERT_EQ(exporter.outcome().status, ExportOutcome::Status::Done) << exporter.outcome().message.toStdString();
    EXPECT_EQ(exporter.outcome().rows, 20001); // the new reading falls in the period, after those written
    EXPECT_EQ(readFile(target).count(",LATE,"), 1);
}

TEST_F(ExportTest, ReadingsOfOneTimeSplitAcrossSlicesAreEachWrittenOnce)
{
    {
        history_test::TestDatabase db(dbPath);
        for (int i = 0; i < 7; ++i) {
            for (int channel : {2, 0}) {
                db.add({utcMs("2026-12-09T05:00:00"), channel, QStringLiteral("T%1").arg(i), QStringLiteral("pH"), true, double(i),
                        {}, {}, {}, {}, {}, {}, QStringLiteral("t")});
            }
        }
    }
    history::Exporter exporter(request(ExportFormat::Xls));
    ASSERT_TRUE(exporter.start());
    while (exporter.step(3)) {
    }
    ASSERT_EQ(exporter.outcome().rows, 14);
    QList<QByteArray> lines = readFile(target).split('\n');
    lines.removeFirst();
    lines.removeLast();
    QStringList tags;
    for (const QByteArray& line : lines)
        tags << QString::fromLatin1(line.split('\t').at(1) + line.split('\t').at(2));
    // At one time the lower channel first, and each channel's readings in the order recorded.
    EXPECT_EQ(tags, QStringList({"0T0", "0T1", "0T2", "0T3", "0T4", "0T5", "0T6", "2T0", "2T1", "2T2", "2T3", "2T4", "2T5", "2T6"}));
}

TEST_F(ExportTest, ADamagedHistoryIsSaidToBeDamagedWithWhatHappensToIt)
{
    history_test::TestDatabase(dbPath).addSeries(0, utcMs("2026-12-09T01:00:00"), 20000);
    const QByteArray whole = readFile(dbPath);
    const QRegularExpression said(QStringLiteral("^The history file \".*/history.sqlite\" is damaged \\(.*aside as "
                                                 "\"history.sqlite.damaged-YYYYMMDD-HHMMSS\".*\"zentlog-history recover\" rescues"));
    // The header ("not a database"), the table list, and the newest readings, which a window following the file reads first.
    for (const qsizetype from : {qsizetype(0), qsizetype(4096), whole.size() - 4096}) {
        writeFile(dbPath, QByteArray(whole).replace(from, 4096, QByteArray(4096, 'Z')));
        history::ReadOnlyHistory following;
        for (const QString& message : {history::exportReadings(request(ExportFormat::Xls)).message, following.open(dbPath)})
            EXPECT_TRUE(said.match(message).hasMatch()) << from << message.toStdString();
    }
}
