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

// The value text is put together piece by piece, and every piece that shows a number puts that
// number, as shown, into the reading at the same time: the text and the numbers are one.
class Composer {
public:
    ShownValue result;

    Composer& main(const PatternText& part)
    {
        result.text += part.text;
        result.value = part.shown;
        if (part.shown)
            result.unit = part.after;
        return *this;
    }
    Composer& mainWithUnit(const PatternText& part, const QString& unit)
    {
        result.text += part.text;
        result.value = part.shown;
        if (part.shown)
            result.unit = unit.trimmed();
        return *this;
    }
    Composer& text(const QString& piece)
    {
        result.text += piece;
        return *this;
    }
    Composer& temperature(const StationValues& values, int16_t type)
    {
        const QString pattern = type == config::TypeResistivity ? QStringLiteral("###0.0 \u00B0C")
                                                                : QStringLiteral("###0.0  \u00B0C");
        const PatternText part = FormatWithPatternParts(values.Temperature.value_or(0), pattern);
        result.text += part.text;
        result.temperature = part.shown;
        return *this;
    }
    Composer& second(double value, const QString& pattern)
    {
        const PatternText part = FormatWithPatternParts(value, pattern);
        result.text += part.text;
        result.value2 = part.shown;
        if (part.shown)
            result.unit2 = part.after;
        return *this;
    }
};

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

// The value part of a code-and-raw station; the raw field is scaled in place. A code outside
// the table shows no digit, so the reading has no value then.
template <typename Table>
PatternText scaledValue(const Table& table, const Number& code, Number& raw, const QString& noRange,
                        const std::optional<QString>& unit = std::nullopt)
{
    const QString pattern = RangeDivisor(table, code, raw, noRange);
    const bool inTable = pattern != noRange;
    PatternText part = FormatWithPatternParts(raw.value_or(0), inTable && unit ? pattern + *unit : pattern);
    if (!inTable)
        part.shown.reset();
    else if (unit)
        part.after = unit->trimmed();
    return part;
}

// A flow totaliser line; its number is empty when the station's digits were not decimal.
QString totalLine(const Number& total, Number& shown)
{
    if (!total) {
        shown.reset();
        return kTotalNotANumber;
    }
    const PatternText part = FormatWithPatternParts(*total, kTotalPattern);
    shown = part.shown;
    return part.text;
}

} // namespace

QString FormatChannelValue(int16_t type, StationValues& v)
{
    return FormatChannelReading(type, v).text;
}

ShownValue FormatChannelReading(int16_t type, StationValues& v)
{
    Composer c;
    switch (type) {
    case config::TypeResistivity:
        c.main(scaledValue(kResistivity, v.ResistivityRange, v.ResistivityRaw, kNoRange)).text(blanks(1));
        break;
    case config::TypeConductivity:
        c.main(scaledValue(kConductivity, v.ConductivityRange, v.ConductivityRaw, kNoRange)).text(blanks(5));
        break;
    case config::TypeConductivitySwitch:
        c.main(scaledValue(kConductivitySwitch, v.ConductivityRange, v.ConductivityRaw, kNoRange)).text(blanks(5));
        break;
    case config::TypeNaCl:
    case config::TypeNaOH:
    case config::TypeHCl:
    case config::TypeH2SO4:
        v.ConductivityRaw = v.ConductivityRaw.value_or(0) / 1000;
        c.main(FormatWithPatternParts(*v.ConductivityRaw, QStringLiteral(" ##0.0  %"))).text(blanks(5));
        break;
    case config::TypePH:
        c.main(FormatWithPatternParts(v.PhValue.value_or(0), QStringLiteral("###0.00 pH   "))).text(blanks(2));
        break;
    case config::TypeORP:
        c.main(FormatWithPatternParts(v.OrpMillivolts.value_or(0), QStringLiteral("###0 mV   "))).text(blanks(2));
        break;
    case config::TypeChlorine:
        c.main(FormatWithPatternParts(v.ChlorineValue.value_or(0), QStringLiteral("###0.000 mg/l ")))
            .text(blanks(2));
        break;
    case config::TypeOxygen:
        v.OxygenUnit = static_cast<double>(static_cast<int>(v.OxygenUnit.value_or(0)) & 1);
        c.main(scaledValue(kOxygen, v.OxygenUnit, v.OxygenRaw, kNoRange)).text(blanks(3));
        break;
    case config::TypeFlow:
        c.main(scaledValue(kFlow, v.FlowRange, v.FlowRate, kFlowNoRange)).text(blanks(4)).temperature(v, type);
        c.text(kCrLf + totalLine(v.FlowTotal1, c.result.totalDay));
        c.text(kCrLf + totalLine(v.FlowTotal2, c.result.total));
        return c.result;
    case config::TypeTurbidity:
        c.main(scaledValue(kDecimalCode, v.TurbidityDecimalCode, v.TurbidityRaw, kNoRange,
                           v.TurbidityUnit.value_or(QString())))
            .text(blanks(5));
        break;
    case config::Type381:
        c.main(scaledValue(kDecimalCode, v.Model381DecimalCode, v.Model381Raw, kNoRange,
                           v.Model381Unit.value_or(QString())))
            .text(blanks(5));
        break;
    case config::Type452:
        c.main(scaledValue(kDecimalCode, v.Model452DecimalCode, v.Model452Raw, kNoRange,
                           v.Model452Unit.value_or(QString())))
            .text(blanks(5));
        break;
    case config::TypeR627:
        // Two resistivities and no temperature.
        c.main(scaledValue(kResistivity, v.ResistivityRange, v.ResistivityRaw, kNoRange)).text(kCrLf);
        c.second(v.SecondResistivityRaw.value_or(0) / 100, QStringLiteral("#0.00 MOhm"));
        return c.result;
    default:
        return {};
    }
    c.temperature(v, type);
    return c.result;
}

} // namespace measure
