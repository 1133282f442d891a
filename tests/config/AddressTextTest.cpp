#include "config/AddressText.h"

#include <gtest/gtest.h>

using config::addressValue;

TEST(AddressText, ReadsTheLeadingDecimalNumber)
{
    EXPECT_EQ(addressValue(QStringLiteral("3")), 3);
    EXPECT_EQ(addressValue(QStringLiteral("03")), 3);
    EXPECT_EQ(addressValue(QStringLiteral("  14")), 14);
    EXPECT_EQ(addressValue(QStringLiteral("2.5")), 2.5);
    EXPECT_EQ(addressValue(QStringLiteral("+7")), 7);
    EXPECT_EQ(addressValue(QStringLiteral("-1")), -1);
    EXPECT_EQ(addressValue(QStringLiteral("12abc")), 12);
    EXPECT_EQ(addressValue(QStringLiteral("4 5")), 4);
    EXPECT_EQ(addressValue(QStringLiteral("1e1")), 10);
}

TEST(AddressText, TextThatDoesNotBeginWithANumberIsZero)
{
    EXPECT_EQ(addressValue(QString()), 0);
    EXPECT_EQ(addressValue(QStringLiteral("abc")), 0);
    EXPECT_EQ(addressValue(QStringLiteral(".")), 0);
    EXPECT_EQ(addressValue(QStringLiteral("-")), 0);
    EXPECT_EQ(addressValue(QStringLiteral("x3")), 0);
    EXPECT_EQ(addressValue(QStringLiteral("é5")), 0);
}
