#include "feed/FeedProtocol.h"

#include "publish/JsonReading.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/un.h>
#endif

namespace feed {

namespace {

#ifdef Q_OS_UNIX
constexpr qsizetype kSocketAddressBytes = sizeof(sockaddr_un::sun_path);
#else
constexpr qsizetype kSocketAddressBytes = 256;
#endif

// A histogram of reply times larger than this is no station's.
constexpr qsizetype kMaxHistogramEntries = 100000;

QString str(const char* text)
{
    return QString::fromLatin1(text);
}

QJsonValue optionalNumber(std::optional<double> value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue count(uint64_t value)
{
    return QJsonValue(static_cast<double>(value));
}

// A count read back: a whole number from 0 up; anything else counts as 0.
uint64_t countOf(const QJsonValue& value)
{
    const double d = value.toDouble(0);
    return std::isfinite(d) && d >= 0 && d < 9.0e15 ? static_cast<uint64_t>(d) : 0;
}

measure::Number numberOf(const QJsonValue& value)
{
    return value.isDouble() ? measure::Number(value.toDouble()) : std::nullopt;
}

measure::Text textOf(const QJsonValue& value)
{
    return value.isString() ? measure::Text(value.toString()) : std::nullopt;
}

QJsonObject outcomeObject(const diagnostics::Outcome& outcome)
{
    QJsonObject object{{str("code"), outcome.code()}};
    if (outcome.kind == diagnostics::OutcomeKind::NoReply)
        object.insert(str("limit_ms"), outcome.limitMs);
    return object;
}

std::optional<diagnostics::Outcome> outcomeOf(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    std::optional<diagnostics::Outcome> outcome = diagnostics::Outcome::fromCode(object.value(str("code")).toString());
    if (outcome && outcome->kind == diagnostics::OutcomeKind::NoReply)
        outcome->limitMs = object.value(str("limit_ms")).toInt(2000);
    return outcome;
}

QJsonObject channelObject(const diagnostics::ChannelCounters& c)
{
    QJsonObject invalid;
    for (const auto& [reason, n] : c.invalid)
        invalid.insert(diagnostics::Outcome::invalidReply(reason).code(), count(n));
    QJsonObject exceptions;
    for (const auto& [code, n] : c.exceptions)
        exceptions.insert(QString::number(code), count(n));
    const diagnostics::ReplyTimes::Parts parts = c.replyTimes.parts();
    QJsonArray histogram;
    for (const auto& [tenths, n] : parts.tenths)
        histogram.append(QJsonArray{static_cast<double>(tenths), count(n)});
    return {
        {str("visits"), count(c.visits)},
        {str("requests"), count(c.requests)},
        {str("replies"), count(c.replies)},
        {str("no_reply"), count(c.noReply)},
        {str("invalid"), invalid},
        {str("exceptions"), exceptions},
        {str("port_lost"), count(c.portLost)},
        {str("port_closed"), count(c.portClosed)},
        {str("not_sent"), count(c.notSent)},
        {str("late_replies"), count(c.lateReplies)},
        {str("consecutive_failures"), count(c.consecutiveFailures)},
        {str("last_valid_ms"), c.lastValidMs ? QJsonValue(static_cast<double>(*c.lastValidMs)) : QJsonValue()},
        {str("last_failure"), c.lastFailure ? QJsonValue(outcomeObject(*c.lastFailure)) : QJsonValue()},
        {str("last_failure_ms"), static_cast<double>(c.lastFailureMs)},
        // For a person watching the feed; the window rebuilds its figures from "reply_times".
        {str("summary"), diagnostics::statsLine(c)},
        {str("reply_times"),
         QJsonObject{{str("count"), count(parts.count)},
                     {str("sum"), parts.sum},
                     {str("min"), parts.min},
                     {str("max"), parts.max},
                     {str("tenths"), histogram}}},
    };
}

diagnostics::ChannelCounters channelOf(const QJsonObject& o)
{
    diagnostics::ChannelCounters c;
    c.visits = countOf(o.value(str("visits")));
    c.requests = countOf(o.value(str("requests")));
    c.replies = countOf(o.value(str("replies")));
    c.noReply = countOf(o.value(str("no_reply")));
    const QJsonObject invalid = o.value(str("invalid")).toObject();
    for (auto it = invalid.begin(); it != invalid.end(); ++it) {
        const auto outcome = diagnostics::Outcome::fromCode(it.key());
        if (outcome && outcome->kind == diagnostics::OutcomeKind::InvalidReply)
            c.invalid[outcome->invalid] = countOf(it.value());
    }
    const QJsonObject exceptions = o.value(str("exceptions")).toObject();
    for (auto it = exceptions.begin(); it != exceptions.end(); ++it) {
        bool ok = false;
        const int code = it.key().toInt(&ok);
        if (ok && code >= 0 && code <= 255)
            c.exceptions[code] = countOf(it.value());
    }
    c.portLost = countOf(o.value(str("port_lost")));
    c.portClosed = countOf(o.value(str("port_closed")));
    c.notSent = countOf(o.value(str("not_sent")));
    c.lateReplies = countOf(o.value(str("late_replies")));
    c.consecutiveFailures = countOf(o.value(str("consecutive_failures")));
    if (o.value(str("last_valid_ms")).isDouble())
        c.lastValidMs = static_cast<qint64>(o.value(str("last_valid_ms")).toDouble());
    c.lastFailure = outcomeOf(o.value(str("last_failure")));
    c.lastFailureMs = static_cast<qint64>(o.value(str("last_failure_ms")).toDouble());
    const QJsonObject times = o.value(str("reply_times")).toObject();
    diagnostics::ReplyTimes::Parts parts;
    const QJsonArray histogram = times.value(str("tenths")).toArray();
    for (qsizetype i = 0; i < std::min(histogram.size(), kMaxHistogramEntries); ++i) {
        const QJsonArray entry = histogram.at(i).toArray();
        const double tenths = entry.at(0).toDouble(-1);
        if (tenths >= 0 && tenths < 1.0e12)
            parts.tenths[static_cast<int64_t>(tenths)] += countOf(entry.at(1));
    }
    parts.sum = times.value(str("sum")).toDouble();
    parts.min = times.value(str("min")).toDouble();
    parts.max = times.value(str("max")).toDouble();
    c.replyTimes = diagnostics::ReplyTimes::fromParts(std::move(parts));
    return c;
}

QJsonObject mqttObject(const publish::PublishStatus& s)
{
    return {
        {str("enabled"), s.enabled},
        {str("connected"), s.connected},
        {str("connecting"), s.connecting},
        {str("destination"), s.destination},
        {str("sent"), static_cast<double>(s.sent)},
        {str("acknowledged"), static_cast<double>(s.acknowledged)},
        {str("pending_backfill"), static_cast<double>(s.pendingBackfill)},
        {str("problem"), s.problem},
        {str("summary"), publish::describe(s)},
    };
}

publish::PublishStatus mqttOf(const QJsonObject& o)
{
    publish::PublishStatus s;
    s.enabled = o.value(str("enabled")).toBool();
    s.connected = o.value(str("connected")).toBool();
    s.connecting = o.value(str("connecting")).toBool();
    s.destination = o.value(str("destination")).toString();
    s.sent = static_cast<qint64>(countOf(o.value(str("sent"))));
    s.acknowledged = static_cast<qint64>(countOf(o.value(str("acknowledged"))));
    s.pendingBackfill = static_cast<qint64>(countOf(o.value(str("pending_backfill"))));
    s.problem = o.value(str("problem")).toString();
    return s;
}

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArrayView withoutEnd(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && (bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.chop(1);
    return bytes;
}

// The line's object, or why there is none.
std::optional<QJsonObject> objectOf(QByteArrayView bytes, QString* problem)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(withoutEnd(bytes).toByteArray(), &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        *problem = QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    return document.object();
}

// An alarm id: a whole number above 0 that a double holds exactly.
std::optional<qint64> idOf(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!(d >= 1 && d <= 9007199254740992.0) || d != static_cast<double>(static_cast<qint64>(d)))
        return std::nullopt;
    return static_cast<qint64>(d);
}

QJsonValue optionalTime(std::optional<qint64> ms)
{
    return ms ? QJsonValue(*ms) : QJsonValue(QJsonValue::Null);
}

std::optional<qint64> timeOf(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    return static_cast<qint64>(value.toDouble());
}

QJsonObject alarmObject(const alarms::Alarm& a)
{
    return {{str("id"), a.id},
            {str("input"), a.input},
            {str("kind"), alarms::kindName(a.kind)},
            {str("tag"), a.tag},
            {str("raised_ms"), a.raisedMs},
            {str("value"), optionalNumber(a.value)},
            {str("limit"), optionalNumber(a.limit)},
            {str("acknowledged_ms"), optionalTime(a.acknowledgedMs)},
            {str("cleared_ms"), optionalTime(a.clearedMs)},
            {str("state"), alarms::stateName(a.state())}};
}

// An alarm object of the station; nothing when it names no alarm we know.
std::optional<alarms::Alarm> alarmOf(const QJsonValue& value)
{
    const QJsonObject o = value.toObject();
    alarms::Alarm a;
    const std::optional<qint64> id = idOf(o.value(str("id")));
    const std::optional<alarms::AlarmKind> kind = alarms::kindFromName(o.value(str("kind")).toString());
    const int input = o.value(str("input")).toInt(-1);
    if (!id || !kind || input < 0 || input >= alarms::kInputCount)
        return std::nullopt;
    a.id = *id;
    a.kind = *kind;
    a.input = input;
    a.tag = o.value(str("tag")).toString();
    a.raisedMs = timeOf(o.value(str("raised_ms"))).value_or(0);
    a.value = numberOf(o.value(str("value")));
    a.limit = numberOf(o.value(str("limit")));
    a.acknowledgedMs = timeOf(o.value(str("acknowledged_ms")));
    a.clearedMs = timeOf(o.value(str("cleared_ms")));
    return a;
}

FeedMessage invalid(QString problem)
{
    FeedMessage message;
    message.problem = std::move(problem);
    return message;
}

FeedMessage visitOf(const QJsonObject& o)
{
    const QJsonValue channel = o.value(str("channel"));
    const double number = channel.toDouble(-1);
    if (!channel.isDouble() || number != std::floor(number) || number < 0 || number >= kChannelCount)
        return invalid(QStringLiteral("a visit without a channel 0..3"));
    if (!o.value(str("text")).isString() || !o.value(str("ok")).isBool())
        return invalid(QStringLiteral("a visit without its text"));
    FeedMessage message;
    message.kind = FeedMessage::Kind::Visit;
    VisitMessage& v = message.visit;
    measure::Reading& r = v.reading;
    r.timeMs = static_cast<qint64>(o.value(str("time_ms")).toDouble());
    r.channel = static_cast<int>(number);
    r.tag = o.value(str("tag")).toString();
    r.typeName = o.value(str("type")).toString();
    r.ok = o.value(str("ok")).toBool();
    const QString outcome = o.value(str("outcome")).toString();
    r.outcome = diagnostics::Outcome::fromCode(outcome).value_or(diagnostics::Outcome::value());
    if (r.outcome.kind == diagnostics::OutcomeKind::NoReply)
        r.outcome.limitMs = o.value(str("limit_ms")).toInt(r.outcome.limitMs);
    if (r.ok != r.outcome.ok())
        return invalid(QStringLiteral("a visit whose outcome \"%1\" contradicts \"ok\"").arg(outcome));
    r.shown.text = o.value(str("text")).toString();
    r.shown.value = numberOf(o.value(str("value")));
    r.shown.unit = textOf(o.value(str("unit")));
    r.shown.temperature = numberOf(o.value(str("temperature")));
    r.shown.value2 = numberOf(o.value(str("value2")));
    r.shown.unit2 = textOf(o.value(str("unit2")));
    r.shown.totalDay = numberOf(o.value(str("total_day")));
    r.shown.total = numberOf(o.value(str("total")));
    v.replyMs = numberOf(o.value(str("reply_ms")));
    v.endedMs = static_cast<qint64>(o.value(str("ended_ms")).toDouble());
    return message;
}

FeedMessage alarmEventOf(const QJsonObject& o)
{
    const std::optional<alarms::AlarmEvent::Type> type = alarms::eventFromName(o.value(str("event")).toString());
    const std::optional<alarms::Alarm> alarm = alarmOf(o.value(str("alarm")));
    if (!type || !alarm)
        return invalid(QStringLiteral("an alarm line without a known event and alarm"));
    FeedMessage message;
    message.kind = FeedMessage::Kind::Alarm;
    message.alarmEvent = {*type, timeOf(o.value(str("time_ms"))).value_or(0), *alarm};
    return message;
}

FeedMessage alarmsOf(const QJsonObject& o)
{
    FeedMessage message;
    message.kind = FeedMessage::Kind::Alarms;
    const QJsonArray array = o.value(str("alarms")).toArray();
    for (const QJsonValue& value : array) {
        const std::optional<alarms::Alarm> alarm = alarmOf(value);
        if (!alarm)
            return invalid(QStringLiteral("an alarms line with an entry that is no alarm"));
        message.alarms.push_back(*alarm);
    }
    return message;
}

FeedMessage stateOf(const QJsonObject& o)
{
    if (!o.value(str("port")).isString() || !o.value(str("counters")).isArray())
        return invalid(QStringLiteral("a state without its port or counters"));
    FeedMessage message;
    message.kind = FeedMessage::Kind::State;
    StationState& s = message.state;
    s.timeMs = static_cast<qint64>(o.value(str("time_ms")).toDouble());
    s.pid = static_cast<qint64>(o.value(str("pid")).toDouble());
    s.port = o.value(str("port")).toString();
    s.device = o.value(str("device")).toString();
    s.portOpen = o.value(str("port_open")).toBool();
    s.portProblem = o.value(str("port_problem")).toString();
    const QJsonArray channels = o.value(str("channels")).toArray();
    for (int i = 0; i < kChannelCount; ++i)
        s.channels[static_cast<size_t>(i)] = channels.at(i).toBool();
    std::array<diagnostics::ChannelCounters, diagnostics::LineCounters::kChannelCount> counters{};
    const QJsonArray perChannel = o.value(str("counters")).toArray();
    for (int i = 0; i < diagnostics::LineCounters::kChannelCount && i < perChannel.size(); ++i)
        counters[static_cast<size_t>(i)] = channelOf(perChannel.at(i).toObject());
    std::deque<diagnostics::Failure> failures;
    const QJsonArray list = o.value(str("failures")).toArray();
    for (qsizetype i = std::max<qsizetype>(0, list.size() - qsizetype(diagnostics::LineCounters::kRecentFailures));
         i < list.size(); ++i) {
        const QJsonObject f = list.at(i).toObject();
        const int channel = f.value(str("channel")).toInt(-1);
        if (channel >= 0 && channel < kChannelCount)
            failures.push_back({static_cast<qint64>(f.value(str("time_ms")).toDouble()), channel,
                                f.value(str("reason")).toString()});
    }
    s.counters = diagnostics::LineCounters::restore(counters, std::move(failures));
    s.historyOn = o.value(str("history_on")).toBool();
    s.history = o.value(str("history")).toString();
    s.mqtt = mqttOf(o.value(str("mqtt")).toObject());
    s.cycles = static_cast<qint64>(countOf(o.value(str("cycles"))));
    s.lastCycleMs = static_cast<qint64>(countOf(o.value(str("last_cycle_ms"))));
    return message;
}

FeedMessage configurationOf(const QJsonObject& o)
{
    const QJsonArray channels = o.value(str("channels")).toArray();
    if (channels.size() != kChannelCount || !o.value(str("port")).isString())
        return invalid(QStringLiteral("a configuration without its four channels or its port"));
    FeedMessage message;
    message.kind = FeedMessage::Kind::Configuration;
    StationConfiguration& c = message.configuration;
    for (int i = 0; i < kChannelCount; ++i) {
        const QJsonObject ch = channels.at(i).toObject();
        ChannelSetup& setup = c.channels[static_cast<size_t>(i)];
        setup.selected = ch.value(str("selected")).toBool();
        setup.tag = ch.value(str("tag")).toString();
        setup.type = ch.value(str("type")).toInt(-1);
        setup.typeName = ch.value(str("type_name")).toString();
        setup.address = ch.value(str("address")).toString();
        setup.block = ch.value(str("block")).toInt();
    }
    c.portNumber = o.value(str("port_number")).toInt(1);
    c.port = o.value(str("port")).toString();
    c.device = o.value(str("device")).toString();
    c.settings = o.value(str("settings")).toString();
    return message;
}

} // namespace

bool fitsSocketAddress(const QString& path)
{
    return QFile::encodeName(path).size() < kSocketAddressBytes;
}

QString fallbackSocketPath(const QString& directory)
{
    QString canonical = QFileInfo(directory).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir(directory).absolutePath();
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(canonical), QCryptographicHash::Sha1).toHex();
    return QDir(QDir::tempPath()).filePath(QStringLiteral("zentlog-station-%1.sock").arg(QString::fromLatin1(hash.left(16))));
}

QString socketPath(const QString& directory)
{
    return QDir(directory).absoluteFilePath(str(kSocketName));
}

QByteArray encodeVisit(const measure::Reading& reading, std::optional<double> replyMs, qint64 endedMs)
{
    QJsonObject object = publish::readingFields(reading);
    object.insert(str("kind"), str("visit"));
    object.insert(str("channel"), reading.channel);
    // To a tenth of a millisecond, as the windows show reply times.
    if (replyMs)
        replyMs = std::round(*replyMs * 10) / 10;
    object.insert(str("reply_ms"), optionalNumber(replyMs));
    object.insert(str("ended_ms"), static_cast<double>(endedMs));
    // Why the visit failed, in words for the panel's tooltip, and the reply limit that ran out
    // (the outcome's word does not say it).
    if (!reading.ok)
        object.insert(str("reason"), reading.outcome.describe());
    if (reading.outcome.kind == diagnostics::OutcomeKind::NoReply)
        object.insert(str("limit_ms"), reading.outcome.limitMs);
    return line(object);
}

QByteArray encodeState(const StationState& s)
{
    QJsonArray channels;
    QJsonArray counters;
    for (int i = 0; i < kChannelCount; ++i) {
        channels.append(s.channels[static_cast<size_t>(i)]);
        counters.append(channelObject(s.counters.channel(i)));
    }
    QJsonArray failures;
    for (const diagnostics::Failure& f : s.counters.recentFailures())
        failures.append(QJsonObject{{str("time_ms"), static_cast<double>(f.timeMs)},
                                    {str("channel"), f.channel},
                                    {str("reason"), f.reason}});
    return line({
        {str("kind"), str("state")},
        {str("time_ms"), static_cast<double>(s.timeMs)},
        {str("pid"), static_cast<double>(s.pid)},
        {str("port"), s.port},
        {str("device"), s.device},
        {str("port_open"), s.portOpen},
        {str("port_problem"), s.portProblem},
        {str("channels"), channels},
        {str("counters"), counters},
        {str("failures"), failures},
        {str("history_on"), s.historyOn},
        {str("history"), s.history},
        {str("mqtt"), mqttObject(s.mqtt)},
        {str("cycles"), static_cast<double>(s.cycles)},
        {str("last_cycle_ms"), static_cast<double>(s.lastCycleMs)},
    });
}

QByteArray encodeConfiguration(const StationConfiguration& c)
{
    QJsonArray channels;
    for (const ChannelSetup& setup : c.channels)
        channels.append(QJsonObject{{str("selected"), setup.selected},
                                    {str("tag"), setup.tag},
                                    {str("type"), setup.type},
                                    {str("type_name"), setup.typeName},
                                    {str("address"), setup.address},
                                    {str("block"), setup.block}});
    return line({
        {str("kind"), str("configuration")},
        {str("channels"), channels},
        {str("port_number"), c.portNumber},
        {str("port"), c.port},
        {str("device"), c.device},
        {str("settings"), c.settings},
    });
}

QByteArray encodeError(const QString& text)
{
    return line({{str("kind"), str("error")}, {str("text"), text}});
}

QByteArray encodeCommand(Command command)
{
    switch (command) {
    case Command::ResetCounters: return line({{str("command"), str("reset-counters")}});
    case Command::Reload: break;
    case Command::Acknowledge: return encodeAcknowledge(0);
    case Command::AcknowledgeAll: return line({{str("command"), str("acknowledge-all")}});
    }
    return line({{str("command"), str("reload")}});
}

QByteArray encodeAcknowledge(qint64 alarmId)
{
    return line({{str("command"), str("acknowledge")}, {str("id"), alarmId}});
}

QByteArray encodeAlarmEvent(const alarms::AlarmEvent& event)
{
    return line({{str("kind"), str("alarm")},
                 {str("event"), alarms::eventName(event.type)},
                 {str("time_ms"), event.timeMs},
                 {str("alarm"), alarmObject(event.alarm)}});
}

QByteArray encodeAlarms(const std::vector<alarms::Alarm>& list)
{
    QJsonArray array;
    for (const alarms::Alarm& alarm : list)
        array.append(alarmObject(alarm));
    return line({{str("kind"), str("alarms")}, {str("alarms"), array}});
}

FeedMessage parseLine(QByteArrayView bytes)
{
    if (bytes.size() > kMaxLineBytes)
        return invalid(QStringLiteral("a line of %1 bytes, longer than %2").arg(bytes.size()).arg(kMaxLineBytes));
    QString problem;
    const std::optional<QJsonObject> object = objectOf(bytes, &problem);
    if (!object)
        return invalid(problem);
    const QString kind = object->value(str("kind")).toString();
    if (kind == QLatin1String("visit"))
        return visitOf(*object);
    if (kind == QLatin1String("state"))
        return stateOf(*object);
    if (kind == QLatin1String("configuration"))
        return configurationOf(*object);
    if (kind == QLatin1String("alarm"))
        return alarmEventOf(*object);
    if (kind == QLatin1String("alarms"))
        return alarmsOf(*object);
    if (kind == QLatin1String("error")) {
        FeedMessage message;
        message.kind = FeedMessage::Kind::Error;
        message.problem = object->value(str("text")).toString();
        return message;
    }
    return invalid(QStringLiteral("unknown kind \"%1\"").arg(kind.left(40)));
}

ParsedCommand parseCommand(QByteArrayView bytes)
{
    if (bytes.size() > kMaxCommandBytes)
        return {std::nullopt, QStringLiteral("a command of %1 bytes, longer than %2").arg(bytes.size()).arg(kMaxCommandBytes)};
    QString problem;
    const std::optional<QJsonObject> object = objectOf(bytes, &problem);
    if (!object)
        return {std::nullopt, problem};
    const QString command = object->value(str("command")).toString();
    if (command == QLatin1String("reset-counters"))
        return {Command::ResetCounters, {}};
    if (command == QLatin1String("reload"))
        return {Command::Reload, {}};
    if (command == QLatin1String("acknowledge-all"))
        return {Command::AcknowledgeAll, {}};
    if (command == QLatin1String("acknowledge")) {
        const std::optional<qint64> id = idOf(object->value(str("id")));
        if (!id)
            return {std::nullopt, QStringLiteral("\"acknowledge\" needs \"id\": the number of an alarm")};
        return {Command::Acknowledge, {}, *id};
    }
    return {std::nullopt, QStringLiteral("unknown command \"%1\" (known: reset-counters, reload, acknowledge, "
                                         "acknowledge-all)")
                              .arg(command.left(40))};
}

} // namespace feed
