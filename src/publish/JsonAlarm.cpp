#include "publish/JsonAlarm.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <optional>

namespace publish {

namespace {

template <typename T>
QJsonValue orNull(const std::optional<T>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString alarmTopic(const QString& site, int input)
{
    return QStringLiteral("zentlog/%1/%2/alarm").arg(site).arg(input);
}

QString alarmStateTopic(const QString& site, int input)
{
    return alarmTopic(site, input) + QStringLiteral("/state");
}

QJsonObject alarmFields(const alarms::Alarm& alarm)
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), QJsonValue(alarm.id));
    object.insert(QStringLiteral("input"), alarm.input);
    object.insert(QStringLiteral("kind"), alarms::kindName(alarm.kind));
    object.insert(QStringLiteral("tag"), alarm.tag);
    object.insert(QStringLiteral("raised_ms"), QJsonValue(alarm.raisedMs));
    object.insert(QStringLiteral("value"), orNull(alarm.value));
    object.insert(QStringLiteral("limit_value"), orNull(alarm.limit));
    object.insert(QStringLiteral("acknowledged_ms"), orNull(alarm.acknowledgedMs));
    object.insert(QStringLiteral("cleared_ms"), orNull(alarm.clearedMs));
    object.insert(QStringLiteral("state"), alarms::stateName(alarm.state()));
    return object;
}

Message alarmEventMessage(const QString& site, const alarms::AlarmEvent& event, bool backfill, int qos)
{
    QJsonObject object = alarmFields(event.alarm);
    object.insert(QStringLiteral("event"), alarms::eventName(event.type));
    object.insert(QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(event.timeMs, QTimeZone::utc())
                                                  .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
                                              + QLatin1Char('Z'));
    object.insert(QStringLiteral("time_ms"), QJsonValue(event.timeMs));
    object.insert(QStringLiteral("backfill"), backfill);
    return {alarmTopic(site, event.alarm.input), QJsonDocument(object).toJson(QJsonDocument::Compact), qos, false};
}

Message alarmStateMessage(const QString& site, int input, const std::vector<alarms::Alarm>& notNormal, int qos)
{
    QJsonArray list;
    for (const alarms::Alarm& alarm : notNormal)
        if (alarm.input == input)
            list.append(alarmFields(alarm));
    QJsonObject object;
    object.insert(QStringLiteral("input"), input);
    object.insert(QStringLiteral("alarms"), list);
    return {alarmStateTopic(site, input), QJsonDocument(object).toJson(QJsonDocument::Compact), qos, true};
}

} // namespace publish
