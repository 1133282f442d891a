#include "logger/LoggerDecoders.h"
#include "logger/ValueText.h"

#include "TestFiles.h"

#include <QLocale>

#include <charconv>

#include <gtest/gtest.h>

using namespace logger;

namespace {

QString typeName(const char* code)
{
    return TypeNameFromCode({code[0], code[1]});
}

UnitDecoding decode(const char* type, int code)
{
    const std::optional<UnitDecoding> unit = LoggerUnitDecoder(QString::fromUtf8(type), static_cast<int16_t>(code));
    EXPECT_TRUE(unit.has_value()) << type << " " << code;
    return unit.value_or(UnitDecoding{QStringLiteral("none"), 0});
}

UnitDecoding unit(const char* text, int divisor)
{
    return {QString::fromUtf8(text), divisor};
}

} // namespace

TEST(TypeNameFromCode, TheTwentyOneCodes)
{
    const std::pair<const char*, const char*> table[] = {
        {"01", "Resistivity"},       {"02", "Conductivity"},         {"03", "pH"},
        {"04", "ORP"},               {"05", "Dissolved oxygen"},     {"06", "Flow"},
        {"07", "Chlorine"},          {"08", "Conductivity TOR"},     {"09", "NaCl"},
        {"0:", "NaOH"},              {"0;", "HCl"},                  {"0<", "H2SO4"},
        {"0=", "Turbidity"},         {"0>", "R_627"},                {"0?", "381"},
        {"10", "452 FREE CHLORINE"}, {"11", "452 TOTAL  CHLORINE"},  {"12", "452 CHLORINE DIOXYDE"},
        {"13", "452 OZONE"},         {"14", "452 HYDROGEN PEROX."},  {"15", "452 PEROXYACETIC AC."},
    };
    for (const auto& [code, name] : table)
        EXPECT_EQ(typeName(code), QString::fromLatin1(name)) << code;
}

TEST(TypeNameFromCode, AnythingElseIsNoType)
{
    // Letters after "09" are not codes, nor is the order of the characters swapped.
    for (const char* code : {"0A", "0a", "0@", "00", "16", "1:", "60", " 1", "1 "})
        EXPECT_EQ(typeName(code), QString()) << code;
    EXPECT_EQ(TypeNameFromCode({'\0', '\0'}), QString());
    EXPECT_EQ(TypeNameFromCode({'\xB0', '1'}), QString());
}

TEST(LoggerUnitDecoder, ResistivityAndR627ShareTheirTable)
{
    for (const char* type : {"Resistivity", "R_627"}) {
        EXPECT_EQ(decode(type, 1), unit("Ohm", 10));
        EXPECT_EQ(decode(type, 2), unit("kOhm", 1000));
        EXPECT_EQ(decode(type, 4), unit("kOhm", 10));
        EXPECT_EQ(decode(type, 5), unit("MOhm", 1000));
        EXPECT_EQ(decode(type, 7), unit("MOhm", 10));
        EXPECT_EQ(decode(type, 0), unit("____", 1));
        EXPECT_EQ(decode(type, 8), unit("____", 1));
        EXPECT_EQ(decode(type, 0x0105), unit("____", 1)); // the whole code counts, not its low byte
        EXPECT_EQ(decode(type, -1), unit("____", 1));
    }
    EXPECT_EQ(SecondValueDivisor(QStringLiteral("R_627")), 100);
    EXPECT_EQ(SecondValueDivisor(QStringLiteral("Resistivity")), 10);
    EXPECT_EQ(SecondValueDivisor(QString()), 10);
}

TEST(LoggerUnitDecoder, ConductivityTables)
{
    EXPECT_EQ(decode("Conductivity", 1), unit("µS", 1000));
    EXPECT_EQ(decode("Conductivity", 3), unit("µS", 10));
    EXPECT_EQ(decode("Conductivity", 4), unit("mS", 1000));
    EXPECT_EQ(decode("Conductivity", 5), unit("mS", 100));
    EXPECT_EQ(decode("Conductivity", 6), unit("____", 1));
    EXPECT_EQ(decode("Conductivity TOR", 1), unit("mS", 1000));
    EXPECT_EQ(decode("Conductivity TOR", 3), unit("mS", 10));
    EXPECT_EQ(decode("Conductivity TOR", 4), unit("mS", 1000));
    EXPECT_EQ(decode("Conductivity TOR", 5), unit("____", 1));
}

TEST(LoggerUnitDecoder, Flow)
{
    EXPECT_EQ(decode("Flow", 0), unit("m3/h", 1000));
    EXPECT_EQ(decode("Flow", 10), unit("m3/h", 100));
    EXPECT_EQ(decode("Flow", 20), unit("m3/h", 10));
    EXPECT_EQ(decode("Flow", 30), unit("m3/h", 1));
    EXPECT_EQ(decode("Flow", 31), unit("m3/h", 1));
    EXPECT_EQ(decode("Flow", 40), unit("m3/s", 1000));
    EXPECT_EQ(decode("Flow", 50), unit("m3/s", 100));
    EXPECT_EQ(decode("Flow", 35), unit("____", 1));
    EXPECT_EQ(decode("Flow", 1), unit("____", 1));
}

TEST(LoggerUnitDecoder, OxygenLooksAtTheLowestBitOnly)
{
    EXPECT_EQ(decode("Dissolved oxygen", 3), unit("mg/l", 100));
    EXPECT_EQ(decode("Dissolved oxygen", 2), unit("%", 10));
    EXPECT_EQ(decode("Dissolved oxygen", -1), unit("mg/l", 100));
    EXPECT_EQ(decode("Dissolved oxygen", -32768), unit("%", 10));
}

TEST(LoggerUnitDecoder, TypesThatIgnoreTheCode)
{
    for (int code : {0, 1, 7, 255, -1, 32767}) {
        EXPECT_EQ(decode("pH", code), unit("pH", 100));
        EXPECT_EQ(decode("ORP", code), unit("mV", 1));
        EXPECT_EQ(decode("Chlorine", code), unit("mg/l", 1000));
        for (const char* type : {"NaCl", "NaOH", "HCl", "H2SO4"})
            EXPECT_EQ(decode(type, code), unit("%", 10)) << type;
    }
}

TEST(LoggerUnitDecoder, NibbleCodedUseTheLowByteOnly)
{
    EXPECT_EQ(decode("Turbidity", 0x0123), unit("mg/l", 10));
    EXPECT_EQ(decode("Turbidity", 0x7F01), unit("NTU", 1000));
    EXPECT_EQ(decode("Turbidity", 0x42), unit("FNU", 100));
    EXPECT_EQ(decode("Turbidity", 0x74), unit("%", 1));
    EXPECT_EQ(decode("Turbidity", 0x80), unit("", 1));
    EXPECT_EQ(decode("Turbidity", 0x93), unit("____", 10));
    EXPECT_EQ(decode("Turbidity", 0xF5), unit("____", 1));
    EXPECT_EQ(decode("Turbidity", -1), unit("____", 1)); // low byte 0xFF
    EXPECT_EQ(decode("381", 0x71), unit("°C", 1000));
    EXPECT_EQ(decode("381", 0x62), unit("", 100));
    EXPECT_EQ(decode("381", 0x30), unit("ppm", 1));
    EXPECT_EQ(decode("381", 0x8F), unit("____", 1));
    EXPECT_EQ(decode("381", 0x1203), unit("m", 10));
}

TEST(LoggerUnitDecoder, TypesWithoutDecoder)
{
    for (const char* type : {"452 FREE CHLORINE", "452 TOTAL  CHLORINE", "452 CHLORINE DIOXYDE", "452 OZONE",
                             "452 HYDROGEN PEROX.", "452 PEROXYACETIC AC.", "", "resistivity", "Flow "})
        EXPECT_FALSE(LoggerUnitDecoder(QString::fromLatin1(type), 1).has_value()) << type;
}

TEST(ScaledValueText, GeneralDecimalForm)
{
    EXPECT_EQ(ScaledValueText(1200, 100), QStringLiteral("12"));
    EXPECT_EQ(ScaledValueText(1234, 1000), QStringLiteral("1.234"));
    EXPECT_EQ(ScaledValueText(5, 10), QStringLiteral("0.5"));
    EXPECT_EQ(ScaledValueText(-250, 100), QStringLiteral("-2.5"));
    EXPECT_EQ(ScaledValueText(-5, 1000), QStringLiteral("-0.005"));
    EXPECT_EQ(ScaledValueText(1005, 1000), QStringLiteral("1.005"));
    EXPECT_EQ(ScaledValueText(0, 1000), QStringLiteral("0"));
    EXPECT_EQ(ScaledValueText(-32768, 1), QStringLiteral("-32768"));
    EXPECT_EQ(ScaledValueText(-32768, 1000), QStringLiteral("-32.768"));
    EXPECT_EQ(ScaledValueText(1234, 100, ','), QStringLiteral("12,34"));
    EXPECT_EQ(ScaledValueText(1200, 100, ','), QStringLiteral("12"));
}

TEST(ScaledValueText, EqualsTheDoubleQuotientInFifteenDigitsForEveryRawValue)
{
    for (int divisor : {1, 10, 100, 1000, 7}) {
        for (int raw = -32768; raw <= 32767; ++raw) {
            char expected[64];
            const double quotient = static_cast<double>(raw) / divisor;
            const auto result = std::to_chars(expected, expected + sizeof expected, quotient, std::chars_format::general, 15);
            char actual[32];
            const char* end = ScaledValueText(static_cast<int16_t>(raw), divisor, '.', actual);
            ASSERT_EQ(std::string_view(actual, static_cast<std::size_t>(end - actual)),
                      std::string_view(expected, static_cast<std::size_t>(result.ptr - expected)))
                << raw << " / " << divisor;
        }
    }
}

TEST(ScaledValueText, SeparatorFollowsTheLocale)
{
    EXPECT_EQ(DecimalSeparatorOf(QLocale::c()), '.');
    EXPECT_EQ(DecimalSeparatorOf(QLocale(QLocale::French, QLocale::France)), ',');
    EXPECT_EQ(DecimalSeparatorOf(QLocale(QLocale::German, QLocale::Germany)), ',');
    EXPECT_EQ(DecimalSeparatorOf(QLocale(QLocale::English, QLocale::UnitedKingdom)), '.');
    // A separator with no Windows-1252 byte falls back to the point.
    EXPECT_EQ(DecimalSeparatorOf(QLocale(QLocale::Arabic, QLocale::Egypt)), '.');
}
