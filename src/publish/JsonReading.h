#pragma once
// The JSON form of a reading on the topic zentlog/<site>/<channel>/reading, and the site's
// status topic. Inputs are numbered 0..3 here, as in the windows, the history and the export.

#include "measure/Reading.h"
#include "publish/Message.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace publish {

QString readingTopic(const QString& site, int channel);
QString statusTopic(const QString& site);

// One JSON object: "time" (ISO 8601 UTC, milliseconds), "time_ms", "channel", "tag", "type",
// "ok", "value", "unit", "temperature", "value2", "unit2", "total_day", "total" (null where the
// type has no such field or the visit failed), "outcome" (a stable word: "value", "no_reply",
// "invalid_crc", "exception_6", ...), "text" (the panel's text) and "backfill".
QByteArray readingJson(const measure::Reading& reading, bool backfill);
// The fields above that describe the reading itself, without "channel" and "backfill" (the
// station's live feed adds its own fields).
QJsonObject readingFields(const measure::Reading& reading);

Message readingMessage(const QString& site, const measure::Reading& reading, bool backfill, int qos);
// The retained status: "online" once connected, "offline" as the last will and on a clean stop.
Message statusMessage(const QString& site, bool online);

} // namespace publish
