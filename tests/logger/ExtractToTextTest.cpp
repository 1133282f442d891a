#include "logger/ExtractToText.h"

#include "LoggerFiles.h"
#include "ScriptedDialogs.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace logger;
using logger_test::header;
using logger_test::record;
using logger_test::values;
using testing_support::readFile;
using testing_support::ScriptedDialogs;
using testing_support::writeFile;

namespace {

const QByteArray kPump = "PUMP A";

// While it lives, the process cannot write where the permissions forbid it, even as root
// (which CI is): the file-permission override capabilities are off for this thread.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride()
    {
#ifdef Q_OS_LINUX
        if (geteuid() != 0)
            return;
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::copy(std::begin(saved_), std::end(saved_), std::begin(reduced));
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
#endif
    }
    ~WithoutPermissionOverride()
    {
#ifdef Q_OS_LINUX
        if (active_)
            syscall(SYS_capset, &header_, saved_);
#endif
    }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
#ifdef Q_OS_LINUX
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
#endif
};

class ExtractToTextTest : public ::testing::Test {
protected:
    QString out(const QString& name) const { return QDir(outputDir.path()).filePath(name); }

    ExtractionOutcome extract(const QByteArray& logger, char separator = '.')
    {
        writeFile(loggerPath, logger);
        return ExtractToText({loggerPath, outputDir.path(), separator}, AskWithDialogs(dialogs));
    }

    QStringList outputNames() const { return QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir inputDir;
    QTemporaryDir outputDir;
    QString loggerPath = inputDir.filePath(QStringLiteral("data.log"));
    ScriptedDialogs dialogs;
};

// The data lines of a file: everything after the five header lines.
QList<QByteArray> dataLines(const QByteArray& file)
{
    QList<QByteArray> lines = file.split('\n');
    lines.removeLast(); // after the last CR LF
    return lines.mid(5);
}

} // namespace

TEST_F(ExtractToTextTest, WorkedExampleByteForByte)
{
    const ExtractionOutcome outcome = extract(logger_test::workedExample());
    ASSERT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_EQ(readFile(out(QStringLiteral("Flow_PUMP A.xls"))), logger_test::kWorkedFlowFile);
    EXPECT_EQ(readFile(out(QStringLiteral("Resistivity_PUMP A.xls"))), logger_test::kWorkedResistivityFile);
    EXPECT_EQ(outcome.progress.label, QStringLiteral("1 : 5/3/99 14:5  1234 215 00012345"));
    EXPECT_EQ(outcome.progress.RecordCounter, 2);
    EXPECT_EQ(outcome.progress.bytesDone, 100);
    EXPECT_EQ(outcome.progress.bytesTotal, 100);
    EXPECT_EQ(outcome.fragmentBytes, 0);
    EXPECT_EQ(outcome.outputFiles,
              (QStringList{out(QStringLiteral("Flow_PUMP A.xls")), out(QStringLiteral("Resistivity_PUMP A.xls"))}));
    EXPECT_EQ(outputNames().size(), 2);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(ExtractToTextTest, DecimalSeparatorIsTheOneGiven)
{
    extract(logger_test::workedExample(), ',');
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("Flow_PUMP A.xls")))),
              QList<QByteArray>{"5/3/99\t14:5\t12,34\t21,5\t00012345\r"});
}

TEST_F(ExtractToTextTest, HeaderOnlyFileGivesHeaderLinesOnly)
{
    const ExtractionOutcome outcome = extract(logger_test::workedExampleHeader());
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    EXPECT_EQ(outcome.progress.RecordCounter, 0);
    EXPECT_EQ(outcome.progress.label, QString());
    EXPECT_EQ(readFile(out(QStringLiteral("Flow_PUMP A.xls"))),
              logger_test::kWorkedFlowFile.left(logger_test::kWorkedFlowFile.indexOf("5/3/99")));
}

TEST_F(ExtractToTextTest, EmptyRecordsAreCountedButNotWritten)
{
    logger::LoggerRecord nineFive = values(-1, -15, 7, 8);
    nineFive.TimeBytes = {0x09, 0x05};
    logger::LoggerRecord emptyButFull = values(999, 999, 999, 999);
    emptyButFull.DateBytes = {0, 0, 0};
    const QByteArray bytes = logger_test::workedExampleHeader() + record(emptyButFull) + logger_test::workedExampleRecord()
        + record(emptyButFull) + record(emptyButFull) + record(nineFive) + record(emptyButFull);
    const ExtractionOutcome outcome = extract(bytes);
    EXPECT_EQ(outcome.progress.RecordCounter, 6);
    // The label is the last non-empty record's, with the count it had then.
    EXPECT_EQ(outcome.progress.label, QStringLiteral("5 : 5/3/99 9:5  -1 -15 00000000"));
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("Flow_PUMP A.xls")))),
              (QList<QByteArray>{"5/3/99\t14:5\t12.34\t21.5\t00012345\r", "5/3/99\t9:5\t-0.01\t-1.5\t00000000\r"}));
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("Resistivity_PUMP A.xls")))),
              (QList<QByteArray>{"5/3/99\t14:5\t18.23\t25\t\r", "5/3/99\t9:5\t0.07\t0.8\t\r"}));
}

TEST_F(ExtractToTextTest, R627DividesItsSecondValueByAHundredOnEitherChannel)
{
    const QByteArray bytes = header("CELL", "0>", 5, "CELL 2", "0>", 2) + record(values(1823, 1234, 1823, -1234));
    const ExtractionOutcome outcome = extract(bytes);
    ASSERT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    const QByteArray first = readFile(out(QStringLiteral("R_627_CELL.xls")));
    const QByteArray second = readFile(out(QStringLiteral("R_627_CELL 2.xls")));
    EXPECT_TRUE(first.contains("Date\tTime\tMOhm\tMOhm\r\n5/3/99\t14:5\t1.823\t12.34\t\r\n")) << first.toStdString();
    // Channel 2 repeats its own unit.
    EXPECT_TRUE(second.contains("Date\tTime\tkOhm\tkOhm\r\n5/3/99\t14:5\t1.823\t-12.34\t\r\n")) << second.toStdString();
    // A plain channel's label has no totaliser but keeps its separator.
    EXPECT_EQ(outcome.progress.label, QStringLiteral("1 : 5/3/99 14:5  1823 1234 "));
}

TEST_F(ExtractToTextTest, SecondChannelWithoutTypeWritesNoFile)
{
    QByteArray bytes = header("PROBE", "03", 0, "", "\0\0", 0) + record(values(712, 205, 1, 1));
    const ExtractionOutcome outcome = extract(bytes);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    EXPECT_EQ(outputNames(), QStringList{QStringLiteral("pH_PROBE.xls")});
    EXPECT_EQ(readFile(out(QStringLiteral("pH_PROBE.xls"))),
              QByteArray("Logger : PROBE           \r\n\r\npH\r\n\r\nDate\tTime\tpH\t\xb0"
                         "C\r\n5/3/99\t14:5\t7.12\t20.5\t\r\n"));
}

TEST_F(ExtractToTextTest, ChannelsWithoutDecoderAreWrittenUnscaledUnderAnEmptyTitle)
{
    const QByteArray bytes = header("X", "0A", 3, "OZ", "13", 3) + record(values(1234, 215, -7, 99));
    const ExtractionOutcome outcome = extract(bytes);
    ASSERT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    EXPECT_EQ(readFile(out(QStringLiteral("_X.xls"))),
              QByteArray("Logger : X               \r\n\r\n\r\n\r\nDate\tTime\t\r\n5/3/99\t14:5\t1234\t21.5\t\r\n"));
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("452 OZONE_OZ.xls")))),
              QList<QByteArray>{"5/3/99\t14:5\t-7\t9.9\t\r"});
    // A code outside a decoder's table: "____" and the raw value.
    extract(header("F", "06", 35, "", "\0\0", 0) + record(values(1234, 215, 0, 0)));
    EXPECT_EQ(readFile(out(QStringLiteral("Flow_F.xls"))).split('\n').at(4), QByteArray("Date\tTime\t____\t\xb0"
                                                                                    "C\tTotal m3\r"));
}

TEST_F(ExtractToTextTest, FlowOnChannelTwoUsesItsOwnTotaliser)
{
    logger::LoggerRecord r = values(10, 20, 30, 40);
    r.Total1 = {0x11, 0x11, 0x11, 0x11};
    r.Total2 = {0x78, 0x56, 0x34, 0x12};
    extract(header("T", "04", 0, "Q", "06", 30) + record(r));
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("ORP_T.xls")))), QList<QByteArray>{"5/3/99\t14:5\t10\t2\t\r"});
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("Flow_Q.xls")))),
              QList<QByteArray>{"5/3/99\t14:5\t30\t4\t12345678\r"});
}

TEST_F(ExtractToTextTest, ReplaceQuestionYesReplacesNoAppendsACompleteCopy)
{
    const QString flow = out(QStringLiteral("Flow_PUMP A.xls"));
    const QString resistivity = out(QStringLiteral("Resistivity_PUMP A.xls"));
    writeFile(flow, "old flow\r\n");
    writeFile(resistivity, "old resistivity\r\n");
    dialogs.answer(ui::Answer::Yes);
    dialogs.answer(ui::Answer::No);
    const ExtractionOutcome outcome = extract(logger_test::workedExample());
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("The file  'Flow_PUMP A.xls'   exists.\nDo you wish to replace it? "));
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::Critical);
    // Enter must not replace a file: No (append) is the default.
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNoDefaultNo);
    EXPECT_EQ(dialogs.boxes[1].text,
              QStringLiteral("The file  'Resistivity_PUMP A.xls'   exists.\nDo you wish to replace it? "));
    EXPECT_EQ(readFile(flow), logger_test::kWorkedFlowFile);
    EXPECT_EQ(readFile(resistivity), "old resistivity\r\n" + logger_test::kWorkedResistivityFile);
    // Neither the replacement's temporary file nor the folder's lock stays behind.
    EXPECT_EQ(outputNames(), (QStringList{QStringLiteral("Flow_PUMP A.xls"), QStringLiteral("Resistivity_PUMP A.xls")}));

    // A second run, answered No twice, appends a second complete copy.
    dialogs.answer(ui::Answer::No);
    dialogs.answer(ui::Answer::No);
    extract(logger_test::workedExample());
    EXPECT_EQ(readFile(flow), logger_test::kWorkedFlowFile + logger_test::kWorkedFlowFile);
    EXPECT_TRUE(dialogs.scriptUsedUp());
}

TEST_F(ExtractToTextTest, EmptyExistingFileIsUsedWithoutAQuestion)
{
    writeFile(out(QStringLiteral("Flow_PUMP A.xls")), QByteArray());
    extract(logger_test::workedExample());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(readFile(out(QStringLiteral("Flow_PUMP A.xls"))), logger_test::kWorkedFlowFile);
}

TEST_F(ExtractToTextTest, StopLeavesEveryFileAsItWas)
{
    const QString resistivity = out(QStringLiteral("Resistivity_PUMP A.xls"));
    writeFile(resistivity, "keep me");
    writeFile(loggerPath, logger_test::workedExample());
    QStringList asked;
    const ExtractionOutcome outcome =
        ExtractToText({loggerPath, outputDir.path(), '.'}, [&asked](const QString& name) {
            asked << name;
            return ReplaceAnswer::Stop;
        });
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Refused);
    EXPECT_TRUE(outcome.message.contains(resistivity)) << outcome.message.toStdString();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Resistivity_PUMP A.xls")});
    // Channel 1's file, asked about first, was not even created.
    EXPECT_EQ(outputNames(), QStringList{QStringLiteral("Resistivity_PUMP A.xls")});
    EXPECT_EQ(readFile(resistivity), QByteArray("keep me"));
    EXPECT_TRUE(outcome.outputFiles.isEmpty());
}

TEST_F(ExtractToTextTest, HostileChannelNamesStayInTheOutputDirectory)
{
    const QByteArray names[] = {"../../escape", "/etc/passwd", "..", QByteArray("a\0b\x01\x1f\x7f", 6), "sub/dir/",
                                "\\\\server\\x", ".hidden", "C:\\Windows"};
    for (const QByteArray& name : names) {
        QDir(outputDir.path()).removeRecursively();
        QDir().mkpath(outputDir.path());
        const ExtractionOutcome outcome = extract(header(name, "03", 0, name, "03", 0) + record(values(700, 200, 1, 1)));
        ASSERT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
        ASSERT_EQ(outcome.outputFiles.size(), 2);
        for (const QString& file : outcome.outputFiles) {
            EXPECT_EQ(QFileInfo(file).absolutePath(), QDir(outputDir.path()).absolutePath()) << file.toStdString();
            EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
            EXPECT_FALSE(QFileInfo(file).fileName().startsWith(QLatin1Char('.')));
        }
        EXPECT_EQ(QDir(outputDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2)
            << name.toStdString();
        // The first line keeps the field exactly as it was.
        EXPECT_TRUE(readFile(outcome.outputFiles[0]).startsWith("Logger : " + name.leftJustified(16, ' ', true)));
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(inputDir.path()).filePath(QStringLiteral("escape.xls"))));
}

TEST_F(ExtractToTextTest, BothChannelsNamingOneFileGiveChannelTwoItsOwn)
{
    const ExtractionOutcome outcome = extract(header("TANK", "01", 6, "TANK", "01", 5) + record(values(1823, 250, 1823, 250)));
    ASSERT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    EXPECT_EQ(outputNames(), (QStringList{QStringLiteral("Resistivity_TANK.xls"), QStringLiteral("Resistivity_TANK_2.xls")}));
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("Resistivity_TANK.xls")))),
              QList<QByteArray>{"5/3/99\t14:5\t18.23\t25\t\r"});
    EXPECT_EQ(dataLines(readFile(out(QStringLiteral("Resistivity_TANK_2.xls")))),
              QList<QByteArray>{"5/3/99\t14:5\t1.823\t25\t\r"});
}

TEST_F(ExtractToTextTest, ShortLoggerFileGivesAMessageAndNoOutput)
{
    for (int length : {0, 20, 57}) {
        const ExtractionOutcome outcome = extract(logger_test::workedExample().left(length));
        EXPECT_EQ(outcome.status, ExtractionOutcome::Status::TooShort);
        EXPECT_TRUE(outcome.message.contains(QStringLiteral("%1 bytes").arg(length))) << outcome.message.toStdString();
        EXPECT_TRUE(outcome.message.contains(loggerPath));
    }
    EXPECT_TRUE(outputNames().isEmpty());
}

TEST_F(ExtractToTextTest, FinalFragmentIsIgnoredAndReported)
{
    const ExtractionOutcome outcome = extract(logger_test::workedExample() + logger_test::workedExampleRecord().left(13));
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done);
    EXPECT_EQ(outcome.fragmentBytes, 13);
    EXPECT_EQ(outcome.progress.RecordCounter, 2);
    EXPECT_EQ(readFile(out(QStringLiteral("Flow_PUMP A.xls"))), logger_test::kWorkedFlowFile);
}

TEST_F(ExtractToTextTest, MissingLoggerFileIsReportedWithItsName)
{
    const ExtractionOutcome outcome =
        ExtractToText({inputDir.filePath(QStringLiteral("gone.log")), outputDir.path(), '.'}, AskWithDialogs(dialogs));
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("gone.log"))) << outcome.message.toStdString();
    EXPECT_TRUE(outputNames().isEmpty());
}

TEST_F(ExtractToTextTest, UnwritableOutputDirectoryStopsWithTheReason)
{
    QFile::setPermissions(outputDir.path(), QFile::ReadOwner | QFile::ExeOwner);
    ExtractionOutcome outcome;
    {
        const WithoutPermissionOverride asAUser;
        outcome = extract(logger_test::workedExample());
    }
    QFile::setPermissions(outputDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    // The folder's lock is the first thing written there.
    EXPECT_TRUE(outcome.message.contains(outputDir.path())) << outcome.message.toStdString();
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("ermission"))) << outcome.message.toStdString();
    EXPECT_TRUE(outputNames().isEmpty());
}

TEST_F(ExtractToTextTest, SecondOutputFailingLeavesTheFirstAsItWas)
{
    const QString flow = out(QStringLiteral("Flow_PUMP A.xls"));
    writeFile(flow, "keep me");
    QDir(outputDir.path()).mkdir(QStringLiteral("Resistivity_PUMP A.xls")); // a directory in the way
    dialogs.answer(ui::Answer::Yes);
    const ExtractionOutcome outcome = extract(logger_test::workedExample());
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("Resistivity_PUMP A.xls"))) << outcome.message.toStdString();
    // Replacing waits until every file is open.
    EXPECT_EQ(readFile(flow), QByteArray("keep me"));

    // A file this run created is removed again.
    QFile::remove(flow);
    extract(logger_test::workedExample());
    EXPECT_FALSE(QFileInfo::exists(flow));
}

TEST_F(ExtractToTextTest, OutputNeverOverwritesTheLoggerFileItself)
{
    // A logger file that carries the name an output file would get, in the output directory.
    const QByteArray bytes = logger_test::workedExample();
    loggerPath = out(QStringLiteral("Flow_PUMP A.xls"));
    writeFile(loggerPath, bytes);
    const ExtractionOutcome outcome =
        ExtractToText({loggerPath, outputDir.path(), '.'}, [](const QString&) { return ReplaceAnswer::Replace; });
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("logger file itself")));
    EXPECT_EQ(readFile(loggerPath), bytes);
}

TEST_F(ExtractToTextTest, StepsGiveTheSameFilesAsOneRun)
{
    QByteArray bytes = logger_test::workedExampleHeader();
    for (int k = 0; k < 5000; ++k)
        bytes += k % 7 == 0 ? QByteArray(21, '\0') : record(values(k, -k, k * 3, k % 100));
    writeFile(loggerPath, bytes);

    ExtractionRun run({loggerPath, outputDir.path(), '.'});
    ASSERT_TRUE(run.start(AskWithDialogs(dialogs)));
    int steps = 0;
    qint64 lastDone = 0;
    while (run.step(std::chrono::milliseconds(0))) {
        const ExtractionProgress progress = run.progress();
        EXPECT_GT(progress.bytesDone, lastDone);
        lastDone = progress.bytesDone;
        ++steps;
    }
    const ExtractionOutcome stepped = run.finish();
    EXPECT_GT(steps, 5);
    EXPECT_EQ(stepped.progress.RecordCounter, 5000);
    EXPECT_EQ(stepped.progress.bytesDone, bytes.size());
    const QByteArray flow = readFile(out(QStringLiteral("Flow_PUMP A.xls")));
    EXPECT_EQ(dataLines(flow).size(), 5000 - 715);

    QDir(outputDir.path()).removeRecursively();
    QDir().mkpath(outputDir.path());
    const ExtractionOutcome whole = extract(bytes);
    EXPECT_EQ(whole.progress.label, stepped.progress.label);
    EXPECT_EQ(readFile(out(QStringLiteral("Flow_PUMP A.xls"))), flow);
}
