#include "publish/SparkplugSession.h"

#include "publish/sparkplug_b.pb.h"
#include "zentlog/Version.h"

#include <QByteArray>

#include <algorithm>
#include <string>
#include <utility>

namespace publish {

namespace {

namespace pb = org::eclipse::tahu::protobuf;
using Payload = pb::Payload;
using Metric = pb::Payload::Metric;

constexpr int kChannels = 4;
// A channel counts as dead once its visits have failed for this long, by the readings' times.
constexpr std::int64_t kDeathAfterMs = 60'000;

// The node's own metrics. bdSeq has no alias: hosts look it up by name in the NDEATH, which the
// broker sends on our behalf.
constexpr char kBdSeqName[] = "bdSeq";
constexpr char kRebirthName[] = "Node Control/Rebirth";
constexpr std::uint64_t kRebirthAlias = 1;
constexpr char kVersionName[] = "Properties/Software Version";
constexpr std::uint64_t kVersionAlias = 2;

// The metrics of a device, in the order of the births. The alias of metric k of channel c
// (0-based) is (c + 1) * 16 + k: fixed, unique across the node, clear of the node's own.
enum class Field { Ok, Value, Temperature, Value2, TotalDay, Total, Unit, Unit2, Text, Outcome, Tag, Type };

struct DeviceMetric {
    Field field;
    const char* name;
    pb::DataType type;
};

constexpr std::array<DeviceMetric, 12> kDeviceMetrics{{
    {Field::Ok, "ok", pb::Boolean},
    {Field::Value, "value", pb::Double},
    {Field::Temperature, "temperature", pb::Double},
    {Field::Value2, "value2", pb::Double},
    {Field::TotalDay, "total_day", pb::Double},
    {Field::Total, "total", pb::Double},
    {Field::Unit, "unit", pb::String},
    {Field::Unit2, "unit2", pb::String},
    {Field::Text, "text", pb::String},
    {Field::Outcome, "outcome", pb::String},
    {Field::Tag, "tag", pb::String},
    {Field::Type, "type", pb::String},
}};

std::uint64_t aliasOf(int channel, std::size_t metric)
{
    return std::uint64_t(channel + 1) * 16 + metric;
}

// The alarm metrics of a device, after its reading metrics in the births. Alias of metric k of
// channel c: 1024 + c * 16 + k, clear of the readings' aliases.
enum class AlarmField { Id, Kind, Event, State, Value, Limit, RaisedMs };

struct AlarmMetric {
    AlarmField field;
    const char* name;
    pb::DataType type;
};

constexpr std::array<AlarmMetric, 7> kAlarmMetrics{{
    {AlarmField::Id, "Alarm/id", pb::Int64},
    {AlarmField::Kind, "Alarm/kind", pb::String},
    {AlarmField::Event, "Alarm/event", pb::String},
    {AlarmField::State, "Alarm/state", pb::String},
    {AlarmField::Value, "Alarm/value", pb::Double},
    {AlarmField::Limit, "Alarm/limit", pb::Double},
    {AlarmField::RaisedMs, "Alarm/raised_ms", pb::Int64},
}};

std::uint64_t alarmAliasOf(int channel, std::size_t metric)
{
    return 1024 + std::uint64_t(channel) * 16 + metric;
}

// Sparkplug times are unsigned; a reading from before 1970 is no real reading, so it gets 0
// rather than a wrapped value far in the future.
std::uint64_t wireTime(std::int64_t ms)
{
    return ms < 0 ? 0 : std::uint64_t(ms);
}

std::string utf8(const QString& text)
{
    return text.toStdString();
}

QString deviceId(int channel)
{
    return QStringLiteral("input%1").arg(channel);
}

QByteArray serialized(const Payload& payload)
{
    const std::string bytes = payload.SerializeAsString();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// Sets the metric's value from the reading: numbers and units only for a valid visit, the rest
// always. Absent values are is_null with the type still given, as hosts expect.
void setValue(Metric& metric, Field field, const measure::Reading* reading)
{
    const auto number = [&](const measure::Number& n) {
        if (reading->ok && n)
            metric.set_double_value(*n);
        else
            metric.set_is_null(true);
    };
    const auto text = [&](const measure::Text& t) {
        if (reading->ok && t)
            metric.set_string_value(utf8(*t));
        else
            metric.set_is_null(true);
    };
    if (!reading) {
        metric.set_is_null(true);
        return;
    }
    const measure::ShownValue& shown = reading->shown;
    switch (field) {
    case Field::Ok: metric.set_boolean_value(reading->ok); break;
    case Field::Value: number(shown.value); break;
    case Field::Temperature: number(shown.temperature); break;
    case Field::Value2: number(shown.value2); break;
    case Field::TotalDay: number(shown.totalDay); break;
    case Field::Total: number(shown.total); break;
    case Field::Unit: text(shown.unit); break;
    case Field::Unit2: text(shown.unit2); break;
    case Field::Text: metric.set_string_value(utf8(shown.text)); break;
    case Field::Outcome:
        metric.set_string_value(utf8(reading->ok ? QStringLiteral("value") : reading->outcome.code()));
        break;
    case Field::Tag: metric.set_string_value(utf8(reading->tag)); break;
    case Field::Type: metric.set_string_value(utf8(reading->typeName)); break;
    }
}

// The device's metrics. In a birth: with names, aliases and types; in data: aliases alone.
// `reading` null: a birth that knows no live value (all metrics null).
void addDeviceMetrics(Payload& payload, int channel, const measure::Reading* reading, bool birth,
                      bool historical, std::uint64_t time)
{
    for (std::size_t k = 0; k < kDeviceMetrics.size(); ++k) {
        const DeviceMetric& known = kDeviceMetrics[k];
        Metric* metric = payload.add_metrics();
        if (birth) {
            metric->set_name(known.name);
            metric->set_datatype(known.type);
        }
        metric->set_alias(aliasOf(channel, k));
        metric->set_timestamp(time);
        if (historical)
            metric->set_is_historical(true);
        setValue(*metric, known.field, reading);
    }
}

// The alarm metrics: in a birth with names and types and, without an event, null values.
void addAlarmMetrics(Payload& payload, int channel, const alarms::AlarmEvent* event, bool birth, bool historical,
                     std::uint64_t time)
{
    for (std::size_t k = 0; k < kAlarmMetrics.size(); ++k) {
        const AlarmMetric& known = kAlarmMetrics[k];
        Metric* metric = payload.add_metrics();
        if (birth) {
            metric->set_name(known.name);
            metric->set_datatype(known.type);
        }
        metric->set_alias(alarmAliasOf(channel, k));
        metric->set_timestamp(time);
        if (historical)
            metric->set_is_historical(true);
        if (!event) {
            metric->set_is_null(true);
            continue;
        }
        const alarms::Alarm& alarm = event->alarm;
        const auto number = [&](const std::optional<double>& n) {
            if (n)
                metric->set_double_value(*n);
            else
                metric->set_is_null(true);
        };
        switch (known.field) {
        case AlarmField::Id: metric->set_long_value(std::uint64_t(alarm.id)); break;
        case AlarmField::Kind: metric->set_string_value(utf8(alarms::kindName(alarm.kind))); break;
        case AlarmField::Event: metric->set_string_value(utf8(alarms::eventName(event->type))); break;
        case AlarmField::State: metric->set_string_value(utf8(alarms::stateName(alarm.state()))); break;
        case AlarmField::Value: number(alarm.value); break;
        case AlarmField::Limit: number(alarm.limit); break;
        case AlarmField::RaisedMs: metric->set_long_value(wireTime(alarm.raisedMs)); break;
        }
    }
}

} // namespace

SparkplugSession::SparkplugSession(QString edgeNodeId, int qos, std::uint8_t firstBdSeq)
    : edgeNodeId_(std::move(edgeNodeId))
    , qos_(std::clamp(qos, 0, 2))
    , bdSeq_(firstBdSeq)
{
}

QString SparkplugSession::topic(const char* messageType, const QString& deviceId) const
{
    QString t = QStringLiteral("spBv1.0/%1/%2/%3")
                    .arg(QLatin1String(kSparkplugGroupId), QLatin1String(messageType), edgeNodeId_);
    if (!deviceId.isEmpty())
        t += QLatin1Char('/') + deviceId;
    return t;
}

std::uint8_t SparkplugSession::takeSeq()
{
    // uint8_t wraps 255 -> 0 by itself, as Sparkplug's seq does.
    return seq_++;
}

Message SparkplugSession::nodeDeath() const
{
    // No timestamp and no seq: the broker sends this at an unknown later time, out of sequence.
    Payload payload;
    Metric* metric = payload.add_metrics();
    metric->set_name(kBdSeqName);
    metric->set_datatype(pb::UInt64);
    metric->set_long_value(bdSeq_);
    return {topic("NDEATH"), serialized(payload), 1, false};
}

std::vector<Message> SparkplugSession::births(std::int64_t nowMs)
{
    const std::uint64_t time = wireTime(nowMs);
    // A new NBIRTH starts the sequence again and makes the host forget every device.
    seq_ = 0;
    for (DeviceState& device : devices_)
        device.born = false;

    Payload payload;
    payload.set_timestamp(time);
    payload.set_seq(takeSeq());
    Metric* bd = payload.add_metrics();
    bd->set_name(kBdSeqName);
    bd->set_datatype(pb::UInt64);
    bd->set_timestamp(time);
    bd->set_long_value(bdSeq_);
    Metric* rebirth = payload.add_metrics();
    rebirth->set_name(kRebirthName);
    rebirth->set_alias(kRebirthAlias);
    rebirth->set_datatype(pb::Boolean);
    rebirth->set_timestamp(time);
    rebirth->set_boolean_value(false);
    Metric* version = payload.add_metrics();
    version->set_name(kVersionName);
    version->set_alias(kVersionAlias);
    version->set_datatype(pb::String);
    version->set_timestamp(time);
    version->set_string_value(zentlog::kBuildVersion);
    return {Message{topic("NBIRTH"), serialized(payload), qos_, false}};
}

bool SparkplugSession::isRebirthRequest(const QByteArray& payload)
{
    Payload command;
    if (!command.ParseFromArray(payload.constData(), int(payload.size())))
        return false;
    for (const Metric& metric : command.metrics()) {
        // A host names the metric, or uses the alias our NBIRTH gave it.
        const bool rebirth = metric.has_name() ? metric.name() == kRebirthName
                                               : metric.has_alias() && metric.alias() == kRebirthAlias;
        if (rebirth && metric.value_case() == Metric::kBooleanValue && metric.boolean_value())
            return true;
    }
    return false;
}

void SparkplugSession::sessionEnded()
{
    ++bdSeq_; // 255 -> 0
    for (DeviceState& device : devices_)
        device.born = false;
}

Message SparkplugSession::birth(int channel, const measure::Reading* values, std::int64_t nowMs)
{
    const std::uint64_t time = values ? wireTime(values->timeMs) : wireTime(nowMs);
    Payload payload;
    payload.set_timestamp(wireTime(nowMs));
    payload.set_seq(takeSeq());
    addDeviceMetrics(payload, channel, values, true, false, time);
    addAlarmMetrics(payload, channel, nullptr, true, false, time);
    devices_[std::size_t(channel)].born = true;
    return {topic("DBIRTH", deviceId(channel)), serialized(payload), qos_, false};
}

SparkplugSession::ReadingMessages SparkplugSession::alarm(const alarms::AlarmEvent& event, bool historical,
                                                          std::int64_t nowMs)
{
    ReadingMessages out;
    const int channel = event.alarm.input;
    if (channel < 0 || channel >= kChannels)
        return out;
    if (!devices_[std::size_t(channel)].born)
        out.messages.push_back(birth(channel, nullptr, nowMs));
    const std::uint64_t time = wireTime(event.timeMs);
    Payload payload;
    payload.set_timestamp(time);
    payload.set_seq(takeSeq());
    addAlarmMetrics(payload, channel, &event, false, historical, time);
    out.dataIndex = int(out.messages.size());
    out.messages.push_back({topic("DDATA", deviceId(channel)), serialized(payload), qos_, false});
    return out;
}

SparkplugSession::ReadingMessages SparkplugSession::reading(const measure::Reading& r, bool historical,
                                                            std::int64_t nowMs)
{
    ReadingMessages out;
    if (r.channel < 0 || r.channel >= kChannels)
        return out; // no such device: nothing to say
    const int channel = r.channel;
    DeviceState& device = devices_[std::size_t(channel)];
    const QString id = deviceId(channel);
    const std::uint64_t time = wireTime(r.timeMs);

    const auto birth = [&](const measure::Reading* values) { out.messages.push_back(this->birth(channel, values, nowMs)); };
    const auto data = [&] {
        Payload payload;
        payload.set_timestamp(time);
        payload.set_seq(takeSeq());
        addDeviceMetrics(payload, channel, &r, false, historical, time);
        out.dataIndex = int(out.messages.size());
        out.messages.push_back({topic("DDATA", id), serialized(payload), qos_, false});
    };
    const auto death = [&] {
        Payload payload;
        payload.set_timestamp(time);
        payload.set_seq(takeSeq());
        out.messages.push_back({topic("DDEATH", id), serialized(payload), qos_, false});
        device.born = false;
    };

    if (historical) {
        // A past reading says nothing about the channel now: the failing clock and death stay as
        // they are. The host still has to know the device's aliases before data, so a device it
        // does not know gets a birth without live values first.
        if (!device.born)
            birth(nullptr);
        data();
        return out;
    }

    if (r.ok) {
        device.failingSinceMs.reset();
        device.dead = false;
        if (!device.born)
            birth(&r);
        data();
        return out;
    }

    // A failed visit. The minute counts from the first failure of the run; readings whose time
    // goes back (the clock was set back) restart it rather than putting the death off.
    if (!device.failingSinceMs || r.timeMs < *device.failingSinceMs)
        device.failingSinceMs = r.timeMs;
    if (device.dead) {
        // Already declared dead. A birth made for past readings since then is taken back.
        if (device.born)
            death();
        return out;
    }
    if (!device.born)
        birth(&r);
    data();
    if (r.timeMs - *device.failingSinceMs >= kDeathAfterMs) {
        death();
        device.dead = true;
    }
    return out;
}

} // namespace publish
