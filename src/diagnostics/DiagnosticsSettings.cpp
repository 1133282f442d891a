#include "diagnostics/DiagnosticsSettings.h"

#include "common/IniSections.h"

namespace diagnostics {

DiagnosticsSettings DiagnosticsSettings::load(const QString& directory)
{
    return load(common::IniFile::inDirectory(directory));
}

DiagnosticsSettings DiagnosticsSettings::load(const common::IniFile& file)
{
    DiagnosticsSettings settings;
    common::IniSection section = file.section(QStringLiteral("diagnostics"));
    if (const auto trace = section.boolean(QStringLiteral("trace"), QStringLiteral("false")))
        settings.trace = *trace;
    settings.problem = section.report(QStringLiteral("the diagnostics use their defaults"));
    return settings;
}

} // namespace diagnostics
