#pragma once
// The alarms in "history.sqlite": one row per alarm (table `alarms`), updated at each of its
// events, and the queue of command runs (column `command` of table `alarm_events`, one row per event), so that the alarm states and
// the runs not yet made survive a restart. It writes through its own connection beside the
// recorder's, one transaction per batch of events, in WAL mode; a write that fails is reported
// and the alarms live on in memory.

#include "alarms/Alarm.h"
#include "alarms/AlarmCommand.h"
#include "common/SafeFiles.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <vector>

namespace history {

class AlarmStore {
public:
    struct Options {
        QString directory; // where "history.sqlite" is; empty: the working directory
        int busyTimeoutMs = 200;
        std::function<void(const QString& message)> report;
    };
    explicit AlarmStore(Options options);
    ~AlarmStore();
    AlarmStore(const AlarmStore&) = delete;
    AlarmStore& operator=(const AlarmStore&) = delete;

    bool isOpen() const { return db_.isOpen(); }

    // The alarms that are not normal, by id; the highest id ever given.
    std::vector<alarms::Alarm> openAlarms();
    qint64 maxId();
    // The latest `count` alarms of any state, newest first.
    std::vector<alarms::Alarm> recent(int count);

    // Writes the events' alarms; when `queueCommands`, queues one command run per event. The
    // queued runs, in order (queue ids set; none when nothing was queued); nothing when the events
    // could not be written.
    std::optional<std::vector<alarms::CommandRun>> record(const std::vector<alarms::AlarmEvent>& events, bool queueCommands);
    // The runs queued and not yet started, in order.
    std::vector<alarms::CommandRun> pendingRuns();
    // Runs started but not finished when the program stopped: they are not run again (a command
    // never runs twice), only told; this call marks them "interrupted".
    std::vector<alarms::CommandRun> takeInterruptedRuns();
    void markStarted(qint64 queueId, qint64 nowMs);
    void markDone(qint64 queueId);

    // SQLite writes on into the file it opened whatever becomes of its name. When the history file
    // at the name is no longer that one (removed, replaced, emptied: the recorder starts a new one
    // there), the connection is let go, so that the next write goes to the file at the name; true
    // until keepStanding() has written the alarms that stand into it, since a row is otherwise
    // only written at its alarm's next event and a restart would not find it.
    bool followFile();
    void keepStanding(const std::vector<alarms::Alarm>& standing);

private:
    bool open();
    void tell(const QString& what, const QString& reason);

    Options options_;
    QString path_;
    QString connectionName_;
    QSqlDatabase db_;
    bool reported_ = false;
    common::FileIdentity opened_; // the file the connection opened
    bool standingLost_ = false;
    bool afterLoss_ = false; // the file was lost: the next one is the recorder's to make
};

} // namespace history
