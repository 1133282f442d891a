// zentlog-history: the measurement history from the command line, through the program's core.
//
//   zentlog-history info [DB]
//   zentlog-history export [--from T] [--to T] [--input N]... [--format xls|csv] [--output FILE] [DB]
//   zentlog-history recover DB --output NEW
//
// T is a local date and time in ISO 8601 (2026-12-09T03:00, 2026-12-09T03:00:15 or 2026-12-09 for
// the start of that day); a reading at --from is exported, one at --to is not. Channels are 0 to
// 3 (all four by default). DB defaults to "history.sqlite" in the working directory, FILE to
// "history.xls" or "history.csv" there. The database is opened read-only, so a running program's
// recording goes on undisturbed, and nothing is left beside it that was not there before.
// recover copies what can still be read from a damaged history into the new file NEW.
//
// Exit status: 0 done, 1 nothing to export or nothing readable to rescue, 2 a usage or file error
// (with a message on stderr).

#include "history/Export.h"
#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/LayoutConversion.h"
#include "history/Recovery.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

constexpr int kDone = 0;
constexpr int kNothing = 1;
constexpr int kError = 2;

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int)
{
    interrupted = 1;
}

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

const QString kUsage = QStringLiteral(
    "usage: zentlog-history info [DB]\n"
    "       zentlog-history export [--from T] [--to T] [--input N]... [--format xls|csv] [--output FILE] [DB]\n"
    "       zentlog-history recover DB --output NEW\n"
    "       zentlog-history convert [DB]");

int usageError(const QString& message)
{
    print(stderr, QStringLiteral("zentlog-history: ") + message);
    print(stderr, kUsage);
    return kError;
}

int fileError(const QString& message)
{
    print(stderr, QStringLiteral("zentlog-history: ") + message);
    return kError;
}

// A local date and time in ISO 8601; a date alone means the start of that day. An explicit
// offset ("Z", "+01:00") is honoured.
std::optional<qint64> parseTime(const QString& text)
{
    if (text.size() == 10) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (date.isValid())
            return date.startOfDay().toMSecsSinceEpoch();
        return std::nullopt;
    }
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid() || !text.contains(QLatin1Char('T')))
        return std::nullopt;
    return time.toMSecsSinceEpoch();
}

QString localIso(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

int info(const QString& path)
{
    const history::HistorySummary summary = history::summarizeHistory(path, history::ReadMode::Once);
    if (!summary.error.isEmpty())
        return fileError(summary.error);
    if (summary.journalBytes > 0)
        print(stdout, QStringLiteral("%1: %2 bytes, and %3 bytes in its journal")
                          .arg(QDir::toNativeSeparators(path))
                          .arg(summary.fileBytes)
                          .arg(summary.journalBytes));
    else
        print(stdout, QStringLiteral("%1: %2 bytes").arg(QDir::toNativeSeparators(path)).arg(summary.fileBytes));
    if (summary.channels.isEmpty())
        print(stdout, QStringLiteral("no readings"));
    for (const history::ChannelSummary& channel : summary.channels) {
        print(stdout, QStringLiteral("input %1: %2 readings from %3 to %4")
                          .arg(channel.channel)
                          .arg(channel.rows)
                          .arg(localIso(channel.firstMs), localIso(channel.lastMs)));
    }
    return kDone;
}

QString idRangeText(const history::IdRange& range)
{
    if (range.last == std::numeric_limits<qint64>::max())
        return QStringLiteral("%1 and above").arg(range.first);
    if (range.first == range.last)
        return QString::number(range.first);
    return QStringLiteral("%1-%2").arg(range.first).arg(range.last);
}

int recover(const QString& path, const QString& newPath)
{
    constexpr qsizetype kRangesShown = 20;
    const history::RecoveryOutcome outcome =
        history::recoverHistory(path, newPath, [] { return interrupted == 0; });
    switch (outcome.status) {
    case history::RecoveryOutcome::Status::Rescued: break;
    case history::RecoveryOutcome::Status::NothingRead:
        print(stderr, QStringLiteral("zentlog-history: %1 Nothing was rescued; no file was written.").arg(outcome.message));
        return kNothing;
    case history::RecoveryOutcome::Status::Failed:
    case history::RecoveryOutcome::Status::Cancelled: return fileError(outcome.message);
    }
    print(stdout, QStringLiteral("Rescued %1 readings from \"%2\", %3 minutes made again from them, and %4 MQTT acknowledgements.")
                      .arg(outcome.readings)
                      .arg(QDir::toNativeSeparators(path))
                      .arg(outcome.minutes)
                      .arg(outcome.acknowledgements));
    if (outcome.skipped.isEmpty()) {
        print(stdout, QStringLiteral("No id was skipped."));
    } else {
        QStringList ranges;
        for (qsizetype i = 0; i < std::min(outcome.skipped.size(), kRangesShown); ++i)
            ranges << idRangeText(outcome.skipped[i]);
        if (outcome.skipped.size() > kRangesShown)
            ranges << QStringLiteral("and %1 more").arg(outcome.skipped.size() - kRangesShown);
        print(stdout, QStringLiteral("Skipped %1 %2 of ids that could not be read (%3): %4.")
                          .arg(outcome.skipped.size())
                          .arg(outcome.skipped.size() == 1 ? QStringLiteral("range") : QStringLiteral("ranges"))
                          .arg(outcome.message.isEmpty() ? QStringLiteral("damaged") : outcome.message, ranges.join(QStringLiteral(", "))));
    }
    if (outcome.acknowledgementsDamaged)
        print(stdout, QStringLiteral("Some MQTT acknowledgements could not be read: those readings may be published again."));
    print(stdout, QStringLiteral("The rescued history is \"%1\".").arg(QDir::toNativeSeparators(newPath)));
    return kDone;
}

// Brings a file of an earlier layout to the compact one now, as the program does when it next
// records into it; the progress goes to the standard output.
int convert(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return fileError(QStringLiteral("\"%1\" is no history file").arg(QDir::toNativeSeparators(path)));
    history::ConversionOptions options;
    options.progress = [](qint64 copied, qint64 all) {
        std::printf("%lld of %lld readings\n", static_cast<long long>(copied), static_cast<long long>(all));
        std::fflush(stdout);
    };
    if (const QString problem = history::convertLayout(path, options); !problem.isEmpty())
        return fileError(QStringLiteral("\"%1\" could not be converted: %2").arg(QDir::toNativeSeparators(path), problem));
    print(stdout, QStringLiteral("\"%1\" has the compact layout.").arg(QDir::toNativeSeparators(path)));
    return kDone;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentlog-history"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows what the measurement history holds and exports it."));
    parser.addHelpOption();
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("First time exported (local, ISO 8601)."),
                                  QStringLiteral("T"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Time at which the export stops (excluded)."),
                                QStringLiteral("T"));
    // "--channel" is the name earlier versions knew; inputs are numbered 0 to 3 as everywhere.
    const QCommandLineOption channel(QStringList{QStringLiteral("input"), QStringLiteral("channel")},
                                     QStringLiteral("An input to export, 0 to 3 (repeatable)."), QStringLiteral("N"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("xls (default) or csv."), QStringLiteral("F"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The file to write."), QStringLiteral("FILE"));
    parser.addOptions({from, to, channel, format, output});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("info, export, recover or convert"));
    parser.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The history (default: history.sqlite)."), QStringLiteral("[DB]"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        print(stdout, parser.helpText());
        return kDone;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty() || arguments.size() > 2)
        return usageError(QStringLiteral("give a command (info, export, recover or convert) and at most one database"));
    const QString command = arguments[0];
    const QString database = arguments.size() == 2 ? arguments[1] : QString::fromLatin1(history::kHistoryFileName);

    if (command == QLatin1String("info")) {
        for (const QCommandLineOption* option : {&from, &to, &channel, &format, &output}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 belongs to export").arg(option->names().constFirst()));
        }
        return info(database);
    }
    if (command == QLatin1String("convert")) {
        for (const QCommandLineOption* option : {&from, &to, &channel, &format, &output}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 belongs to export").arg(option->names().constFirst()));
        }
        return convert(database);
    }
    if (command == QLatin1String("recover")) {
        for (const QCommandLineOption* option : {&from, &to, &channel, &format}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 belongs to export").arg(option->names().constFirst()));
        }
        // A damaged file is named, never taken for granted: the program may already have
        // started a new history at the default name.
        if (arguments.size() != 2)
            return usageError(QStringLiteral("recover needs the damaged history file"));
        if (parser.value(output).isEmpty())
            return usageError(QStringLiteral("recover needs --output NEW, a new file for the rescued history"));
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        return recover(database, parser.value(output));
    }
    if (command != QLatin1String("export"))
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command));

    history::ExportRequest request;
    request.databasePath = database;
    // Read once, and nothing left beside the file that was not there.
    request.readMode = history::ReadMode::Once;
    request.locale = QLocale::system();
    request.fromMs = std::numeric_limits<qint64>::min();
    request.toMs = std::numeric_limits<qint64>::max();
    if (parser.isSet(from)) {
        const std::optional<qint64> time = parseTime(parser.value(from));
        if (!time)
            return usageError(QStringLiteral("--from: \"%1\" is not a date and time like 2026-12-09T03:00").arg(parser.value(from)));
        request.fromMs = *time;
    }
    if (parser.isSet(to)) {
        const std::optional<qint64> time = parseTime(parser.value(to));
        if (!time)
            return usageError(QStringLiteral("--to: \"%1\" is not a date and time like 2026-12-09T03:00").arg(parser.value(to)));
        request.toMs = *time;
    }
    if (request.fromMs >= request.toMs)
        return usageError(QStringLiteral("--from must come before --to"));
    for (const QString& value : parser.values(channel)) {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok || number < 0 || number >= history::kExportChannelCount)
            return usageError(QStringLiteral("--input: \"%1\" is not an input from 0 to 3").arg(value));
        request.channels << number;
    }
    if (request.channels.isEmpty())
        request.channels = {0, 1, 2, 3};
    const QString formatName = parser.isSet(format) ? parser.value(format)
        : parser.value(output).endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? QStringLiteral("csv")
                                                                                    : QStringLiteral("xls");
    if (formatName == QLatin1String("xls"))
        request.format = history::ExportFormat::Xls;
    else if (formatName == QLatin1String("csv"))
        request.format = history::ExportFormat::Csv;
    else
        return usageError(QStringLiteral("--format: \"%1\" is neither xls nor csv").arg(formatName));
    if (parser.isSet(output) && parser.value(output).isEmpty())
        return usageError(QStringLiteral("--output needs a file name"));
    request.targetPath = parser.isSet(output) ? parser.value(output) : QStringLiteral("history.") + formatName;

    // Interrupted, the export is cancelled and takes its temporary file with it.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const history::ExportOutcome outcome =
        history::exportReadings(request, [](qint64, qint64) { return interrupted == 0; });
    switch (outcome.status) {
    case history::ExportOutcome::Status::Done:
        print(stdout, QStringLiteral("%1 readings written to %2").arg(outcome.rows).arg(QDir::toNativeSeparators(request.targetPath)));
        return kDone;
    case history::ExportOutcome::Status::Empty:
        print(stderr, QStringLiteral("zentlog-history: ") + outcome.message + QStringLiteral(" No file was written."));
        return kNothing;
    case history::ExportOutcome::Status::Cancelled:
        return fileError(QStringLiteral("interrupted; no file was written"));
    case history::ExportOutcome::Status::NoHistory:
    case history::ExportOutcome::Status::Failed: break;
    }
    return fileError(outcome.message);
}
