#pragma once
// The frame trace: every request and what came back for it, one line each, in
// "trace-<yyyy-MM-dd>.log" (then ".1.log", ".2.log", ... once a file is full) in a directory:
//   2026-12-09 14:02:03.123 COM1 TX 01 03 00 00 00 08 44 0C
//   2026-12-09 14:02:03.135 COM1 RX 01 03 10 ... | value 11.8 ms
// Times are local, to the millisecond. The trace never stops nor slows the measurement: a file
// that cannot be written is reported once, the trace rests for a minute and then tries again.
// Only regular files named exactly like trace files are written or deleted, never a link, and an
// existing file is extended only while it has no other name (a hard link).

#include "diagnostics/Exchange.h"

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QString>

#include <functional>
#include <utility>

namespace diagnostics {

class FrameTrace {
public:
    struct Options {
        // A file is not extended past this size; the trace goes on in the next file of the day.
        qint64 maxFileBytes = 10 * 1024 * 1024;
        // Trace files kept in the directory; the oldest go when a new file is opened.
        int maxFiles = 10;
        // Told once per outage what went wrong (the message names the file and the reason).
        std::function<void(const QString& message)> report;
        // UTC milliseconds now: the local day of a file's name and the minute of rest after a
        // failure come from it. Tests set their own clock; empty means the system clock.
        std::function<qint64()> clock;
    };

    // How long the trace rests after a failed write or open before it tries again.
    static constexpr qint64 kRetryAfterMs = 60 * 1000;

    // Nothing is opened before the first record. An empty directory is the working directory.
    FrameTrace(QString directory, Options options);
    explicit FrameTrace(QString directory) : FrameTrace(std::move(directory), Options()) {}
    FrameTrace(const FrameTrace&) = delete;
    FrameTrace& operator=(const FrameTrace&) = delete;

    // Writes one exchange on `port` ("COM1"): a TX and an RX line when a request went out, one
    // line "-- | <outcome>" when nothing was sent. One write per exchange, so that a crash loses
    // at most the exchange being written.
    void record(const Exchange& exchange, const QString& port);

    // The lines record() writes for `exchange`, without writing them (zentlog-poll --trace shows
    // them on standard error).
    QByteArray lines(const Exchange& exchange, const QString& port);

    // The file being written; empty before the first record and while resting after a failure.
    QString filePath() const { return file_.isOpen() ? path_ : QString(); }
    // True from a failure until a record is written again.
    bool failing() const { return failing_; }

    // "trace-2026-12-09.log" for number 0, "trace-2026-12-09.3.log" for 3.
    static QString fileName(QDate date, int number);

private:
    qint64 now() const;
    // The file for a record of `bytes` bytes at `nowMs` is open; false after reporting why not.
    bool ensureFile(qint64 nowMs, qint64 bytes);
    bool openForDay(QDate day, qint64 bytes);
    bool openNumber(QDate day, int number, bool append);
    void removeOldFiles();
    void fail(qint64 nowMs, const QString& path, const QString& reason);

    // Formatting into buffer_: the exchange's lines and their size.
    qsizetype format(const Exchange& exchange);
    char* stamp(char* out, qint64 ms);
    void setPort(const QString& port);

    QString directory_;
    Options options_;

    QFile file_;
    QString path_;
    QDate day_;              // the local day of the open file's name
    int number_ = 0;         // its number within the day
    qint64 dayStartMs_ = 0;  // UTC milliseconds of that day's first and next day's first moment
    qint64 dayEndMs_ = 0;
    qint64 size_ = 0;

    bool failing_ = false;
    bool reported_ = false;
    qint64 retryAtMs_ = 0;

    QByteArray buffer_;
    QString port_;
    QByteArray portBytes_;
    // "yyyy-MM-dd hh:mm:" of the UTC minute minuteMs_ in local time, so that a line's time costs
    // one conversion a minute.
    qint64 minuteMs_ = -1;
    char minutePrefix_[17] = {};
};

} // namespace diagnostics
