#include "app/Application.h"

#include "alarms/AlarmSettingsWindow.h"
#include "alarms/AlarmsWindow.h"
#include "app/AlarmService.h"
#include "app/StationLink.h"
#include "app/StationPanels.h"
#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "config/ConfigW.h"
#include "diagnostics/DiagnosticsWindow.h"
#include "history/ExportWindow.h"
#include "history/TrendWindow.h"
#include "logger/Extraction.h"
#include "publish/MqttWindow.h"
#include "serial/ConfLS.h"
#include "serial/PortComFile.h"
#include "serial/PortDevices.h"
#include "common/IniSections.h"
#include "common/Logging.h"
#include "common/MeasurementLock.h"
#include "ui/Dialogs.h"

#include <QCoreApplication>
#include <QLockFile>

namespace app {

Application::Application(ui::Dialogs& dialogs, std::unique_ptr<serial::SerialControl> port, QString directory)
    : dialogs_(dialogs)
    , port_(std::move(port))
    , directory_(std::move(directory))
    , channels_(dialogs, directory_)
    , quitHandler_([] { QCoreApplication::exit(0); })
    , session_(channels_, flags_, *port_, serialSettings_)
    , outputs_(session_, serialSettings_, directory_)
{
    connect(&outputs_, &MeasurementOutputs::problem, this, &Application::warnWhileMeasuring);
    connect(&outputs_, &MeasurementOutputs::visitRecorded, this, &Application::visitRecorded);
    connect(&outputs_, &MeasurementOutputs::publishStatusChanged, this, &Application::publishStatusChanged);
    // The live configuration is held by the configuration window: the first read of a channel
    // setting creates the window, and its load reads "config.txt".
    channels_.setFirstAccessHook([this] {
        if (!configW_)
            createApplicationConfig();
    });
    // The device chosen for each port is read once, here; the device chooser of the serial
    // interface window tells what was wrong in the file, and replaces the choices when it stores.
    // A file that cannot be read at all is told once, for every part, when the measurement starts.
    const common::IniFile ini = common::IniFile::inDirectory(directory_);
    const serial::PortChoices ports = serial::PortChoices::load(ini);
    if (!ports.problem.isEmpty() && !ini.damaged())
        qCWarning(lcSerial).noquote() << ports.problem;
    serial::useChosenDevices(ports);
}

Application::~Application()
{
    delete measurement_.data();
    outputs_.stopAll();
    delete extraction_.data();
    delete historyExport_.data();
    delete diagnostics_.data();
    delete trends_.data();
    delete mqtt_.data();
    delete alarms_.data();
    delete alarmSettings_.data();
    delete confLS_.data();
    delete configW_.data();
}

config::ConfigW* Application::applicationConfigWindow() const
{
    return configW_.data();
}

serial::ConfLS* Application::serialInterfaceWindow() const
{
    return confLS_.data();
}

ZENTLOG& Application::mainWindow()
{
    if (!mainWindow_)
        mainWindow_ = std::make_unique<ZENTLOG>(*this);
    return *mainWindow_;
}

void Application::quit()
{
    if (port_->PortOpen())
        port_->setPortOpen(false);
    quitHandler_();
}

void Application::showSerialInterface()
{
    if (confLS_) {
        confLS_->showAgain();
        return;
    }
    confLS_ = new serial::ConfLS(serial::ConfLS::Services{
        serialSettings_, *port_, dialogs_, directory_, [this] { return flags_.CycleRunning; }, probePortFactory_});
    // Closed through its close box, it is gone: the next command creates it with a new probe.
    connect(confLS_, &serial::ConfLS::discarded, this, [this] { confLS_.clear(); });
    confLS_->Form_Load();
}

void Application::showApplicationConfig()
{
    if (configW_)
        configW_->showAgain();
    else
        createApplicationConfig();
}

void Application::createApplicationConfig()
{
    configW_ = new config::ConfigW(config::ConfigW::Services{
        channels_, dialogs_, [this] { serial::LoadSerialSettings(serialSettings_, dialogs_, directory_); },
        programTitle_, flags_.stopMarker, [this] { showMainWindowAgain(); }});
    // Closed through its close box, it is gone with its unsaved edits: the next access creates
    // it again from the file.
    connect(configW_, &config::ConfigW::discarded, this, [this] { configW_.clear(); });
    configW_->Form_Load();
}

void Application::showMainWindowAgain()
{
    ZENTLOG& window = mainWindow();
    window.show();
    window.raise();
    window.activateWindow();
}

bool Application::stationMeasuresHere() const
{
    return stationMeasures(directory_);
}

StationLink& Application::linkToStation()
{
    if (!station_) {
        station_ = new StationLink(directory_, this);
        connect(station_, &StationLink::alarmsChanged, this, &Application::showAlarmState);
        connect(station_, &StationLink::connectedChanged, this, &Application::showAlarmState);
    }
    return *station_;
}

void Application::startViewing()
{
    if (!measurement_) {
        // No lock, no port: the station service measures, this window only shows what it sends.
        StationLink& link = linkToStation();
        measurement_ = new measure::F_Mesure(
            measure::WindowContext{dialogs_, programTitle_, directory_, [this] { showMainWindowAgain(); },
                                   [this] { quit(); }, [this] { showDiagnostics(); }, [this] { showTrends(); },
                                   [this] { showAlarms(); }},
            new StationPanels(link));
        viewing_ = true;
        measurement_->setWindowState(Qt::WindowMaximized);
        measurement_->Form_Load();
        showAlarmState();
    }
    measurement_->setWindowState(measurement_->windowState() | Qt::WindowMaximized);
    measurement_->show();
    measurement_->raise();
    measurement_->activateWindow();
}

void Application::startMeasurement()
{
    if (measurement_ ? viewing_ : stationMeasuresHere()) {
        startViewing();
        return;
    }
    const bool loading = !measurement_;
    if (loading) {
        viewing_ = false;
        if (!lockMeasurement()) {
            showMainWindowAgain();
            return;
        }
        measurement_ = new measure::F_Mesure(measure::MeasurementContext{
            dialogs_, channels_, flags_, session_, serialSettings_, programTitle_, directory_,
            [this] { showMainWindowAgain(); }, [this] { quit(); }, &outputs_.lineCounters(),
            [this] { showDiagnostics(); }, [this] { showTrends(); }, [this] { showAlarms(); }});
        // The folder is free for zentlog-station again once the window has gone.
        // The readings still waiting in memory are written first.
        connect(measurement_, &QObject::destroyed, this, [this] {
            outputs_.flushHistory();
            measurementLock_.reset();
        });
        measurement_->setWindowState(Qt::WindowMaximized);
        measurement_->Form_Load();
    }
    measurement_->setWindowState(measurement_->windowState() | Qt::WindowMaximized);
    measurement_->show();
    measurement_->raise();
    measurement_->activateWindow();
    // Once the measurement window is up, so that a message about the history stands over it.
    if (loading) {
        outputs_.start();
        if (AlarmService* alarms = outputs_.alarms())
            connect(alarms, &AlarmService::alarmsChanged, this, &Application::showAlarmState, Qt::UniqueConnection);
        showAlarmState();
    }
    session_.start();
}

bool Application::lockMeasurement()
{
    common::MeasurementLock lock = common::lockMeasurement(directory_);
    if (lock.refused()) {
        dialogs_.message(lock.refusal, ui::Icon::Warning);
        return false;
    }
    if (!lock.warning.isEmpty())
        qCWarning(lcApp).noquote() << lock.warning;
    measurementLock_ = std::move(lock.lock);
    return true;
}

void Application::warnWhileMeasuring(const QString& text)
{
    // Never waits for OK: these messages come from within a measurement cycle.
    dialogs_.notify(text, ui::Icon::Warning, {}, measurement_.data());
}

void Application::restartPublisher()
{
    // New settings apply at once while measuring; otherwise when the measurement starts. A window
    // that views the station publishes nothing: the station reads the new settings itself.
    if (measurement_ && !viewing_)
        outputs_.reload(true);
}

logger::Extraction* Application::extractionWindow() const
{
    return extraction_.data();
}

void Application::showExtraction(bool resetMode)
{
    if (!extraction_) {
        extraction_ = new logger::Extraction(dialogs_, programTitle_, directory_);
        extraction_->setAttribute(Qt::WA_DeleteOnClose);
        extraction_->Form_Load();
    } else {
        extraction_->show();
        extraction_->raise();
        extraction_->activateWindow();
    }
    // While an extraction runs neither button comes on: the mode applies when it ends.
    extraction_->setResetMode(resetMode);
}

history::ExportWindow* Application::historyExportWindow() const
{
    return historyExport_.data();
}

void Application::showHistoryExport()
{
    if (!historyExport_) {
        historyExport_ = new history::ExportWindow(dialogs_, windowTitlePrefix(), directory_);
        historyExport_->setAttribute(Qt::WA_DeleteOnClose);
        historyExport_->Form_Load();
    } else {
        historyExport_->show();
        historyExport_->raise();
        historyExport_->activateWindow();
    }
}

QString Application::windowTitlePrefix() const
{
    // The full title with its version comes with the configuration; a window opened before that
    // still says which program it belongs to.
    return programTitle_.isEmpty() ? QCoreApplication::applicationName() : programTitle_;
}

diagnostics::DiagnosticsWindow* Application::diagnosticsWindow() const
{
    return diagnostics_.data();
}

void Application::showDiagnostics()
{
    // While the station service measures the folder the counters that matter are its own; the
    // window's own are of a measurement that does not run.
    const bool ofStation = viewingStation() || (!measurement_ && stationMeasuresHere());
    if (diagnostics_ && diagnosticsOfStation_ != ofStation)
        delete diagnostics_.data();
    if (!diagnostics_)
        createDiagnostics(ofStation);
    diagnostics_->Form_Load();
}

void Application::createDiagnostics(bool ofStation)
{
    const auto channelName = [this](int channel) {
        // Reading a channel's tag would load the configuration: only once it is there.
        const QString number = QStringLiteral("Input %1").arg(channel);
        if (!channels_.isLoaded() || channels_.selected(channel) != 1)
            return number;
        const QString tag = channels_.tag(channel).trimmed();
        return tag.isEmpty() ? number : QStringLiteral("%1\n%2").arg(number, tag);
    };
    diagnosticsOfStation_ = ofStation;
    if (ofStation) {
        StationLink& link = linkToStation();
        link.start();
        diagnostics_ = new diagnostics::DiagnosticsWindow(diagnostics::DiagnosticsWindow::Services{
            link.counters(), [&link] { link.resetCounters(); },
            [&link, channelName](int channel) {
                // The station's tags: those it measures with.
                const auto& configuration = link.configuration();
                if (!configuration)
                    return channelName(channel);
                const QString number = QStringLiteral("Input %1").arg(channel);
                const feed::ChannelSetup& setup = configuration->channels.at(static_cast<size_t>(channel));
                const QString tag = setup.tag.trimmed();
                return !setup.selected || tag.isEmpty() ? number : QStringLiteral("%1\n%2").arg(number, tag);
            },
            windowTitlePrefix(), QStringLiteral(" - counters of the station service")});
        diagnostics_->setAttribute(Qt::WA_DeleteOnClose);
        const auto showState = [this, &link] {
            if (!diagnostics_)
                return;
            diagnostics_->refresh();
            diagnostics_->setPublishStatus(
                link.state() ? publish::describe(link.state()->mqtt)
                             : QStringLiteral("The station service cannot be reached: %1.").arg(link.unreachableReason()));
        };
        connect(&link, &StationLink::stateChanged, diagnostics_, showState);
        connect(&link, &StationLink::connectedChanged, diagnostics_, showState);
        showState();
        return;
    }
    diagnostics_ = new diagnostics::DiagnosticsWindow(diagnostics::DiagnosticsWindow::Services{
        outputs_.lineCounters(), [this] { resetLineCounters(); }, channelName, windowTitlePrefix()});
    diagnostics_->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &Application::visitRecorded, diagnostics_, &diagnostics::DiagnosticsWindow::refresh);
    connect(this, &Application::publishStatusChanged, diagnostics_,
            [this] { diagnostics_->setPublishStatus(publish::describe(publishStatus())); });
    diagnostics_->setPublishStatus(publish::describe(publishStatus()));
}

} // namespace app

namespace app {

history::TrendWindow* Application::trendWindow() const
{
    return trends_.data();
}

void Application::showTrends()
{
    if (trends_) {
        trends_->show();
        trends_->raise();
        trends_->activateWindow();
        return;
    }
    std::vector<history::TrendChannel> charted;
    for (int i = 0; i < config::kChannelCount; ++i) {
        const int16_t type = channels_.measurementType(i);
        if (channels_.selected(i) == 1 && config::isMeasurementType(type))
            charted.push_back({i, channels_.tag(i), config::measurementTypeTexts[std::size_t(type)].trimmed()});
    }
    trends_ = new history::TrendWindow(dialogs_, programTitle_, directory_, std::move(charted));
    trends_->setAttribute(Qt::WA_DeleteOnClose);
    trends_->Form_Load();
}

publish::MqttWindow* Application::mqttWindow() const
{
    return mqtt_.data();
}

void Application::showMqttSettings()
{
    if (!mqtt_) {
        // A dialog of the main window: the warnings it leaves when it closes stand over that.
        mqtt_ = new publish::MqttWindow({dialogs_, directory_, windowTitlePrefix()}, &mainWindow());
        mqtt_->setAttribute(Qt::WA_DeleteOnClose);
        // How publishing stands, kept up to date: a broker that cannot be reached shows here too.
        connect(this, &Application::publishStatusChanged, mqtt_, [this] { mqtt_->setPublishStatus(publishStatus()); });
        mqtt_->setPublishStatus(publishStatus());
        connect(mqtt_, &publish::MqttWindow::saved, this, &Application::mqttSettingsChanged);
        connect(mqtt_, &publish::MqttWindow::saved, this, &Application::restartPublisher);
    }
    mqtt_->Form_Load();
}

} // namespace app
