#include "Station.h"
#include "app/AlarmService.h"

#include "common/IniSections.h"
#include "common/Logging.h"
#include "common/MeasurementLock.h"
#include "config/MeasurementTypes.h"
#include "history/Recorder.h"
#include "serial/DeviceLock.h"
#include "serial/PortComFile.h"
#include "serial/PortDevices.h"
#include "serial/SerialDevices.h"
#include "serial/SerialPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace station {

namespace {
// A box's text on one log line: its paragraphs joined.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\n\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

bool isPortOutcome(const diagnostics::Outcome& outcome)
{
    return outcome.kind == diagnostics::OutcomeKind::PortClosed || outcome.kind == diagnostics::OutcomeKind::PortLost;
}
} // namespace

ui::Answer LogDialogs::message(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString&)
{
    if (icon == ui::Icon::Warning || icon == ui::Icon::Critical)
        qCWarning(lcStation).noquote() << oneLine(text);
    else
        qCInfo(lcStation).noquote() << oneLine(text);
    return buttons == ui::Buttons::Ok ? ui::Answer::Ok : ui::Answer::No;
}

void LogDialogs::notify(const QString& text, ui::Icon icon, const QString& title, QWidget*)
{
    message(text, icon, ui::Buttons::Ok, title);
}

void LogDialogs::ask(const QString& text, ui::Icon icon, ui::Buttons buttons, const QString& title,
                     std::function<void(ui::Answer)> onAnswer, QWidget*)
{
    const ui::Answer answer = message(text, icon, buttons, title);
    if (onAnswer)
        onAnswer(answer);
}

FileStamp FileStamp::of(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {true, info.size(), info.lastModified(), info.metadataChangeTime()};
}

Station::Station(QString directory, QObject* parent)
    : QObject(parent)
    , directory_(std::move(directory))
    , channels_(dialogs_, directory_)
    , session_(channels_, flags_, port_, serialSettings_)
    , outputs_(session_, serialSettings_, directory_)
    , configPath_(channels_.filePath())
    , portComPath_(serial::portComPath(directory_))
    , iniPath_(QDir(directory_).filePath(QString::fromLatin1(serial::kPortsFileName)))
    , feed_(directory_)
{
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &Station::tick);
    connect(&outputs_, &app::MeasurementOutputs::problem, this,
            [](const QString& text) { qCWarning(lcStation).noquote() << oneLine(text); });
    // Before the start: what the alarm commands left undone at the last stop is told then.
    connect(&outputs_, &app::MeasurementOutputs::alarmLog, this,
            [](const QString& text) { qCInfo(lcStation).noquote() << oneLine(text); });
    connect(&session_, &measure::MeasurementSession::cycleCompleted, this, &Station::cycleEnded);
    connect(&session_, &measure::MeasurementSession::channelVisited, this, &Station::visited);
    // Each visit goes out as soon as it ends, after the counters took it.
    connect(&session_, &measure::MeasurementSession::channelRead, this,
            [this](const measure::Reading& reading, const diagnostics::Exchange& exchange) {
                if (feed_.clientCount() > 0)
                    feed_.broadcast(feed::encodeVisit(reading, exchange.replyMs, exchange.endedAtMs));
            });
    connect(&session_, &measure::MeasurementSession::cycleCompleted, this,
            [this](const std::vector<measure::Reading>&, qint64 milliseconds) {
                ++cycles_;
                lastCycleMs_ = milliseconds;
            });
}

Station::~Station() = default;

QString Station::lineSettings() const
{
    // "9600 baud, no parity, 8 data bits, 1 stop bit", from the stored texts.
    static const char* const kParities[] = {"no parity", "even parity", "odd parity"};
    const int parity = serialSettings_.parityIndex >= 0 && serialSettings_.parityIndex <= 2 ? serialSettings_.parityIndex : 0;
    const QString stop = QString::fromLatin1(serialSettings_.stopBitsText).trimmed();
    return QStringLiteral("%1 baud, %2, %3 data bits, %4 stop bit%5")
        .arg(QString::fromLatin1(serialSettings_.rateText).trimmed(), QLatin1String(kParities[parity]),
             QString::fromLatin1(serialSettings_.dataBitsText).trimmed(), stop,
             stop == QLatin1String("1") ? QString() : QStringLiteral("s"));
}

QString Station::portName() const
{
    return QStringLiteral("COM%1 (%2)").arg(serialSettings_.portNumber).arg(device_);
}

bool Station::start(QString* refusal)
{
    common::MeasurementLock lock = common::lockMeasurement(directory_);
    if (lock.refused()) {
        *refusal = lock.refusal;
        return false;
    }
    if (!lock.warning.isEmpty())
        qCWarning(lcStation).noquote() << lock.warning;
    lock_ = std::move(lock.lock);
    loadPortChoices();
    serialSettings_ = serial::SerialSettings::defaults();
    reloadChannels(true);
    reloadSerial(true);
    configStamp_ = FileStamp::of(configPath_);
    portComStamp_ = FileStamp::of(portComPath_);
    iniStamp_ = FileStamp::of(iniPath_);
    device_ = serial::deviceForPort(serialSettings_.portNumber);

    // A device that another measurement holds is refused at once: measuring on would only log
    // that it cannot be opened, every second, for as long as the other runs.
    if (!session_.ensurePortOpen()) {
        if (const auto holder = serial::deviceHolder(device_); holder && *holder != QCoreApplication::applicationPid()) {
            *refusal = QStringLiteral("%1 is in use by process %2.").arg(portName()).arg(*holder);
            return false;
        }
        qCWarning(lcStation).noquote() << portName() << "cannot be opened:" << port_.errorString();
        portProblem_ = QStringLiteral("cannot be opened: %1").arg(port_.errorString());
    }
    connect(&session_, &measure::MeasurementSession::portFailed, this, [this](const QString& what) {
        qCWarning(lcStation).noquote() << portName() << what;
        portProblem_ = what;
        sendState();
    });
    connect(&session_, &measure::MeasurementSession::portRestored, this, [this] {
        qCInfo(lcStation).noquote() << portName() << "is back";
        portProblem_.clear();
        sendState();
    });

    outputs_.start();
    qCInfo(lcStation).noquote() << startLine();
    startFeed();
    notify_.status(statusLine());
    // The first cycle at once rather than a second later: a station restarted by its watchdog
    // has a gap to close.
    QTimer::singleShot(0, this, [this] {
        if (stopping_)
            return;
        notify_.ready();
        tick();
        timer_.start();
    });
    return true;
}

QString Station::startLine()
{
    config::ChannelConfiguration& channels = channels_;
    QStringList inputs;
    for (int i = 0; i < measure::kInputCount; ++i) {
        if (channels.selected(i) != 1)
            continue;
        const int16_t type = channels.measurementType(i);
        const QString typeName = config::isMeasurementType(type)
            ? config::measurementTypeTexts[static_cast<size_t>(type)].trimmed()
            : QStringLiteral("no type");
        inputs << QStringLiteral("%1 \"%2\" %3 at address %4%5")
                      .arg(i)
                      .arg(channels.tag(i), typeName, channels.stationAddress(i),
                           channels.isExt(i) ? QStringLiteral(" (Ext.)") : QString());
    }
    return QStringLiteral("Measuring in \"%1\" as process %2: %3, %4; inputs %5; history %6")
        .arg(QDir::toNativeSeparators(QDir(directory_).absolutePath()))
        .arg(QCoreApplication::applicationPid())
        .arg(portName(), lineSettings(),
             inputs.isEmpty() ? QStringLiteral("none selected") : inputs.join(QStringLiteral(", ")),
             outputs_.recorder() ? QStringLiteral("on") : QStringLiteral("off"));
}

QString Station::statusLine()
{
    int measured = 0;
    int valid = 0;
    QStringList failing;
    for (int i = 0; i < measure::kInputCount; ++i) {
        if (channels_.selected(i) != 1)
            continue;
        ++measured;
        const auto k = static_cast<size_t>(i);
        if (states_[k] == InputState::Valid)
            ++valid;
        else if (states_[k] == InputState::Failing)
            failing << QStringLiteral("input %1 %2").arg(i).arg(failures_[k]);
    }
    QString inputs = QStringLiteral("%1 of %2 inputs valid").arg(valid).arg(measured);
    if (!failing.isEmpty())
        inputs += QStringLiteral(" (%1)").arg(failing.join(QStringLiteral(", ")));
    const publish::PublishStatus mqtt = outputs_.publishStatus();
    const QString publishing = !mqtt.enabled ? QStringLiteral("MQTT off")
        : mqtt.connected                     ? QStringLiteral("MQTT connected to %1").arg(mqtt.destination)
                                             : QStringLiteral("MQTT not connected to %1").arg(mqtt.destination);
    return QStringLiteral("%1; %2 %3; history %4; %5")
        .arg(session_.portOutage() ? QStringLiteral("no input read") : inputs, portName(),
             session_.portOutage() ? QStringLiteral("not open") : QStringLiteral("open"),
             outputs_.recorder() ? QStringLiteral("on") : QStringLiteral("off"), publishing);
}

void Station::tick()
{
    if (stopping_ || flags_.CycleRunning)
        return;
    reloadChanged(std::exchange(reloadAll_, false));
    sendConfiguration();
    session_.tick();
}

void Station::cycleEnded()
{
    // Only a cycle that came to its end feeds the watchdog: a measurement hung in a cycle stops
    // the pings, and the service manager restarts it.
    notify_.watchdog();
    if (notify_.enabled())
        notify_.status(statusLine());
    sendState();
    if (stopping_)
        QTimer::singleShot(0, this, &Station::finish);
}

void Station::visited(int input, const diagnostics::Exchange& exchange)
{
    // The port's own lines tell of an outage; its inputs keep the state they had before it.
    if (isPortOutcome(exchange.outcome) || input < 0 || input >= measure::kInputCount)
        return;
    const auto k = static_cast<size_t>(input);
    const InputState next = exchange.ok() ? InputState::Valid : InputState::Failing;
    if (!exchange.ok())
        failures_[k] = exchange.outcome.describe();
    if (states_[k] == next)
        return;
    states_[k] = next;
    const QString name = QStringLiteral("Input %1 (\"%2\"):").arg(input).arg(channels_.tag(input));
    if (next == InputState::Valid)
        qCInfo(lcStation).noquote() << name << "valid reading";
    else
        qCWarning(lcStation).noquote() << name << "failing:" << failures_[k];
}

void Station::reload(const QString& by)
{
    // Applied before the next cycle, never in the middle of one; requests until then are one (a
    // client repeating the command cannot fill the log).
    if (std::exchange(reloadAll_, true))
        return;
    qCInfo(lcStation).noquote() << QStringLiteral("Reloading the settings (%1)").arg(by);
}

void Station::reloadChanged(bool all)
{
    const FileStamp config = FileStamp::of(configPath_);
    if (all || config != configStamp_) {
        configStamp_ = config;
        reloadChannels();
    }
    const FileStamp portCom = FileStamp::of(portComPath_);
    if (all || portCom != portComStamp_) {
        portComStamp_ = portCom;
        reloadSerial();
    }
    const FileStamp ini = FileStamp::of(iniPath_);
    if (all || ini != iniStamp_) {
        iniStamp_ = ini;
        reloadIni();
    }
}

void Station::reloadChannels(bool starting)
{
    // (Read only once loaded: a first read would load the file with its own messages.)
    std::array<config::ChannelConfig, measure::kInputCount> before{};
    for (int i = 0; i < measure::kInputCount && channels_.isLoaded(); ++i)
        before[static_cast<size_t>(i)] = channels_.channel(i);
    const common::SettingsReload reload = channels_.reloadChannelConfig();
    if (!reload.applied) {
        qCWarning(lcStation).noquote()
            << QStringLiteral("\"%1\" cannot be used: %2; %3 until it is mended.")
                   .arg(QString::fromLatin1(config::kConfigFileName), reload.problem,
                        starting ? QStringLiteral("no input is measured") : QStringLiteral("the previous configuration stays in force"));
        return;
    }
    if (starting) {
        if (!reload.problem.isEmpty())
            qCWarning(lcStation).noquote() << QStringLiteral("\"%1\": %2; measured with those values replaced.")
                                                  .arg(QString::fromLatin1(config::kConfigFileName), reload.problem);
        return;
    }
    if (!reload.problem.isEmpty())
        qCWarning(lcStation).noquote() << QStringLiteral("\"%1\" reloaded with values replaced: %2")
                                              .arg(QString::fromLatin1(config::kConfigFileName), reload.problem);
    else
        qCInfo(lcStation).noquote() << QStringLiteral("\"%1\" reloaded").arg(QString::fromLatin1(config::kConfigFileName));
    // An input that is measured anew, or differently, tells its state again.
    for (int i = 0; i < measure::kInputCount; ++i) {
        if (!(channels_.channel(i) == before[static_cast<size_t>(i)]))
            states_[static_cast<size_t>(i)] = InputState::Unknown;
    }
}

void Station::reloadSerial(bool starting)
{
    const serial::SerialSettings before = serialSettings_;
    const common::SettingsReload reload = serial::ReloadSerialSettings(serialSettings_, directory_);
    if (!reload.problem.isEmpty()) {
        const QString outcome = reload.applied || starting
            ? QStringLiteral("the station measures on COM%1 with %2").arg(serialSettings_.portNumber).arg(lineSettings())
            : QStringLiteral("the previous serial settings stay in force");
        qCWarning(lcStation).noquote() << QStringLiteral("\"%1\" cannot be used as it stands: %2; %3.")
                                              .arg(QString::fromLatin1(serial::kPortComFileName), reload.problem, outcome);
    }
    if (!reload.applied || starting)
        return;
    if (before.portNumber == serialSettings_.portNumber && before.settingsString() == serialSettings_.settingsString())
        return;
    device_ = serial::deviceForPort(serialSettings_.portNumber);
    qCInfo(lcStation).noquote() << QStringLiteral("\"%1\" reloaded: %2, %3")
                                       .arg(QString::fromLatin1(serial::kPortComFileName), portName(),
                                            lineSettings());
    // The next cycle opens the port with the new settings.
    serial::CloseSerialPort(port_);
}

void Station::loadPortChoices()
{
    // A file that cannot be read at all is logged once, for every part, by the outputs.
    const common::IniFile ini = common::IniFile::inDirectory(directory_);
    const serial::PortChoices ports = serial::PortChoices::load(ini);
    if (!ports.problem.isEmpty() && !ini.damaged())
        qCWarning(lcStation).noquote() << oneLine(ports.problem);
    serial::useChosenDevices(ports);
}

void Station::reloadIni()
{
    loadPortChoices();
    const QString device = serial::deviceForPort(serialSettings_.portNumber);
    if (device != device_) {
        device_ = device;
        qCInfo(lcStation).noquote() << QStringLiteral("\"zentlog.ini\" reloaded: %1").arg(portName());
        serial::CloseSerialPort(port_);
    }
    outputs_.reload();
}

void Station::shutdown()
{
    if (std::exchange(stopping_, true))
        return;
    timer_.stop();
    qCInfo(lcStation) << "Stopping";
    if (!flags_.CycleRunning) {
        finish();
        return;
    }
    // The cycle ends after the input under way. A station that does not answer would hold it
    // for its whole reply limit: past 1.5 s the port is closed, which ends the wait at once.
    flags_.StopRequest = flags_.stopMarker;
    QTimer::singleShot(1500, this, [this] {
        if (flags_.CycleRunning)
            serial::CloseSerialPort(port_);
    });
}

void Station::finish()
{
    notify_.stopping();
    session_.stop();
    outputs_.stopAll();
    feed_.close();
    lock_.reset();
    qCInfo(lcStation) << "Stopped";
    emit finished();
}

void Station::startFeed()
{
    connect(&feed_, &feed::FeedServer::notice, this, [](const QString& text) { qCWarning(lcStation).noquote() << text; });
    connect(&feed_, &feed::FeedServer::reloadRequested, this, [this] { reload(QStringLiteral("asked on the live feed")); });
    connect(&feed_, &feed::FeedServer::resetCountersRequested, this, [this] {
        // Counters that are already reset are left alone, so that repeating the command costs nothing.
        if (outputs_.lineCounters().total().visits == 0 && outputs_.lineCounters().recentFailures().empty())
            return;
        outputs_.resetLineCounters();
        qCInfo(lcStation) << "Line counters reset (asked on the live feed)";
        sendState();
    });
    // (What a new client is greeted with is not what the others were last sent: sendConfiguration
    // still tells them of a change.)
    feed_.setGreeting([this] {
        QByteArray greeting = feed::encodeConfiguration(feedConfiguration()) + feed::encodeState(feedState());
        if (outputs_.alarms())
            greeting += feed::encodeAlarms(outputs_.alarms()->alarms());
        return greeting;
    });
    if (app::AlarmService* alarms = outputs_.alarms()) {
        connect(alarms, &app::AlarmService::alarmEvent, this, [this](const alarms::AlarmEvent& event) {
            const alarms::Alarm& a = event.alarm;
            qCInfo(lcStation).noquote() << QStringLiteral("Alarm %1 (input %2, %3) %4")
                                               .arg(a.id)
                                               .arg(a.input)
                                               .arg(alarms::kindName(a.kind), alarms::eventName(event.type));
            if (feed_.clientCount() > 0)
                feed_.broadcast(feed::encodeAlarmEvent(event));
        });
        connect(&feed_, &feed::FeedServer::acknowledgeRequested, alarms, [alarms](qint64 id) {
            if (!alarms->acknowledge(id))
                qCInfo(lcStation).noquote() << QStringLiteral("Alarm %1 awaits no acknowledgement (asked on the live feed)").arg(id);
        });
        connect(&feed_, &feed::FeedServer::acknowledgeAllRequested, alarms, &app::AlarmService::acknowledgeAll);
    }
    sentConfiguration_ = feedConfiguration();
    // Without the feed the station still measures: the windows then cannot view it.
    if (const QString problem = feed_.listen(); !problem.isEmpty())
        qCWarning(lcStation).noquote() << QStringLiteral("No live feed for the windows: %1.").arg(problem);
    else
        qCInfo(lcStation).noquote() << QStringLiteral("Live feed on \"%1\"").arg(QDir::toNativeSeparators(feed_.path()));
}

feed::StationConfiguration Station::feedConfiguration()
{
    feed::StationConfiguration c;
    for (int i = 0; i < measure::kInputCount; ++i) {
        feed::ChannelSetup& setup = c.channels[static_cast<size_t>(i)];
        const int16_t type = channels_.measurementType(i);
        setup.selected = channels_.selected(i) == 1;
        setup.tag = channels_.tag(i);
        setup.type = config::isMeasurementType(type) ? type : -1;
        setup.typeName = config::isMeasurementType(type) ? config::measurementTypeTexts[static_cast<size_t>(type)].trimmed() : QString();
        setup.address = channels_.stationAddress(i);
        setup.block = channels_.IsChannelMaster(i).value_or(false) ? 0 : 20;
    }
    c.portNumber = serialSettings_.portNumber;
    c.port = QStringLiteral("COM%1").arg(serialSettings_.portNumber);
    c.device = device_;
    c.settings = QString::fromLatin1(serialSettings_.settingsString());
    return c;
}

feed::StationState Station::feedState()
{
    feed::StationState s;
    s.timeMs = QDateTime::currentMSecsSinceEpoch();
    s.pid = QCoreApplication::applicationPid();
    s.port = QStringLiteral("COM%1").arg(serialSettings_.portNumber);
    s.device = device_;
    s.portOpen = port_.PortOpen() && !session_.portOutage();
    s.portProblem = s.portOpen ? QString() : portProblem_;
    for (int i = 0; i < measure::kInputCount; ++i)
        s.channels[static_cast<size_t>(i)] = channels_.selected(i) == 1 && config::isMeasurementType(channels_.measurementType(i));
    s.counters = outputs_.lineCounters();
    s.historyOn = outputs_.recorder() != nullptr;
    s.history = s.historyOn ? QStringLiteral("recording in \"%1\"").arg(QDir::toNativeSeparators(outputs_.recorder()->filePath()))
                            : QStringLiteral("off");
    s.mqtt = outputs_.publishStatus();
    s.cycles = cycles_;
    s.lastCycleMs = lastCycleMs_;
    return s;
}

void Station::sendState()
{
    if (feed_.clientCount() > 0)
        feed_.broadcast(feed::encodeState(feedState()));
}

void Station::sendConfiguration()
{
    feed::StationConfiguration now = feedConfiguration();
    if (now == sentConfiguration_)
        return;
    sentConfiguration_ = std::move(now);
    feed_.broadcast(feed::encodeConfiguration(sentConfiguration_));
}

} // namespace station
