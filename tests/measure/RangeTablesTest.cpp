// Every row of every range table of the value formatting, and every entry of the unit tables.
// Each row is reached through the value text of a type that uses it, with a raw value of four
// significant digits (1234: the divisor shows where the point goes) and with 5 (the digits the
// pattern always shows, such as "0.005"). The expectations follow from what a row means: the
// unit of the range and its number of decimals.

#include "config/MeasurementTypes.h"
#include "measure/UnitTables.h"
#include "measure/ValueText.h"

#include <gtest/gtest.h>

#include <vector>

using namespace measure;

namespace {

struct Row {
    int code;
    const char16_t* of1234; // the value part for raw 1234
    const char16_t* of5;    // and for raw 5
};

QString q(const char16_t* text)
{
    return QString::fromUtf16(text);
}

// Formats `raw` under range `code` for `type`; `setRange` and `setRaw` put them into the record.
template <typename SetRange, typename SetRaw>
QString formatted(int16_t type, int code, double raw, SetRange setRange, SetRaw setRaw)
{
    StationValues v;
    v.Temperature = 21.5;
    v.SecondResistivityRaw = 1750;
    setRange(v, code);
    setRaw(v, raw);
    return FormatChannelValue(type, v);
}

const QString kNoRange = QStringLiteral("  __  ");

TEST(RangeTables, ResistivityRangesOneToSevenAndTheDualResistivity)
{
    const std::vector<Row> rows{
        {1, u"123.4 Ohm", u"0.5 Ohm"},     {2, u"1.234 kOhm", u"0.005 kOhm"}, {3, u"12.34 kOhm", u"0.05 kOhm"},
        {4, u"123.4 kOhm", u"0.5 kOhm"},   {5, u"1.234 MOhm", u"0.005 MOhm"}, {6, u"12.34 MOhm", u"0.05 MOhm"},
        {7, u"123.4 MOhm", u"0.5 MOhm"},
    };
    const auto range = [](StationValues& v, int code) { v.ResistivityRange = code; };
    const auto raw = [](StationValues& v, double r) { v.ResistivityRaw = r; };
    for (const Row& row : rows) {
        for (const auto& [value, text] : {std::pair{1234.0, row.of1234}, std::pair{5.0, row.of5}}) {
            EXPECT_EQ(formatted(config::TypeResistivity, row.code, value, range, raw), q(text) + q(u" 21.5 \u00B0C"))
                << "range " << row.code << ", raw " << value;
            EXPECT_EQ(formatted(config::TypeR627, row.code, value, range, raw), q(text) + q(u"\r\n17.50 MOhm"))
                << "range " << row.code << ", raw " << value;
        }
    }
    for (int code : {0, 8, 255}) {
        EXPECT_EQ(formatted(config::TypeResistivity, code, 1234, range, raw), kNoRange + q(u" 21.5 \u00B0C")) << code;
        EXPECT_EQ(formatted(config::TypeR627, code, 1234, range, raw), kNoRange + q(u"\r\n17.50 MOhm")) << code;
    }
}

TEST(RangeTables, ConductivityRangesOneToFive)
{
    const std::vector<Row> rows{
        {1, u" 1.234  \u00B5S", u" 0.005  \u00B5S"}, {2, u" 12.34  \u00B5S", u" 0.05  \u00B5S"},
        {3, u" 123.4  \u00B5S", u" 0.5  \u00B5S"},  {4, u" 1.234  mS", u" 0.005  mS"},
        {5, u" 12.34  mS", u" 0.05  mS"},
    };
    const auto range = [](StationValues& v, int code) { v.ConductivityRange = code; };
    const auto raw = [](StationValues& v, double r) { v.ConductivityRaw = r; };
    for (const Row& row : rows) {
        EXPECT_EQ(formatted(config::TypeConductivity, row.code, 1234, range, raw), q(row.of1234) + q(u"     21.5  \u00B0C"))
            << row.code;
        EXPECT_EQ(formatted(config::TypeConductivity, row.code, 5, range, raw), q(row.of5) + q(u"     21.5  \u00B0C"))
            << row.code;
    }
    for (int code : {0, 6, 255})
        EXPECT_EQ(formatted(config::TypeConductivity, code, 1234, range, raw), kNoRange + q(u"     21.5  \u00B0C")) << code;
}

TEST(RangeTables, ConductivitySwitchRangesOneToFourAllInMillisiemens)
{
    const std::vector<Row> rows{
        {1, u" 1.234  mS", u" 0.005  mS"},
        {2, u" 12.34  mS", u" 0.05  mS"},
        {3, u" 123.4  mS", u" 0.5  mS"},
        {4, u" 1234  mS", u" 5  mS"},
    };
    const auto range = [](StationValues& v, int code) { v.ConductivityRange = code; };
    const auto raw = [](StationValues& v, double r) { v.ConductivityRaw = r; };
    for (const Row& row : rows) {
        EXPECT_EQ(formatted(config::TypeConductivitySwitch, row.code, 1234, range, raw),
                  q(row.of1234) + q(u"     21.5  \u00B0C"))
            << row.code;
        EXPECT_EQ(formatted(config::TypeConductivitySwitch, row.code, 5, range, raw), q(row.of5) + q(u"     21.5  \u00B0C"))
            << row.code;
    }
    for (int code : {0, 5, 255}) {
        EXPECT_EQ(formatted(config::TypeConductivitySwitch, code, 1234, range, raw), kNoRange + q(u"     21.5  \u00B0C"))
            << code;
    }
}

TEST(RangeTables, OxygenSaturationOrConcentrationByTheUnitBit)
{
    // Bit 0 chooses: 0 is a saturation in per cent (thousandths of the full value, shown with
    // three integer digits), 1 a concentration in mg/l with two decimals. The other bits do not count.
    const std::vector<Row> rows{
        {0, u"    123.4  %   ", u"    000.5  %   "},
        {1, u"    12.34  mg/l", u"    0.05  mg/l"},
        {2, u"    123.4  %   ", u"    000.5  %   "},
        {3, u"    12.34  mg/l", u"    0.05  mg/l"},
    };
    const auto unit = [](StationValues& v, int code) { v.OxygenUnit = code; };
    const auto raw = [](StationValues& v, double r) { v.OxygenRaw = r; };
    for (const Row& row : rows) {
        EXPECT_EQ(formatted(config::TypeOxygen, row.code, 1234, unit, raw), q(row.of1234) + q(u"   21.5  \u00B0C"))
            << row.code;
        EXPECT_EQ(formatted(config::TypeOxygen, row.code, 5, unit, raw), q(row.of5) + q(u"   21.5  \u00B0C")) << row.code;
    }
}

TEST(RangeTables, FlowRangesInCubicMetresPerHourAndPerSecond)
{
    const std::vector<Row> rows{
        {0, u"  1.234  m3/h", u"  0.005  m3/h"}, {10, u"  12.34  m3/h", u"  0.05  m3/h"},
        {20, u"  123.4  m3/h", u"  0.5  m3/h"},  {30, u"   1234  m3/h", u"   5  m3/h"},
        {31, u"   1234  m3/h", u"   5  m3/h"},   {40, u"  1.234  m3/s", u"  0.005  m3/s"},
        {50, u"  12.34  m3/s", u"  0.05  m3/s"},
    };
    const auto range = [](StationValues& v, int code) {
        v.FlowRange = code;
        v.FlowTotal1 = 1234;
        v.FlowTotal2 = 123456;
    };
    const auto raw = [](StationValues& v, double r) { v.FlowRate = r; };
    const QString rest = q(u"    21.5  \u00B0C\r\n 1234   m3  \r\n 123456   m3  ");
    for (const Row& row : rows) {
        EXPECT_EQ(formatted(config::TypeFlow, row.code, 1234, range, raw), q(row.of1234) + rest) << row.code;
        EXPECT_EQ(formatted(config::TypeFlow, row.code, 5, range, raw), q(row.of5) + rest) << row.code;
    }
    for (int code : {1, 11, 21, 32, 41, 51, 255})
        EXPECT_EQ(formatted(config::TypeFlow, code, 1234, range, raw), QStringLiteral("   __  ") + rest) << code;
}

TEST(RangeTables, DecimalCodesOneToFourOfTurbidity381And452)
{
    // The code gives the decimals; the station's unit follows the number.
    const std::vector<Row> rows{
        {1, u" 1.234  ", u" 0.005  "},
        {2, u" 12.34  ", u" 0.05  "},
        {3, u" 123.4  ", u" 0.5  "},
        {4, u" 1234  ", u" 5  "},
    };
    struct Kind {
        int16_t type;
        void (*set)(StationValues&, int, double, const QString&);
        const char16_t* unit;
    };
    const std::vector<Kind> kinds{
        {config::TypeTurbidity,
         [](StationValues& v, int code, double raw, const QString& unit) {
             v.TurbidityDecimalCode = code;
             v.TurbidityRaw = raw;
             v.TurbidityUnit = unit;
         },
         u"NTU"},
        {config::Type381,
         [](StationValues& v, int code, double raw, const QString& unit) {
             v.Model381DecimalCode = code;
             v.Model381Raw = raw;
             v.Model381Unit = unit;
         },
         u"mg/l"},
        {config::Type452,
         [](StationValues& v, int code, double raw, const QString& unit) {
             v.Model452DecimalCode = code;
             v.Model452Raw = raw;
             v.Model452Unit = unit;
         },
         u"g/l"},
    };
    for (const Kind& kind : kinds) {
        const auto text = [&](int code, double raw) {
            StationValues v;
            v.Temperature = 21.5;
            kind.set(v, code, raw, q(kind.unit));
            return FormatChannelValue(kind.type, v);
        };
        for (const Row& row : rows) {
            EXPECT_EQ(text(row.code, 1234), q(row.of1234) + q(kind.unit) + q(u"     21.5  \u00B0C"))
                << kind.type << " code " << row.code;
            EXPECT_EQ(text(row.code, 5), q(row.of5) + q(kind.unit) + q(u"     21.5  \u00B0C"))
                << kind.type << " code " << row.code;
        }
        for (int code : {0, 5, 15}) // no number, and no unit either
            EXPECT_EQ(text(code, 1234), kNoRange + q(u"     21.5  \u00B0C")) << kind.type << " code " << code;
    }
}

// The unit is chosen by the high nibble of the code byte; the low nibble (the decimals) does not count.
void expectUnits(std::optional<QString> (*unitOf)(uint8_t), const std::vector<std::optional<QString>>& byKey)
{
    for (int key = 0; key < 16; ++key) {
        const std::optional<QString> expected =
            key < static_cast<int>(byKey.size()) ? byKey[static_cast<size_t>(key)] : std::nullopt;
        for (int low : {0x0, 0x3, 0xF}) {
            const auto byte = static_cast<uint8_t>(key << 4 | low);
            EXPECT_EQ(unitOf(byte), expected) << "code byte " << int(byte);
        }
    }
}

TEST(UnitTables, TurbidityUnits)
{
    expectUnits(turbidityUnit, {QStringLiteral("NTU"), QStringLiteral("FAU"), QStringLiteral("mg/l"),
                                QStringLiteral("g/l"), QStringLiteral("FNU"), QStringLiteral("m"), QStringLiteral("cm"),
                                QStringLiteral("%"), QString()});
}

TEST(UnitTables, Model381Units)
{
    expectUnits(model381Unit, {QStringLiteral("m"), QStringLiteral("cm"), QStringLiteral("%"), QStringLiteral("ppm"),
                               QStringLiteral("mg/l"), QStringLiteral("g/l"), QString(), q(u"\u00B0C")});
}

TEST(UnitTables, Model452Units)
{
    expectUnits(model452Unit, {QStringLiteral("ppm"), QStringLiteral("g/l")});
}

} // namespace
