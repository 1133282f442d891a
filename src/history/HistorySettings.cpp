#include "history/HistorySettings.h"

#include "common/IniSections.h"

#include <limits>

namespace history {

HistorySettings HistorySettings::load(const QString& directory)
{
    return load(common::IniFile::inDirectory(directory));
}

HistorySettings HistorySettings::load(const common::IniFile& file)
{
    HistorySettings settings;
    common::IniSection section = file.section(QStringLiteral("history"));
    if (const auto enabled = section.boolean(QStringLiteral("enabled"), QStringLiteral("true")))
        settings.enabled = *enabled;
    if (const auto days = section.integer(QStringLiteral("retention_days"), 1, std::numeric_limits<int>::max(),
                                          QStringLiteral("is not a number of days above 0"), QStringLiteral("400")))
        settings.retentionDays = *days;
    // An hour at most: more would risk an hour of readings to save almost nothing.
    if (const auto seconds = section.integer(QStringLiteral("write_interval_seconds"), 0, 3600,
                                             QStringLiteral("is not a number of seconds from 0 to 3600"),
                                             QStringLiteral("10")))
        settings.writeIntervalSeconds = *seconds;
    settings.problem = section.report(QStringLiteral("the history uses its defaults"));
    return settings;
}

} // namespace history
