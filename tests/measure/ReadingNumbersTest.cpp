// The numbers of a reading are the numbers its text shows: for every measurement type, over
// many station values (every range code, values of both signs, missing fields), the numbers read
// back out of the text equal the reading's, in the order the text shows them, and the unit
// stands in the text right after the value.

#include "config/MeasurementTypes.h"
#include "measure/ValueText.h"

#include "TextNumbers.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace measure;

namespace {

using testing_support::numbersIn;

std::vector<double> present(std::initializer_list<Number> fields)
{
    std::vector<double> out;
    for (const Number& field : fields)
        if (field)
            out.push_back(*field);
    return out;
}

class Values {
public:
    explicit Values(unsigned seed)
        : random_(seed)
    {
    }

    StationValues next()
    {
        StationValues v;
        v.FlowRate = pick(0, 65535);
        v.FlowRange = pickCode({0, 10, 20, 30, 31, 40, 50, 7});
        v.FlowTotal1 = maybe(pick(0, 99999999));
        v.FlowTotal2 = maybe(pick(0, 99999999));
        v.PhValue = pick(-200, 1600) / 100.0;
        v.OrpMillivolts = pick(-2000, 2000);
        v.ConductivityRaw = pick(-32768, 32767);
        v.ConductivityRange = pickCode({0, 1, 2, 3, 4, 5, 9});
        v.ResistivityRaw = pick(-32768, 32767);
        v.ResistivityRange = pickCode({0, 1, 2, 3, 4, 5, 6, 7, 8});
        v.Temperature = maybe(pick(-300, 1500) / 10.0);
        v.SecondResistivityRaw = pick(-32768, 32767);
        v.OxygenRaw = pick(0, 32767);
        v.OxygenUnit = pick(0, 255);
        v.ChlorineValue = pick(0, 20000) / 1000.0;
        v.TurbidityRaw = pick(-32768, 32767);
        v.TurbidityDecimalCode = pick(0, 15);
        v.TurbidityUnit = pickUnit();
        v.Model452Raw = pick(-32768, 32767);
        v.Model452DecimalCode = pick(0, 15);
        v.Model452Unit = pickUnit();
        v.Model381Raw = pick(-32768, 32767);
        v.Model381DecimalCode = pick(0, 15);
        v.Model381Unit = pickUnit();
        return v;
    }

private:
    double pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    Number maybe(double value) { return pick(0, 9) == 0 ? Number() : Number(value); }
    Number pickCode(std::initializer_list<int> codes)
    {
        std::vector<int> list(codes);
        return list[static_cast<size_t>(pick(0, static_cast<int>(list.size()) - 1))];
    }
    Text pickUnit()
    {
        static const std::vector<QString> units{QStringLiteral("NTU"),  QStringLiteral("mg/l"), QStringLiteral("%"),
                                                QStringLiteral("\u00B0C"), QStringLiteral(""), QStringLiteral("ppm")};
        if (pick(0, 9) == 0)
            return std::nullopt;
        return units[static_cast<size_t>(pick(0, static_cast<int>(units.size()) - 1))];
    }

    std::mt19937 random_;
};

TEST(ReadingNumbersTest, EveryTypeShowsTheReadingsNumbers)
{
    Values generator(20261209);
    for (int16_t type = 0; type < config::kMeasurementTypeCount; ++type) {
        for (int round = 0; round < 400; ++round) {
            const StationValues original = generator.next();
            StationValues forText = original;
            StationValues forReading = original;
            const QString text = FormatChannelValue(type, forText);
            const ShownValue shown = FormatChannelReading(type, forReading);
            SCOPED_TRACE(QStringLiteral("type %1: \"%2\"").arg(type).arg(text).toStdString());
            ASSERT_EQ(shown.text, text);

            std::vector<double> expected;
            if (type == config::TypeFlow)
                expected = present({shown.value, shown.temperature, shown.totalDay, shown.total});
            else if (type == config::TypeR627)
                expected = present({shown.value, shown.value2});
            else
                expected = present({shown.value, shown.temperature});
            EXPECT_EQ(numbersIn(text), expected);

            // Every type shows a temperature but R_627; the flow shows its totals or dashes.
            EXPECT_EQ(shown.temperature.has_value(), type != config::TypeR627);
            EXPECT_EQ(shown.value2.has_value(), type == config::TypeR627);
            if (type == config::TypeFlow) {
                EXPECT_EQ(shown.totalDay.has_value(), original.FlowTotal1.has_value());
                EXPECT_EQ(shown.total.has_value(), original.FlowTotal2.has_value());
            } else {
                EXPECT_FALSE(shown.totalDay || shown.total);
            }
            // The unit is the text that follows the value in the panel.
            EXPECT_EQ(shown.unit.has_value(), shown.value.has_value());
            if (shown.unit && shown.value && !shown.unit->isEmpty()) {
                const QString firstLine = text.section(QStringLiteral("\r\n"), 0, 0);
                const auto valueEnd = firstLine.indexOf(QRegularExpression(QStringLiteral("[0-9.]\\s")));
                ASSERT_GE(valueEnd, 0);
                EXPECT_TRUE(firstLine.mid(valueEnd + 1).trimmed().startsWith(*shown.unit)) << shown.unit->toStdString();
            }
        }
    }
}

TEST(ReadingNumbersTest, ShownNumbersAreRoundedAsTheTextAndScaledByItsPercent)
{
    StationValues v;
    v.OxygenUnit = 0;
    v.OxygenRaw = 985; // 0.985 shown as 098.5 %
    v.Temperature = 21.25;
    ShownValue shown = FormatChannelReading(config::TypeOxygen, v);
    EXPECT_EQ(shown.value, 98.5);
    EXPECT_EQ(shown.unit, QStringLiteral("%"));
    EXPECT_EQ(shown.temperature, 21.3);

    v = {};
    v.ResistivityRange = 9; // no such range: no digit, no value
    v.ResistivityRaw = 1234;
    shown = FormatChannelReading(config::TypeResistivity, v);
    EXPECT_FALSE(shown.value);
    EXPECT_FALSE(shown.unit);
    EXPECT_EQ(shown.temperature, 0.0);

    v = {};
    v.FlowRange = 20;
    v.FlowRate = 1234;
    v.FlowTotal1 = std::nullopt; // digits that were no number: dashes
    v.FlowTotal2 = 42;
    shown = FormatChannelReading(config::TypeFlow, v);
    EXPECT_EQ(shown.value, 123.4);
    EXPECT_EQ(shown.unit, QStringLiteral("m3/h"));
    EXPECT_FALSE(shown.totalDay);
    EXPECT_EQ(shown.total, 42.0);

    v = {};
    v.ResistivityRange = 5;
    v.ResistivityRaw = 18200;
    v.SecondResistivityRaw = 1799;
    shown = FormatChannelReading(config::TypeR627, v);
    EXPECT_EQ(shown.value, 18.2);
    EXPECT_EQ(shown.unit, QStringLiteral("MOhm"));
    EXPECT_EQ(shown.value2, 17.99);
    EXPECT_EQ(shown.unit2, QStringLiteral("MOhm"));
}

} // namespace
