#include "ExportTestDatabase.h"

#include "history/HistorySchema.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace history_test {

namespace {
int nextConnection = 0;

const QString kInsert = QStringLiteral(
    "INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day, total, text,"
    " outcome) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
} // namespace

TestDatabase::TestDatabase(const QString& path)
    : connection_(QStringLiteral("test-history-%1").arg(++nextConnection))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    EXPECT_EQ(history::ensureSchema(db), QString());
}

TestDatabase::~TestDatabase()
{
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

void TestDatabase::add(const Reading& r, const QString& outcome)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    ASSERT_TRUE(query.prepare(kInsert)) << query.lastError().text().toStdString();
    const auto orNull = [](const QVariant& v, QMetaType type) { return v.isValid() ? v : QVariant(type); };
    const QMetaType real = QMetaType::fromType<double>();
    const QMetaType text = QMetaType::fromType<QString>();
    for (const QVariant& v : {QVariant(r.timeMs), QVariant(r.channel), QVariant(r.tag), QVariant(r.type), QVariant(r.ok ? 1 : 0),
                              orNull(r.value, real), orNull(r.unit, text), orNull(r.temperature, real),
                              orNull(r.value2, real), orNull(r.unit2, text), orNull(r.totalDay, real),
                              orNull(r.total, real), QVariant(r.text), outcome.isEmpty() ? QVariant(text) : QVariant(outcome)})
        query.addBindValue(v);
    ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
}

void TestDatabase::addSeries(int channel, qint64 firstMs, int count)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    ASSERT_TRUE(db.transaction());
    QSqlQuery query(db);
    ASSERT_TRUE(query.prepare(kInsert));
    for (int i = 0; i < count; ++i) {
        for (const QVariant& v : {QVariant(firstMs + qint64(i) * 1000), QVariant(channel), QVariant(QStringLiteral("PH")),
                                  QVariant(QStringLiteral("pH")), QVariant(1), QVariant(7.0 + i % 100 / 100.0),
                                  QVariant(QStringLiteral("pH")), QVariant(21.5), QVariant(QMetaType::fromType<double>()),
                                  QVariant(QMetaType::fromType<QString>()), QVariant(QMetaType::fromType<double>()),
                                  QVariant(QMetaType::fromType<double>()), QVariant(QStringLiteral("7.00 pH")),
                                  QVariant(QStringLiteral("value"))})
            query.addBindValue(v);
        ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
    }
    ASSERT_TRUE(db.commit());
}

qint64 utcMs(const char* isoUtc)
{
    QDateTime time = QDateTime::fromString(QString::fromLatin1(isoUtc), Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time.toMSecsSinceEpoch();
}

} // namespace history_test
