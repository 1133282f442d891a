#include "app/MeasurementOutputs.h"

#include "app/AlarmService.h"
#include "common/IniSections.h"
#include "diagnostics/FrameTrace.h"
#include "history/Recorder.h"
#include "measure/MeasurementSession.h"
#include "publish/PublisherThread.h"
#include "serial/SerialSettings.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

namespace app {

namespace {
// The shortest time between two saves of what an MQTT broker acknowledged.
constexpr int kAckSaveSeconds = 60;

bool sameMqtt(const publish::MqttSettings& a, const publish::MqttSettings& b)
{
    return a.enabled == b.enabled && a.host == b.host && a.port == b.port && a.tls == b.tls && a.caFile == b.caFile
        && a.username == b.username && a.passwordFile == b.passwordFile && a.site == b.site && a.qos == b.qos
        && a.format == b.format;
}
} // namespace

MeasurementOutputs::MeasurementOutputs(measure::MeasurementSession& session,
                                       const serial::SerialSettings& serialSettings, QString directory,
                                       QObject* parent)
    : QObject(parent)
    , serialSettings_(serialSettings)
    , directory_(std::move(directory))
{
    // The counters take each visit before any window that shows it, so that a panel's tooltip
    // reads counters that include its visit.
    connect(&session, &measure::MeasurementSession::lateReplyDiscarded, this,
            [this](int input, qint64 atMs) { lineCounters_.recordLateReply(input, atMs); });
    connect(&session, &measure::MeasurementSession::channelVisited, this,
            [this](int input, const diagnostics::Exchange& exchange) {
                if (trace_)
                    trace_->record(exchange, QStringLiteral("COM%1").arg(serialSettings_.portNumber));
                lineCounters_.recordVisit(input, exchange.endedAtMs, exchange.outcome, exchange.replyMs);
                emit visitRecorded(input);
            });
    connect(&session, &measure::MeasurementSession::cycleCompleted, this,
            [this](const std::vector<measure::Reading>& readings) {
                if (readings.empty())
                    return;
                // The publisher sends the cycle at once and follows the file for what it did not
                // send (an outage); without the history it keeps the readings itself.
                if (recorder_)
                    recorder_->recordCycle(readings);
                if (publisher_)
                    publisher_->cycleRecorded(readings);
                if (alarms_)
                    alarms_->readings(readings);
                // The recorder started a new file this cycle: the publisher reads it from its start.
                if (std::exchange(publisherLost_, false))
                    startPublisher(mqtt_, true);
            });
}

MeasurementOutputs::~MeasurementOutputs()
{
    stopAll();
}

void MeasurementOutputs::stopAll()
{
    // The publisher marks the rows of what the broker acknowledged before the recorder wrote
    // them: written first, they are not sent again after a restart.
    flushHistory();
    publisher_.reset();
    alarms_.reset();
    recorder_.reset();
    trace_.reset();
}

void MeasurementOutputs::report(const QString& iniDamage, const QStringList& settingsProblems)
{
    if (!iniDamage.isEmpty()) {
        if (iniDamage != iniDamage_)
            emit problem(QStringLiteral("%1; the history, MQTT, diagnostics and serial device settings use their "
                                        "defaults.")
                             .arg(iniDamage));
        iniDamage_ = iniDamage;
        return;
    }
    iniDamage_.clear();
    for (const QString& text : settingsProblems) {
        if (!text.isEmpty())
            emit problem(text);
    }
}

void MeasurementOutputs::start()
{
    if (started_)
        return;
    started_ = true;
    // Read once for every part: a damaged file is one message, not one per part.
    const common::IniFile ini = common::IniFile::inDirectory(directory_);
    history_ = history::HistorySettings::load(ini);
    diagnostics_ = diagnostics::DiagnosticsSettings::load(ini);
    mqtt_ = publish::MqttSettings::load(ini);
    report(ini.damage(), {history_.problem, diagnostics_.problem, mqtt_.problem});
    startRecorder(history_);
    startTrace(diagnostics_);
    // The publisher starts knowing the alarms in force.
    startAlarms(ini);
    startPublisher(mqtt_);
}

void MeasurementOutputs::startAlarms(const common::IniFile& ini)
{
    const alarms::AlarmSettings settings = alarms::AlarmSettings::load(ini);
    // A damaged file is told once, with the other parts; a problem already told is not told again.
    if (!ini.damaged() && !settings.problem.isEmpty() && settings.problem != alarmsProblem_)
        emit problem(settings.problem);
    alarmsProblem_ = settings.problem;
    if (!alarms_) {
        AlarmService::Options options;
        options.directory = directory_;
        options.history = recorder_ != nullptr;
        alarms_ = std::make_unique<AlarmService>(std::move(options));
        connect(alarms_.get(), &AlarmService::problem, this, &MeasurementOutputs::problem);
        connect(alarms_.get(), &AlarmService::logLine, this, &MeasurementOutputs::alarmLog);
        // To MQTT, whichever publisher runs at the time.
        connect(alarms_.get(), &AlarmService::alarmEvent, this, [this](const alarms::AlarmEvent& event) {
            if (publisher_)
                publisher_->alarmEvent(event);
        });
    }
    alarms_->setSettings(settings, ini.path());
}

void MeasurementOutputs::reload(bool forcePublisher)
{
    if (!started_)
        return;
    const common::IniFile ini = common::IniFile::inDirectory(directory_);
    const history::HistorySettings history = history::HistorySettings::load(ini);
    const diagnostics::DiagnosticsSettings diagnostics = diagnostics::DiagnosticsSettings::load(ini);
    const publish::MqttSettings mqtt = publish::MqttSettings::load(ini);
    const bool historyChanged = history.enabled != history_.enabled || history.retentionDays != history_.retentionDays
        || history.writeIntervalSeconds != history_.writeIntervalSeconds;
    // A problem already told is not told again.
    const auto fresh = [](const QString& now, const QString& before) { return now != before ? now : QString(); };
    report(ini.damage(), {fresh(history.problem, history_.problem), fresh(diagnostics.problem, diagnostics_.problem),
                          fresh(mqtt.problem, mqtt_.problem)});
    // The publisher reads what the recorder writes: a new recorder means a new publisher.
    const bool publisherChanged = forcePublisher || historyChanged || !sameMqtt(mqtt, mqtt_);
    if (publisherChanged) {
        publisher_.reset();
        publisherLost_ = false;
    }
    if (historyChanged) {
        recorder_.reset();
        startRecorder(history);
        if (alarms_)
            alarms_->setHistory(recorder_ != nullptr);
    }
    if (diagnostics.trace != diagnostics_.trace) {
        trace_.reset();
        startTrace(diagnostics);
    }
    // The publisher saves its acknowledgements as often as the new recorder commits.
    history_ = history;
    if (publisherChanged) {
        startPublisher(mqtt);
        emit publishStatusChanged();
    }
    diagnostics_ = diagnostics;
    mqtt_ = mqtt;
    startAlarms(ini);
}

void MeasurementOutputs::startTrace(const diagnostics::DiagnosticsSettings& settings)
{
    if (!settings.trace)
        return;
    diagnostics::FrameTrace::Options options;
    options.report = [this](const QString& text) { emit problem(text); };
    trace_ = std::make_unique<diagnostics::FrameTrace>(directory_, std::move(options));
}

void MeasurementOutputs::startRecorder(const history::HistorySettings& settings)
{
    if (!settings.enabled)
        return;
    history::Recorder::Options options;
    options.directory = directory_;
    options.retentionDays = settings.retentionDays;
    options.writeIntervalSeconds = settings.writeIntervalSeconds;
    options.report = [this](const QString& text) { emit problem(text); };
    // The publisher follows the file by row id, and the ids of a file the recorder gives up mean
    // nothing in the next one: it lets go of the old file now and starts again on the new one once
    // the cycle is written.
    options.fileLost = [this] {
        if (publisher_) {
            publisher_.reset();
            publisherLost_ = true;
        }
    };
    recorder_ = std::make_unique<history::Recorder>(std::move(options));
}

void MeasurementOutputs::startPublisher(const publish::MqttSettings& settings, bool sendRecorded)
{
    if (!settings.enabled)
        return;
    publish::Publisher::Options options;
    options.sendRecorded = sendRecorded;
    options.madeMs = QDateTime::currentMSecsSinceEpoch();
    options.settings = settings;
    options.directory = directory_;
    options.history = recorder_ != nullptr;
    // Each save of what the broker acknowledged is a synced commit of its own, a page of the log
    // as costly as a group of readings: once a minute (or per group, where groups are longer),
    // and with every cycle where the user chose a commit per cycle (0). A crash sends what was
    // acknowledged since the last save once more: duplicates, never a gap.
    if (recorder_)
        options.saveIntervalMs =
            history_.writeIntervalSeconds > 0 ? std::max(history_.writeIntervalSeconds, kAckSaveSeconds) * 1000 : 0;
    if (alarms_)
        options.alarmsNow = alarms_->alarms();
    publisher_ = std::make_unique<publish::PublisherThread>(std::move(options));
    connect(publisher_.get(), &publish::PublisherThread::fault, this, &MeasurementOutputs::problem);
    connect(publisher_.get(), &publish::PublisherThread::statusChanged, this,
            &MeasurementOutputs::publishStatusChanged);
    emit publishStatusChanged();
}

void MeasurementOutputs::flushHistory()
{
    if (recorder_)
        recorder_->flush();
}

publish::PublishStatus MeasurementOutputs::publishStatus() const
{
    return publisher_ ? publisher_->status() : publish::PublishStatus();
}

void MeasurementOutputs::resetLineCounters()
{
    lineCounters_.reset();
    emit visitRecorded(-1);
}

} // namespace app
