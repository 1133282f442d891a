// The extraction against real links, pipes, devices, hard links, files that change under it and
// a folder another run holds: it never writes through a name to somewhere else, never waits
// for ever, never counts records that are not there, and never leaves a temporary file.

#include "logger/ExtractToText.h"
#include "logger/LoggerReader.h"

#include "LoggerFiles.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace logger;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

const QString kFlow = QStringLiteral("Flow_PUMP A.xls");
const QString kResistivity = QStringLiteral("Resistivity_PUMP A.xls");

ReplaceQuestion always(ReplaceAnswer answer)
{
    return [answer](const QString&) { return answer; };
}

// Runs `work` on another thread; when it has not returned after a generous while, `unblock`
// releases it (so that a hanging extraction fails the test instead of hanging it) and the
// result is empty.
std::optional<ExtractionOutcome> withinDeadline(const std::function<ExtractionOutcome()>& work,
                                                const std::function<void()>& unblock)
{
    std::future<ExtractionOutcome> result = std::async(std::launch::async, work);
    if (result.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
        return result.get();
    unblock();
    result.wait();
    return std::nullopt;
}

// A logger file of `records` copies of the worked example's record.
QByteArray loggerOf(int records)
{
    QByteArray bytes = logger_test::workedExampleHeader();
    for (int k = 0; k < records; ++k)
        bytes += logger_test::workedExampleRecord();
    return bytes;
}

class ExtractionSafetyTest : public ::testing::Test {
protected:
    void SetUp() override { writeFile(loggerPath, logger_test::workedExample()); }

    QString out(const QString& name) const { return QDir(outputDir.path()).filePath(name); }
    QString outside(const QString& name) const { return QDir(elsewhere.path()).filePath(name); }
    ExtractionOutcome extract(ReplaceAnswer answer) const { return extract(loggerPath, always(answer)); }
    ExtractionOutcome extract(const QString& logger, const ReplaceQuestion& ask) const
    {
        return ExtractToText({logger, outputDir.path(), '.'}, ask);
    }
    QStringList outputEntries() const
    {
        return QDir(outputDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                QDir::Name);
    }

    QTemporaryDir inputDir;
    QTemporaryDir outputDir;
    QTemporaryDir elsewhere;
    QString loggerPath = inputDir.filePath(QStringLiteral("data.log"));
};

} // namespace

TEST_F(ExtractionSafetyTest, ALinkAtAnOutputNameIsNeverFollowed)
{
    const QString target = outside(QStringLiteral("precious.txt"));
    const QString dangling = outside(QStringLiteral("created-through-the-link.txt"));
    for (const ReplaceAnswer answer : {ReplaceAnswer::Replace, ReplaceAnswer::Append, ReplaceAnswer::Stop}) {
        for (const QString& pointsTo : {target, dangling}) {
            SCOPED_TRACE(pointsTo.toStdString() + " answer " + std::to_string(static_cast<int>(answer)));
            writeFile(target, "precious");
            QFile::remove(out(kFlow));
            ASSERT_TRUE(QFile::link(pointsTo, out(kFlow)));
            const ExtractionOutcome outcome = extract(answer);
            EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
            EXPECT_TRUE(outcome.message.contains(out(kFlow))) << outcome.message.toStdString();
            EXPECT_TRUE(outcome.message.contains(QStringLiteral("symbolic link"))) << outcome.message.toStdString();
            EXPECT_EQ(readFile(target), QByteArray("precious"));
            EXPECT_FALSE(QFileInfo::exists(dangling));
            EXPECT_TRUE(QFileInfo(out(kFlow)).isSymLink());
            // Channel 2's file is not written either: the run stopped before any output.
            EXPECT_EQ(outputEntries(), QStringList{kFlow});
        }
    }
}

TEST_F(ExtractionSafetyTest, ALinkSwappedInWhileTheQuestionIsOpenIsNotFollowed)
{
    // The checks pass, then the file becomes a link while the user answers the question.
    const QString target = outside(QStringLiteral("precious.txt"));
    for (const ReplaceAnswer answer : {ReplaceAnswer::Append, ReplaceAnswer::Replace}) {
        writeFile(target, "precious");
        QFile::remove(out(kFlow));
        QFile::remove(out(kResistivity));
        writeFile(out(kFlow), "old\r\n");
        const ExtractionOutcome outcome = extract(loggerPath, [&](const QString&) {
            QFile::remove(out(kFlow));
            EXPECT_TRUE(QFile::link(target, out(kFlow)));
            return answer;
        });
        EXPECT_EQ(readFile(target), QByteArray("precious"));
        if (answer == ReplaceAnswer::Append) {
            EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
            EXPECT_TRUE(outcome.message.contains(out(kFlow))) << outcome.message.toStdString();
            EXPECT_TRUE(QFileInfo(out(kFlow)).isSymLink());
            EXPECT_EQ(outputEntries(), QStringList{kFlow});
        } else {
            // The finished file takes the name: the link itself is what goes.
            EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
            EXPECT_FALSE(QFileInfo(out(kFlow)).isSymLink());
            EXPECT_EQ(readFile(out(kFlow)), logger_test::kWorkedFlowFile);
        }
    }
}

TEST_F(ExtractionSafetyTest, LoggerFilesThatAreNotRegularFilesAreRefusedAtOnce)
{
    const QString fifo = inputDir.filePath(QStringLiteral("pipe.log"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString linkToZero = inputDir.filePath(QStringLiteral("zero.log"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), linkToZero));
    for (const QString& path : {fifo, QStringLiteral("/dev/zero"), linkToZero, QStringLiteral("/dev/urandom"),
                                inputDir.path()}) {
        SCOPED_TRACE(path.toStdString());
        const std::optional<ExtractionOutcome> outcome =
            withinDeadline([&] { return extract(path, always(ReplaceAnswer::Replace)); },
                           [&] { ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)); });
        ASSERT_TRUE(outcome.has_value()) << "the extraction waited for a writer";
        EXPECT_EQ(outcome->status, ExtractionOutcome::Status::Failed);
        EXPECT_TRUE(outcome->message.contains(path)) << outcome->message.toStdString();
        EXPECT_TRUE(outcome->message.contains(QStringLiteral("regular file"))
                    || outcome->message.contains(QStringLiteral("directory")))
            << outcome->message.toStdString();
        EXPECT_TRUE(outputEntries().isEmpty());
    }
}

TEST_F(ExtractionSafetyTest, OutputNamesThatAreNotRegularFilesAreRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(out(kResistivity)).constData(), 0600), 0);
    for (const ReplaceAnswer answer : {ReplaceAnswer::Append, ReplaceAnswer::Replace}) {
        const std::optional<ExtractionOutcome> outcome = withinDeadline(
            [&] { return extract(answer); },
            [&] { ::close(::open(QFile::encodeName(out(kResistivity)).constData(), O_RDONLY | O_NONBLOCK)); });
        ASSERT_TRUE(outcome.has_value()) << "the extraction waited for a reader";
        EXPECT_EQ(outcome->status, ExtractionOutcome::Status::Failed);
        EXPECT_TRUE(outcome->message.contains(out(kResistivity))) << outcome->message.toStdString();
        EXPECT_TRUE(outcome->message.contains(QStringLiteral("not a regular file"))) << outcome->message.toStdString();
        EXPECT_EQ(outputEntries(), QStringList{kResistivity});
    }
}

TEST_F(ExtractionSafetyTest, AHardLinkToTheLoggerFileIsTheLoggerFileItself)
{
    const QByteArray bytes = logger_test::workedExample();
    ASSERT_EQ(::link(QFile::encodeName(loggerPath).constData(), QFile::encodeName(out(kResistivity)).constData()), 0);
    for (const ReplaceAnswer answer : {ReplaceAnswer::Replace, ReplaceAnswer::Append}) {
        const ExtractionOutcome outcome = extract(answer);
        EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
        EXPECT_TRUE(outcome.message.contains(QStringLiteral("logger file itself"))) << outcome.message.toStdString();
        EXPECT_TRUE(outcome.message.contains(out(kResistivity))) << outcome.message.toStdString();
        EXPECT_EQ(readFile(loggerPath), bytes);
        EXPECT_EQ(outputEntries(), QStringList{kResistivity});
    }
}

TEST_F(ExtractionSafetyTest, TheFileIsReadOnlyUpToTheLengthItHadWhenOpened)
{
    // Longer than the reader's buffer, so that it is still reading when the file changes.
    constexpr int kRecords = 40000;
    const QByteArray bytes = loggerOf(kRecords);
    writeFile(loggerPath, bytes);

    // Growing meanwhile (a logger still writing): the new records wait for the next extraction.
    {
        ExtractionRun run({loggerPath, outputDir.path(), '.'});
        ASSERT_TRUE(run.start(always(ReplaceAnswer::Replace)));
        QFile file(loggerPath);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(loggerOf(100).mid(kHeaderSize));
        file.close();
        while (run.step(std::chrono::milliseconds(0))) {
        }
        const ExtractionOutcome outcome = run.finish();
        EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
        EXPECT_EQ(outcome.progress.RecordCounter, kRecords);
        EXPECT_EQ(outcome.fragmentBytes, 0);
    }

    // Shrinking meanwhile: reported as changed, and no output passes for a complete one. The
    // files existed: the replacement never touched them, and no temporary file is left.
    writeFile(loggerPath, bytes);
    writeFile(out(kFlow), "old flow");
    writeFile(out(kResistivity), "old resistivity");
    ExtractionRun run({loggerPath, outputDir.path(), '.'});
    ASSERT_TRUE(run.start(always(ReplaceAnswer::Replace)));
    ASSERT_TRUE(run.step(std::chrono::milliseconds(0)));
    ASSERT_TRUE(QFile::resize(loggerPath, bytes.size() / 2));
    while (run.step(std::chrono::milliseconds(0))) {
    }
    const ExtractionOutcome outcome = run.finish();
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
    EXPECT_TRUE(outcome.message.contains(QStringLiteral("changed while it was read"))) << outcome.message.toStdString();
    EXPECT_TRUE(outcome.message.contains(loggerPath)) << outcome.message.toStdString();
    EXPECT_LT(outcome.progress.RecordCounter, kRecords);
    EXPECT_TRUE(outcome.outputFiles.isEmpty());
    EXPECT_EQ(readFile(out(kFlow)), QByteArray("old flow"));
    EXPECT_EQ(readFile(out(kResistivity)), QByteArray("old resistivity"));
    EXPECT_EQ(outputEntries(), (QStringList{kFlow, kResistivity}));
}

TEST_F(ExtractionSafetyTest, AReplacementTakesTheOldFilesPlaceOnlyAtTheEnd)
{
    writeFile(out(kFlow), "old flow");
    QFile::setPermissions(out(kFlow), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    ExtractionRun run({loggerPath, outputDir.path(), '.'});
    ASSERT_TRUE(run.start(always(ReplaceAnswer::Replace)));
    while (run.step(std::chrono::milliseconds(0))) {
    }
    // Written but not finished: the old file is still whole, the new one is a hidden file beside it.
    EXPECT_EQ(readFile(out(kFlow)), QByteArray("old flow"));
    const QStringList during = outputEntries();
    EXPECT_EQ(during.size(), 4) << during.join(QLatin1Char(' ')).toStdString(); // lock, temporary, two outputs
    EXPECT_TRUE(during.contains(QString::fromLatin1(kOutputLockName)));

    const ExtractionOutcome outcome = run.finish();
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_EQ(readFile(out(kFlow)), logger_test::kWorkedFlowFile);
    EXPECT_EQ(QFile::permissions(out(kFlow)), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadUser
                                                  | QFile::WriteUser);
    EXPECT_EQ(outputEntries(), (QStringList{kFlow, kResistivity}));
}

TEST_F(ExtractionSafetyTest, ARunDroppedBeforeItsEndLeavesNothingBehind)
{
    writeFile(out(kFlow), "old flow");
    {
        ExtractionRun run({loggerPath, outputDir.path(), '.'});
        ASSERT_TRUE(run.start(always(ReplaceAnswer::Replace)));
        run.step(std::chrono::milliseconds(0));
    }
    EXPECT_EQ(outputEntries(), QStringList{kFlow});
    EXPECT_EQ(readFile(out(kFlow)), QByteArray("old flow"));
}

TEST_F(ExtractionSafetyTest, OneRunAtATimeWritesAFolder)
{
    const QString lockPath = out(QString::fromLatin1(kOutputLockName));
    {
        // Another run holds the folder.
        QLockFile other(lockPath);
        ASSERT_TRUE(other.tryLock(0));
        const ExtractionOutcome outcome = extract(ReplaceAnswer::Replace);
        EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Failed);
        EXPECT_TRUE(outcome.message.contains(QStringLiteral("Another extraction"))) << outcome.message.toStdString();
        EXPECT_TRUE(outcome.message.contains(outputDir.path())) << outcome.message.toStdString();
        EXPECT_EQ(outputEntries(), QStringList{QString::fromLatin1(kOutputLockName)});
    }

    // A run that crashed holding the lock: its process is gone, and the lock with it.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QLockFile crashed(lockPath);
        ::_exit(crashed.tryLock(0) ? 0 : 1); // no unlock, as in a crash
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFileInfo::exists(lockPath));
    ExtractionOutcome outcome = extract(ReplaceAnswer::Replace);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_EQ(outputEntries(), (QStringList{kFlow, kResistivity}));

    // A lock from another computer sharing the folder: respected while fresh, taken over once old.
    auto foreignLock = [&](std::chrono::seconds age) {
        writeFile(lockPath, "4242\nzentlog-extract\nanother-computer\n");
        const QDateTime when = QDateTime::currentDateTime().addSecs(-age.count());
        QFile file(lockPath);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    };
    foreignLock(std::chrono::seconds(5));
    EXPECT_EQ(extract(ReplaceAnswer::Replace).status, ExtractionOutcome::Status::Failed);
    foreignLock(std::chrono::hours(1));
    outcome = extract(ReplaceAnswer::Replace);
    EXPECT_EQ(outcome.status, ExtractionOutcome::Status::Done) << outcome.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(lockPath));
}

TEST_F(ExtractionSafetyTest, ResetEmptiesOnlyARegularFile)
{
    const QString target = outside(QStringLiteral("precious.log"));
    writeFile(target, "precious");
    const QString link = inputDir.filePath(QStringLiteral("link.log"));
    ASSERT_TRUE(QFile::link(target, link));
    const QString fifo = inputDir.filePath(QStringLiteral("pipe.log"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    EXPECT_TRUE(EmptyLoggerFile(link).contains(QStringLiteral("link")));
    EXPECT_EQ(readFile(target), QByteArray("precious"));
    std::future<QString> pipe = std::async(std::launch::async, [&] { return EmptyLoggerFile(fifo); });
    if (pipe.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ::close(::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK));
        FAIL() << "the reset waited for a reader";
    }
    EXPECT_TRUE(pipe.get().contains(QStringLiteral("not a regular file")));

    EXPECT_EQ(EmptyLoggerFile(loggerPath), QString());
    EXPECT_EQ(QFileInfo(loggerPath).size(), 0);
}
