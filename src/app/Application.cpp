#include "app/Application.h"

#include "app/ZENTLOG.h"
#include "measure/F_Mesure.h"
#include "measure/StationReaders.h"
#include "measure/ValueText.h"
#include "config/ConfigW.h"
#include "diagnostics/DiagnosticsSettings.h"
#include "diagnostics/DiagnosticsWindow.h"
#include "diagnostics/FrameTrace.h"
#include "history/ExportWindow.h"
#include "history/HistorySettings.h"
#include "history/Recorder.h"
#include "history/TrendWindow.h"
#include "logger/Extraction.h"
#include "publish/MqttSettings.h"
#include "publish/MqttWindow.h"
#include "publish/PublisherThread.h"
#include "serial/ConfLS.h"
#include "serial/PortComFile.h"
#include "serial/PortDevices.h"
#include "common/Logging.h"
#include "ui/Dialogs.h"

#include <QCoreApplication>

namespace app {

Application::Application(ui::Dialogs& dialogs, std::unique_ptr<serial::SerialControl> port, QString directory)
    : dialogs_(dialogs)
    , port_(std::move(port))
    , directory_(std::move(directory))
    , channels_(dialogs, directory_)
    , quitHandler_([] { QCoreApplication::exit(0); })
    , reader_([this](int16_t type, double address, int16_t startRegister) {
        // The reader decodes into the shared values, and the channel's text is made from them
        // before the next channel is read.
        measure::ChannelRead read;
        read.exchange = measure::ReadStation(type, *port_, address, startRegister, stationValues_, {}, &lateReplies_);
        if (read.exchange.ok())
            read.value = measure::FormatChannelReading(type, stationValues_);
        return read;
    })
{
    // The live configuration is held by the configuration window: the first read of a channel
    // setting creates the window, and its load reads "config.txt".
    channels_.setFirstAccessHook([this] {
        if (!configW_)
            createApplicationConfig();
    });
    // The device chosen for each port is read once, here; the device chooser of the serial
    // interface window tells what was wrong in the file, and replaces the choices when it stores.
    const serial::PortChoices ports = serial::PortChoices::load(directory_);
    if (!ports.problem.isEmpty())
        qCWarning(lcSerial).noquote() << ports.problem;
    serial::useChosenDevices(ports);
}

Application::~Application()
{
    delete measurement_.data();
    publisher_.reset();
    recorder_.reset();
    trace_.reset();
    delete extraction_.data();
    delete historyExport_.data();
    delete diagnostics_.data();
    delete trends_.data();
    delete mqtt_.data();
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

void Application::startMeasurement()
{
    const bool loading = !measurement_;
    if (loading) {
        measurement_ = new measure::F_Mesure(measure::MeasurementContext{
            dialogs_, channels_, flags_, *port_, serialSettings_, programTitle_, directory_, reader_,
            [this] { showMainWindowAgain(); }, [this] { quit(); },
            [this](std::vector<measure::Reading> readings) {
                // The publisher reads what the recorder wrote; without the history it keeps the
                // readings itself.
                if (publisher_)
                    publisher_->cycleRecorded(readings);
                if (recorder_)
                    recorder_->recordCycle(std::move(readings));
            },
            [this](int channel, const diagnostics::Exchange& exchange) { recordVisit(channel, exchange); },
            &lineCounters_, [this] { showDiagnostics(); }, [this] { showTrends(); }});
        measurement_->setWindowState(Qt::WindowMaximized);
        measurement_->Form_Load();
    }
    measurement_->setWindowState(measurement_->windowState() | Qt::WindowMaximized);
    measurement_->show();
    measurement_->raise();
    // Once the measurement window is up, so that a message about the history stands over it.
    if (loading) {
        startRecorder();
        startTrace();
        startPublisher();
    }
    measurement_->Minuterie1().setInterval(1000);
    measurement_->Minuterie1().start();
}

void Application::recordVisit(int channel, const diagnostics::Exchange& exchange)
{
    if (trace_)
        trace_->record(exchange, QStringLiteral("COM%1").arg(serialSettings_.portNumber));
    lineCounters_.recordVisit(channel, exchange.endedAtMs, exchange.outcome, exchange.replyMs);
    if (!exchange.request.isEmpty()) {
        const diagnostics::StationBlock block{static_cast<uint8_t>(exchange.request[0]),
                                              (static_cast<uint8_t>(exchange.request[2]) << 8)
                                                  | static_cast<uint8_t>(exchange.request[3])};
        requestedBy_[block] = channel;
    }
    // A late reply is counted for the channel whose request it answered.
    for (const diagnostics::StationBlock& late : exchange.lateReplies) {
        if (const auto owner = requestedBy_.find(late); owner != requestedBy_.end())
            lineCounters_.recordLateReply(owner->second, exchange.endedAtMs);
    }
    emit visitRecorded(channel);
}

void Application::resetLineCounters()
{
    lineCounters_.reset();
    emit visitRecorded(-1);
}

void Application::warnWhileMeasuring(const QString& text)
{
    // Never waits for OK: these messages come from within a measurement cycle.
    dialogs_.notify(text, ui::Icon::Warning, {}, measurement_.data());
}

void Application::startTrace()
{
    if (trace_)
        return;
    const diagnostics::DiagnosticsSettings settings = diagnostics::DiagnosticsSettings::load(directory_);
    if (!settings.problem.isEmpty())
        warnWhileMeasuring(settings.problem);
    if (!settings.trace)
        return;
    diagnostics::FrameTrace::Options options;
    options.report = [this](const QString& text) { warnWhileMeasuring(text); };
    trace_ = std::make_unique<diagnostics::FrameTrace>(directory_, std::move(options));
}

void Application::startRecorder()
{
    if (recorder_)
        return;
    const history::HistorySettings settings = history::HistorySettings::load(directory_);
    if (!settings.problem.isEmpty())
        warnWhileMeasuring(settings.problem);
    if (!settings.enabled)
        return;
    history::Recorder::Options options;
    options.directory = directory_;
    options.retentionDays = settings.retentionDays;
    options.report = [this](const QString& text) { warnWhileMeasuring(text); };
    recorder_ = std::make_unique<history::Recorder>(std::move(options));
}

void Application::startPublisher()
{
    if (publisher_)
        return;
    const publish::MqttSettings settings = publish::MqttSettings::load(directory_);
    if (!settings.problem.isEmpty())
        warnWhileMeasuring(settings.problem);
    if (!settings.enabled)
        return;
    publish::Publisher::Options options;
    options.settings = settings;
    options.directory = directory_;
    options.history = recorder_ != nullptr;
    publisher_ = std::make_unique<publish::PublisherThread>(std::move(options));
    connect(publisher_.get(), &publish::PublisherThread::fault, this, &Application::warnWhileMeasuring);
    connect(publisher_.get(), &publish::PublisherThread::statusChanged, this, &Application::showPublishStatus);
    showPublishStatus();
}

void Application::restartPublisher()
{
    // New settings apply at once while measuring; otherwise when the measurement starts.
    if (!measurement_)
        return;
    publisher_.reset();
    startPublisher();
    showPublishStatus();
}

void Application::showPublishStatus()
{
    emit publishStatusChanged();
}

publish::PublishStatus Application::publishStatus() const
{
    return publisher_ ? publisher_->status() : publish::PublishStatus();
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
        historyExport_ = new history::ExportWindow(dialogs_, programTitle_, directory_);
        historyExport_->setAttribute(Qt::WA_DeleteOnClose);
        historyExport_->Form_Load();
    } else {
        historyExport_->show();
        historyExport_->raise();
        historyExport_->activateWindow();
    }
}

diagnostics::DiagnosticsWindow* Application::diagnosticsWindow() const
{
    return diagnostics_.data();
}

void Application::showDiagnostics()
{
    if (!diagnostics_) {
        diagnostics_ = new diagnostics::DiagnosticsWindow(diagnostics::DiagnosticsWindow::Services{
            lineCounters_, [this] { resetLineCounters(); },
            [this](int channel) {
                // Reading a channel's tag would load the configuration: only once it is there.
                const QString number = QStringLiteral("Channel %1").arg(channel + 1);
                if (!channels_.isLoaded() || channels_.selected(channel) != 1)
                    return number;
                const QString tag = channels_.tag(channel).trimmed();
                return tag.isEmpty() ? number : QStringLiteral("%1\n%2").arg(number, tag);
            },
            programTitle_});
        diagnostics_->setAttribute(Qt::WA_DeleteOnClose);
        connect(this, &Application::visitRecorded, diagnostics_, &diagnostics::DiagnosticsWindow::refresh);
        connect(this, &Application::publishStatusChanged, diagnostics_,
                [this] { diagnostics_->setPublishStatus(publish::describe(publishStatus())); });
        diagnostics_->setPublishStatus(publish::describe(publishStatus()));
    }
    diagnostics_->Form_Load();
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
        mqtt_ = new publish::MqttWindow({dialogs_, directory_}, &mainWindow());
        mqtt_->setAttribute(Qt::WA_DeleteOnClose);
        connect(mqtt_, &publish::MqttWindow::saved, this, &Application::mqttSettingsChanged);
        connect(mqtt_, &publish::MqttWindow::saved, this, &Application::restartPublisher);
    }
    mqtt_->Form_Load();
}

} // namespace app
