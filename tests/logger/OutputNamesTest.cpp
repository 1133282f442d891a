#include "logger/OutputNames.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace logger;

TEST(ChannelName, FirstFifteenCharactersWithoutOuterSpaces)
{
    // Nine characters, six spaces, and a sixteenth character that is dropped.
    EXPECT_EQ(ChannelName("STATION 3      X"), QStringLiteral("STATION 3"));
    EXPECT_EQ(ChannelName("  PUMP A        "), QStringLiteral("PUMP A"));
    EXPECT_EQ(ChannelName("ABCDEFGHIJKLMNOP"), QStringLiteral("ABCDEFGHIJKLMNO"));
    EXPECT_EQ(ChannelName(QByteArray(16, ' ')), QString());
    // Only spaces are trimmed; what else fills the field stays for the file name rules.
    EXPECT_EQ(ChannelName(QByteArray("A\0\0 ", 4)), QString::fromLatin1("A\0\0", 3));
    EXPECT_EQ(ChannelName("Temp\xb0"), QStringLiteral("Temp°"));
}

TEST(OutputFileName, TypeChannelAndExtension)
{
    EXPECT_EQ(OutputFileName(QStringLiteral("Flow"), QStringLiteral("STATION 3")), QStringLiteral("Flow_STATION 3.xls"));
    EXPECT_EQ(OutputFileName(QString(), QStringLiteral("PUMP")), QStringLiteral("_PUMP.xls"));
    EXPECT_EQ(OutputFileName(QStringLiteral("452 HYDROGEN PEROX."), QStringLiteral("T1")),
              QStringLiteral("452 HYDROGEN PEROX._T1.xls"));
    EXPECT_EQ(OutputFileName(QStringLiteral("381"), QStringLiteral("Temp°")), QStringLiteral("381_Temp°.xls"));
}

TEST(OutputFileName, NothingInANameCanLeaveTheDirectory)
{
    EXPECT_EQ(OutputFileName(QStringLiteral("Flow"), QStringLiteral("../../etc")), QStringLiteral("Flow_.._.._etc.xls"));
    EXPECT_EQ(OutputFileName(QString(), QStringLiteral("..")), QStringLiteral("_...xls"));
    EXPECT_EQ(OutputFileName(QStringLiteral("pH"), QStringLiteral("C:\\x")), QStringLiteral("pH_C__x.xls"));
    EXPECT_EQ(OutputFileName(QStringLiteral("pH"), QString::fromLatin1("a\0b\tc\x7f", 6)), QStringLiteral("pH_a_b_c_.xls"));
    EXPECT_EQ(OutputFileName(QStringLiteral("pH"), QStringLiteral("<a>|b?*\"")), QStringLiteral("pH__a__b___.xls"));
    // The edges of the control ranges: 0x1F and 0x9F go, the space and the no-break space stay.
    EXPECT_EQ(OutputFileName(QStringLiteral("pH"), QString::fromLatin1("\x1f \x9f\xa0")),
              QString::fromLatin1("pH__ _\xa0.xls"));
    EXPECT_EQ(OutputFileName(QStringLiteral("pH"), QString(QChar(0x81))), QStringLiteral("pH__.xls"));
    EXPECT_EQ(SafeFileName(QStringLiteral("..hidden.xls")), QStringLiteral("hidden.xls"));
    EXPECT_EQ(SafeFileName(QStringLiteral("/etc/passwd")), QStringLiteral("_etc_passwd"));
}

TEST(SecondChannelFileName, TwoIsAddedOnlyOnAClash)
{
    EXPECT_EQ(SecondChannelFileName(QStringLiteral("pH_A.xls"), QStringLiteral("pH_B.xls")), QStringLiteral("pH_B.xls"));
    EXPECT_EQ(SecondChannelFileName(QStringLiteral("pH_A.xls"), QStringLiteral("pH_A.xls")), QStringLiteral("pH_A_2.xls"));
    // Windows would take these for one file.
    EXPECT_EQ(SecondChannelFileName(QStringLiteral("pH_a.xls"), QStringLiteral("pH_A.xls")), QStringLiteral("pH_A_2.xls"));
    // Two names that only differ in characters made safe.
    EXPECT_EQ(SecondChannelFileName(OutputFileName(QStringLiteral("pH"), QStringLiteral("a/b")),
                                    OutputFileName(QStringLiteral("pH"), QStringLiteral("a_b"))),
              QStringLiteral("pH_a_b_2.xls"));
}
