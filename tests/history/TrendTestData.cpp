#include "TrendTestData.h"

#include "history/HistorySchema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace history_test {

void addReadings(const QString& path, const std::vector<Reading>& readings)
{
    static int connections = 0;
    const QString name = QStringLiteral("trend-test-data-%1").arg(++connections);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        ASSERT_EQ(history::ensureSchema(db), QString());
        ASSERT_TRUE(db.transaction());
        QSqlQuery insert(db);
        ASSERT_TRUE(insert.prepare(QStringLiteral(
            "INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, total_day, total, text)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")));
        const auto orNull = [](const QVariant& v) { return v.isValid() ? v : QVariant(QMetaType::fromType<double>()); };
        for (const Reading& r : readings) {
            for (const QVariant& v : {QVariant(r.timeMs), QVariant(r.channel), QVariant(r.tag), QVariant(r.type),
                                      QVariant(r.ok ? 1 : 0), orNull(r.value), QVariant(r.unit.toString()),
                                      orNull(r.temperature), orNull(r.totalDay), orNull(r.total),
                                      QVariant(r.text.isNull() ? QStringLiteral("") : r.text)})
                insert.addBindValue(v);
            ASSERT_TRUE(insert.exec()) << insert.lastError().text().toStdString();
        }
        ASSERT_TRUE(db.commit());
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

Reading goodReading(int channel, qint64 timeMs, double value, double temperature)
{
    Reading r;
    r.timeMs = timeMs;
    r.channel = channel;
    r.tag = QStringLiteral("Tank %1").arg(channel);
    r.type = QStringLiteral("pH");
    r.ok = true;
    r.value = value;
    r.unit = QStringLiteral("pH");
    r.temperature = temperature;
    r.text = QStringLiteral("%1 pH").arg(value, 0, 'f', 2); // as the station shows it
    return r;
}

Reading failedReading(int channel, qint64 timeMs)
{
    Reading r;
    r.timeMs = timeMs;
    r.channel = channel;
    r.tag = QStringLiteral("Tank %1").arg(channel);
    r.type = QStringLiteral("pH");
    r.ok = false;
    r.text = QStringLiteral("Out of order");
    return r;
}

} // namespace history_test
