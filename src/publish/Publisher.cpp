#include "publish/Publisher.h"

#include "common/Logging.h"
#include "publish/BdSeqStore.h"
#include "publish/JsonAlarm.h"
#include "publish/JsonReading.h"
#include "publish/MqttClient.h"
#include "publish/SparkplugSession.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>
#include <limits>

namespace publish {

namespace {

constexpr qint64 kNoEnd = std::numeric_limits<qint64>::max();
constexpr int kLiveBatch = 500;
// A save of the acknowledgements that failed is tried again after this long.
constexpr int kSaveRetryMs = 2000;
// Alarm events are few: as many as a long outage of the history disk may raise.
constexpr std::size_t kNotInHistoryLimit = 10000;

QString inDirectory(const QString& directory, const QString& file)
{
    if (file.isEmpty() || QDir::isAbsolutePath(file))
        return file;
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(file);
}

} // namespace

QString describe(const PublishStatus& status)
{
    if (!status.enabled)
        return {};
    const QString state = status.connected    ? QStringLiteral("connected")
                          : status.connecting ? QStringLiteral("connecting")
                                              : QStringLiteral("not connected");
    QString text = QStringLiteral("MQTT %1: %2, %3 readings sent, %4 acknowledged, %5 to backfill.")
                       .arg(status.destination, state)
                       .arg(status.sent)
                       .arg(status.acknowledged)
                       .arg(status.pendingBackfill);
    if (!status.connected && !status.connecting && !status.problem.isEmpty())
        text += QStringLiteral(" ") + status.problem;
    return text;
}

Publisher::Publisher(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
    , site_(options_.settings.effectiveSite())
    , source_(std::move(options_.source))
{
    if (!source_) {
        if (options_.history)
            source_ = std::make_unique<HistorySource>(options_.directory);
        else
            source_ = std::make_unique<MemorySource>(options_.memoryLimit);
    }
    memory_ = dynamic_cast<MemorySource*>(source_.get());
    alarmSource_ = std::move(options_.alarmSource);
    if (!alarmSource_) {
        if (options_.history)
            alarmSource_ = std::make_unique<HistoryAlarmEvents>(options_.directory);
        else
            alarmSource_ = std::make_unique<MemoryAlarmEvents>();
    }
    memoryAlarms_ = dynamic_cast<MemoryAlarmEvents*>(alarmSource_.get());
    for (const alarms::Alarm& alarm : options_.alarmsNow)
        alarmsNow_[alarm.id] = alarm;
    const MqttSettings& settings = options_.settings;
    if (settings.format == Format::Sparkplug) {
        sparkplug_ = std::make_unique<SparkplugSession>(site_, settings.qos);
        bdSeqStore_ = std::make_unique<BdSeqStore>(inDirectory(options_.directory, QLatin1String(kBdSeqFileName)));
    }

    MqttClient::Options client;
    client.host = settings.host;
    client.port = settings.effectivePort();
    client.tls = settings.useTls();
    client.caFile = inDirectory(options_.directory, settings.caFile);
    client.username = settings.username;
    if (!settings.passwordFile.isEmpty()) {
        const PasswordFile password = readPasswordFile(inDirectory(options_.directory, settings.passwordFile));
        client.password = password.password;
        // Reported when the publisher starts, once the caller listens.
        for (const QString& problem : {password.problem, password.warning}) {
            if (!problem.isEmpty())
                startProblems_.append(problem);
        }
    }
    client.clientId = options_.clientId.isEmpty() ? QStringLiteral("zentlog-") + site_ : options_.clientId;
    client.reconnectDelayMaxMs = options_.reconnectDelayMaxMs;
    // Room for the live readings beside a full backfill window, so that they never wait for it.
    client.maxInflight = options_.backfillInFlight + 100;
    client.will = [this]() -> std::optional<Message> {
        if (sparkplug_) {
            // Asked before every CONNECT: each one takes the next bdSeq, kept on disk first, so
            // that a host never takes the late NDEATH of a killed run for the death of this one.
            // An attempt that fails uses up its number; a gap is harmless, a repeat is not.
            sparkplug_->setBdSeq(bdSeqStore_->take(destinationKey(options_.settings)));
            if (!bdSeqStore_->problem().isEmpty())
                report(bdSeqStore_->problem());
            return sparkplug_->nodeDeath();
        }
        return statusMessage(site_, false);
    };
    client_ = new MqttClient(std::move(client), this);
    connect(client_, &MqttClient::connecting, this, [this] {
        // The reason the previous attempt failed is no news about this one.
        connecting_ = true;
        lastProblem_.clear();
        emit statusChanged();
    });
    connect(client_, &MqttClient::connected, this, &Publisher::onConnected);
    connect(client_, &MqttClient::disconnected, this, &Publisher::onDisconnected);
    connect(client_, &MqttClient::acknowledged, this, &Publisher::onAcknowledged);
    connect(client_, &MqttClient::received, this, &Publisher::onReceived);
    connect(client_, &MqttClient::fault, this, &Publisher::report);

    saveTimer_.setSingleShot(true);
    connect(&saveTimer_, &QTimer::timeout, this, &Publisher::saveAcked);
    backfillTimer_.setInterval(options_.backfillIntervalMs);
    connect(&backfillTimer_, &QTimer::timeout, this, &Publisher::backfillStep);
}

Publisher::~Publisher()
{
    stop();
}

QString destinationKey(const MqttSettings& settings)
{
    return QStringLiteral("%1 %2 %3")
        .arg(settings.destination(), settings.effectiveSite(),
             settings.format == Format::Sparkplug ? QStringLiteral("sparkplug") : QStringLiteral("json"));
}

void Publisher::start()
{
    // The problems found while reading the settings' files, said now that someone listens.
    for (const QString& message : std::exchange(startProblems_, {}))
        report(message);
    // Where a broker never published to starts: what was recorded before the publisher was made.
    const auto firstStart = [this](auto& source) {
        return options_.madeMs > 0 ? source.newestBefore(options_.madeMs) : source.newest();
    };
    if (std::optional<AckedRanges> acked = source_->loadAcked(destinationKey(options_.settings))) {
        acked_ = std::move(*acked);
    } else {
        // Never published to this broker: what was recorded before is not sent. (Row ids start
        // at 1: up to 0 is nothing, and is kept as a row of its own.)
        acked_ = AckedRanges::upTo(options_.sendRecorded ? 0 : firstStart(*source_));
        ackedDirty_ = true;
        saveAcked();
    }
    if (std::optional<AckedRanges> acked = source_->loadAcked(alarmDestinationKey())) {
        alarmAcked_ = std::move(*acked);
    } else {
        alarmAcked_ = AckedRanges::upTo(options_.sendRecorded ? 0 : firstStart(*alarmSource_));
        alarmAckedDirty_ = true;
        saveAcked();
    }
    if (!source_->problem().isEmpty())
        report(source_->problem());
    pendingBackfill_ = 0;
    if (sparkplug_)
        client_->subscribe(sparkplug_->topic("NCMD"), 1);
    qCInfo(lcPublish) << "publishing to" << options_.settings.destination() << "as site" << site_;
    if (const QString note = options_.settings.siteRewriteNote(); !note.isEmpty())
        qCWarning(lcPublish).noquote() << note;
    client_->start();
    emit statusChanged();
}

void Publisher::stop()
{
    if (!client_)
        return;
    backfillTimer_.stop();
    // The recorder writes what waited when the measurement stops: the rows the broker
    // acknowledged from their cycle are kept as acknowledged, not sent again after a restart.
    for (std::vector<StoredReading> rows;
         !fromCycle_.empty() && !(rows = source_->readings(liveNext_ - 1, kNoEnd, kLiveBatch)).empty();) {
        for (const StoredReading& stored : rows) {
            matchPublished(stored);
            liveNext_ = stored.seq + 1;
        }
    }
    saveAcked();
    if (connected_) {
        // A clean disconnect sends no will: say it ourselves.
        client_->publish(sparkplug_ ? sparkplug_->nodeDeath() : statusMessage(site_, false));
    }
    client_->stop();
    connected_ = false;
    connecting_ = false;
    inFlight_.clear();
    backfillInFlight_ = 0;
}

void Publisher::publishCycle(const std::vector<measure::Reading>& readings)
{
    for (const measure::Reading& reading : readings) {
        if (reading.timeMs <= liveFromFileMs_)
            continue; // sent from the file already
        const int mid = sendReading(reading, false);
        if (mid < 0)
            break; // the rest goes from the file
        const CycleKey key{reading.timeMs, reading.channel};
        fromCycle_[key] = mid;
        if (mid > 0)
            inFlight_[mid] = {0, false, false, key};
    }
    while (fromCycle_.size() > options_.memoryLimit)
        fromCycle_.erase(fromCycle_.begin());
}

bool Publisher::matchPublished(const StoredReading& stored)
{
    const auto it = fromCycle_.find({stored.reading.timeMs, stored.reading.channel});
    if (it == fromCycle_.end())
        return false;
    const int mid = it->second;
    fromCycle_.erase(it);
    if (mid == 0) {
        acked_.add(stored.seq);
        ackedChanged();
        return true;
    }
    const auto flight = inFlight_.find(mid);
    if (flight == inFlight_.end() || flight->second.fromCycle != CycleKey{stored.reading.timeMs, stored.reading.channel})
        return false;
    // Its acknowledgement now counts for the row.
    flight->second.seq = stored.seq;
    flight->second.fromCycle.reset();
    return true;
}

void Publisher::cycleRecorded(std::vector<measure::Reading> readings)
{
    const auto count = qint64(readings.size());
    if (options_.saveIntervalMs <= 0)
        saveAcked(); // what the broker acknowledged of the cycles before
    if (memory_) {
        const std::size_t droppedBefore = memory_->dropped();
        memory_->add(readings);
        if (memory_->dropped() > droppedBefore)
            report(QStringLiteral("The MQTT broker %1 has not acknowledged the readings for a long time: only the "
                                  "latest %2 are kept for it, older ones are dropped.")
                       .arg(options_.settings.destination())
                       .arg(options_.memoryLimit));
    }
    if (connected_) {
        if (!memory_)
            publishCycle(readings);
        publishLive();
        // Alarm events the history had not written yet when they were announced.
        publishAlarmsLive();
    } else {
        pendingBackfill_ += count;
    }
    emit statusChanged();
}

QString Publisher::alarmDestinationKey() const
{
    return destinationKey(options_.settings) + QStringLiteral(" alarms");
}

void Publisher::alarmEvent(const alarms::AlarmEvent& event)
{
    if (memoryAlarms_) {
        memoryAlarms_->add(event);
    } else if (!event.inHistory) {
        notInHistory_.push_back(event);
        if (notInHistory_.size() > kNotInHistoryLimit)
            notInHistory_.pop_front();
    }
    if (event.alarm.state() == alarms::AlarmState::Normal)
        alarmsNow_.erase(event.alarm.id);
    else
        alarmsNow_[event.alarm.id] = event.alarm;
    if (!connected_)
        return;
    publishAlarmsLive();
    publishAlarmState(event.alarm.input);
}

void Publisher::publishAlarmState(int input)
{
    // Sparkplug B has no retained messages: its hosts keep the state from the metrics.
    if (sparkplug_ || input < 0 || input >= alarms::kInputCount)
        return;
    std::vector<alarms::Alarm> now;
    for (const auto& [id, alarm] : alarmsNow_)
        now.push_back(alarm);
    client_->publish(alarmStateMessage(site_, input, now, options_.settings.qos));
}

void Publisher::publishAlarmsLive()
{
    while (!notInHistory_.empty()) {
        if (!publishAlarmEvent({0, notInHistory_.front()}, false))
            return;
        notInHistory_.pop_front();
    }
    for (;;) {
        const std::vector<StoredAlarmEvent> batch = alarmSource_->events(alarmLiveNext_ - 1, kLiveBatch);
        for (const StoredAlarmEvent& stored : batch) {
            if (!publishAlarmEvent(stored, false))
                return;
            alarmLiveNext_ = stored.seq + 1;
        }
        if (int(batch.size()) < kLiveBatch)
            break;
    }
}

void Publisher::backfillAlarms()
{
    // Alarm events are few: the whole backlog in steps, within the backfill's window.
    while (connected_ && alarmBackfillNext_ < alarmLiveFrom_ && backfillInFlight_ < options_.backfillInFlight) {
        const std::vector<StoredAlarmEvent> batch =
            alarmSource_->events(alarmBackfillNext_ - 1, options_.backfillBatch);
        if (batch.empty()) {
            alarmBackfillNext_ = alarmLiveFrom_;
            break;
        }
        for (const StoredAlarmEvent& stored : batch) {
            if (stored.seq >= alarmLiveFrom_) {
                alarmBackfillNext_ = alarmLiveFrom_;
                return;
            }
            if (!alarmAcked_.contains(stored.seq) && !publishAlarmEvent(stored, true))
                return;
            alarmBackfillNext_ = stored.seq + 1;
        }
    }
}

bool Publisher::publishAlarmEvent(const StoredAlarmEvent& stored, bool backfill)
{
    const auto nothingToWaitFor = [&] {
        alarmAcked_.add(stored.seq);
        ackedChanged(true);
        return true;
    };
    if (stored.event.alarm.id == 0)
        return nothingToWaitFor(); // a row this version cannot read
    int dataMid = 0;
    if (sparkplug_) {
        const SparkplugSession::ReadingMessages out =
            sparkplug_->alarm(stored.event, backfill, QDateTime::currentMSecsSinceEpoch());
        if (out.dataIndex < 0)
            return nothingToWaitFor(); // an input that does not exist
        for (int i = 0; i < int(out.messages.size()); ++i) {
            const int mid = client_->publish(out.messages[std::size_t(i)]);
            if (mid == 0)
                return false;
            if (i == out.dataIndex)
                dataMid = mid;
        }
    } else {
        dataMid = client_->publish(alarmEventMessage(site_, stored.event, backfill, options_.settings.qos));
        if (dataMid == 0)
            return false;
    }
    inFlight_[dataMid] = {stored.seq, backfill, true};
    if (backfill)
        ++backfillInFlight_;
    return true;
}

PublishStatus Publisher::status() const
{
    PublishStatus status;
    status.enabled = true;
    status.connected = connected_;
    status.connecting = connecting_;
    status.destination = options_.settings.destination();
    status.sent = sent_;
    status.acknowledged = acknowledgedCount_;
    status.pendingBackfill = std::max<qint64>(pendingBackfill_, 0);
    status.problem = lastProblem_;
    return status;
}

void Publisher::onConnected()
{
    connected_ = true;
    connecting_ = false;
    lastProblem_.clear();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (sparkplug_) {
        for (const Message& message : sparkplug_->births(now))
            client_->publish(message);
    } else {
        client_->publish(statusMessage(site_, true));
    }
    // Everything recorded up to now and not acknowledged is the backlog; what comes later is live.
    liveFrom_ = source_->newest() + 1;
    liveNext_ = liveFrom_;
    backfillNext_ = acked_.nextUnacked(-1);
    pendingBackfill_ = unackedBefore(liveFrom_);
    alarmLiveFrom_ = alarmSource_->newest() + 1;
    alarmLiveNext_ = alarmLiveFrom_;
    alarmBackfillNext_ = alarmAcked_.nextUnacked(-1);
    // The retained alarm state of every input, as it is now (a broker may have lost it).
    for (int input = 0; input < alarms::kInputCount; ++input)
        publishAlarmState(input);
    publishAlarmsLive(); // the events the history could not take, held meanwhile
    qCInfo(lcPublish) << "connected to" << options_.settings.destination() << "," << pendingBackfill_
                      << "readings to backfill";
    if (pendingBackfill_ > 0 || alarmBackfillNext_ < alarmLiveFrom_) {
        backfillTimer_.start();
        backfillStep();
    }
    emit statusChanged();
}

void Publisher::onDisconnected(const QString& reason)
{
    const bool was = connected_;
    connected_ = false;
    connecting_ = false;
    lastProblem_ = reason;
    inFlight_.clear();
    backfillInFlight_ = 0;
    backfillTimer_.stop();
    // What was not acknowledged is sent from the file once its rows are there.
    std::erase_if(fromCycle_, [](const auto& published) { return published.second != 0; });
    if (sparkplug_ && was)
        sparkplug_->sessionEnded();
    if (was) {
        qCWarning(lcPublish) << "connection to" << options_.settings.destination() << "lost:" << reason;
        saveAcked();
        // Whatever was not acknowledged goes out again as backfill.
        pendingBackfill_ = unackedBefore(source_->newest() + 1);
    }
    emit statusChanged();
}

qint64 Publisher::unackedBefore(qint64 end)
{
    qint64 count = 0;
    for (qint64 from = acked_.nextUnacked(-1); from < end;) {
        const std::optional<AckedRanges::Range> next = acked_.rangeFrom(from);
        count += source_->count(from - 1, next ? std::min(next->first, end) : end);
        if (!next)
            break;
        from = next->second + 1;
    }
    return count;
}

void Publisher::onAcknowledged(int mid)
{
    const auto it = inFlight_.find(mid);
    if (it == inFlight_.end())
        return; // a birth or the status
    const InFlight done = it->second;
    inFlight_.erase(it);
    if (done.fromCycle) {
        // Its row is not read yet: marked when it is.
        if (const auto published = fromCycle_.find(*done.fromCycle);
            published != fromCycle_.end() && published->second == mid)
            published->second = 0;
        ++acknowledgedCount_;
        emit statusChanged();
        return;
    }
    if (done.alarm) {
        alarmAcked_.add(done.seq);
        if (done.backfill)
            --backfillInFlight_;
        ackedChanged(true);
        return;
    }
    acked_.add(done.seq);
    ++acknowledgedCount_;
    if (done.backfill) {
        --backfillInFlight_;
        --pendingBackfill_;
    }
    ackedChanged();
    emit statusChanged();
}

void Publisher::onReceived(const QString& topic, const QByteArray& payload)
{
    // A host application asks the node to be born again (after it restarted, for example).
    if (sparkplug_ && connected_ && topic == sparkplug_->topic("NCMD") && SparkplugSession::isRebirthRequest(payload)) {
        for (const Message& message : sparkplug_->births(QDateTime::currentMSecsSinceEpoch()))
            client_->publish(message);
    }
}

void Publisher::publishLive()
{
    for (;;) {
        const std::vector<StoredReading> batch = source_->readings(liveNext_ - 1, kNoEnd, kLiveBatch);
        for (const StoredReading& stored : batch) {
            if (!matchPublished(stored)) {
                if (!publishReading(stored, false))
                    return;
                liveFromFileMs_ = std::max(liveFromFileMs_, stored.reading.timeMs);
            }
            liveNext_ = stored.seq + 1;
        }
        if (int(batch.size()) < kLiveBatch)
            break;
    }
}

void Publisher::backfillStep()
{
    backfillAlarms();
    int budget = std::min(options_.backfillBatch, options_.backfillInFlight - backfillInFlight_);
    // A few empty stretches (readings the retention deleted) are skipped per step at most.
    for (int stretches = 0; connected_ && budget > 0 && backfillNext_ < liveFrom_ && stretches < 8; ++stretches) {
        backfillNext_ = acked_.nextUnacked(backfillNext_ - 1);
        const std::optional<AckedRanges::Range> next = acked_.rangeFrom(backfillNext_);
        const qint64 before = next ? std::min(next->first, liveFrom_) : liveFrom_;
        const std::vector<StoredReading> batch = source_->readings(backfillNext_ - 1, before, budget);
        if (batch.empty()) {
            backfillNext_ = before;
            continue;
        }
        for (const StoredReading& stored : batch) {
            // Published from its cycle before the recorder wrote it (while a connection came).
            if (matchPublished(stored)) {
                --pendingBackfill_;
            } else {
                if (!publishReading(stored, true))
                    return;
                --budget;
            }
            backfillNext_ = stored.seq + 1;
        }
    }
    if (backfillNext_ >= liveFrom_ && alarmBackfillNext_ >= alarmLiveFrom_)
        backfillTimer_.stop();
}

int Publisher::sendReading(const measure::Reading& reading, bool backfill)
{
    if (!sparkplug_) {
        const int mid = client_->publish(readingMessage(site_, reading, backfill, options_.settings.qos));
        if (mid == 0)
            return -1;
        ++sent_;
        return mid;
    }
    const SparkplugSession::ReadingMessages out =
        sparkplug_->reading(reading, backfill, QDateTime::currentMSecsSinceEpoch());
    int dataMid = 0;
    for (int i = 0; i < int(out.messages.size()); ++i) {
        const int mid = client_->publish(out.messages[std::size_t(i)]);
        if (mid == 0)
            return -1;
        if (i == out.dataIndex)
            dataMid = mid;
    }
    // Nothing carries a failed visit of a dead device: there is nothing to wait for.
    if (out.dataIndex >= 0)
        ++sent_;
    return dataMid;
}

bool Publisher::publishReading(const StoredReading& stored, bool backfill)
{
    const int mid = sendReading(stored.reading, backfill);
    if (mid < 0)
        return false;
    if (mid == 0) {
        acked_.add(stored.seq);
        ackedChanged();
        if (backfill)
            --pendingBackfill_;
        return true;
    }
    inFlight_[mid] = {stored.seq, backfill};
    if (backfill)
        ++backfillInFlight_;
    return true;
}

void Publisher::ackedChanged(bool alarm)
{
    (alarm ? alarmAckedDirty_ : ackedDirty_) = true;
    // Without an interval the next cycle saves it.
    if (options_.saveIntervalMs > 0 && !saveTimer_.isActive())
        saveTimer_.start(options_.saveIntervalMs);
}

void Publisher::saveAcked()
{
    // Each destination is a commit of its own: the alarms' only when an alarm event changed it.
    const auto save = [this](bool& dirty, const QString& destination, const AckedRanges& acked) {
        if (dirty && source_->saveAcked(destination, acked))
            dirty = false;
        return !dirty;
    };
    if (save(ackedDirty_, destinationKey(options_.settings), acked_)
        && save(alarmAckedDirty_, alarmDestinationKey(), alarmAcked_))
        return;
    if (!source_->problem().isEmpty()) {
        report(source_->problem());
        if (!saveTimer_.isActive())
            saveTimer_.start(kSaveRetryMs);
    }
}

void Publisher::report(const QString& message)
{
    if (reported_.contains(message))
        return;
    reported_.append(message);
    qCWarning(lcPublish).noquote() << message;
    emit fault(message);
}

} // namespace publish
