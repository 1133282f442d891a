#include "history/Export.h"

#include "common/Cp1252.h"
#include "common/SafeFiles.h"
#include "common/TextFiles.h"
#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/SqliteHandle.h"

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
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
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
    // The same text as SQLite's UTF-8, for the rows read without Qt; not valid after a text that came through Qt.
    std::string raw;
    bool rawValid = false;
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

// Only ASCII bytes count, so the UTF-8 of a text gives the same numbers as its Latin-1: every other
// character is neither a digit, a sign, a point nor a letter here, in either.
void scanShownNumbers(std::string_view bytes, std::vector<ShownNumber>& numbers)
{
    numbers.clear();
    const char* const begin = bytes.data();
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

void scanShownNumbers(const QString& text, std::vector<ShownNumber>& numbers)
{
    const QByteArray bytes = text.toLatin1(); // the panel's digits, signs and points are ASCII
    scanShownNumbers(std::string_view(bytes.constData(), std::size_t(bytes.size())), numbers);
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

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// The longest panel text a plain format (below) can make: its literal part and four numbers of at
// most 309 digits before the point and 99 after it.
constexpr std::size_t kMaxFormatBytes = 512;
constexpr std::size_t kMaxRenderedBytes = 4096;

// A format as the recorder makes them (TextFormat): literal text, "%%", and at most four "%.2f"
// or "%05.1f", each taking one number. Such a format can be handed to sqlite3_snprintf with four
// doubles and gives what the view's printf() gives; any other is left to the view.
bool isPlainFormat(const char* format)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto skipDigits = [&](const char*& p) {
        const char* const start = p;
        while (isDigit(*p) && p - start < 2)
            ++p;
        return !isDigit(*p);
    };
    int conversions = 0;
    const char* p = format;
    for (; *p; ++p) {
        if (*p != '%')
            continue;
        if (*++p == '%')
            continue;
        if (*p == '0') // zero padding, then the width
            ++p;
        if (!skipDigits(p))
            return false;
        if (*p == '.') {
            ++p;
            if (!isDigit(*p) || !skipDigits(p))
                return false;
        }
        if (*p != 'f' || ++conversions > 4)
            return false;
    }
    return std::size_t(p - format) <= kMaxFormatBytes;
}

// A number column of `samples` as the view gives it: an integer is the number times the scale,
// divided by it as SQLite divides (in doubles; NULL for a missing or zero scale), a real is the
// number itself. `scaleColumn` -1: the number is whole (the totals), scale 1. False for what only
// the view can say (a text or blob, a scale that is not a real).
bool decodeNumber(sqlite3_stmt* statement, int column, int scaleColumn, std::optional<double>& number)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL: number.reset(); return true;
    case SQLITE_FLOAT: number = sqlite3_column_double(statement, column); return true;
    case SQLITE_INTEGER: break;
    default: return false;
    }
    const auto scaled = static_cast<double>(sqlite3_column_int64(statement, column));
    if (scaleColumn < 0) {
        number = scaled;
        return true;
    }
    switch (sqlite3_column_type(statement, scaleColumn)) {
    case SQLITE_NULL: number.reset(); return true;
    case SQLITE_FLOAT: {
        const double scale = sqlite3_column_double(statement, scaleColumn);
        number = scale == 0 ? std::nullopt : std::optional<double>(scaled / scale);
        return true;
    }
    default: return false;
    }
}

bool isTextOrNull(sqlite3_stmt* statement, int column)
{
    const int type = sqlite3_column_type(statement, column);
    return type == SQLITE_TEXT || type == SQLITE_NULL;
}

std::string_view columnText(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, std::size_t(sqlite3_column_bytes(statement, column))) : std::string_view();
}

// exportNumberText() appended to `out`, without a QByteArray of its own (it runs for every number
// of every row).
void appendNumberText(QByteArray& out, double value, char decimalSeparator, std::optional<int> decimals)
{
    if (!std::isfinite(value))
        return;
    // The shortest digits that read back as the same double, in fixed notation: up to 309 digits
    // before the point and 767 after it for the extremes of a double.
    char buffer[1100];
    const auto result = decimals ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, *decimals)
                                 : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return;
    if (decimalSeparator != '.')
        std::replace(buffer, result.ptr, '.', decimalSeparator);
    out.append(buffer, result.ptr - buffer);
}

} // namespace

QByteArray exportNumberText(double value, char decimalSeparator, std::optional<int> decimals)
{
    QByteArray text;
    appendNumberText(text, value, decimalSeparator, decimals);
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
//
// The compact layout is read straight from `samples` and `series` (`direct`): the view's
// expressions and its printf() of every row cost more than the rest of the export. Its rows are
// decoded here exactly as the view decodes them, and the panel text made only for the rows whose
// text is not kept; a row holding anything else is read from the view by its id (`query`).
struct Cursor {
    std::unique_ptr<QSqlQuery> query;
    Statement direct;
    bool fromView = false; // the current row of `direct` is read from `query`
    std::array<std::optional<double>, ColumnCount> numbers; // of the current direct row
    qint64 ok = 0;
    std::string text; // of the current direct row, UTF-8
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
// The direct query's further columns: what the view computes its values from.
constexpr int kFormatColumn = ColumnCount + 2;
constexpr int kScaleColumn = ColumnCount + 3;
constexpr int kScale2Column = ColumnCount + 4;
constexpr char kViewColumns[] = "time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day, total,"
                                " outcome, id, text";
// The join is read in the order of the time index (CROSS JOIN keeps `samples` the outer table):
// only the rows of one time are sorted by channel and id.
constexpr char kDirectQuery[] =
    "SELECT s.time_ms, r.channel, r.tag, r.type, r.ok, s.value, r.unit, s.temperature, s.value2, r.unit2, s.total_day,"
    " s.total, r.outcome, s.id, s.text, r.format, r.scale, r.scale2"
    " FROM samples s CROSS JOIN series r ON r.id = s.series"
    " WHERE r.channel IN (%1) AND s.time_ms >= ?1 AND s.time_ms < ?2 ORDER BY s.time_ms, r.channel, s.id";

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
        // Emptied but kept: freed, its memory went back to the system at every flush and each new
        // page of it faulted in again.
        buffer.resize(0);
        return true;
    }

    void appendNumber(const QVariant& value, std::vector<ShownNumber>& shown)
    {
        bool ok = false;
        const double number = value.isNull() ? 0.0 : value.toDouble(&ok);
        if (ok)
            appendNumberText(buffer, number, decimal, shownDecimals(number, shown));
    }

    void appendText(TextCell& cell, QString text)
    {
        if (!cell.valid || cell.text != text) {
            cell.bytes = encodeText(text, request.format, separator);
            cell.text = std::move(text);
            cell.valid = true;
            cell.rawValid = false;
        }
        buffer += cell.bytes;
    }

    void appendRow(Cursor& cursor)
    {
        if (cursor.direct && !cursor.fromView)
            return appendDirectRow(cursor);
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
                appendText(cursor.texts[static_cast<std::size_t>(cursor.channel & 3)][column], value.toString());
                break;
            }
            default: appendNumber(query.value(column), cursor.shownNumbers); break;
            }
        }
        buffer += "\r\n";
    }

    // The same fields as appendRow() gives the view's row.
    void appendDirectRow(Cursor& cursor)
    {
        sqlite3_stmt* const statement = cursor.direct.get();
        scanShownNumbers(cursor.text, cursor.shownNumbers);
        for (int column = 0; column < ColumnCount; ++column) {
            if (column > 0)
                buffer += separator;
            switch (column) {
            case Time: appendLocalTime(buffer, cursor.timeMs, request.format, offsets); break;
            case Channel: appendPadded(buffer, cursor.channel, 1); break;
            case Ok: appendPadded(buffer, cursor.ok, 1); break;
            case Tag:
            case Type:
            case Unit:
            case Unit2:
            case OutcomeCode: {
                TextCell& cell = cursor.texts[static_cast<std::size_t>(cursor.channel & 3)][column];
                if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
                    if (column == OutcomeCode && cursor.ok == 1)
                        appendText(cell, QStringLiteral("value"));
                    break;
                }
                if (const std::string_view raw = columnText(statement, column); !cell.rawValid || cell.raw != raw) {
                    cell.raw = raw; // before the UTF-16 below, which may move the UTF-8
                    // The text as Qt's driver gives it, from SQLite's own UTF-16.
                    appendText(cell, QString(static_cast<const QChar*>(sqlite3_column_text16(statement, column)),
                                             sqlite3_column_bytes16(statement, column) / qsizetype(sizeof(QChar))));
                    cell.rawValid = true;
                    break;
                }
                buffer += cell.bytes;
                break;
            }
            default:
                if (const std::optional<double>& number = cursor.numbers[std::size_t(column)])
                    appendNumberText(buffer, *number, decimal, shownDecimals(*number, cursor.shownNumbers));
                break;
            }
        }
        buffer += "\r\n";
    }

    // Decodes the direct query's current row as the view would give it; false when the row holds
    // something only the view reads (then it is read from there).
    bool decodeDirectRow(Cursor& cursor)
    {
        sqlite3_stmt* const statement = cursor.direct.get();
        for (const int column : {int(Time), int(Channel), int(Ok), kIdColumn}) {
            if (sqlite3_column_type(statement, column) != SQLITE_INTEGER)
                return false;
        }
        cursor.timeMs = sqlite3_column_int64(statement, Time);
        cursor.id = sqlite3_column_int64(statement, kIdColumn);
        const qint64 channel = sqlite3_column_int64(statement, Channel);
        cursor.ok = sqlite3_column_int64(statement, Ok);
        // Qt's conversions of wider numbers to int are not ours to copy.
        if (channel != int(channel) || cursor.ok != int(cursor.ok))
            return false;
        cursor.channel = int(channel);
        for (const int column : {int(Tag), int(Type), int(Unit), int(Unit2), int(OutcomeCode), kTextColumn, kFormatColumn}) {
            if (!isTextOrNull(statement, column))
                return false;
        }
        auto& numbers = cursor.numbers;
        if (!decodeNumber(statement, Value, kScaleColumn, numbers[Value])
            || !decodeNumber(statement, Temperature, kScale2Column, numbers[Temperature])
            || !decodeNumber(statement, Value2, kScale2Column, numbers[Value2])
            || !decodeNumber(statement, TotalDay, -1, numbers[TotalDay]) || !decodeNumber(statement, Total, -1, numbers[Total]))
            return false;
        // The view's text: the one kept, else printf(format, value, temperature or value2, total_day, total).
        if (sqlite3_column_type(statement, kTextColumn) == SQLITE_TEXT) {
            cursor.text = columnText(statement, kTextColumn);
            return true;
        }
        cursor.text.clear();
        if (sqlite3_column_type(statement, kFormatColumn) == SQLITE_NULL)
            return true;
        const auto* format = reinterpret_cast<const char*>(sqlite3_column_text(statement, kFormatColumn));
        if (!format || !isPlainFormat(format))
            return false;
        const auto argument = [&](std::size_t column) { return numbers[column].value_or(0.0); };
        char rendered[kMaxRenderedBytes];
        sqlite3_snprintf(int(sizeof rendered), rendered, format, argument(Value),
                         numbers[Temperature] ? *numbers[Temperature] : argument(Value2), argument(TotalDay), argument(Total));
        cursor.text = rendered;
        return true;
    }

    QSqlError directError(int code) const
    {
        sqlite3* const handle = sqliteHandle(database());
        return QSqlError(QStringLiteral("Unable to fetch row"), QString::fromUtf8(handle ? sqlite3_errmsg(handle) : "unknown error"),
                         QSqlError::ConnectionError, QString::number(code));
    }

    bool advance(Cursor& cursor)
    {
        if (cursor.direct)
            return advanceDirect(cursor);
        while ((cursor.hasRow = cursor.query->next())) {
            cursor.timeMs = cursor.query->value(Time).toLongLong();
            cursor.id = cursor.query->value(kIdColumn).toLongLong();
            cursor.channel = cursor.query->value(Channel).toInt();
            if (!cursor.wroteAny || isNew(cursor))
                return true;
        }
        if (cursor.query->lastError().isValid())
            return fail(history.readFailure(cursor.query->lastError()));
        cursor.exhausted = true;
        pause(cursor);
        return true;
    }

    // Not one of the rows of the last time written that the previous slice wrote already.
    static bool isNew(const Cursor& cursor)
    {
        return cursor.timeMs != cursor.lastTimeMs || cursor.channel > cursor.lastChannel
            || (cursor.channel == cursor.lastChannel && cursor.id > cursor.lastId);
    }

    bool advanceDirect(Cursor& cursor)
    {
        int code = SQLITE_OK;
        while ((cursor.hasRow = (code = sqlite3_step(cursor.direct.get())) == SQLITE_ROW)) {
            if (cursor.fromView)
                cursor.query->finish();
            cursor.fromView = !decodeDirectRow(cursor);
            if (cursor.fromView) {
                QSqlQuery& view = *cursor.query;
                view.bindValue(0, sqlite3_column_int64(cursor.direct.get(), kIdColumn));
                if (!view.exec() || !view.next()) {
                    if (view.lastError().isValid())
                        return fail(history.readFailure(view.lastError()));
                    continue; // not a row of the view (cannot be: the same read sees both)
                }
                cursor.timeMs = view.value(Time).toLongLong();
                cursor.id = view.value(kIdColumn).toLongLong();
                cursor.channel = view.value(Channel).toInt();
            }
            if (!cursor.wroteAny || isNew(cursor))
                return true;
        }
        if (code != SQLITE_DONE)
            return fail(history.readFailure(directError(code)));
        cursor.exhausted = true;
        pause(cursor);
        return true;
    }

    bool resume(Cursor& cursor)
    {
        const qint64 fromMs = cursor.wroteAny ? cursor.lastTimeMs : request.fromMs;
        if (cursor.direct) {
            sqlite3_stmt* const statement = cursor.direct.get();
            sqlite3_reset(statement);
            for (const auto& [index, value] : {std::pair{1, fromMs}, std::pair{2, request.toMs}}) {
                if (const int code = sqlite3_bind_int64(statement, index, value); code != SQLITE_OK)
                    return fail(history.readFailure(directError(code)));
            }
            cursor.running = true;
            return advance(cursor);
        }
        cursor.query->bindValue(0, fromMs);
        cursor.query->bindValue(1, request.toMs);
        if (!cursor.query->exec())
            return fail(history.readFailure(cursor.query->lastError()));
        cursor.running = true;
        return advance(cursor);
    }

    void pause(Cursor& cursor)
    {
        if (cursor.running) {
            if (cursor.direct)
                sqlite3_reset(cursor.direct.get());
            cursor.query->finish();
        }
        cursor.fromView = false;
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
    const bool tableLayout = holdsTableLayout(db);
    const bool directLayout = !tableLayout && sqliteHandle(db);
    if (!tableLayout)
        groups = QStringList{groups.join(u',')};
    for (const QString& group : std::as_const(groups)) {
        Cursor cursor;
        cursor.query = std::make_unique<QSqlQuery>(db);
        cursor.query->setForwardOnly(true);
        if (directLayout) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(sqliteHandle(db), QString::fromLatin1(kDirectQuery).arg(group).toUtf8().constData(), -1,
                               &statement, nullptr);
            cursor.direct.reset(statement);
        }
        // A file whose tables are not quite the program's (a tool's, a later layout's) is read
        // through its view alone.
        cursor.query->prepare(cursor.direct ? QStringLiteral("SELECT %1 FROM readings WHERE id = ?").arg(QLatin1String(kViewColumns))
                                            : QStringLiteral("SELECT %1 FROM readings WHERE channel IN (%2) AND time_ms >= ?"
                                                             " AND time_ms < ? ORDER BY time_ms, channel, id")
                                                  .arg(QLatin1String(kViewColumns), group));
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
