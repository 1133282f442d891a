#pragma once
// The alarms of a measurement: the limits of "zentlog.ini", their evaluation at every reading
// and every second, the history's record of them and the operator's command. Owned by
// MeasurementOutputs, so that zentlog-station and the measurement window raise the same alarms.

#include "alarms/Alarm.h"
#include "alarms/AlarmSettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace measure {
struct Reading;
}
namespace history {
class AlarmStore;
}
namespace alarms {
class AlarmEvaluator;
class AlarmCommand;
}

namespace app {

class AlarmService final : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString directory;
        bool history = true; // keep the alarms and the command queue in "history.sqlite"
        std::function<qint64()> clock; // UTC milliseconds; empty: the system clock
        int tickMs = 1000;
    };
    explicit AlarmService(Options options, QObject* parent = nullptr);
    ~AlarmService() override;

    // Takes the settings in force (at start and at every reload).
    void setSettings(const alarms::AlarmSettings& settings, const QString& iniPath);
    // The history turned on or off while measuring: the alarms that stand go on, and are written
    // into the file from now on (or no longer).
    void setHistory(bool on);

    void readings(const std::vector<measure::Reading>& readings);
    // False when `id` names no alarm that awaits acknowledgement.
    bool acknowledge(qint64 id);
    void acknowledgeAll();

    // Every alarm that is not normal, by id.
    std::vector<alarms::Alarm> alarms() const;
    // The latest alarms of any state, newest first (active and recent, for the Alarms window).
    std::vector<alarms::Alarm> recent(int count = 100) const;
    const alarms::AlarmSettings& settings() const { return settings_; }

signals:
    // One per event, in order: the windows, the feed and the publisher take them from here.
    void alarmEvent(const alarms::AlarmEvent& event);
    // After a batch of events: the list of alarms() changed.
    void alarmsChanged();
    // Something the user must know (a command refused, the history cannot keep the alarms).
    void problem(const QString& text);
    // A line for the log (a command's outcome).
    void logLine(const QString& text);

private:
    void openStore();
    void handle(std::vector<alarms::AlarmEvent> events);
    void tick();
    qint64 now() const;

    Options options_;
    alarms::AlarmSettings settings_;
    std::unique_ptr<alarms::AlarmEvaluator> evaluator_;
    std::unique_ptr<history::AlarmStore> store_;
    std::unique_ptr<alarms::AlarmCommand> command_;
    std::vector<alarms::Alarm> recent_; // finished alarms kept for recent(), newest first
    QTimer* timer_ = nullptr;
    bool configured_ = false; // setSettings() has been called
};

} // namespace app
