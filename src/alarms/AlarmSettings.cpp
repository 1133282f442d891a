#include "alarms/AlarmSettings.h"

#include "common/IniFiles.h"
#include "common/IniSections.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

namespace alarms {

namespace {

QString sectionName(int input)
{
    return QStringLiteral("alarms-input%1").arg(input);
}

QString settingsPath(const QString& directory)
{
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).filePath(QLatin1String(common::kIniFileName));
}

QString numberText(double value)
{
    return QLocale::c().toString(value, 'g', 15);
}

struct LimitKeys {
    const char* lowLow;
    const char* low;
    const char* high;
    const char* highHigh;
};
constexpr LimitKeys kValueKeys{"low_low", "low", "high", "high_high"};
constexpr LimitKeys kTemperatureKeys{"temperature_low_low", "temperature_low", "temperature_high",
                                     "temperature_high_high"};

// The limits in the order they must keep, with their keys.
QString orderProblem(const Limits& limits, const LimitKeys& keys)
{
    const std::pair<const char*, std::optional<double>> ordered[] = {
        {keys.lowLow, limits.lowLow}, {keys.low, limits.low}, {keys.high, limits.high}, {keys.highHigh, limits.highHigh}};
    for (std::size_t i = 0; i < std::size(ordered); ++i) {
        for (std::size_t j = i + 1; j < std::size(ordered); ++j) {
            if (!ordered[i].second || !ordered[j].second)
                continue;
            const double a = *ordered[i].second;
            const double b = *ordered[j].second;
            // low and high may not meet: a value between them would be in alarm both ways.
            const bool strict = i <= 1 && j >= 2;
            if (strict ? !(a < b) : !(a <= b))
                return QStringLiteral("%1=%2 is not %3 %4=%5")
                    .arg(QLatin1String(ordered[i].first), numberText(a),
                         strict ? QStringLiteral("below") : QStringLiteral("at or below"),
                         QLatin1String(ordered[j].first), numberText(b));
        }
    }
    return {};
}

// Reads one number key; a value that is no finite number is noted in `problems`.
std::optional<double> numberKey(common::IniSection& section, const char* key, QStringList& problems)
{
    const std::optional<QString> text = section.text(QLatin1String(key), QString());
    if (!text || text->trimmed().isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(text->trimmed(), &ok);
    if (!ok || !std::isfinite(value)) {
        problems << QStringLiteral("%1=%2 is not a number").arg(QLatin1String(key), text->left(40));
        return std::nullopt;
    }
    return value;
}

Limits limitsKeys(common::IniSection& section, const LimitKeys& keys, QStringList& problems)
{
    Limits limits;
    limits.lowLow = numberKey(section, keys.lowLow, problems);
    limits.low = numberKey(section, keys.low, problems);
    limits.high = numberKey(section, keys.high, problems);
    limits.highHigh = numberKey(section, keys.highHigh, problems);
    return limits;
}

} // namespace

bool InputLimits::any() const
{
    const auto set = [](const Limits& l) { return l.lowLow || l.low || l.high || l.highHigh; };
    return set(value) || set(temperature) || failingS.has_value();
}

std::optional<double> InputLimits::limitOf(AlarmKind kind) const
{
    switch (kind) {
    case AlarmKind::LowLow: return value.lowLow;
    case AlarmKind::Low: return value.low;
    case AlarmKind::High: return value.high;
    case AlarmKind::HighHigh: return value.highHigh;
    case AlarmKind::Failing: return failingS;
    case AlarmKind::TemperatureLowLow: return temperature.lowLow;
    case AlarmKind::TemperatureLow: return temperature.low;
    case AlarmKind::TemperatureHigh: return temperature.high;
    case AlarmKind::TemperatureHighHigh: return temperature.highHigh;
    }
    return std::nullopt;
}

QString limitsProblem(const InputLimits& limits)
{
    if (QString order = orderProblem(limits.value, kValueKeys); !order.isEmpty())
        return order;
    if (QString order = orderProblem(limits.temperature, kTemperatureKeys); !order.isEmpty())
        return order;
    if (limits.deadband < 0)
        return QStringLiteral("deadband=%1 is negative").arg(numberText(limits.deadband));
    if (limits.delayS < 0)
        return QStringLiteral("delay_s=%1 is negative").arg(numberText(limits.delayS));
    if (limits.failingS && *limits.failingS <= 0)
        return QStringLiteral("failing_s=%1 is not above 0").arg(numberText(*limits.failingS));
    return {};
}

AlarmSettings AlarmSettings::load(const QString& directory)
{
    return load(common::IniFile::inDirectory(directory));
}

AlarmSettings AlarmSettings::load(const common::IniFile& file)
{
    AlarmSettings settings;
    if (file.damaged()) {
        settings.problem = QStringLiteral("%1; no alarm is raised.").arg(file.damage());
        return settings;
    }
    QStringList messages;
    common::IniSection main = file.section(QStringLiteral("alarms"));
    if (const std::optional<QString> command = main.text(QStringLiteral("command"), QStringLiteral("no command")))
        settings.command = command->trimmed();
    if (!main.problems().isEmpty())
        messages << QStringLiteral("%1; no command is run").arg(main.problems().join(QStringLiteral("; ")));
    for (int input = 0; input < kInputCount; ++input) {
        common::IniSection section = file.section(sectionName(input));
        QStringList problems;
        InputLimits limits;
        limits.value = limitsKeys(section, kValueKeys, problems);
        limits.temperature = limitsKeys(section, kTemperatureKeys, problems);
        limits.deadband = numberKey(section, "deadband", problems).value_or(0);
        limits.delayS = numberKey(section, "delay_s", problems).value_or(0);
        limits.failingS = numberKey(section, "failing_s", problems);
        problems << section.problems();
        if (problems.isEmpty()) {
            if (const QString order = limitsProblem(limits); !order.isEmpty())
                problems << order;
        }
        if (problems.isEmpty()) {
            settings.inputs[static_cast<std::size_t>(input)] = limits;
            continue;
        }
        messages << QStringLiteral("[%1] %2; the alarms of input %3 are off until it is mended")
                        .arg(sectionName(input), problems.join(QStringLiteral(", ")))
                        .arg(input);
    }
    if (!messages.isEmpty())
        settings.problem = QStringLiteral("In \"%1\": %2.").arg(file.path(), messages.join(QStringLiteral("; ")));
    return settings;
}

QString AlarmSettings::save(const std::array<bool, kInputCount>& which, const QString& directory) const
{
    const QString path = settingsPath(directory);
    for (int input = 0; input < kInputCount; ++input) {
        if (!which[static_cast<std::size_t>(input)])
            continue;
        if (const QString refused = limitsProblem(inputs[static_cast<std::size_t>(input)]); !refused.isEmpty())
            return QStringLiteral("Input %1: %2.").arg(input).arg(refused);
    }
    const auto number = [](std::optional<double> value) { return value ? numberText(*value) : QString(); };
    for (int input = 0; input < kInputCount; ++input) {
        if (!which[static_cast<std::size_t>(input)])
            continue;
        const InputLimits& l = inputs[static_cast<std::size_t>(input)];
        const auto set = [](const char* key, const QString& value) { return common::IniChange{QLatin1String(key), value}; };
        const QList<common::IniChange> changes{
            set("low_low", number(l.value.lowLow)),
            set("low", number(l.value.low)),
            set("high", number(l.value.high)),
            set("high_high", number(l.value.highHigh)),
            set("deadband", numberText(l.deadband)),
            set("delay_s", numberText(l.delayS)),
            set("failing_s", number(l.failingS)),
            set("temperature_low_low", number(l.temperature.lowLow)),
            set("temperature_low", number(l.temperature.low)),
            set("temperature_high", number(l.temperature.high)),
            set("temperature_high_high", number(l.temperature.highHigh)),
        };
        if (QString failure = common::saveIniSection(path, sectionName(input), changes, common::kMaxIniBytes);
            !failure.isEmpty())
            return failure;
    }
    return common::saveIniSection(path, QStringLiteral("alarms"), {{QStringLiteral("command"), command}},
                                  common::kMaxIniBytes);
}

QString commandFileProblem(const QString& iniPath)
{
    const QFileInfo info(iniPath);
    const QFileDevice::Permissions p = info.permissions();
    if (p & (QFileDevice::WriteGroup | QFileDevice::WriteOther))
        return QStringLiteral("\"%1\" may be written by others than its owner, so the alarm command it names is "
                              "not run (chmod go-w \"%1\" to allow it)")
            .arg(iniPath);
    return {};
}

} // namespace alarms
