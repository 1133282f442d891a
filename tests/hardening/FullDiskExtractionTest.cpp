// An extraction into a file system that fills up: it stops with a message naming the file and the
// reason, and leaves no output file that could pass for a complete one.

#include "logger/ExtractToText.h"

#include "LoggerFiles.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using logger::ExtractionOutcome;
using logger::ReplaceAnswer;
using hardening_test::SmallFileSystem;

namespace {

// 5000 records of two channels: about 300 KB of output, far more than the file system holds.
QByteArray bigLoggerFile()
{
    QByteArray bytes = logger_test::header("PUMP A          ", "06", 10, "PUMP A          ", "01", 6);
    for (int i = 0; i < 5000; ++i)
        bytes += logger_test::record(logger_test::values(1000 + i, 250, 32000 - i, 180));
    return bytes;
}

class FullDiskExtraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!disk.mounted())
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
        testing_support::writeFile(loggerPath, bigLoggerFile());
    }

    ExtractionOutcome extract(ReplaceAnswer answer)
    {
        return logger::ExtractToText({loggerPath, disk.path(), '.'}, [answer](const QString&) { return answer; });
    }
    QStringList files() const { return QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    // A short extraction whose two files fit: their names and contents, for comparing later.
    void extractEarlierResults(QStringList& names, QList<QByteArray>& contents)
    {
        testing_support::writeFile(loggerPath, logger_test::header("PUMP A          ", "06", 10, "PUMP A          ", "01", 6)
                                                   + logger_test::record(logger_test::values(1, 2, 3, 4)));
        ASSERT_EQ(extract(ReplaceAnswer::Append).status, ExtractionOutcome::Status::Done);
        names = files();
        ASSERT_EQ(names.size(), 2);
        for (const QString& name : names)
            contents << testing_support::readFile(disk.filePath(name));
    }

    QTemporaryDir inputDir;
    QString loggerPath = inputDir.filePath(QStringLiteral("big.log"));
    SmallFileSystem disk;
};

} // namespace

TEST_F(FullDiskExtraction, StopsWithTheReasonAndLeavesNoIncompleteFile)
{
    const ExtractionOutcome outcome = extract(ReplaceAnswer::Replace);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("No space left on device"))) << outcome.message.toStdString();
    EXPECT_TRUE(outcome.message.contains(QStringLiteral(".xls"))) << outcome.message.toStdString();
    EXPECT_TRUE(outcome.outputFiles.isEmpty());
    EXPECT_EQ(files(), QStringList()) << files().join(QLatin1Char(' ')).toStdString();
}

TEST_F(FullDiskExtraction, AFileBeingExtendedIsCutBackToWhatItWas)
{
    // A short earlier extraction, then a long one appended to it that does not fit.
    QStringList before;
    QList<QByteArray> contents;
    ASSERT_NO_FATAL_FAILURE(extractEarlierResults(before, contents));

    testing_support::writeFile(loggerPath, bigLoggerFile());
    const ExtractionOutcome outcome = extract(ReplaceAnswer::Append);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    ASSERT_EQ(files(), before);
    for (int i = 0; i < before.size(); ++i)
        EXPECT_EQ(testing_support::readFile(disk.filePath(before[i])), contents[i]) << before[i].toStdString();
}

TEST_F(FullDiskExtraction, AFileBeingReplacedStaysAsItWasAndNoTemporaryFileIsLeft)
{
    // Earlier results, then a run answered "replace" whose new files do not fit.
    QStringList before;
    QList<QByteArray> contents;
    ASSERT_NO_FATAL_FAILURE(extractEarlierResults(before, contents));

    testing_support::writeFile(loggerPath, bigLoggerFile());
    const ExtractionOutcome outcome = extract(ReplaceAnswer::Replace);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("No space left on device"))) << outcome.message.toStdString();
    EXPECT_TRUE(outcome.outputFiles.isEmpty());
    ASSERT_EQ(files(), before) << files().join(QLatin1Char(' ')).toStdString();
    for (int i = 0; i < before.size(); ++i)
        EXPECT_EQ(testing_support::readFile(disk.filePath(before[i])), contents[i]) << before[i].toStdString();
}
