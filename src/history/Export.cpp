#include "history/Export.h"

#include "common/Cp1252.h"
#include "common/SafeFiles.h"
#include "common/TextFiles.h"
#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

namespace history {

namespace {

constexpr qint64 kFlushBytes = 256 * 1024;
constexpr qint64 kMsPerDay = 86'400'000;
// Year 1 to year 9999: the times a calendar date is written for.
constexpr qint64 kFirstWritableMs = -62'135'596'800'000;
constexpr qint64 kLastWritableMs = 253'402'300'799'999;

// New columns go at the end, so that sheets and scripts made for earlier exports find theirs.
enum Column { Time, Channel, Tag, Type, Ok, Value, Unit, Temperature, Value2, Unit2, TotalDay, Total, OutcomeCode, ColumnCount };
constexpr std::array<const char*, ColumnCount> kColumnNames{
    "time", "channel", "tag", "type", "ok", "value", "unit", "temperature", "value2", "unit2", "total_day", "total", "outcome"};

void appendPadded(QByteArray& out, qint64 value, int width)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    const qsizetype length = result.ptr - digits;
    for (qsizetype i = length; i < width; ++i)
        out += '0';
    out.append(digits, length);
}

// The local time zone's offset from UTC, looked up once per quarter of an hour: asking the time
// zone for every row would cost more than the rest of the row. Offsets change at quarter-hour
// boundaries in practice; where one changes inside a quarter (its two ends differ), every row of
// that quarter is looked up.
class LocalOffsets {
public:
    int secondsAt(qint64 ms)
    {
        const qint64 quarter = floorDiv(ms, kQuarterMs) * kQuarterMs;
        if (quarter != quarter_) {
            quarter_ = quarter;
            const int first = lookUp(quarter);
            uniform_ = first == lookUp(quarter + kQuarterMs - 1) ? std::optional<int>(first) : std::nullopt;
        }
        return uniform_ ? *uniform_ : lookUp(ms);
    }

    static qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

private:
    static constexpr qint64 kQuarterMs = 15 * 60 * 1000;
    static int lookUp(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime).offsetFromUtc(); }

    qint64 quarter_ = -1;
    std::optional<int> uniform_;
};

// ".xls": "2026-12-09 03:00:05", which spreadsheets read as a date and time.
// CSV: ISO 8601 with milliseconds and the offset, "2026-12-09T03:00:05.250+01:00", so that the
// hour repeated when the clocks go back stays unambiguous.
void appendLocalTime(QByteArray& out, qint64 utcMs, ExportFormat format, LocalOffsets& offsets)
{
    if (utcMs < kFirstWritableMs + kMsPerDay || utcMs > kLastWritableMs - kMsPerDay) {
        appendPadded(out, utcMs, 1); // no calendar date: the stored number as it is
        return;
    }
    const int offset = offsets.secondsAt(utcMs);
    const qint64 local = utcMs + qint64(offset) * 1000;
    const qint64 day = LocalOffsets::floorDiv(local, kMsPerDay);
    const qint64 inDay = local - day * kMsPerDay;
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{day}}};
    appendPadded(out, int(date.year()), 4);
    out += '-';
    appendPadded(out, unsigned(date.month()), 2);
    out += '-';
    appendPadded(out, unsigned(date.day()), 2);
    out += format == ExportFormat::Csv ? 'T' : ' ';
    appendPadded(out, inDay / 3'600'000, 2);
    out += ':';
    appendPadded(out, inDay / 60'000 % 60, 2);
    out += ':';
    appendPadded(out, inDay / 1000 % 60, 2);
    if (format == ExportFormat::Xls)
        return;
    out += '.';
    appendPadded(out, inDay % 1000, 3);
    const int absolute = offset < 0 ? -offset : offset;
    out += offset < 0 ? '-' : '+';
    appendPadded(out, absolute / 3600, 2);
    out += ':';
    appendPadded(out, absolute / 60 % 60, 2);
}

// A text field's bytes. Tags and units repeat on every row of a channel, so the last text of each
// column is kept with its bytes and encoded again only when it changes.
struct TextCell {
    QString text;
    QByteArray bytes;
    bool valid = false;
};

QByteArray encodeText(const QString& text, ExportFormat format, char separator)
{
    if (format == ExportFormat::Xls) {
        // A tab or a line break inside a tag would shift the columns of the row: each becomes a space.
        QByteArray bytes = common::toCp1252(text);
        for (char& c : bytes) {
            if (c == '\t' || c == '\r' || c == '\n')
                c = ' ';
        }
        return bytes;
    }
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(separator) || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n')) {
        bytes.replace("\"", "\"\"");
        bytes.prepend('"');
        bytes.append('"');
    }
    return bytes;
}

// The numbers a panel text shows, each with its decimals: "   6.90 pH     21.5 °C" holds 6.90
// (2) and 21.5 (1). The stored numbers are doubles, which keep no trailing zeros; the text is
// where the station's digits are. Digits right after a letter belong to a word ("m3", "O2").
struct ShownNumber {
    double value = 0;
    int decimals = 0;
    bool used = false;
};

void scanShownNumbers(const QString& text, std::vector<ShownNumber>& numbers)
{
    numbers.clear();
    const QByteArray bytes = text.toLatin1(); // the panel's digits, signs and points are ASCII
    const char* const begin = bytes.constData();
    const char* const end = begin + bytes.size();
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto isWordChar = [&](char c) { return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    for (const char* p = begin; p < end;) {
        const bool sign = *p == '-' && p + 1 < end && isDigit(p[1]);
        if ((!sign && !isDigit(*p)) || (p > begin && (isWordChar(p[-1]) || p[-1] == '.'))) {
            ++p;
            continue;
        }
        ShownNumber number;
        const auto result = std::from_chars(p, end, number.value, std::chars_format::fixed);
        if (result.ec != std::errc()) {
            ++p;
            continue;
        }
        if (const char* point = std::find(p, result.ptr, '.'); point != result.ptr)
            number.decimals = int(result.ptr - point - 1);
        numbers.push_back(number);
        p = result.ptr;
    }
}

// `value` with the decimals the panel showed it with, when the text shows it.
std::optional<int> shownDecimals(double value, std::vector<ShownNumber>& numbers)
{
    for (ShownNumber& number : numbers) {
        if (!number.used && std::abs(number.value - value) <= 1e-9 * std::max(1.0, std::abs(value))) {
            number.used = true;
            return number.decimals;
        }
    }
    return std::nullopt;
}

} // namespace

QByteArray exportNumberText(double value, char decimalSeparator, std::optional<int> decimals)
{
    if (!std::isfinite(value))
        return {};
    // The shortest digits that read back as the same double, in fixed notation: up to 309 digits
    // before the point and 767 after it for the extremes of a double.
    char buffer[1100];
    const auto result = decimals ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, *decimals)
                                 : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return {};
    QByteArray text(buffer, result.ptr - buffer);
    if (decimalSeparator != '.')
        text.replace('.', decimalSeparator);
    return text;
}

char exportDecimalSeparator(const QLocale& locale)
{
    // The same separator as the logger extraction files, which these users already open.
    return common::cp1252DecimalSeparator(locale);
}

char exportFieldSeparator(ExportFormat format, const QLocale& locale)
{
    if (format == ExportFormat::Xls)
        return '\t';
    return exportDecimalSeparator(locale) == ',' ? ';' : ',';
}

// The rows of one channel, or of all (the compact layout), in time order. Its statement
// runs only during one slice of the export and is reset at the end of it: a running statement
// holds SQLite's read lock, which would keep the recorder from committing (in the default
// rollback journal mode) for as long as the export lasts. The next slice starts the statement
// again after the last row written, which (time_ms, channel, id) identifies.
struct Cursor {
    std::unique_ptr<QSqlQuery> query;
    bool running = false;
    bool exhausted = false;
    bool hasRow = false;
    qint64 timeMs = 0;
    qint64 id = 0;
    bool wroteAny = false;
    qint64 lastTimeMs = 0;
    qint64 lastId = 0;
    int lastChannel = 0;
    int channel = 0; // of the current row
    // The last texts of each channel, encoded (they rarely change from one reading to the next).
    std::array<std::array<TextCell, ColumnCount>, kExportChannelCount> texts;
    std::vector<ShownNumber> shownNumbers; // of the current row's text
};
constexpr int kIdColumn = ColumnCount;
constexpr int kTextColumn = ColumnCount + 1;

struct Exporter::Run {
    ExportRequest request;
    ExportOutcome outcome;
    qint64 done = 0;
    qint64 total = 0;
    bool over = false;
    char decimal = '.';
    char separator = '\t';
    ReadOnlyHistory history;
    std::vector<Cursor> cursors;
    std::optional<common::AtomicWriter> writer;
    QByteArray buffer;
    LocalOffsets offsets;

    ~Run() { closeDatabase(); }

    QSqlDatabase database() const { return history.database(); }

    void closeDatabase()
    {
        cursors.clear(); // every query before its connection goes
        history.close();
    }

    bool end(ExportOutcome::Status status, const QString& message = {})
    {
        outcome.status = status;
        outcome.rows = status == ExportOutcome::Status::Done ? done : 0;
        outcome.message = message;
        over = true;
        if (writer && status != ExportOutcome::Status::Done)
            writer->discard();
        writer.reset();
        closeDatabase();
        return false;
    }

    bool fail(const QString& message) { return end(ExportOutcome::Status::Failed, message); }

    QString targetName() const { return QFileInfo(request.targetPath).fileName(); }

    bool writeOut()
    {
        if (buffer.isEmpty())
            return true;
        if (const QString error = writer->write(buffer); !error.isEmpty())
            return fail(QStringLiteral("\"%1\" could not be written: %2").arg(request.targetPath, error));
        buffer.clear();
        return true;
    }

    void appendNumber(const QVariant& value, std::vector<ShownNumber>& shown)
    {
        bool ok = false;
        const double number = value.isNull() ? 0.0 : value.toDouble(&ok);
        if (ok)
            buffer += exportNumberText(number, decimal, shownDecimals(number, shown));
    }

    void appendRow(Cursor& cursor)
    {
        const QSqlQuery& query = *cursor.query;
        scanShownNumbers(query.value(kTextColumn).toString(), cursor.shownNumbers);
        for (int column = 0; column < ColumnCount; ++column) {
            if (column > 0)
                buffer += separator;
            switch (column) {
            case Time: appendLocalTime(buffer, cursor.timeMs, request.format, offsets); break;
            case Channel: appendPadded(buffer, cursor.channel, 1); break;
            case Ok: appendPadded(buffer, query.value(column).toLongLong(), 1); break;
            case Tag:
            case Type:
            case Unit:
            case Unit2:
            case OutcomeCode: {
                QVariant value = query.value(column);
                // Rows of the first layout kept no reason for a failure; a value is a value.
                if (value.isNull() && column == OutcomeCode && query.value(Ok).toInt() == 1)
                    value = QStringLiteral("value");
                if (value.isNull())
                    break;
                TextCell& cell = cursor.texts[static_cast<std::size_t>(cursor.channel & 3)][column];
                QString text = value.toString();
                if (!cell.valid || cell.text != text) {
                    cell.bytes = encodeText(text, request.format, separator);
                    cell.text = std::move(text);
                    cell.valid = true;
                }
                buffer += cell.bytes;
                break;
            }
            default: appendNumber(query.value(column), cursor.shownNumbers); break;
            }
        }
        buffer += "\r\n";
    }

    bool advance(Cursor& cursor)
    {
        while ((cursor.hasRow = cursor.query->next())) {
            cursor.timeMs = cursor.query->value(Time).toLongLong();
            cursor.id = cursor.query->value(kIdColumn).toLongLong();
            cursor.channel = cursor.query->value(Channel).toInt();
            // Rows of the last time written that the previous slice wrote already.
            if (!cursor.wroteAny || cursor.timeMs != cursor.lastTimeMs || cursor.channel > cursor.lastChannel
                || (cursor.channel == cursor.lastChannel && cursor.id > cursor.lastId))
                return true;
        }
        if (cursor.query->lastError().isValid())
            return fail(history.readFailure(cursor.query->lastError()));
        cursor.exhausted = true;
        pause(cursor);
        return true;
    }

    bool resume(Cursor& cursor)
    {
        cursor.query->bindValue(0, cursor.wroteAny ? cursor.lastTimeMs : request.fromMs);
        cursor.query->bindValue(1, request.toMs);
        if (!cursor.query->exec())
            return fail(history.readFailure(cursor.query->lastError()));
        cursor.running = true;
        return advance(cursor);
    }

    void pause(Cursor& cursor)
    {
        if (cursor.running)
            cursor.query->finish();
        cursor.running = false;
        cursor.hasRow = false;
    }
};

Exporter::Exporter(ExportRequest request)
    : run_(std::make_unique<Run>())
{
    run_->request = std::move(request);
}

Exporter::~Exporter() = default;

qint64 Exporter::done() const
{
    return run_->done;
}

qint64 Exporter::total() const
{
    return std::max(run_->total, run_->done); // rows recorded meanwhile may make a few more
}

const ExportOutcome& Exporter::outcome() const
{
    return run_->outcome;
}

bool Exporter::start()
{
    Run& run = *run_;
    const ExportRequest& request = run.request;
    if (run.over)
        return false;

    QList<int> channels;
    for (int channel : request.channels) {
        if (channel < 0 || channel >= kExportChannelCount)
            return run.fail(QStringLiteral("There is no input %1.").arg(channel));
        if (!channels.contains(channel))
            channels << channel;
    }
    if (channels.isEmpty())
        return run.fail(QStringLiteral("Choose at least one channel."));
    if (request.fromMs >= request.toMs)
        return run.fail(QStringLiteral("The start of the period must come before its end."));

    // The target: only a regular file is replaced, and never through a link.
    if (request.targetPath.isEmpty())
        return run.fail(QStringLiteral("Choose the file to export to."));
    const common::EntryKind kind = common::entryKind(request.targetPath);
    if (kind != common::EntryKind::Missing && kind != common::EntryKind::Regular) {
        return run.fail(QStringLiteral("\"%1\" is %2: the export only writes a regular file.")
                            .arg(request.targetPath, common::entryKindText(kind)));
    }
    if (kind == common::EntryKind::Regular
        && common::identityAt(request.targetPath)
               .sameFileAs(common::identityAt(QFileInfo(request.databasePath).canonicalFilePath()))) {
        return run.fail(QStringLiteral("\"%1\" is the history file itself: choose another file to export to.")
                            .arg(request.targetPath));
    }

    if (const QFileInfo history(request.databasePath);
        !history.exists() && !history.isSymLink() && QFileInfo(history.absolutePath()).isExecutable()) {
        QString message = QStringLiteral("The history file \"%1\" does not exist.").arg(QDir::toNativeSeparators(request.databasePath));
        if (history.fileName() == QLatin1String(kHistoryFileName))
            message += QStringLiteral(" No readings have been recorded yet: the history starts when the measurement runs "
                                      "(\"Measurement\" in the main window, or zentlog-station), which records every "
                                      "reading into it.");
        return run.end(ExportOutcome::Status::NoHistory, message);
    }
    run.decimal = exportDecimalSeparator(request.locale);
    run.separator = exportFieldSeparator(request.format, request.locale);
    if (const QString error = run.history.open(request.databasePath, request.readMode); !error.isEmpty())
        return run.fail(error);
    if (const QString error = run.history.checkIsHistory(); !error.isEmpty())
        return run.fail(error);

    const auto readError = [&run](const QSqlQuery& query) { return run.fail(run.history.readFailure(query.lastError())); };
    {
        // One pass over the period for all the channels (the compact layout finds rows by time alone).
        QStringList wanted;
        for (int channel : channels)
            wanted << QString::number(channel);
        QSqlQuery count(run.database());
        if (!count.prepare(QStringLiteral("SELECT COUNT(*) FROM readings WHERE channel IN (%1) AND time_ms >= ? AND time_ms < ?")
                               .arg(wanted.join(u','))))
            return readError(count);
        count.addBindValue(request.fromMs);
        count.addBindValue(request.toMs);
        if (!count.exec() || !count.next())
            return readError(count);
        run.total = count.value(0).toLongLong();
    }
    if (run.total == 0)
        return run.end(ExportOutcome::Status::Empty, QStringLiteral("There are no readings of these channels in this period."));

    // A table of an earlier layout is read a channel at a time through its index on (channel,
    // time_ms); the compact layout's index is on the time alone, which one pass reads in order.
    QSqlDatabase db = run.database();
    QStringList groups;
    for (int channel : channels)
        groups << QString::number(channel);
    if (!holdsTableLayout(db))
        groups = QStringList{groups.join(u',')};
    for (const QString& group : std::as_const(groups)) {
        Cursor cursor;
        cursor.query = std::make_unique<QSqlQuery>(db);
        cursor.query->setForwardOnly(true);
        cursor.query->prepare(QStringLiteral(
            "SELECT time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day, total, outcome,"
            " id, text"
            " FROM readings WHERE channel IN (%1) AND time_ms >= ? AND time_ms < ? ORDER BY time_ms, channel, id")
                                  .arg(group));
        if (cursor.query->lastError().isValid())
            return readError(*cursor.query);
        run.cursors.push_back(std::move(cursor));
    }

    run.writer.emplace(request.targetPath);
    if (const QString error = run.writer->open(); !error.isEmpty())
        return run.fail(QStringLiteral("\"%1\" could not be written: %2").arg(request.targetPath, error));
    // The byte order mark is how a spreadsheet on Windows knows the file is UTF-8; without it
    // "°C" and "µS" come out garbled there.
    if (request.format == ExportFormat::Csv)
        run.buffer += "\xEF\xBB\xBF";
    for (int column = 0; column < ColumnCount; ++column) {
        if (column > 0)
            run.buffer += run.separator;
        run.buffer += kColumnNames[column];
    }
    run.buffer += "\r\n";
    return true;
}

bool Exporter::step(qint64 maxRows)
{
    Run& run = *run_;
    if (run.over || !run.writer)
        return false;
    for (Cursor& cursor : run.cursors) {
        if (!cursor.exhausted && !cursor.running && !run.resume(cursor))
            return false;
    }
    for (qint64 n = 0; n < maxRows; ++n) {
        // The earliest row of all channels; at one time, the lower channel first.
        Cursor* next = nullptr;
        for (Cursor& cursor : run.cursors) {
            if (cursor.hasRow && (!next || cursor.timeMs < next->timeMs))
                next = &cursor;
        }
        if (!next) {
            if (!run.writeOut())
                return false;
            if (const QString error = run.writer->commit(); !error.isEmpty())
                return run.fail(QStringLiteral("\"%1\" could not be written: %2").arg(run.request.targetPath, error));
            run.writer.reset();
            return run.end(ExportOutcome::Status::Done);
        }
        run.appendRow(*next);
        next->wroteAny = true;
        next->lastTimeMs = next->timeMs;
        next->lastChannel = next->channel;
        next->lastId = next->id;
        ++run.done;
        if (run.buffer.size() >= kFlushBytes && !run.writeOut())
            return false;
        if (!run.advance(*next))
            return false;
    }
    for (Cursor& cursor : run.cursors)
        run.pause(cursor);
    return true;
}

void Exporter::cancel()
{
    if (!run_->over)
        run_->end(ExportOutcome::Status::Cancelled, QStringLiteral("The export was cancelled."));
}

std::array<QString, kExportChannelCount> latestTags(const QString& databasePath)
{
    std::array<QString, kExportChannelCount> tags;
    if (!QFileInfo(databasePath).isFile())
        return tags;
    ReadOnlyHistory history;
    if (!history.open(databasePath, ReadMode::Once).isEmpty() || !history.checkIsHistory().isEmpty())
        return tags;
    {
        QSqlQuery query(history.database());
        query.setForwardOnly(true);
        if (!query.prepare(QStringLiteral("SELECT tag FROM readings WHERE channel = ? ORDER BY time_ms DESC, id DESC LIMIT 1")))
            return tags;
        for (int channel = 0; channel < kExportChannelCount; ++channel) {
            query.bindValue(0, channel);
            if (query.exec() && query.next())
                tags[std::size_t(channel)] = query.value(0).toString();
            query.finish();
        }
    }
    return tags;
}

ExportOutcome exportReadings(const ExportRequest& request, const ExportProgress& progress)
{
    constexpr qint64 kRowsPerCall = 4096;
    Exporter exporter(request);
    if (exporter.start()) {
        if (progress && !progress(0, exporter.total()))
            exporter.cancel();
        while (exporter.step(kRowsPerCall)) {
            if (progress && !progress(exporter.done(), exporter.total()))
                exporter.cancel();
        }
        if (progress && exporter.outcome().status == ExportOutcome::Status::Done)
            progress(exporter.done(), exporter.total());
    }
    return exporter.outcome();
}

} // namespace history
