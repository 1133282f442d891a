#include "logger/ExtractToText.h"

#include "common/Cp1252.h"
#include "logger/OutputNames.h"
#include "logger/ValueText.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/time.h>
#endif

namespace logger {

namespace {

// The clock is read once per batch of records, not for every record.
constexpr int kRecordsPerClockCheck = 256;

// A lock left by a run that crashed on this computer is taken over at once (its process is
// gone); one left by another computer sharing the folder after this long without a sign of
// life. A run that is alive touches its lock far more often than that.
constexpr int kStaleLockMs = 2 * 60 * 1000;
constexpr qint64 kLockRefreshMs = 20 * 1000;

QString quoted(const QString& path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

QString columnTitle(const QString& typeName, const std::optional<UnitDecoding>& unit, int index)
{
    if (!unit)
        return {};
    const QChar tab(u'\t');
    if (typeName == kTypeFlow)
        return unit->UnitText + tab + QStringLiteral("°C") + tab + QStringLiteral("Total m3");
    if (typeName == kTypeR627)
        return unit->UnitText + tab + (index == 0 ? QStringLiteral("MOhm") : unit->UnitText);
    return unit->UnitText + tab + QStringLiteral("°C");
}

} // namespace

QString ReplaceQuestionText(const QString& fileName)
{
    return QStringLiteral("The file  '") + fileName + QStringLiteral("'   exists.\nDo you wish to replace it? ");
}

ReplaceQuestion AskWithDialogs(ui::Dialogs& dialogs)
{
    return [&dialogs](const QString& fileName) {
        const ui::Answer answer = dialogs.message(ReplaceQuestionText(fileName), ui::Icon::Critical,
                                                  ui::Buttons::YesNoDefaultNo);
        return answer == ui::Answer::Yes ? ReplaceAnswer::Replace : ReplaceAnswer::Append;
    };
}

QString ProgressText(qint64 recordCounter, const LoggerRecord& record, bool flow)
{
    return QString::number(recordCounter) + QStringLiteral(" : ") + DateText(record.DateBytes) + QLatin1Char(' ')
        + TimeText(record.TimeBytes) + QStringLiteral("  ") + QString::number(record.MainValue1) + QLatin1Char(' ')
        + QString::number(record.SecondValue1) + QLatin1Char(' ') + (flow ? TotalText(record.Total1) : QString());
}

namespace {
const QString kRolledBack = QStringLiteral("no incomplete output file is left: the files this run created or "
                                          "replaced were removed, and a file it was adding to is back as it was.");
} // namespace

ExtractionRun::ExtractionRun(ExtractionSettings settings)
    : settings_(std::move(settings))
{
}

// A run dropped before finish() leaves no incomplete file, and rolls back before it lets go of
// the folder.
ExtractionRun::~ExtractionRun()
{
    rollBackOutputs();
}

QString ExtractionRun::outputPath(const QString& fileName) const
{
    return QDir(settings_.outputDirectory).absoluteFilePath(fileName);
}

bool ExtractionRun::fail(const QString& message)
{
    if (!failed_) {
        failed_ = true;
        if (outcome_.status == ExtractionOutcome::Status::Done)
            outcome_.status = ExtractionOutcome::Status::Failed;
        outcome_.message = message;
    }
    return false;
}

bool ExtractionRun::failWriting(const Channel& channel)
{
    const QString message = QStringLiteral("The output file %1 could not be written: %2. The extraction stopped "
                                           "after %3 records; %4")
                                .arg(quoted(channel.file.path()), channel.file.errorString())
                                .arg(counter_)
                                .arg(kRolledBack);
    rollBackOutputs();
    return fail(message);
}

bool ExtractionRun::lockOutputFolder()
{
    const QString folder = QDir(settings_.outputDirectory).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        return fail(QStringLiteral("The output folder %1 does not exist. Nothing was extracted.").arg(quoted(folder)));
    }
    const QString lockPath = QDir(folder).filePath(QString::fromLatin1(kOutputLockName));
    lock_ = std::make_unique<QLockFile>(lockPath);
    lock_->setStaleLockTime(kStaleLockMs);
    // Tried once: a second extraction is refused at once rather than queued behind the first.
    if (lock_->tryLock(0)) {
        sinceLockRefresh_.start();
        return true;
    }
    const QLockFile::LockError error = lock_->error();
    lock_.reset();
    switch (error) {
    case QLockFile::LockFailedError:
        return fail(QStringLiteral("Another extraction is writing into the folder %1 at this moment (it holds the "
                                   "lock file %2). Try again once it has ended. Nothing was extracted.")
                        .arg(quoted(folder), quoted(lockPath)));
    case QLockFile::PermissionError:
        return fail(QStringLiteral("The output folder %1 cannot be written: permission denied. Nothing was extracted.")
                        .arg(quoted(folder)));
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    return fail(QStringLiteral("The output folder %1 cannot be written: its lock file %2 could not be made. Nothing "
                               "was extracted.")
                    .arg(quoted(folder), quoted(lockPath)));
}

void ExtractionRun::refreshLock()
{
    // Keeps a long run's lock from looking abandoned to another computer sharing the folder.
    if (!lock_ || sinceLockRefresh_.elapsed() < kLockRefreshMs)
        return;
    sinceLockRefresh_.restart();
#ifdef Q_OS_UNIX
    ::utimes(QFile::encodeName(lock_->fileName()).constData(), nullptr);
#endif
}

bool ExtractionRun::checkOutputName(const QString& path)
{
    switch (common::entryKind(path)) {
    case common::EntryKind::Missing:
        return true;
    case common::EntryKind::SymLink:
        return fail(QStringLiteral("The output file %1 is a symbolic link. The extraction never writes through a "
                                   "link; remove it or extract into another folder. Nothing was extracted.")
                        .arg(quoted(path)));
    case common::EntryKind::Directory:
        return fail(QStringLiteral("The output file %1 cannot be opened: a directory of that name is in the way. "
                                   "Nothing was extracted.")
                        .arg(quoted(path)));
    case common::EntryKind::Other:
        return fail(QStringLiteral("The output file %1 is not a regular file (it is a pipe, a device or a socket). "
                                   "Nothing was extracted.")
                        .arg(quoted(path)));
    case common::EntryKind::Regular:
        break;
    }
    // Another name of the logger file (a hard link) would be overwritten with its own extraction.
    if (common::identityAt(path).sameFileAs(reader_.identity())) {
        return fail(QStringLiteral("The output file %1 is the logger file itself. Nothing was extracted.")
                        .arg(quoted(path)));
    }
    return true;
}

void ExtractionRun::rollBackOutputs()
{
    for (Channel& channel : channels_)
        channel.file.rollBack();
    outcome_.outputFiles.clear();
}

void ExtractionRun::setUpChannel(Channel& channel, int index, const QByteArray& nameField, const TypeCode& code,
                                 int16_t unitCode)
{
    channel.typeName = TypeNameFromCode(code);
    channel.unit = LoggerUnitDecoder(channel.typeName, unitCode);
    // A channel without a decoder is written unscaled.
    channel.divisor = channel.unit ? channel.unit->Divisor : 1;
    channel.secondDivisor = SecondValueDivisor(channel.typeName);
    channel.flow = channel.typeName == kTypeFlow;
    channel.fileName = OutputFileName(channel.typeName, ChannelName(nameField));
    if (index == 1)
        channel.fileName = SecondChannelFileName(channels_[0].fileName, channel.fileName);
}

QByteArray ExtractionRun::headerLines(const Channel& channel, int index, const QByteArray& nameField) const
{
    const QByteArray crlf = "\r\n";
    return "Logger : " + nameField + crlf + crlf + common::toCp1252(channel.typeName) + crlf + crlf + "Date\tTime\t"
        + common::toCp1252(columnTitle(channel.typeName, channel.unit, index)) + crlf;
}

bool ExtractionRun::start(const ReplaceQuestion& ask)
{
    if (!reader_.open(settings_.loggerPath)) {
        return fail(QStringLiteral("The logger file %1 cannot be opened: %2.")
                        .arg(quoted(settings_.loggerPath), reader_.errorString()));
    }
    const std::optional<LoggerHeader> header = reader_.readHeader();
    if (!header) {
        if (reader_.status() == LoggerReader::Status::TooShort) {
            outcome_.status = ExtractionOutcome::Status::TooShort;
            return fail(QStringLiteral("The logger file %1 holds only %2 bytes; a logger file begins with a "
                                       "%3-byte header. Nothing was extracted.")
                            .arg(quoted(settings_.loggerPath))
                            .arg(reader_.size())
                            .arg(kHeaderSize));
        }
        return fail(QStringLiteral("The logger file %1 could not be read: %2. Nothing was extracted.")
                        .arg(quoted(settings_.loggerPath), reader_.errorString()));
    }

    setUpChannel(channels_[0], 0, header->Name1, header->TypeCode1, header->UnitCode1);
    setUpChannel(channels_[1], 1, header->Name2, header->TypeCode2, header->UnitCode2);
    channelCount_ = channels_[1].typeName.isEmpty() ? 1 : 2;

    if (!lockOutputFolder())
        return false;
    for (int i = 0; i < channelCount_; ++i) {
        if (!checkOutputName(outputPath(channels_[static_cast<std::size_t>(i)].fileName)))
            return false;
    }
    // Every question is answered before any file is touched, so that a Stop changes nothing.
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        const QString path = outputPath(channel.fileName);
        channel.answer = ReplaceAnswer::Append;
        if (common::entryKind(path) == common::EntryKind::Regular && QFileInfo(path).size() > 0) {
            channel.answer = ask(channel.fileName);
            if (channel.answer == ReplaceAnswer::Stop) {
                outcome_.status = ExtractionOutcome::Status::Refused;
                return fail(QStringLiteral("The output file %1 exists and is not empty.").arg(quoted(path)));
            }
        }
    }
    if (!openOutputs())
        return false;
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        const QByteArray& name = i == 0 ? header->Name1 : header->Name2;
        if (!channel.file.write(headerLines(channel, i, name)))
            return failWriting(channel);
        outcome_.outputFiles << channel.file.path();
    }
    return true;
}

bool ExtractionRun::openOutputs()
{
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        const QString path = outputPath(channel.fileName);
        const OutputFile::Mode mode =
            channel.answer == ReplaceAnswer::Replace ? OutputFile::Mode::Replace : OutputFile::Mode::Append;
        QString reason;
        if (!channel.file.open(path, mode))
            reason = channel.file.errorString();
        else if (channel.file.identity().sameFileAs(reader_.identity()))
            reason = QStringLiteral("it is the logger file itself");
        if (reason.isEmpty())
            continue;
        // Leave the directory as it was: close what was opened, remove what this run created.
        rollBackOutputs();
        return fail(QStringLiteral("The output file %1 cannot be opened: %2. Nothing was extracted.")
                        .arg(quoted(path), reason));
    }
    return true;
}

void ExtractionRun::writeRecord(const LoggerRecord& record)
{
    // Date and time are the same in both files: rendered once, copied as a fixed block.
    constexpr std::size_t kStampRoom = 16;
    char stamp[kStampRoom];
    char* end = DateText(record.DateBytes, stamp);
    *end++ = '\t';
    end = TimeText(record.TimeBytes, end);
    *end++ = '\t';
    const auto stampLength = end - stamp;

    // Room for the longest line: stamp, two values, totaliser, tabs and CR LF.
    constexpr std::size_t kLineRoom = kStampRoom + 2 * 32 + 8 + 4;
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        const bool first = i == 0;
        char* p = channel.file.reserve(kLineRoom);
        if (!p) {
            failWriting(channel);
            return;
        }
        std::memcpy(p, stamp, kStampRoom);
        p += stampLength;
        p = ScaledValueText(first ? record.MainValue1 : record.MainValue2, channel.divisor, settings_.decimalSeparator, p);
        *p++ = '\t';
        p = ScaledValueText(first ? record.SecondValue1 : record.SecondValue2, channel.secondDivisor,
                            settings_.decimalSeparator, p);
        *p++ = '\t';
        if (channel.flow)
            p = TotalText(first ? record.Total1 : record.Total2, p);
        *p++ = '\r';
        *p++ = '\n';
        channel.file.commit(p);
    }
}

bool ExtractionRun::step(std::chrono::milliseconds budget)
{
    if (failed_)
        return false;
    QElapsedTimer clock;
    clock.start();
    LoggerRecord record;
    for (;;) {
        refreshLock();
        for (int i = 0; i < kRecordsPerClockCheck; ++i) {
            if (!reader_.next(record)) {
                if (reader_.status() == LoggerReader::Status::Changed) {
                    const QString message = QStringLiteral("The logger file %1 changed while it was read: it became "
                                                           "shorter than the %2 bytes it had when the extraction "
                                                           "began. The extraction stopped after %3 records; %4")
                                                .arg(quoted(settings_.loggerPath))
                                                .arg(reader_.size())
                                                .arg(counter_)
                                                .arg(kRolledBack);
                    rollBackOutputs();
                    return fail(message);
                }
                if (reader_.status() == LoggerReader::Status::ReadError) {
                    const QString message = QStringLiteral("The logger file %1 could not be read: %2. The "
                                                           "extraction stopped after %3 records; %4")
                                                .arg(quoted(settings_.loggerPath), reader_.errorString())
                                                .arg(counter_)
                                                .arg(kRolledBack);
                    rollBackOutputs();
                    return fail(message);
                }
                return false;
            }
            ++counter_;
            if (record.isEmpty())
                continue;
            lastShown_ = record;
            lastShownCounter_ = counter_;
            writeRecord(record);
            if (failed_)
                return false;
        }
        if (clock.elapsed() >= budget.count())
            return true;
    }
}

ExtractionProgress ExtractionRun::progress() const
{
    ExtractionProgress progress;
    progress.RecordCounter = counter_;
    if (lastShown_)
        progress.label = ProgressText(lastShownCounter_, *lastShown_, channels_[0].flow);
    progress.bytesDone = reader_.position();
    progress.bytesTotal = reader_.size();
    return progress;
}

ExtractionOutcome ExtractionRun::finish()
{
    for (int i = 0; i < channelCount_ && !failed_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        if (channel.file.isOpen() && !channel.file.finishWriting())
            failWriting(channel);
    }
    // Only a run that wrote everything replaces anything.
    for (int i = 0; i < channelCount_ && !failed_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        if (!channel.file.publish()) {
            const QString message = QStringLiteral("The output file %1 could not be written: %2.")
                                        .arg(quoted(channel.file.path()), channel.file.errorString());
            rollBackOutputs();
            fail(message);
        }
    }
    if (failed_)
        rollBackOutputs();
    reader_.close();
    lock_.reset(); // unlocks
    outcome_.progress = progress();
    outcome_.fragmentBytes = reader_.fragmentBytes();
    return outcome_;
}

ExtractionOutcome ExtractToText(const ExtractionSettings& settings, const ReplaceQuestion& ask)
{
    ExtractionRun run(settings);
    if (run.start(ask)) {
        while (run.step(std::chrono::hours(1))) {
        }
    }
    return run.finish();
}

} // namespace logger
