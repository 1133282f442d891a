#pragma once
// The operator's notifier: "[alarms] command" run once per alarm event with QProcess, no shell.
// Arguments: event input tag kind value limit time (time: UTC milliseconds; value and limit empty
// when none). The environment holds the same as ZENTLOG_ALARM_EVENT, ZENTLOG_ALARM_INPUT,
// ZENTLOG_ALARM_TAG, ZENTLOG_ALARM_KIND, ZENTLOG_ALARM_VALUE, ZENTLOG_ALARM_LIMIT,
// ZENTLOG_ALARM_TIME (ISO 8601 UTC), ZENTLOG_ALARM_TIME_MS and ZENTLOG_ALARM_ID.
// One command runs at a time, asynchronously (never in a measurement cycle); one that runs longer
// than 10 s is killed. Its exit status and first output line are logged through `log`.

#include "alarms/Alarm.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

class QProcess;
class QTimer;

namespace alarms {

// One queued run: the event and its number in the history's queue (0 without a history).
struct CommandRun {
    qint64 queueId = 0;
    AlarmEvent event;
};

QStringList commandArguments(const AlarmEvent& event);
QStringList commandEnvironment(const AlarmEvent& event); // "NAME=value" entries to add

class AlarmCommand final : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString program;
        int timeoutMs = 10000;
        std::function<void(const QString& line)> log;
    };
    explicit AlarmCommand(Options options, QObject* parent = nullptr);
    ~AlarmCommand() override;

    void enqueue(CommandRun run);
    bool busy() const;
    std::size_t queued() const { return queue_.size(); }

signals:
    // The command for `queueId` is about to start: from now on it is never run again.
    void started(qint64 queueId);
    // The command has run for `run` (whatever its outcome): the queue entry may go.
    void finished(qint64 queueId);

private:
    void startNext();
    void done(const QString& outcome);

    Options options_;
    std::deque<CommandRun> queue_;
    QProcess* process_ = nullptr;
    QTimer* timer_ = nullptr;
    CommandRun current_;
    QByteArray firstLine_;
    bool lineDone_ = false;
    bool killed_ = false;
};

} // namespace alarms
