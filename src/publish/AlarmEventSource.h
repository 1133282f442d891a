#pragma once
// Where the publisher takes the alarm events from, each with a number that grows with every event:
// the history's table `alarm_events` (its row ids, the alarm from table `alarms`), or, with the
// history off, a bounded queue in memory. What a broker acknowledged of them is kept beside the
// readings' acknowledgements (ReadingSource::saveAcked) under a destination of their own.

#include "alarms/Alarm.h"

#include <QSqlDatabase>
#include <QString>

#include <cstddef>
#include <deque>
#include <vector>

namespace publish {

struct StoredAlarmEvent {
    qint64 seq = 0;
    alarms::AlarmEvent event; // alarm.id 0: a row this version cannot read, passed over
};

class AlarmEventSource {
public:
    virtual ~AlarmEventSource() = default;
    // The events numbered above `after`, oldest first, at most `limit`.
    virtual std::vector<StoredAlarmEvent> events(qint64 after, int limit) = 0;
    // The number of the newest event; 0 when there is none.
    virtual qint64 newest() = 0;
    // The number of the newest event before `timeMs`; events held in memory all came later.
    virtual qint64 newestBefore(qint64 timeMs)
    {
        Q_UNUSED(timeMs);
        return newest();
    }
};

// The events of the running program only. Beyond `limit` the oldest are dropped: alarm events
// are few, and a broker away for that long has the retained state to go by.
class MemoryAlarmEvents : public AlarmEventSource {
public:
    explicit MemoryAlarmEvents(std::size_t limit = 10000);
    void add(const alarms::AlarmEvent& event);
    std::vector<StoredAlarmEvent> events(qint64 after, int limit) override;
    qint64 newest() override { return nextSeq_ - 1; }

private:
    std::size_t limit_;
    std::deque<StoredAlarmEvent> queue_;
    qint64 nextSeq_ = 1;
};

// The events of "history.sqlite" in `directory`, read-only, through a connection of its own. A
// file or table that is not there yet holds no events.
class HistoryAlarmEvents : public AlarmEventSource {
public:
    explicit HistoryAlarmEvents(const QString& directory);
    ~HistoryAlarmEvents() override;
    HistoryAlarmEvents(const HistoryAlarmEvents&) = delete;
    HistoryAlarmEvents& operator=(const HistoryAlarmEvents&) = delete;

    std::vector<StoredAlarmEvent> events(qint64 after, int limit) override;
    qint64 newest() override;
    qint64 newestBefore(qint64 timeMs) override;

private:
    bool open();

    QString path_;
    QString connectionName_;
    QSqlDatabase db_;
};

} // namespace publish
