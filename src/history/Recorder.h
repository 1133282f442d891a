#pragma once
// The recorder: appends every channel visit of every measurement cycle to "history.sqlite", one
// transaction per cycle, in WAL mode. It never stops or slows the measurement: when the file
// cannot be written (full disk, read-only folder, a viewer holding the write lock, a damaged
// file) it says so once, keeps the readings in memory and writes them once the file is usable
// again. A damaged file is moved aside and a new one started.
//
// It also watches the file itself: when the name no longer leads to the file it writes (removed,
// replaced, truncated), it starts a new file at the name, writes the readings of the last few
// seconds again and keeps what the lost file held; SQLite's quick_check runs at start and daily
// in a thread of its own.

#include "common/SafeFiles.h"
#include "history/Checkpointer.h"
#include "history/CommitSchedule.h"
#include "history/HistoryFile.h"
#include "history/IntegrityCheck.h"
#include "measure/Reading.h"

#include <QSqlDatabase>
#include <QString>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSqlError;
class QSqlQuery;

namespace history {

class BackgroundConversion;
class HistoryRescue;
class SampleWriter;

class Recorder {
public:
    struct Options {
        QString directory; // where "history.sqlite" is; empty: the working directory
        int retentionDays = 400;
        // How long a write waits for another writer's lock before the cycle goes on without it.
        // The alarm store and the publisher's acknowledgements commit with a sync each, which
        // takes tens of ms on a loaded disk; the recorder writes once a cycle, between ticks.
        int busyTimeoutMs = 200;
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
        // The name is compared with the open file at most this often.
        int checkIntervalMs = 1000;
        // The file's quick_check: at the first cycle, then this often.
        qint64 integrityIntervalMs = 24 * 3600 * 1000LL;
        // Readings wait in memory at most this long and are committed together (0: every cycle).
        // A power cut loses what waits; the end of the recorder writes it.
        int writeIntervalSeconds = 0;
        // The write-ahead log is copied into the file this often, in a thread of its own, never
        // by a cycle's write.
        qint64 checkpointIntervalMs = 300 * 1000;
        // Time per cycle for copying a lost file's readings out.
        int rescueBudgetMs = 50;
        // Told once per outage what went wrong (the message names the file and the reason).
        std::function<void(const QString& message)> report;
        // Called before the recorder lets go of its file (lost, damaged) and starts a new one:
        // whoever reads the file closes its connection now, and numbers kept from the old file
        // (row ids) mean nothing in the new one.
        std::function<void()> fileLost;
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

    // Writes everything waiting now (the measurement stops). True when nothing is left waiting.
    bool flush();

    std::size_t pendingCount() const { return pending_.size(); }
    QString filePath() const { return path_; }
    // True while the file cannot be written (the outage has been reported).
    bool failing() const { return failing_; }

private:
    bool writePending();
    // Background work after a cycle's write: the look at the name, the integrity check, a slice
    // of a rescue.
    void afterWrite();
    void watchFile();
    void watchIntegrity();
    void watchCheckpoint();
    // The name no longer leads to the open file: a new file is started at the name.
    void startAgain(FileChange change);
    // Everyone lets go of the file; what was written since the name was last seen whole goes
    // into the next file too.
    void letGo();
    // Puts the lost file's readings that no broker acknowledged, and those written since the
    // name was last seen whole, before the pending ones.
    void takeUnsent();
    void makeConnection();
    bool open(QString& reason);
    QString openFailure(const QString& databaseReason) const;
    void close();
    bool purgeBatch();
    // Adds the reading just inserted as row `id` to its channel's minute.
    bool addToMinute(const measure::Reading& reading, const QVariant& id);
    // The message for a write that failed; a damaged file is moved aside and a new one started.
    void failed(const QSqlError& error, const QString& what);
    bool isDamage(const QSqlError& error) const;
    void moveDamagedAside(const QString& reason);
    // Renames the file and its "-wal" and "-shm" to `aside` plus their suffixes.
    bool moveAside(const QString& aside) const;
    void fault(const QString& reason);
    void tell(const QString& message) const;
    qint64 now() const;

    Options options_;
    QString path_;
    QString connectionName_;
    QSqlDatabase db_;
    std::unique_ptr<QSqlQuery> insert_;
    std::unique_ptr<QSqlQuery> addToMinute_;
    // The compact layout's writer; none while the file is of an earlier layout.
    std::unique_ptr<SampleWriter> samples_;
    // Converts a file of an earlier layout; the readings wait in memory meanwhile.
    std::unique_ptr<BackgroundConversion> conversion_;
    bool tableLayout_ = false;     // the open file is of an earlier layout
    bool keepTableLayout_ = false; // its conversion failed, or the recorder ends: it is written as it is
    bool minutesKept_ = true;      // the open file keeps its minutes with every reading
    std::deque<measure::Reading> pending_;
    // Written since the name was last seen to lead to the open file: written again into a new
    // file when it did not.
    std::vector<measure::Reading> unverified_;
    std::size_t requeued_ = 0; // how many of pending_ letGo() put back
    qint64 lastId_ = 0;        // the id of the last reading written
    qint64 verifiedId_ = 0;    // lastId_ when the name was last seen whole
    common::FileIdentity opened_;
    common::FileIdentity walOpened_;
    common::FileIdentity shmOpened_;
    qint64 nextCheckMs_ = 0;
    IntegrityCheck integrity_;
    common::FileIdentity checked_; // the file the running integrity check reads
    qint64 nextIntegrityMs_ = 0;
    std::unique_ptr<HistoryRescue> rescue_;
    CommitSchedule schedule_;
    Checkpointer checkpointer_;
    qint64 nextCheckpointMs_ = 0;
    QString lastProblem_; // why the file could not be written, last time it could not
    // The last outage told to the user, and when: the same reason within kSameOutageMs is not
    // told again.
    static constexpr qint64 kSameOutageMs = 10 * 60 * 1000;
    QString toldReason_;
    std::optional<qint64> toldAtMs_;
    bool failing_ = false;
    bool dropReported_ = false;
    qint64 nextTryMs_ = 0;
    qint64 nextPurgeMs_ = 0;
    bool purging_ = true; // the first cycle starts a purge
};

} // namespace history
