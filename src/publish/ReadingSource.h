#pragma once
// Where the publisher takes the readings from, each with a sequence number that grows with every
// reading: the history file (its row ids), or, with the history off, a bounded queue in memory.
// Each also keeps what a broker has acknowledged: the history in its table `mqtt_acked`, so that
// a restart goes on where the broker stopped acknowledging; the queue only while the program runs.

#include "measure/Reading.h"
#include "publish/AckedRanges.h"

#include <QSqlDatabase>
#include <QString>

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QSqlQuery;

namespace publish {

struct StoredReading {
    qint64 seq = 0;
    measure::Reading reading;
};

class ReadingSource {
public:
    virtual ~ReadingSource() = default;

    // The readings numbered above `after` and below `before`, oldest first, at most `limit`.
    virtual std::vector<StoredReading> readings(qint64 after, qint64 before, int limit) = 0;
    // How many readings are numbered above `after` and below `before`.
    virtual qint64 count(qint64 after, qint64 before) = 0;
    // The number of the newest reading; 0 when there is none.
    virtual qint64 newest() = 0;
    // The number of the newest reading taken before `timeMs`: where a broker never published to
    // starts. Readings held in memory all came after the publisher that reads them.
    virtual qint64 newestBefore(qint64 timeMs)
    {
        Q_UNUSED(timeMs);
        return newest();
    }
    // What `destination` acknowledged; nothing when this source never published to it.
    virtual std::optional<AckedRanges> loadAcked(const QString& destination) = 0;
    // Keeps what `destination` acknowledged; false when it could not (problem() says why).
    virtual bool saveAcked(const QString& destination, const AckedRanges& acked) = 0;
    // Why the last read or save failed; empty after one that worked.
    virtual QString problem() const = 0;
};

// The readings of the running program only, while the history is off. Acknowledged readings
// leave the queue; when more than `limit` wait for an acknowledgement, the oldest are dropped.
class MemorySource : public ReadingSource {
public:
    explicit MemorySource(std::size_t limit);

    // Numbers the readings of one cycle and keeps them.
    void add(std::vector<measure::Reading> readings);
    // How many unacknowledged readings were dropped since the program started.
    std::size_t dropped() const { return dropped_; }

    std::vector<StoredReading> readings(qint64 after, qint64 before, int limit) override;
    qint64 count(qint64 after, qint64 before) override;
    qint64 newest() override { return nextSeq_ - 1; }
    std::optional<AckedRanges> loadAcked(const QString& destination) override;
    bool saveAcked(const QString& destination, const AckedRanges& acked) override;
    QString problem() const override { return {}; }

private:
    std::size_t limit_;
    std::deque<StoredReading> queue_;
    qint64 nextSeq_ = 1;
    std::size_t dropped_ = 0;
    std::map<QString, AckedRanges> acked_;
};

// The readings of "history.sqlite" in `directory`, through a connection of its own (in the
// thread that uses the source). A file that is not there yet, or whose tables the recorder has
// not made yet, holds no readings; nothing is created by the source.
class HistorySource : public ReadingSource {
public:
    explicit HistorySource(const QString& directory);
    ~HistorySource() override;
    HistorySource(const HistorySource&) = delete;
    HistorySource& operator=(const HistorySource&) = delete;

    std::vector<StoredReading> readings(qint64 after, qint64 before, int limit) override;
    qint64 count(qint64 after, qint64 before) override;
    qint64 newest() override;
    qint64 newestBefore(qint64 timeMs) override;
    std::optional<AckedRanges> loadAcked(const QString& destination) override;
    bool saveAcked(const QString& destination, const AckedRanges& acked) override;
    QString problem() const override { return problem_; }

    QString filePath() const { return path_; }

private:
    bool open();
    bool hasTable(const QString& name);
    bool fail(const QString& reason);

    QString path_;
    QString connectionName_;
    QSqlDatabase db_;
    QString problem_;
};

} // namespace publish
