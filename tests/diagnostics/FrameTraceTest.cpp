// The frame trace on real files: its lines byte for byte, the files of a day and their rotation,
// a full tmpfs, and links and pipes at a trace file's name.

#include "diagnostics/FrameTrace.h"

#include "common/SafeFiles.h"

#include "SmallFileSystem.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

using diagnostics::Exchange;
using diagnostics::FrameTrace;
using diagnostics::Outcome;

namespace {

qint64 localMs(int day, int hour, int minute, int second, int ms)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second, ms)).toMSecsSinceEpoch();
}

const QByteArray kRequest = QByteArray::fromHex("010300000008440C");
const QByteArray kReply = QByteArray::fromHex("010310000000750000004b0000000000000000a1b2");

Exchange answered(qint64 sentAtMs)
{
    Exchange e;
    e.sentAtMs = sentAtMs;
    e.endedAtMs = sentAtMs + 12;
    e.request = kRequest;
    e.received = kReply;
    e.outcome = Outcome::value();
    e.replyMs = 11.8;
    return e;
}

// A directory, a clock the test moves, and every report the trace makes.
class TraceFolder : public ::testing::Test {
protected:
    FrameTrace::Options options(qint64 maxFileBytes = 10 * 1024 * 1024)
    {
        FrameTrace::Options o;
        o.maxFileBytes = maxFileBytes;
        o.report = [this](const QString& text) { reports << text; };
        o.clock = [this] { return nowMs; };
        return o;
    }
    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    qint64 nowMs = localMs(9, 14, 2, 3, 500);
    QStringList reports;
};

} // namespace

TEST_F(TraceFolder, LinesOfEveryKindOfExchangeByteForByte)
{
    FrameTrace trace(dir.path(), options());
    EXPECT_EQ(files(), QStringList()) << "a trace writes nothing before its first exchange";

    trace.record(answered(localMs(9, 14, 2, 3, 123)), QStringLiteral("COM1"));

    Exchange silent = answered(localMs(9, 14, 2, 59, 995)); // its wait ends in the next minute
    silent.endedAtMs = localMs(9, 14, 3, 1, 7);
    silent.received.clear();
    silent.outcome = Outcome::noReply(2000);
    silent.replyMs.reset();
    trace.record(silent, QStringLiteral("COM1"));

    Exchange refused = answered(localMs(9, 14, 3, 2, 0));
    refused.received = QByteArray::fromHex("018302C0F1");
    refused.outcome = Outcome::exception(2);
    refused.replyMs = 9.0;
    refused.lateReplies = {{3, 0}, {247, 20}};
    trace.record(refused, QStringLiteral("COM1"));

    Exchange closed;
    closed.endedAtMs = localMs(9, 14, 3, 4, 56);
    closed.outcome = Outcome::of(diagnostics::OutcomeKind::PortClosed);
    trace.record(closed, QStringLiteral("my port")); // a blank would add a field

    EXPECT_EQ(files(), QStringList{QStringLiteral("trace-2026-12-09.log")});
    EXPECT_EQ(testing_support::readFile(path(QStringLiteral("trace-2026-12-09.log"))),
              QByteArray("2026-12-09 14:02:03.123 COM1 TX 01 03 00 00 00 08 44 0C\n"
                         "2026-12-09 14:02:03.135 COM1 RX 01 03 10 00 00 00 75 00 00 00 4B 00 00 00 00 00 00 00 00 "
                         "A1 B2 | value 11.8 ms\n"
                         "2026-12-09 14:02:59.995 COM1 TX 01 03 00 00 00 08 44 0C\n"
                         "2026-12-09 14:03:01.007 COM1 RX - | no_reply\n"
                         "2026-12-09 14:03:02.000 COM1 TX 01 03 00 00 00 08 44 0C\n"
                         "2026-12-09 14:03:02.012 COM1 RX 01 83 02 C0 F1 | exception_2 9.0 ms"
                         " late reply of 3/0 discarded late reply of 247/20 discarded\n"
                         "2026-12-09 14:03:04.056 my_port -- | port_closed\n"));
    EXPECT_TRUE(reports.isEmpty());
}

TEST_F(TraceFolder, TheLongestReplyAndExtremeNumbersFitTheirLine)
{
    FrameTrace trace(dir.path(), options());
    Exchange e = answered(localMs(9, 14, 2, 3, 123));
    e.received.clear();
    for (int i = 0; i < 4096; ++i) // as much as the reception keeps
        e.received += static_cast<char>(i % 256);
    e.outcome = Outcome::invalidReply(diagnostics::InvalidReason::Noise);
    e.replyMs = 1e300; // no reply time a station could take: left out
    e.lateReplies.assign(50, {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()});
    trace.record(e, QString(300, QLatin1Char('P')));

    const QList<QByteArray> lines = testing_support::readFile(trace.filePath()).split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QByteArray rx = lines[1];
    const QByteArray prefix = " " + QByteArray(300, 'P') + " RX 00 01 02";
    EXPECT_EQ(rx.indexOf(prefix), 23);
    EXPECT_TRUE(rx.contains(" FE FF 00 01 ")) << "bytes are shown as unsigned";
    const QByteArray tail = " | invalid_noise late reply of -2147483648/2147483647 discarded";
    EXPECT_EQ(rx.indexOf(tail), 23 + prefix.size() - 9 + 3 * 4096) << "the bytes, then the code";
    EXPECT_EQ(rx.count(" late reply of "), 50);
    EXPECT_TRUE(rx.endsWith("/2147483647 discarded"));
}

TEST_F(TraceFolder, FilesRotateAtTheirSizeAndOnlyTheNewestTraceFilesStay)
{
    // Things that look like trace files but are not, and an old trace that is.
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("kept"));
    testing_support::writeFile(target, "kept");
    ASSERT_TRUE(QFile::link(target, path(QStringLiteral("trace-2020-01-01.log"))));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("trace-2020-01-02.log")));
    const QStringList decoys{QStringLiteral("trace-2020-01-03.01.log"), QStringLiteral("trace-2020-01-04.log.bak"),
                             QStringLiteral("trace-2020-13-01.log"), QStringLiteral("mytrace-2020-01-05.log")};
    for (const QString& name : decoys)
        testing_support::writeFile(path(name), "not ours");
    testing_support::writeFile(path(QStringLiteral("trace-2020-01-06.log")), "an old trace\n");

    nowMs = localMs(9, 1, 0, 0, 0);
    FrameTrace trace(dir.path(), options(4096));
    const int exchanges = 600;
    for (int i = 0; i < exchanges; ++i) {
        trace.record(answered(nowMs), QStringLiteral("COM1"));
        nowMs += 1000;
    }
    EXPECT_TRUE(reports.isEmpty()) << reports.join(QLatin1Char('\n')).toStdString();

    const QRegularExpression todays(QStringLiteral("^trace-2026-12-09(?:\\.(\\d+))?\\.log$"));
    std::vector<int> numbers;
    for (const QString& name : files()) {
        const QRegularExpressionMatch match = todays.match(name);
        if (!match.hasMatch())
            continue;
        numbers.push_back(match.captured(1).toInt());
        const QByteArray bytes = testing_support::readFile(path(name));
        EXPECT_LE(bytes.size(), 4096) << name.toStdString();
        EXPECT_TRUE(bytes.endsWith('\n')) << name.toStdString();
    }
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), 10u);
    EXPECT_GE(numbers.front(), 10) << "the first files of the day should have gone";
    for (std::size_t i = 1; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "the newest ten are kept, without a gap";
    const QString newest = FrameTrace::fileName(QDate(2026, 12, 9), numbers.back());
    EXPECT_EQ(trace.filePath(), path(newest));
    const QByteArray lastLine =
        QDateTime::fromMSecsSinceEpoch(nowMs - 1000 + 12).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1()
        + " COM1 RX";
    EXPECT_TRUE(testing_support::readFile(path(newest)).contains(lastLine));

    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("trace-2020-01-06.log")))) << "the oldest trace stays";
    for (const QString& name : decoys)
        EXPECT_EQ(testing_support::readFile(path(name)), QByteArray("not ours")) << name.toStdString();
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("trace-2020-01-01.log"))).isSymLink());
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("trace-2020-01-02.log"))).isDir());
    EXPECT_EQ(testing_support::readFile(target), QByteArray("kept"));
}

TEST_F(TraceFolder, ANewDayStartsItsOwnFileAndARestartContinuesTodays)
{
    nowMs = localMs(9, 23, 59, 59, 900);
    {
        FrameTrace trace(dir.path(), options());
        trace.record(answered(nowMs), QStringLiteral("COM1"));
        nowMs = localMs(10, 0, 0, 0, 100);
        trace.record(answered(nowMs), QStringLiteral("COM1"));
        EXPECT_EQ(trace.filePath(), path(QStringLiteral("trace-2026-12-10.log")));
    }
    EXPECT_EQ(testing_support::readFile(path(QStringLiteral("trace-2026-12-09.log"))).count('\n'), 2);
    const QByteArray before = testing_support::readFile(path(QStringLiteral("trace-2026-12-10.log")));
    EXPECT_EQ(before.count('\n'), 2);

    FrameTrace restarted(dir.path(), options());
    nowMs += 60 * 1000;
    restarted.record(answered(nowMs), QStringLiteral("COM2"));
    const QByteArray after = testing_support::readFile(path(QStringLiteral("trace-2026-12-10.log")));
    EXPECT_TRUE(after.startsWith(before));
    EXPECT_EQ(after.count('\n'), 4);
    EXPECT_TRUE(after.contains(" COM2 RX "));
    EXPECT_EQ(files().size(), 2);
}

TEST_F(TraceFolder, ALinkOrAPipeAtTodaysNameIsNeverWrittenThroughAndIsReported)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("passwords"));
    testing_support::writeFile(target, "secret\n");
    const QString todays = path(QStringLiteral("trace-2026-12-09.log"));
    const QString missing = elsewhere.filePath(QStringLiteral("missing"));

    // The warnings of "zentlog.diagnostics", for as long as the test runs.
    static QStringList warnings;
    warnings.clear();
    struct Capture {
        QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                                                              const QString& text) {
            if (type == QtWarningMsg && QByteArray(context.category) == "zentlog.diagnostics")
                warnings << text;
        });
        ~Capture() { qInstallMessageHandler(previous); }
    } capture;

    struct Case {
        const char* what;
        std::function<bool()> make;
        const char* reason;
        common::EntryKind kind; // what stays at the name
    };
    const Case cases[] = {
        {"a link to a file", [&] { return QFile::link(target, todays); }, "symbolic link", common::EntryKind::SymLink},
        {"a link to nothing", [&] { return QFile::link(missing, todays); }, "symbolic link", common::EntryKind::SymLink},
        {"a pipe", [&] { return ::mkfifo(QFile::encodeName(todays).constData(), 0600) == 0; }, "not a regular file",
         common::EntryKind::Other},
        {"a hard link",
         [&] { return ::link(QFile::encodeName(target).constData(), QFile::encodeName(todays).constData()) == 0; },
         "hard link", common::EntryKind::Regular},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        warnings.clear();
        ASSERT_TRUE(c.make());
        FrameTrace trace(dir.path(), options());
        for (int i = 0; i < 3; ++i) // a pipe opened for writing would wait here for a reader
            trace.record(answered(nowMs), QStringLiteral("COM1"));
        ASSERT_EQ(reports.size(), 1);
        EXPECT_TRUE(reports[0].contains(QLatin1String(c.reason))) << reports[0].toStdString();
        EXPECT_TRUE(reports[0].contains(todays)) << reports[0].toStdString();
        EXPECT_EQ(warnings, reports);
        EXPECT_TRUE(trace.failing());
        EXPECT_EQ(files(), QStringList{QStringLiteral("trace-2026-12-09.log")});
        EXPECT_EQ(common::entryKind(todays), c.kind) << "the entry was replaced";
        EXPECT_EQ(testing_support::readFile(target), QByteArray("secret\n"));
        EXPECT_FALSE(QFileInfo::exists(missing));

        // Once the name is free again, the trace comes back by itself after its rest.
        ASSERT_TRUE(QFile::remove(todays));
        nowMs += FrameTrace::kRetryAfterMs + 1;
        trace.record(answered(nowMs), QStringLiteral("COM1"));
        EXPECT_FALSE(trace.failing());
        EXPECT_EQ(testing_support::readFile(todays).count('\n'), 2);
        ASSERT_TRUE(QFile::remove(todays));
    }
}

namespace {

class FullDiskTrace : public TraceFolder {
protected:
    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    }
    // Records until the trace fails (or gives up after far more than the disk holds).
    int recordUntilFull(FrameTrace& trace)
    {
        for (int i = 0; i < 2000; ++i) {
            trace.record(answered(nowMs), QStringLiteral("COM1"));
            nowMs += 1000;
            if (trace.failing())
                return i;
        }
        ADD_FAILURE() << "the disk never filled";
        return -1;
    }

    hardening_test::SmallFileSystem disk;
};

} // namespace

TEST_F(FullDiskTrace, ReportsOnceRestsAMinuteLeavesNoHalfLineAndResumesOnItsOwn)
{
    testing_support::writeFile(disk.filePath(QStringLiteral("filler")), QByteArray(16 * 1024, 'f'));
    nowMs = localMs(9, 10, 0, 0, 0);
    FrameTrace trace(disk.path(), options());
    ASSERT_GT(recordUntilFull(trace), 0);
    const QString tracePath = disk.filePath(QStringLiteral("trace-2026-12-09.log"));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("No space left on device"))) << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains(tracePath)) << reports[0].toStdString();

    // Resting: nothing is tried, nothing more is said.
    const qint64 sizeWhenFull = QFileInfo(tracePath).size();
    for (int i = 0; i < 50; ++i) {
        trace.record(answered(nowMs), QStringLiteral("COM1"));
        nowMs += 1000;
    }
    // Still full after the rest: the same outage, no second message.
    nowMs += FrameTrace::kRetryAfterMs;
    trace.record(answered(nowMs), QStringLiteral("COM1"));
    EXPECT_TRUE(trace.failing());
    EXPECT_EQ(reports.size(), 1);
    EXPECT_EQ(QFileInfo(tracePath).size(), sizeWhenFull);

    // Space again: the trace goes on by itself at the end of its rest.
    ASSERT_TRUE(QFile::remove(disk.filePath(QStringLiteral("filler"))));
    nowMs += FrameTrace::kRetryAfterMs;
    const qint64 lastSent = nowMs;
    trace.record(answered(lastSent), QStringLiteral("COM1"));
    EXPECT_FALSE(trace.failing());

    // Every line whole, TX and RX in pairs, the exchange after the outage last.
    const QByteArray bytes = testing_support::readFile(tracePath);
    ASSERT_TRUE(bytes.endsWith('\n'));
    const QList<QByteArray> lines = bytes.chopped(1).split('\n');
    const QRegularExpression whole(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} COM1 (TX 01 03 00 00 00 08 44 0C|RX 01 03 10( [0-9A-F]{2}){18} \\| value 11\\.8 ms)$"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(whole.match(QString::fromLatin1(lines[i])).hasMatch()) << i << ": " << lines[i].toStdString();
        EXPECT_EQ(lines[i].contains(" TX "), i % 2 == 0) << i;
    }
    EXPECT_TRUE(lines.last().startsWith(
        QDateTime::fromMSecsSinceEpoch(lastSent + 12).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1()));

    // A later outage is a new one, and is told again.
    ASSERT_GT(disk.fill(QStringLiteral("filler")), 0);
    recordUntilFull(trace);
    EXPECT_EQ(reports.size(), 2);
}
