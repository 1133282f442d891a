// The JSON form of a reading: every field present, null where the visit has no such number, the
// time in UTC, the channel as the windows number it.

#include "publish/JsonReading.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

TEST(JsonReadingTest, AFlowReadingAndAFailedVisit)
{
    measure::Reading flow;
    flow.timeMs = 1'796'824'923'123; // 2026-12-09 14:02:03.123 UTC
    flow.channel = 2;
    flow.tag = QStringLiteral("PUMP \"A\"");
    flow.typeName = QStringLiteral("Flow");
    flow.ok = true;
    flow.outcome = diagnostics::Outcome::value();
    flow.shown.text = QStringLiteral("  12.50  m3/h    12.1  \u00B0C\r\n 1234   m3  \r\n 123456   m3  ");
    flow.shown.value = 12.5;
    flow.shown.unit = QStringLiteral("m3/h");
    flow.shown.temperature = 12.1;
    flow.shown.totalDay = 1234;
    flow.shown.total = 123456;

    const QJsonObject o = QJsonDocument::fromJson(publish::readingJson(flow, true)).object();
    EXPECT_EQ(o.value("time").toString(), QStringLiteral("2026-12-09T14:02:03.123Z"));
    EXPECT_EQ(qint64(o.value("time_ms").toDouble()), flow.timeMs);
    EXPECT_EQ(o.value("channel").toInt(), 2);
    EXPECT_EQ(o.value("tag").toString(), flow.tag);
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("Flow"));
    EXPECT_TRUE(o.value("ok").toBool());
    EXPECT_EQ(o.value("value").toDouble(), 12.5);
    EXPECT_EQ(o.value("unit").toString(), QStringLiteral("m3/h"));
    EXPECT_EQ(o.value("temperature").toDouble(), 12.1);
    EXPECT_TRUE(o.value("value2").isNull());
    EXPECT_TRUE(o.value("unit2").isNull());
    EXPECT_EQ(o.value("total_day").toDouble(), 1234);
    EXPECT_EQ(o.value("total").toDouble(), 123456);
    EXPECT_EQ(o.value("outcome").toString(), QStringLiteral("value"));
    EXPECT_EQ(o.value("text").toString(), flow.shown.text);
    EXPECT_TRUE(o.value("backfill").toBool());
    EXPECT_EQ(publish::readingTopic(QStringLiteral("north"), flow.channel), QStringLiteral("zentlog/north/2/reading"));

    measure::Reading failed = flow;
    failed.ok = false;
    failed.outcome = diagnostics::Outcome::exception(6);
    failed.shown.text = QStringLiteral("Out of order");
    const QJsonObject f = QJsonDocument::fromJson(publish::readingJson(failed, false)).object();
    EXPECT_FALSE(f.value("ok").toBool());
    // Numbers left in a failed reading never leak into the message.
    EXPECT_TRUE(f.value("value").isNull());
    EXPECT_TRUE(f.value("total").isNull());
    EXPECT_EQ(f.value("outcome").toString(), QStringLiteral("exception_6"));
    EXPECT_EQ(f.value("text").toString(), QStringLiteral("Out of order"));
    EXPECT_FALSE(f.value("backfill").toBool());
    EXPECT_EQ(f.size(), o.size());
}
