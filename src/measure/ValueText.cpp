#include "measure/ValueText.h"

#include "config/MeasurementTypes.h"
#include "measure/DisplayPattern.h"

#include <array>

namespace measure {

namespace {

// One row of a range table: the code a station sends, what its raw value is divided by, and
// the display pattern of the scaled value.
struct RangeRow {
    int code;
    double divisor;
    const char16_t* pattern;
};

const QString kCrLf = QStringLiteral("\r\n");
const QString kNoRange = QStringLiteral(" ##### __  ");
const QString kFlowNoRange = QStringLiteral("  ##### __  ");
const QString kTotalPattern = QStringLiteral(" #######0   m3  ");
// A totaliser whose digits are not all decimal shows dashes in place of its eight digits.
const QString kTotalNotANumber = QStringLiteral(" --------   m3  ");

constexpr std::array<RangeRow, 7> kResistivity{{
    {1, 10, u"##0.0 Ohm"},
    {2, 1000, u"0.000 kOhm"},
    {3, 100, u"#0.00 kOhm"},
    {4, 10, u"##0.0 kOhm"},
    {5, 1000, u"0.000 MOhm"},
    {6, 100, u"#0.00 MOhm"},
    {7, 10, u"##0.0 MOhm"},
}};

constexpr std::array<RangeRow, 5> kConductivity{{
    {1, 1000, u" 0.000  \u00B5S"},
    {2, 100, u" #0.00  \u00B5S"},
    {3, 10, u" ##0.0  \u00B5S"},
    {4, 1000, u" 0.000  mS"},
    {5, 100, u" #0.00  mS"},
}};

constexpr std::array<RangeRow, 4> kConductivitySwitch{{
    {1, 1000, u" 0.000  mS"},
    {2, 100, u" #0.00  mS"},
    {3, 10, u" ##0.0  mS"},
    {4, 1, u" 0  mS"},
}};

constexpr std::array<RangeRow, 2> kOxygen{{
    {0, 1000, u"    000.0  %   "},
    {1, 100, u"    #0.00  mg/l"},
}};

constexpr std::array<RangeRow, 7> kFlow{{
    {0, 1000, u"  0.000  m3/h"},
    {10, 100, u"  #0.00  m3/h"},
    {20, 10, u"  ##0.0  m3/h"},
    {30, 1, u"   ###0  m3/h"},
    {31, 1, u"   ###0  m3/h"},
    {40, 1000, u"  0.000  m3/s"},
    {50, 100, u"  #0.00  m3/s"},
}};

// Turbidity, 381 and 452 stations: the unit text follows the pattern.
constexpr std::array<RangeRow, 4> kDecimalCode{{
    {1, 1000, u" 0.000  "},
    {2, 100, u" #0.00  "},
    {3, 10, u" ##0.0  "},
    {4, 1, u" ####0  "},
}};

QString blanks(int count)
{
    return QString(count, u' ');
}

QString temperaturePart(const StationValues& values, int16_t type)
{
    const QString pattern = type == config::TypeResistivity ? QStringLiteral("###0.0 \u00B0C")
                                                            : QStringLiteral("###0.0  \u00B0C");
    return FormatWithPattern(values.Temperature.value_or(0), pattern);
}

template <typename Table>
// Replaces `raw` by raw / divisor of the row for `code` and returns the row's pattern; for a
// code that is not in `table`, sets `raw` to 0 and returns `noRangePattern`.
QString RangeDivisor(const Table& table, const Number& code, Number& raw, const QString& noRangePattern)
{
    if (code) {
        for (const RangeRow& row : table) {
            if (*code == row.code) {
                raw = raw.value_or(0) / row.divisor;
                return QString::fromUtf16(row.pattern);
            }
        }
    }
    raw = 0.0;
    return noRangePattern;
}

// The value part of a code-and-raw station; the raw field is scaled in place.
template <typename Table>
QString scaledValue(const Table& table, const Number& code, Number& raw, const QString& noRange,
                    const QString& unit = {})
{
    const QString pattern = RangeDivisor(table, code, raw, noRange);
    const bool inTable = pattern != noRange;
    return FormatWithPattern(raw.value_or(0), inTable ? pattern + unit : pattern);
}

QString totalLine(const Number& total)
{
    return total ? FormatWithPattern(*total, kTotalPattern) : kTotalNotANumber;
}

} // namespace

QString FormatChannelValue(int16_t type, StationValues& v)
{
    switch (type) {
    case config::TypeResistivity:
        return scaledValue(kResistivity, v.ResistivityRange, v.ResistivityRaw, kNoRange) + blanks(1)
            + temperaturePart(v, type);
    case config::TypeConductivity:
        return scaledValue(kConductivity, v.ConductivityRange, v.ConductivityRaw, kNoRange) + blanks(5)
            + temperaturePart(v, type);
    case config::TypeConductivitySwitch:
        return scaledValue(kConductivitySwitch, v.ConductivityRange, v.ConductivityRaw, kNoRange) + blanks(5)
            + temperaturePart(v, type);
    case config::TypeNaCl:
    case config::TypeNaOH:
    case config::TypeHCl:
    case config::TypeH2SO4:
        v.ConductivityRaw = v.ConductivityRaw.value_or(0) / 1000;
        return FormatWithPattern(*v.ConductivityRaw, QStringLiteral(" ##0.0  %")) + blanks(5)
            + temperaturePart(v, type);
    case config::TypePH:
        return FormatWithPattern(v.PhValue.value_or(0), QStringLiteral("###0.00 pH   ")) + blanks(2)
            + temperaturePart(v, type);
    case config::TypeORP:
        return FormatWithPattern(v.OrpMillivolts.value_or(0), QStringLiteral("###0 mV   ")) + blanks(2)
            + temperaturePart(v, type);
    case config::TypeChlorine:
        return FormatWithPattern(v.ChlorineValue.value_or(0), QStringLiteral("###0.000 mg/l ")) + blanks(2)
            + temperaturePart(v, type);
    case config::TypeOxygen:
        v.OxygenUnit = static_cast<double>(static_cast<int>(v.OxygenUnit.value_or(0)) & 1);
        return scaledValue(kOxygen, v.OxygenUnit, v.OxygenRaw, kNoRange) + blanks(3) + temperaturePart(v, type);
    case config::TypeFlow:
        return scaledValue(kFlow, v.FlowRange, v.FlowRate, kFlowNoRange) + blanks(4) + temperaturePart(v, type)
            + kCrLf + totalLine(v.FlowTotal1) + kCrLf + totalLine(v.FlowTotal2);
    case config::TypeTurbidity:
        return scaledValue(kDecimalCode, v.TurbidityDecimalCode, v.TurbidityRaw, kNoRange,
                           v.TurbidityUnit.value_or(QString()))
            + blanks(5) + temperaturePart(v, type);
    case config::Type381:
        return scaledValue(kDecimalCode, v.Model381DecimalCode, v.Model381Raw, kNoRange,
                           v.Model381Unit.value_or(QString()))
            + blanks(5) + temperaturePart(v, type);
    case config::Type452:
        return scaledValue(kDecimalCode, v.Model452DecimalCode, v.Model452Raw, kNoRange,
                           v.Model452Unit.value_or(QString()))
            + blanks(5) + temperaturePart(v, type);
    case config::TypeR627:
        return scaledValue(kResistivity, v.ResistivityRange, v.ResistivityRaw, kNoRange) + kCrLf
            + FormatWithPattern(v.SecondResistivityRaw.value_or(0) / 100, QStringLiteral("#0.00 MOhm"));
    default:
        return {};
    }
}

} // namespace measure
