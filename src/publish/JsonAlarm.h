#pragma once
// The JSON form of the alarms on MQTT: one message per alarm event on
// zentlog/<site>/<input>/alarm, and the input's current alarms in a retained message on
// zentlog/<site>/<input>/alarm/state. Inputs are numbered 0..3, as everywhere else.

#include "alarms/Alarm.h"
#include "publish/Message.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace publish {

QString alarmTopic(const QString& site, int input);
QString alarmStateTopic(const QString& site, int input);

// The alarm as the history's row holds it: "id", "input", "kind", "tag", "raised_ms", "value",
// "limit_value", "acknowledged_ms", "cleared_ms" (null where absent), and its "state"
// ("active_unacknowledged", ...).
QJsonObject alarmFields(const alarms::Alarm& alarm);
// One event: the alarm's fields after it, "event" (raised, acknowledged, cleared), "time" (ISO
// 8601 UTC, milliseconds) and "time_ms" of the event, and "backfill".
Message alarmEventMessage(const QString& site, const alarms::AlarmEvent& event, bool backfill, int qos);
// The retained state of `input`: {"input", "alarms": [the alarms that are not normal, by id]};
// an empty list once every alarm of the input is back to normal and acknowledged.
Message alarmStateMessage(const QString& site, int input, const std::vector<alarms::Alarm>& notNormal, int qos);

} // namespace publish
