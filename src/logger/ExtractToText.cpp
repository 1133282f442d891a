#include "logger/ExtractToText.h"

#include "common/Cp1252.h"
#include "logger/OutputNames.h"
#include "logger/ValueText.h"
#include "ui/Dialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstring>

namespace logger {

namespace {

// The clock is read once per batch of records, not for every record.
constexpr int kRecordsPerClockCheck = 256;

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

bool samePath(const QString& a, const QString& b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

QString ReplaceQuestionText(const QString& fileName)
{
    return QStringLiteral("The file  '") + fileName + QStringLiteral("'   exists.\nDo you wish to replace it? ");
}

ReplaceQuestion AskWithDialogs(ui::Dialogs& dialogs)
{
    return [&dialogs](const QString& fileName) {
        const ui::Answer answer = dialogs.message(ReplaceQuestionText(fileName), ui::Icon::Critical, ui::Buttons::YesNo);
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

ExtractionRun::~ExtractionRun()
{
    for (Channel& channel : channels_) {
        if (channel.file.isOpen())
            channel.file.close();
    }
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

    // Every question is answered before any file is touched, so that a Stop changes nothing.
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        const QString path = outputPath(channel.fileName);
        if (samePath(path, settings_.loggerPath)) {
            return fail(QStringLiteral("The output file %1 is the logger file itself. Nothing was extracted.")
                            .arg(quoted(path)));
        }
        const QFileInfo info(path);
        channel.existed = info.exists();
        channel.answer = ReplaceAnswer::Append;
        if (info.isFile() && info.size() > 0) {
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
        if (channel.file.open(outputPath(channel.fileName)))
            continue;
        const QString message = QStringLiteral("The output file %1 cannot be opened: %2. Nothing was extracted.")
                                    .arg(quoted(channel.file.path()), channel.file.errorString());
        // Leave the directory as it was: close what was opened, remove what this run created.
        for (int j = 0; j < i; ++j) {
            Channel& opened = channels_[static_cast<std::size_t>(j)];
            opened.file.close();
            if (!opened.existed)
                QFile::remove(opened.file.path());
        }
        return fail(message);
    }
    // Replacing empties a file only once every file is open.
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        if (channel.answer == ReplaceAnswer::Replace && !channel.file.truncate()) {
            return fail(QStringLiteral("The output file %1 cannot be emptied: %2.")
                            .arg(quoted(channel.file.path()), channel.file.errorString()));
        }
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
        for (int i = 0; i < kRecordsPerClockCheck; ++i) {
            if (!reader_.next(record)) {
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
    for (int i = 0; i < channelCount_; ++i) {
        Channel& channel = channels_[static_cast<std::size_t>(i)];
        if (channel.file.isOpen() && !channel.file.close())
            failWriting(channel);
    }
    reader_.close();
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
