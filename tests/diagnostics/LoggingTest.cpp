// The program's logging categories: quiet but for warnings until a rule asks for more.

#include "common/Logging.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using CategoryOf = const QLoggingCategory& (*)();
const std::pair<CategoryOf, const char*> kCategories[] = {
    {lcSerial, "zentlog.serial"},   {lcMeasure, "zentlog.measure"}, {lcHistory, "zentlog.history"},
    {lcDiagnostics, "zentlog.diagnostics"}, {lcConfig, "zentlog.config"},   {lcLogger, "zentlog.logger"},
    {lcApp, "zentlog.app"},
};

} // namespace

TEST(LoggingCategories, WarningsOnlyUntilARuleTurnsOneCategoryOn)
{
    for (const auto& [category, name] : kCategories) {
        EXPECT_STREQ(category().categoryName(), name);
        EXPECT_TRUE(category().isWarningEnabled()) << name;
        EXPECT_FALSE(category().isInfoEnabled()) << name;
        EXPECT_FALSE(category().isDebugEnabled()) << name;
    }
    // What QT_LOGGING_RULES="zentlog.serial.debug=true" does.
    QLoggingCategory::setFilterRules(QStringLiteral("zentlog.serial.debug=true"));
    EXPECT_TRUE(lcSerial().isDebugEnabled());
    EXPECT_FALSE(lcMeasure().isDebugEnabled());
    EXPECT_FALSE(lcSerial().isInfoEnabled());
    QLoggingCategory::setFilterRules(QString());
    EXPECT_FALSE(lcSerial().isDebugEnabled());
}
