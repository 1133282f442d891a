// Display patterns and the value text of every measurement type.

#include "TestFiles.h"

#include "config/MeasurementTypes.h"
#include "measure/DisplayPattern.h"
#include "measure/ValueText.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace measure;

namespace {

QString fmt(double value, const char16_t* pattern)
{
    return FormatWithPattern(value, QString::fromUtf16(pattern));
}

TEST(DisplayPatternTest, DigitPositions)
{
    EXPECT_EQ(fmt(12.34, u"#0.00 kOhm"), "12.34 kOhm");
    EXPECT_EQ(fmt(0.5, u"#0.00 kOhm"), "0.50 kOhm");
    EXPECT_EQ(fmt(0, u" ##### __  "), "  __  ");
    EXPECT_EQ(fmt(0, u"  ##### __  "), "   __  ");
    EXPECT_EQ(fmt(7, u"    000.0  %   "), "    700.0  %   ");
    EXPECT_EQ(fmt(0.985, u"    000.0  %   "), "    098.5  %   ");
    EXPECT_EQ(fmt(250, u"   ###0  m3/h"), "   250  m3/h"); // the 3 of m3 is no digit position
    EXPECT_EQ(fmt(0, u" #######0   m3  "), " 0   m3  ");
    EXPECT_EQ(fmt(1.5, u"0."), "2.");
}

TEST(DisplayPatternTest, RoundingIsHalfAwayFromZeroInDecimal)
{
    EXPECT_EQ(fmt(2.345, u"0.00"), "2.35"); // 2.345 is a little less than that in binary
    EXPECT_EQ(fmt(-2.345, u"0.00"), "-2.35");
    EXPECT_EQ(fmt(2.344, u"0.00"), "2.34");
    EXPECT_EQ(fmt(9.995, u"0.00"), "10.00");
    EXPECT_EQ(fmt(0.05, u"###0.000 mg/l "), "0.050 mg/l ");
    EXPECT_EQ(fmt(0.123, u" ##0.0  %"), " 12.3  %");
    EXPECT_EQ(fmt(0.00045, u"0.0  %"), "0.0  %");
    EXPECT_EQ(fmt(0.0005, u"0.0  %"), "0.1  %");
}

TEST(DisplayPatternTest, TheIntegerPartIsNeverCut)
{
    EXPECT_EQ(fmt(12000, u"  0.000  m3/h"), "  12000.000  m3/h");
    EXPECT_EQ(fmt(12345.6, u"##0.0"), "12345.6");
    EXPECT_EQ(fmt(99999999, u" #######0   m3  "), " 99999999   m3  ");
    EXPECT_EQ(fmt(32767, u" 0  mS"), " 32767  mS");
}

TEST(DisplayPatternTest, TheMinusSignStandsBeforeTheDigits)
{
    EXPECT_EQ(fmt(-150, u"###0 mV   "), "-150 mV   ");
    EXPECT_EQ(fmt(-0.01, u"###0.00 pH   "), "-0.01 pH   ");
    EXPECT_EQ(fmt(-1.5, u" #0.00  \u00B5S"), " -1.50  \u00B5S");
    EXPECT_EQ(fmt(-0.004, u"0.00"), "0.00"); // rounds to zero: no sign
    EXPECT_EQ(fmt(-20, u"###0.0  \u00B0C"), "-20.0  \u00B0C");
}

TEST(DisplayPatternTest, TheSeparatorIsAPointInEveryLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(fmt(12.34, u"#0.00"), "12.34");
    QLocale::setDefault(before);
}

// Value texts, built from fields as a reader leaves them.
class ValueTextTest : public ::testing::Test {
protected:
    QString text(int16_t type) { return FormatChannelValue(type, v); }
    StationValues v;
};

TEST_F(ValueTextTest, Resistivity)
{
    v.ResistivityRange = 3;
    v.ResistivityRaw = 1234;
    v.Temperature = 21.5;
    EXPECT_EQ(text(config::TypeResistivity), QString::fromUtf16(u"12.34 kOhm 21.5 \u00B0C"));
    EXPECT_EQ(v.ResistivityRaw, 12.34);

    v.ResistivityRange = 9;
    v.ResistivityRaw = 1234;
    EXPECT_EQ(text(config::TypeResistivity), QString::fromUtf16(u"  __   21.5 \u00B0C"));
    EXPECT_EQ(v.ResistivityRaw, 0);

    v.ResistivityRange = 1;
    v.ResistivityRaw = -5;
    EXPECT_EQ(text(config::TypeResistivity), QString::fromUtf16(u"-0.5 Ohm 21.5 \u00B0C"));
}

TEST_F(ValueTextTest, ConductivityFamily)
{
    v.Temperature = 25.1;
    v.ConductivityRange = 4;
    v.ConductivityRaw = 1500;
    EXPECT_EQ(text(config::TypeConductivity), QString::fromUtf16(u" 1.500  mS     25.1  \u00B0C"));
    v.ConductivityRange = 1;
    v.ConductivityRaw = -32768;
    EXPECT_EQ(text(config::TypeConductivity), QString::fromUtf16(u" -32.768  \u00B5S     25.1  \u00B0C"));
    v.ConductivityRange = 6;
    v.ConductivityRaw = 1500;
    EXPECT_EQ(text(config::TypeConductivity), QString::fromUtf16(u"  __       25.1  \u00B0C"));

    v.ConductivityRange = 4;
    v.ConductivityRaw = 37;
    EXPECT_EQ(text(config::TypeConductivitySwitch), QString::fromUtf16(u" 37  mS     25.1  \u00B0C"));
    v.ConductivityRange = 3;
    v.ConductivityRaw = 5;
    EXPECT_EQ(text(config::TypeConductivitySwitch), QString::fromUtf16(u" 0.5  mS     25.1  \u00B0C"));

    for (int16_t type : {config::TypeNaCl, config::TypeNaOH, config::TypeHCl, config::TypeH2SO4}) {
        v.ConductivityRange = 77; // not used by the concentrations
        v.ConductivityRaw = 45;
        EXPECT_EQ(text(type), QString::fromUtf16(u" 4.5  %     25.1  \u00B0C")) << type;
        EXPECT_EQ(v.ConductivityRaw, 0.045);
    }
}

TEST_F(ValueTextTest, PhOrpChlorine)
{
    v.Temperature = -20.0;
    v.PhValue = 7.0;
    EXPECT_EQ(text(config::TypePH), QString::fromUtf16(u"7.00 pH     -20.0  \u00B0C"));
    v.OrpMillivolts = -150;
    EXPECT_EQ(text(config::TypeORP), QString::fromUtf16(u"-150 mV     -20.0  \u00B0C"));
    v.ChlorineValue = 0.05;
    EXPECT_EQ(text(config::TypeChlorine), QString::fromUtf16(u"0.050 mg/l   -20.0  \u00B0C"));
}

TEST_F(ValueTextTest, OxygenKeepsOnlyTheUnitBit)
{
    v.Temperature = 18.0;
    v.OxygenUnit = 3;
    v.OxygenRaw = 850;
    EXPECT_EQ(text(config::TypeOxygen), QString::fromUtf16(u"    8.50  mg/l   18.0  \u00B0C"));
    EXPECT_EQ(v.OxygenUnit, 1);
    v.OxygenUnit = 2;
    v.OxygenRaw = 985;
    EXPECT_EQ(text(config::TypeOxygen), QString::fromUtf16(u"    098.5  %      18.0  \u00B0C"));
    EXPECT_EQ(v.OxygenUnit, 0);
}

TEST_F(ValueTextTest, FlowHasThreeLines)
{
    v.Temperature = 12.5;
    v.FlowRange = 31;
    v.FlowRate = 250;
    v.FlowTotal1 = 0;
    v.FlowTotal2 = 123456;
    EXPECT_EQ(text(config::TypeFlow),
              QString::fromUtf16(u"   250  m3/h    12.5  \u00B0C\r\n 0   m3  \r\n 123456   m3  "));

    v.FlowRange = 25;
    v.FlowRate = 250;
    EXPECT_EQ(text(config::TypeFlow),
              QString::fromUtf16(u"   __      12.5  \u00B0C\r\n 0   m3  \r\n 123456   m3  "));
    EXPECT_EQ(v.FlowRate, 0);

    // Twelve thousand m3/h under a three-decimal pattern; the largest unsigned flow.
    v.FlowRange = 0;
    v.FlowRate = 12000000;
    EXPECT_TRUE(text(config::TypeFlow).startsWith("  12000.000  m3/h    12.5"));
    v.FlowRange = 30;
    v.FlowRate = 65535;
    EXPECT_TRUE(text(config::TypeFlow).startsWith("   65535  m3/h"));

    // A totaliser that was not decimal shows no number.
    v.FlowTotal2.reset();
    EXPECT_TRUE(text(config::TypeFlow).endsWith("\r\n --------   m3  "));
}

TEST_F(ValueTextTest, DecimalCodeTypesReadTheUnitAsPartOfThePattern)
{
    v.Temperature = 20.0;
    v.TurbidityDecimalCode = 2;
    v.TurbidityUnit = QStringLiteral("NTU");
    v.TurbidityRaw = 1234;
    EXPECT_EQ(text(config::TypeTurbidity), QString::fromUtf16(u" 12.34  NTU     20.0  \u00B0C"));

    v.Model381DecimalCode = 3;
    v.Model381Unit = QStringLiteral("%");
    v.Model381Raw = 5;
    EXPECT_EQ(text(config::Type381), QString::fromUtf16(u" 50.0  %     20.0  \u00B0C")); // "%" multiplies

    v.Model452DecimalCode = 0;
    v.Model452Unit = QStringLiteral("g/l");
    v.Model452Raw = 77;
    EXPECT_EQ(text(config::Type452), QString::fromUtf16(u"  __       20.0  \u00B0C")); // no unit
    EXPECT_EQ(v.Model452Raw, 0);

    // A unit never set is empty text.
    v.Model452DecimalCode = 4;
    v.Model452Unit.reset();
    v.Model452Raw = 77;
    EXPECT_EQ(text(config::Type452), QString::fromUtf16(u" 77       20.0  \u00B0C"));
}

TEST_F(ValueTextTest, DualResistivityShowsTwoValuesAndNoTemperature)
{
    v.Temperature = 20.0;
    v.ResistivityRange = 6;
    v.ResistivityRaw = 1820;
    v.SecondResistivityRaw = 1750;
    EXPECT_EQ(text(config::TypeR627), QStringLiteral("18.20 MOhm\r\n17.50 MOhm"));
    EXPECT_EQ(v.ResistivityRaw, 18.2);
    EXPECT_EQ(v.SecondResistivityRaw, 1750); // left as it came
}

TEST_F(ValueTextTest, NoTypeGivesNoText)
{
    EXPECT_TRUE(text(-1).isEmpty());
    EXPECT_TRUE(text(16).isEmpty());
}

} // namespace
