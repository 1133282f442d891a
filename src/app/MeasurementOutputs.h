#pragma once
// Where a measurement's results go: the history ("history.sqlite"), the frame trace, the line's
// counters, the alarms and the MQTT publisher, each started as "zentlog.ini" asks. The program and
// zentlog-station connect them to their measurement session here, in one place.

#include "diagnostics/LineCounters.h"
#include "history/HistorySettings.h"
#include "diagnostics/DiagnosticsSettings.h"
#include "publish/MqttSettings.h"
#include "publish/PublishStatus.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace common {
class IniFile;
}
namespace measure {
class MeasurementSession;
}
namespace history {
class Recorder;
}
namespace diagnostics {
class FrameTrace;
}
namespace publish {
class PublisherThread;
}
namespace serial {
struct SerialSettings;
}
namespace app {
class AlarmService;
}

namespace app {

class MeasurementOutputs final : public QObject {
    Q_OBJECT
public:
    MeasurementOutputs(measure::MeasurementSession& session, const serial::SerialSettings& serialSettings,
                       QString directory, QObject* parent = nullptr);
    ~MeasurementOutputs() override;

    // Starts the history, the trace and the publisher as "zentlog.ini" asks (once; later calls
    // do nothing). A problem of the file is reported through `problem`.
    void start();
    bool started() const { return started_; }
    // Reads "zentlog.ini" again and restarts the parts whose settings changed; the publisher
    // also restarts when `forcePublisher` (the user stored MQTT settings).
    void reload(bool forcePublisher = false);
    // Ends them all: the history commits what it holds, the publisher says "offline".
    void stopAll();

    // The measurement stopped: the readings waiting in memory are written now.
    void flushHistory();

    history::Recorder* recorder() const { return recorder_.get(); }
    // The alarms of the measurement; null before start().
    AlarmService* alarms() const { return alarms_.get(); }
    publish::PublishStatus publishStatus() const;
    bool tracing() const { return trace_ != nullptr; }

    const diagnostics::LineCounters& lineCounters() const { return lineCounters_; }
    void resetLineCounters();

signals:
    // A visit has been counted (-1: the counters were reset).
    void visitRecorded(int input);
    void publishStatusChanged();
    // Something the user must know: the history, the trace or the publisher failed, or
    // "zentlog.ini" holds something unusable. The text names the file and the reason.
    void problem(const QString& text);
    // A line for the log that needs no one's attention (an alarm command's outcome).
    void alarmLog(const QString& text);

private:
    void startRecorder(const history::HistorySettings& settings);
    void startTrace(const diagnostics::DiagnosticsSettings& settings);
    // `sendRecorded`: the history file is new (see publish::Publisher::Options).
    void startPublisher(const publish::MqttSettings& settings, bool sendRecorded = false);
    void startAlarms(const common::IniFile& ini);
    // Tells the settings problems: the damage of the file once, for every part it leaves at its
    // defaults (then the parts' own problems, which only repeat it, are not told), else each
    // part's problem that is not empty.
    void report(const QString& iniDamage, const QStringList& settingsProblems);

    const serial::SerialSettings& serialSettings_;
    QString directory_;
    bool started_ = false;
    diagnostics::LineCounters lineCounters_;
    std::unique_ptr<history::Recorder> recorder_;
    // Every exchange of the measurement, while "zentlog.ini" asks for it; else null.
    std::unique_ptr<diagnostics::FrameTrace> trace_;
    std::unique_ptr<publish::PublisherThread> publisher_;
    std::unique_ptr<AlarmService> alarms_;
    // The publisher let go of the history file the recorder lost; it starts again after the cycle.
    bool publisherLost_ = false;
    // The settings in force, to tell what a reload changes.
    history::HistorySettings history_;
    diagnostics::DiagnosticsSettings diagnostics_;
    publish::MqttSettings mqtt_;
    // The damage of "zentlog.ini" last told: a file that stays damaged is told once.
    QString iniDamage_;
    QString alarmsProblem_; // the problem of the alarm settings last told
};

} // namespace app
