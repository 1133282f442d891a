#include "publish/JsonReading.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimeZone>

namespace publish {

namespace {

QJsonValue number(const measure::Number& value, bool ok)
{
    return ok && value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue text(const measure::Text& value, bool ok)
{
    return ok && value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString readingTopic(const QString& site, int channel)
{
    return QStringLiteral("zentlog/%1/%2/reading").arg(site).arg(channel);
}

QString statusTopic(const QString& site)
{
    return QStringLiteral("zentlog/%1/status").arg(site);
}

QJsonObject readingFields(const measure::Reading& r)
{
    const bool ok = r.ok;
    QJsonObject object;
    // "Z" rather than "+00:00": the form most consumers of ISO 8601 expect.
    object.insert(QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(r.timeMs, QTimeZone::utc())
                                                  .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
                                              + QLatin1Char('Z'));
    object.insert(QStringLiteral("time_ms"), QJsonValue(qint64(r.timeMs)));
    object.insert(QStringLiteral("tag"), r.tag);
    object.insert(QStringLiteral("type"), r.typeName);
    object.insert(QStringLiteral("ok"), ok);
    object.insert(QStringLiteral("value"), number(r.shown.value, ok));
    object.insert(QStringLiteral("unit"), text(r.shown.unit, ok));
    object.insert(QStringLiteral("temperature"), number(r.shown.temperature, ok));
    object.insert(QStringLiteral("value2"), number(r.shown.value2, ok));
    object.insert(QStringLiteral("unit2"), text(r.shown.unit2, ok));
    object.insert(QStringLiteral("total_day"), number(r.shown.totalDay, ok));
    object.insert(QStringLiteral("total"), number(r.shown.total, ok));
    object.insert(QStringLiteral("outcome"), ok ? QStringLiteral("value") : r.outcome.code());
    object.insert(QStringLiteral("text"), r.shown.text);
    return object;
}

QByteArray readingJson(const measure::Reading& r, bool backfill)
{
    QJsonObject object = readingFields(r);
    object.insert(QStringLiteral("channel"), r.channel);
    object.insert(QStringLiteral("backfill"), backfill);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Message readingMessage(const QString& site, const measure::Reading& reading, bool backfill, int qos)
{
    return {readingTopic(site, reading.channel), readingJson(reading, backfill), qos, false};
}

Message statusMessage(const QString& site, bool online)
{
    return {statusTopic(site), online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), 1, true};
}

} // namespace publish
