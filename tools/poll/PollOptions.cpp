#include "PollOptions.h"

#include "config/AddressText.h"
#include "config/MeasurementTypes.h"
#include "measure/StationReaders.h"
#include "serial/SerialDevices.h"

#include <algorithm>
#include <array>
#include <utility>

namespace poll {

const char* const kPollUsage =
    "usage: zentlog-poll (--device PATH|rtu+tcp://HOST:PORT|modbus+tcp://HOST:PORT | --port COMn)\n"
    "                    [--settings \"9600,n,8, 1\"]\n"
    "                    --address A --role Master|Ext --type N|NAME\n"
    "                    [--watch [--interval MS] [--count N]] [--stats] [--trace]\n"
    "Reads one station once (or every second with --watch) and prints the value text the\n"
    "measurement window shows. --stats prints the line's counters at the end, --trace every\n"
    "frame in hex on standard error.\n"
    "Exit status: 0 a reading, 1 \"Out of order\", 2 usage or port error.\n";

namespace {

// The options that take no value.
constexpr std::array<std::pair<const char*, bool PollOptions::*>, 3> kFlags{{
    {"--watch", &PollOptions::watch},
    {"--stats", &PollOptions::stats},
    {"--trace", &PollOptions::trace},
}};

std::optional<int16_t> typeFromText(const QString& text)
{
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber)
        return config::isMeasurementType(number) ? std::optional<int16_t>(static_cast<int16_t>(number)) : std::nullopt;
    for (int i = 0; i < config::kMeasurementTypeCount; ++i)
        if (config::measurementTypeTexts[static_cast<std::size_t>(i)].trimmed().compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return static_cast<int16_t>(i);
    return std::nullopt;
}

} // namespace

std::optional<PollOptions> parsePollOptions(const QStringList& arguments, QString& error)
{
    PollOptions options;
    bool haveAddress = false, haveRole = false, haveType = false, havePort = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const auto flag = std::find_if(kFlags.begin(), kFlags.end(),
                                       [&](const auto& entry) { return arg == QLatin1String(entry.first); });
        if (flag != kFlags.end()) {
            options.*(flag->second) = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            error = arg.startsWith(QLatin1String("--")) ? arg + QStringLiteral(" needs a value")
                                                        : QStringLiteral("unknown argument ") + arg;
            return std::nullopt;
        }
        const QString value = arguments[++i];
        bool ok = true;
        if (arg == QLatin1String("--device")) {
            options.device = value;
            ok = !value.isEmpty() && !havePort;
            havePort = true;
        } else if (arg == QLatin1String("--port")) {
            const QString upper = value.toUpper();
            const int n = upper.startsWith(QLatin1String("COM")) ? upper.mid(3).toInt(&ok) : 0;
            ok = ok && n >= 1 && n <= 4 && !havePort;
            options.port = static_cast<int16_t>(n);
            havePort = true;
        } else if (arg == QLatin1String("--settings")) {
            options.settings = value.toLatin1();
            ok = serial::parseSettingsString(options.settings).has_value();
        } else if (arg == QLatin1String("--address")) {
            options.address = config::addressValue(value);
            ok = measure::stationAddressByte(options.address).has_value();
            haveAddress = true;
        } else if (arg == QLatin1String("--role")) {
            const QString role = value.toLower();
            ok = role == QLatin1String("master") || role == QLatin1String("ext") || role == QLatin1String("ext.");
            options.startRegister = role == QLatin1String("master") ? 0 : 20;
            haveRole = true;
        } else if (arg == QLatin1String("--type")) {
            const auto type = typeFromText(value);
            ok = type.has_value();
            options.type = type.value_or(-1);
            haveType = true;
        } else if (arg == QLatin1String("--interval")) {
            options.intervalMs = value.toInt(&ok);
            ok = ok && options.intervalMs >= 0;
        } else if (arg == QLatin1String("--count")) {
            options.count = value.toInt(&ok);
            ok = ok && options.count >= 0;
        } else {
            error = QStringLiteral("unknown argument ") + arg;
            return std::nullopt;
        }
        if (!ok) {
            error = QStringLiteral("bad value for %1: \"%2\"").arg(arg, value);
            return std::nullopt;
        }
    }
    if (!havePort)
        error = QStringLiteral("give --device PATH or --port COMn");
    else if (!haveAddress)
        error = QStringLiteral("give --address");
    else if (!haveRole)
        error = QStringLiteral("give --role Master or Ext");
    else if (!haveType)
        error = QStringLiteral("give --type");
    if (!error.isEmpty())
        return std::nullopt;
    return options;
}

} // namespace poll
