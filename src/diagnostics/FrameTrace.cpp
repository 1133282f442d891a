#include "diagnostics/FrameTrace.h"

#include "common/Logging.h"
#include "common/SafeFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace diagnostics {

namespace {

// Hexadecimal digits of the frame bytes, written by hand so that a byte costs two look-ups.
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Room for one line's time: "yyyy-MM-dd hh:mm:ss.zzz" is 23 characters; years beyond 9999 or
// before year 1 are longer.
constexpr qsizetype kStampRoom = 40;
// Room for the code, the reply time and the line ends beside the bytes and late replies.
constexpr qsizetype kFixedRoom = 160;
// " [MBAP" and "]" around a Modbus TCP header.
constexpr qsizetype kHeaderRoom = 8;
// " late reply of 247/65535 discarded", with room for any int.
constexpr qsizetype kLateReplyRoom = 64;

// Trace files and only those: "trace-2026-12-09.log", "trace-2026-12-09.3.log" (no leading
// zero, so that every number has a single name).
const QRegularExpression& traceName()
{
    static const QRegularExpression pattern(
        QStringLiteral("^trace-(\\d{4}-\\d{2}-\\d{2})(?:\\.([1-9]\\d{0,8}))?\\.log$"));
    return pattern;
}

struct TraceFile {
    QString date;
    int number = 0;
    QString name;
};

// The trace files in `directory`, of every date or only of `date`, in the order they were made.
std::vector<TraceFile> traceFiles(const QString& directory, const QString& date = {})
{
    const QString filter = QStringLiteral("trace-%1*.log").arg(date);
    // System: links whose target is missing, pipes and sockets are listed too.
    const QStringList names =
        QDir(directory).entryList({filter}, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    std::vector<TraceFile> files;
    for (const QString& name : names) {
        const QRegularExpressionMatch match = traceName().match(name);
        if (!match.hasMatch() || !QDate::fromString(match.captured(1), Qt::ISODate).isValid())
            continue;
        if (!date.isEmpty() && match.captured(1) != date)
            continue;
        files.push_back({match.captured(1), match.captured(2).isEmpty() ? 0 : match.captured(2).toInt(), name});
    }
    std::sort(files.begin(), files.end(), [](const TraceFile& a, const TraceFile& b) {
        return std::pair(a.date, a.number) < std::pair(b.date, b.number);
    });
    return files;
}

// Why the trace does not write to an entry that is there but is no regular file.
QString refusal(common::EntryKind kind)
{
    switch (kind) {
    case common::EntryKind::SymLink: return QStringLiteral("it is a symbolic link, and the trace never writes through a link");
    case common::EntryKind::Directory: return QStringLiteral("a directory of that name is in the way");
    case common::EntryKind::Other: return QStringLiteral("it is not a regular file (a pipe, a device or a socket)");
    case common::EntryKind::Missing:
    case common::EntryKind::Regular: break;
    }
    return {};
}

// `value` in exactly `width` digits, zeros in front (0 <= value < 10^width).
char* fixedDigits(char* out, int value, int width)
{
    char digits[12];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    const auto length = static_cast<int>(end - digits);
    for (int i = length; i < width; ++i)
        *out++ = '0';
    return std::copy(digits, end, out);
}

char* text(char* out, const char* words)
{
    const std::size_t length = std::strlen(words);
    std::memcpy(out, words, length);
    return out + length;
}

char* hexBytes(char* out, const QByteArray& bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = ' ';
        *out++ = kHexDigits[byte >> 4];
        *out++ = kHexDigits[byte & 0x0F];
    }
    return out;
}

char* integer(char* out, int value)
{
    return std::to_chars(out, out + 12, value).ptr;
}

// A file that also has another name (a hard link) belongs to someone else as well: the trace
// does not add its lines to it. Only Unix tells the number of names cheaply.
bool hasOtherNames(const QFile& file)
{
#ifdef Q_OS_UNIX
    struct stat status {};
    return ::fstat(file.handle(), &status) == 0 && status.st_nlink > 1;
#else
    Q_UNUSED(file);
    return false;
#endif
}

qint64 floorMod(qint64 value, qint64 divisor)
{
    const qint64 rest = value % divisor;
    return rest < 0 ? rest + divisor : rest;
}

} // namespace

FrameTrace::FrameTrace(QString directory, Options options)
    : directory_(directory.isEmpty() ? QDir::currentPath() : std::move(directory))
    , options_(std::move(options))
{
    options_.maxFileBytes = std::max<qint64>(options_.maxFileBytes, 1);
    options_.maxFiles = std::max(options_.maxFiles, 1);
    buffer_.resize(4096);
}

QString FrameTrace::fileName(QDate date, int number)
{
    const QString day = date.toString(Qt::ISODate);
    return number == 0 ? QStringLiteral("trace-%1.log").arg(day) : QStringLiteral("trace-%1.%2.log").arg(day).arg(number);
}

qint64 FrameTrace::now() const
{
    return options_.clock ? options_.clock() : QDateTime::currentMSecsSinceEpoch();
}

QByteArray FrameTrace::lines(const Exchange& exchange, const QString& port)
{
    setPort(port);
    return buffer_.left(format(exchange));
}

void FrameTrace::record(const Exchange& exchange, const QString& port)
{
    const qint64 nowMs = now();
    // While resting after a failure, an exchange costs nothing.
    if (failing_ && nowMs < retryAtMs_)
        return;
    setPort(port);
    const qsizetype bytes = format(exchange);
    if (!ensureFile(nowMs, bytes))
        return;
    // The whole exchange in one write: the file never holds its TX line without its RX line
    // unless the write itself fails.
    const char* data = buffer_.constData();
    qint64 written = file_.write(data, bytes);
    if (written >= 0 && written < bytes) {
        // A short write without an error: the rest once more, which either goes or says why.
        const qint64 more = file_.write(data + written, bytes - written);
        if (more > 0)
            written += more;
    }
    if (written != bytes) {
        const QString reason = file_.error() != QFileDevice::NoError ? file_.errorString()
                                                                      : QStringLiteral("only part of it could be written");
        // A half line would run into the next record: the file goes back to its last whole line.
        if (written > 0)
            file_.resize(size_);
        fail(nowMs, path_, reason);
        return;
    }
    size_ += bytes;
    if (failing_) {
        failing_ = false;
        reported_ = false;
        qCInfo(lcDiagnostics).noquote() << "The frame trace is written again to" << QDir::toNativeSeparators(path_);
    }
}

bool FrameTrace::ensureFile(qint64 nowMs, qint64 bytes)
{
    if (file_.isOpen() && (nowMs < dayStartMs_ || nowMs >= dayEndMs_))
        file_.close(); // a new day (or a clock set back): a file of its own
    if (!file_.isOpen()) {
        const QDate day = QDateTime::fromMSecsSinceEpoch(nowMs).date();
        dayStartMs_ = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
        dayEndMs_ = QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
        return openForDay(day, bytes);
    }
    // A record larger than a whole file still goes into a file of its own.
    if (size_ > 0 && size_ + bytes > options_.maxFileBytes) {
        file_.close();
        return openNumber(day_, number_ + 1, false);
    }
    return true;
}

bool FrameTrace::openForDay(QDate day, qint64 bytes)
{
    const std::vector<TraceFile> today = traceFiles(directory_, day.toString(Qt::ISODate));
    if (today.empty())
        return openNumber(day, 0, true);
    // A restart, or the end of a rest, continues the day's last file while it has room.
    const TraceFile& last = today.back();
    const QString path = QDir(directory_).filePath(last.name);
    const common::EntryKind kind = common::entryKind(path);
    if (kind == common::EntryKind::Regular) {
        const qint64 size = QFileInfo(path).size();
        if (size > 0 && size + bytes > options_.maxFileBytes)
            return openNumber(day, last.number + 1, false);
    } else if (kind != common::EntryKind::Missing) {
        fail(now(), path, refusal(kind));
        return false;
    }
    return openNumber(day, last.number, true);
}

bool FrameTrace::openNumber(QDate day, int number, bool append)
{
    const QDir directory(directory_);
    common::WriteOpening opening;
    QString path;
    // A new file takes the first free number: anything already there is left alone.
    for (int attempt = 0; attempt < 1000; ++attempt, ++number) {
        path = directory.filePath(fileName(day, number));
        opening = common::openForWriting(file_, path,
                                         append ? common::WriteMode::AppendOrCreate : common::WriteMode::CreateNew);
        if (opening.opened || !opening.alreadyThere)
            break;
    }
    if (opening.opened && !opening.created && hasOtherNames(file_)) {
        fail(now(), path, QStringLiteral("it has another name (a hard link), and the trace only extends its own files"));
        return false;
    }
    if (!opening.opened) {
        const common::EntryKind kind = common::entryKind(path);
        fail(now(), path, kind == common::EntryKind::Regular || kind == common::EntryKind::Missing ? opening.error
                                                                                                  : refusal(kind));
        return false;
    }
    path_ = path;
    day_ = day;
    number_ = number;
    size_ = file_.size();
    removeOldFiles();
    return true;
}

void FrameTrace::removeOldFiles()
{
    std::vector<TraceFile> files = traceFiles(directory_);
    const QDir directory(directory_);
    // Links, pipes and directories with a trace file's name are not the trace's: never counted,
    // never removed.
    std::erase_if(files, [&](const TraceFile& f) {
        return common::entryKind(directory.filePath(f.name)) != common::EntryKind::Regular;
    });
    auto excess = static_cast<qsizetype>(files.size()) - options_.maxFiles;
    for (const TraceFile& f : files) {
        if (excess <= 0)
            break;
        const QString path = directory.filePath(f.name);
        if (path == path_)
            continue; // the file being written, even when the clock put it among the oldest
        --excess;
        if (!QFile::remove(path))
            qCWarning(lcDiagnostics).noquote() << "An old frame trace file cannot be removed:" << path;
    }
}

void FrameTrace::fail(qint64 nowMs, const QString& path, const QString& reason)
{
    file_.close();
    failing_ = true;
    retryAtMs_ = nowMs + kRetryAfterMs;
    if (reported_)
        return;
    reported_ = true;
    const QString message = QStringLiteral("The frame trace cannot be written to \"%1\": %2.\n\n"
                                           "The measurement goes on without it; the trace tries again every minute.")
                                .arg(QDir::toNativeSeparators(path), reason);
    qCWarning(lcDiagnostics).noquote() << message;
    if (options_.report)
        options_.report(message);
}

void FrameTrace::setPort(const QString& port)
{
    if (port == port_ && !portBytes_.isEmpty())
        return;
    port_ = port;
    portBytes_ = port.isEmpty() ? QByteArrayLiteral("-") : port.toUtf8();
    // A blank or a line end in a port name would break the line into fields it does not have.
    for (char& c : portBytes_)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7F')
            c = '_';
}

char* FrameTrace::stamp(char* out, qint64 ms)
{
    const qint64 minute = ms - floorMod(ms, 60000);
    if (minute != minuteMs_) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(minute);
        const QByteArray prefix = local.toString(QStringLiteral("yyyy-MM-dd hh:mm:")).toLatin1();
        // Only a minute that starts on a whole local minute of four-digit year can be kept;
        // anything else (old offsets with seconds, far years) is converted line by line.
        if (local.time().second() != 0 || prefix.size() != static_cast<qsizetype>(sizeof minutePrefix_)) {
            const QByteArray whole =
                QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1();
            return std::copy(whole.begin(), whole.begin() + std::min(whole.size(), kStampRoom), out);
        }
        std::memcpy(minutePrefix_, prefix.constData(), sizeof minutePrefix_);
        minuteMs_ = minute;
    }
    out = std::copy(std::begin(minutePrefix_), std::end(minutePrefix_), out);
    const auto inMinute = static_cast<int>(ms - minute);
    out = fixedDigits(out, inMinute / 1000, 2);
    *out++ = '.';
    return fixedDigits(out, inMinute % 1000, 3);
}

qsizetype FrameTrace::format(const Exchange& e)
{
    const bool sent = !e.request.isEmpty();
    const QByteArray code = e.outcome.code().toLatin1();
    const qsizetype needed = 2 * (kStampRoom + portBytes_.size())
        + 3 * (e.request.size() + e.received.size() + e.requestHeader.size() + e.replyHeader.size()) + 2 * kHeaderRoom
        + code.size() + kFixedRoom + kLateReplyRoom * static_cast<qsizetype>(e.lateReplies.size());
    if (buffer_.size() < needed)
        buffer_.resize(needed);
    char* const begin = buffer_.data();
    char* out = begin;
    const auto portField = [&](char* at) {
        *at++ = ' ';
        at = std::copy(portBytes_.cbegin(), portBytes_.cend(), at);
        *at++ = ' ';
        return at;
    };
    if (sent) {
        out = portField(stamp(out, e.sentAtMs));
        out = text(out, "TX");
        // A Modbus TCP header, then the frame as it would be on a line.
        if (!e.requestHeader.isEmpty())
            out = text(hexBytes(text(out, " [MBAP"), e.requestHeader), "]");
        out = hexBytes(out, e.request);
        *out++ = '\n';
        out = portField(stamp(out, e.endedAtMs));
        out = text(out, "RX");
        if (!e.replyHeader.isEmpty())
            out = text(hexBytes(text(out, " [MBAP"), e.replyHeader), "]");
        out = e.received.isEmpty() ? text(out, " -") : hexBytes(out, e.received);
    } else {
        out = text(portField(stamp(out, e.endedAtMs)), "--");
    }
    out = std::copy(code.cbegin(), code.cend(), text(out, " | "));
    // Any time a station can take fits; anything else is no reply time.
    if (e.replyMs && std::isfinite(*e.replyMs) && std::abs(*e.replyMs) < 1e9) {
        *out++ = ' ';
        out = std::to_chars(out, out + 24, *e.replyMs, std::chars_format::fixed, 1).ptr;
        out = text(out, " ms");
    }
    for (const StationBlock& late : e.lateReplies) {
        out = integer(text(out, " late reply of "), late.address);
        *out++ = '/';
        out = text(integer(out, late.startRegister), " discarded");
    }
    *out++ = '\n';
    return out - begin;
}

} // namespace diagnostics
