#pragma once
// The recorder: appends every channel visit of every measurement cycle to "history.sqlite", one
// transaction per cycle, in WAL mode. It never stops or slows the measurement: when the file
// cannot be written (full disk, read-only folder, a viewer holding the write lock, a damaged
// file) it says so once, keeps the readings in memory and writes them once the file is usable
// again. A damaged file is moved aside and a new one started.

#include "measure/Reading.h"

#include <QSqlDatabase>
#include <QString>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QSqlError;
class QSqlQuery;

namespace history {

class Recorder {
public:
    struct Options {
        QString directory; // where "history.sqlite" is; empty: the working directory
        int retentionDays = 400;
        // How long a write waits for a viewer's lock before the cycle goes on without it.
        int busyTimeoutMs = 50;
        // While the file cannot be written, it is tried again after this long (and at the
        // next cycle after that).
        int retryIntervalMs = 2000;
        // Readings kept in memory while the file cannot be written: two hours of four channels
        // at one cycle a second. Beyond it the oldest are dropped.
        std::size_t maxPending = 28800;
        // Readings older than the retention are deleted in batches of this many rows, one
        // batch per cycle, once an hour.
        int purgeBatch = 500;
        qint64 purgeIntervalMs = 3600 * 1000;
        // Told once per outage what went wrong (the message names the file and the reason).
        std::function<void(const QString& message)> report;
        // UTC milliseconds now; tests set their own clock.
        std::function<qint64()> clock;
    };

    explicit Recorder(Options options);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Takes the readings of one cycle and writes everything pending in one transaction. True
    // when nothing is left pending afterwards.
    bool recordCycle(std::vector<measure::Reading> readings);

    std::size_t pendingCount() const { return pending_.size(); }
    QString filePath() const { return path_; }
    // True while the file cannot be written (the outage has been reported).
    bool failing() const { return failing_; }

private:
    bool writePending();
    bool open(QString& reason);
    void close();
    bool purgeBatch();
    // Adds the reading just inserted as row `id` to its channel's minute.
    bool addToMinute(const measure::Reading& reading, const QVariant& id);
    // The message for a write that failed; a damaged file is moved aside and a new one started.
    void failed(const QSqlError& error, const QString& what);
    bool isDamage(const QSqlError& error) const;
    void moveDamagedAside(const QString& reason);
    void fault(const QString& reason);
    qint64 now() const;

    Options options_;
    QString path_;
    QString connectionName_;
    QSqlDatabase db_;
    std::unique_ptr<QSqlQuery> insert_;
    std::unique_ptr<QSqlQuery> addToMinute_;
    std::deque<measure::Reading> pending_;
    bool failing_ = false;
    bool dropReported_ = false;
    qint64 nextTryMs_ = 0;
    qint64 nextPurgeMs_ = 0;
    bool purging_ = true; // the first cycle starts a purge
};

} // namespace history
