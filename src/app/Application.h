#pragma once
// The application object: owns the state the windows share (channel configuration, serial
// settings, the one serial port, the measurement flags, the program title) and creates each
// window on first use.

#include "app/MeasurementOutputs.h"
#include "config/ChannelConfiguration.h"
#include "diagnostics/LineCounters.h"
#include "measure/F_Mesure.h"
#include "measure/MeasurementFlags.h"
#include "measure/MeasurementSession.h"
#include "publish/PublishStatus.h"
#include "serial/SerialControl.h"
#include "serial/SerialSettings.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QLockFile;

namespace history {
class Recorder;
}
namespace logger {
class Extraction;
}
namespace history {
class ExportWindow;
class TrendWindow;
}
namespace ui {
class Dialogs;
}
namespace diagnostics {
class DiagnosticsWindow;
}
namespace config {
class ConfigW;
}
namespace serial {
class ConfLS;
}
namespace publish {
class MqttWindow;
}
namespace alarms {
class AlarmsWindow;
class AlarmSettingsWindow;
struct Alarm;
}

namespace app {

class StationLink;
class ZENTLOG;

class Application : public QObject {
    Q_OBJECT
public:
    // `directory` holds "config.txt" and "PortCom.dat"; empty means the working directory.
    Application(ui::Dialogs& dialogs, std::unique_ptr<serial::SerialControl> port, QString directory = {});
    ~Application() override;

    ui::Dialogs& dialogs() { return dialogs_; }
    config::ChannelConfiguration& channels() { return channels_; }
    serial::SerialSettings& serialSettings() { return serialSettings_; }
    serial::SerialControl& MSComm1() { return *port_; }
    measure::MeasurementFlags& flags() { return flags_; }
    QString& ProgramTitle() { return programTitle_; }
    const QString& directory() const { return directory_; }

    // The main window, created on first use.
    ZENTLOG& mainWindow();

    // Ends the program at once: no other window asks anything first.
    void quit();
    // Tests replace the real ending of the process.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

    // The windows behind the main window's commands.
    void showSerialInterface();
    // Shows the application configuration window, creating it (and so loading the configuration)
    // on first use. The first read of a channel setting anywhere creates it too.
    void showApplicationConfig();
    // The measurement window: it measures, or, while the station service measures the working
    // directory, shows the station's panels without touching the port.
    void startMeasurement();
    // Whether the station service measures the working directory now (asks its feed; blocking,
    // a fraction of a second at most).
    bool stationMeasuresHere() const;
    // True while the measurement window shows the station service's values.
    bool viewingStation() const { return measurement_ && viewing_; }
    // The link to the station service, once a window has needed it; else null.
    StationLink* stationLink() const { return station_; }
    void showExtraction(bool resetMode);
    // The export of the measurement history; "history.sqlite" is in directory().
    void showHistoryExport();
    // The line's counters and last failures.
    void showDiagnostics();
    // The trend charts of the selected channels' recorded readings.
    void showTrends();
    // The options of publishing the readings to an MQTT broker.
    void showMqttSettings();
    // The active and recent alarms: of the window's measurement, or of the station service.
    void showAlarms();
    // The alarm limits of "zentlog.ini".
    void showAlarmSettings();
    // The alarms the Alarms window and the panels show now (an alarm may come twice).
    std::vector<alarms::Alarm> currentAlarms() const;

    // The recorder of the measurement history while the measurement has been started with the
    // history on ("zentlog.ini"), else null.
    history::Recorder* recorder() const { return outputs_.recorder(); }

    // The MQTT publisher's latest status; not enabled while nothing is published.
    publish::PublishStatus publishStatus() const { return outputs_.publishStatus(); }

    // The line's counters per channel since the user last reset them.
    const diagnostics::LineCounters& lineCounters() const { return outputs_.lineCounters(); }
    void resetLineCounters() { outputs_.resetLineCounters(); }

    // The measurement the measurement window shows.
    measure::MeasurementSession& session() { return session_; }
    // The measurement window while it is loaded, else null.
    measure::F_Mesure* measurementWindow() const { return measurement_.data(); }
    // How a channel's station is read and its value text made; tests put their own here.
    void setChannelReader(measure::ChannelReader reader) { session_.setChannelReader(std::move(reader)); }
    // The windows while they exist (a window closed through its close box is gone).
    config::ConfigW* applicationConfigWindow() const;
    serial::ConfLS* serialInterfaceWindow() const;
    logger::Extraction* extractionWindow() const;
    history::ExportWindow* historyExportWindow() const;
    diagnostics::DiagnosticsWindow* diagnosticsWindow() const;
    history::TrendWindow* trendWindow() const;
    publish::MqttWindow* mqttWindow() const;
    alarms::AlarmsWindow* alarmsWindow() const;
    alarms::AlarmSettingsWindow* alarmSettingsWindow() const;

    // Makes a second port control with which the serial interface window probes the other
    // ports while the program's port is held open.
    void setProbePortFactory(std::function<std::unique_ptr<serial::SerialControl>()> factory)
    {
        probePortFactory_ = std::move(factory);
    }

signals:
    // A channel visit has been counted (-1: the counters were reset).
    void visitRecorded(int channel);
    // The MQTT publisher's status changed (connected, counts).
    void publishStatusChanged();
    // The user stored new MQTT settings in "zentlog.ini".
    void mqttSettingsChanged();
    // The alarms of the measurement or of the station changed.
    void alarmsChanged();

private:
    void createApplicationConfig();
    // What goes in front of an added window's title: the program's title, or its name before the
    // configuration has set that title.
    QString windowTitlePrefix() const;
    void showMainWindowAgain();
    // The measurement window as a viewer of the station service.
    void startViewing();
    StationLink& linkToStation();
    // The Diagnostics window of the station service's counters, or of the window's own.
    void createDiagnostics(bool ofStation);
    // Takes the working directory's measurement lock; false (and the user told who holds it)
    // when zentlog-station or another instance measures this folder.
    bool lockMeasurement();
    void restartPublisher();
    // The alarms come from the station service (the window views it, or nothing measures here
    // while the station does).
    bool alarmsOfStation() const;
    std::vector<alarms::Alarm> alarmsFrom(bool ofStation) const;
    // The panels' rings and the Alarms window as the alarms stand.
    void showAlarmState();
    // A warning over the measurement window, from the history, the trace or the publisher.
    void warnWhileMeasuring(const QString& text);

    ui::Dialogs& dialogs_;
    std::unique_ptr<serial::SerialControl> port_;
    QString directory_;
    config::ChannelConfiguration channels_;
    serial::SerialSettings serialSettings_;
    measure::MeasurementFlags flags_;
    QString programTitle_;
    std::function<void()> quitHandler_;
    std::unique_ptr<ZENTLOG> mainWindow_;
    measure::MeasurementSession session_;
    MeasurementOutputs outputs_;
    // Held while the measurement window measures: one measurement per folder.
    std::unique_ptr<QLockFile> measurementLock_;
    QPointer<measure::F_Mesure> measurement_;
    bool viewing_ = false; // the measurement window shows the station service
    StationLink* station_ = nullptr; // a child, created on first need
    bool diagnosticsOfStation_ = false;
    std::function<std::unique_ptr<serial::SerialControl>()> probePortFactory_;
    // Top-level windows own themselves: they are deleted when closed through their close box,
    // and those still there when the program ends are deleted with the application object.
    QPointer<config::ConfigW> configW_;
    QPointer<serial::ConfLS> confLS_;
    QPointer<logger::Extraction> extraction_;
    QPointer<history::ExportWindow> historyExport_;
    QPointer<diagnostics::DiagnosticsWindow> diagnostics_;
    QPointer<history::TrendWindow> trends_;
    QPointer<publish::MqttWindow> mqtt_;
    QPointer<alarms::AlarmsWindow> alarms_;
    bool alarmsWindowOfStation_ = false;
    QPointer<alarms::AlarmSettingsWindow> alarmSettings_;
};

} // namespace app
