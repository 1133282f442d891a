#include "SimConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

namespace sim {

namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// An integer in decimal or, with 0x, hexadecimal, within [low, high].
bool parseInt(const std::string& text, long long low, long long high, long long& out)
{
    int base = 10;
    std::string_view digits(text);
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc() || ptr != digits.data() + digits.size() || digits.empty())
        return false;
    value = negative ? -value : value;
    if (value < low || value > high)
        return false;
    out = value;
    return true;
}

bool parseDouble(const std::string& text, double& out)
{
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

// The options that take one integer, with their range.
struct IntOption {
    const char* key;
    long long low;
    long long high;
    void (*set)(StationConfig&, long long);
};

const IntOption* findIntOption(const std::string& key)
{
    static const IntOption options[] = {
        {"code", 0, 255, [](StationConfig& s, long long v) { s.code = static_cast<int>(v); }},
        {"value", -32768, 65535, [](StationConfig& s, long long v) { s.value = static_cast<int>(v); }},
        {"temp", -32768, 65535, [](StationConfig& s, long long v) { s.temperature = static_cast<int>(v); }},
        {"second", -32768, 65535, [](StationConfig& s, long long v) { s.second = static_cast<int>(v); }},
        {"total1", 0, 99999999, [](StationConfig& s, long long v) { s.total1 = static_cast<uint32_t>(v); }},
        {"total2", 0, 99999999, [](StationConfig& s, long long v) { s.total2 = static_cast<uint32_t>(v); }},
        {"delay", 0, 600000, [](StationConfig& s, long long v) { s.delayMs = static_cast<int>(v); }},
        {"late", 0, 600000, [](StationConfig& s, long long v) { s.faults.lateMs = static_cast<int>(v); }},
        {"noise", 1, 4096, [](StationConfig& s, long long v) { s.faults.noise = static_cast<int>(v); }},
        {"truncate", 0, 255, [](StationConfig& s, long long v) { s.faults.truncate = static_cast<int>(v); }},
        {"wrongaddr", 0, 255, [](StationConfig& s, long long v) { s.faults.wrongAddress = static_cast<int>(v); }},
    };
    for (const IntOption& option : options)
        if (key == option.key)
            return &option;
    return nullptr;
}

} // namespace

int typeFromName(const std::string& name)
{
    static const std::array<const char*, 16> names{"resistivity", "conductivity", "ph",        "orp",
                                                   "oxygen",      "flow",         "chlorine",  "c_tor",
                                                   "nacl",        "naoh",         "hcl",       "h2so4",
                                                   "turbidity",   "r_627",        "381",       "452"};
    const std::string key = lower(name);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (key == names[i])
            return static_cast<int>(i);
    long long number = 0;
    if (parseInt(key, 0, 15, number))
        return static_cast<int>(number);
    return -1;
}

std::optional<SimConfig> parseConfig(const std::string& text, std::string& error)
{
    SimConfig config;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return std::nullopt;
        };
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string w; words >> w;)
            fields.push_back(w);
        if (fields.empty())
            continue;
        if (fields.size() < 3)
            return fail("expected ADDRESS BLOCK TYPE [OPTION]...");

        StationConfig station;
        station.line = lineNumber;
        long long n = 0;
        if (!parseInt(fields[0], 1, 247, n))
            return fail("station address \"" + fields[0] + "\" is not 1..247");
        station.address = static_cast<int>(n);
        if (!parseInt(fields[1], 0, 20, n) || (n != 0 && n != 20))
            return fail("block \"" + fields[1] + "\" is not 0 or 20");
        station.block = static_cast<int>(n);
        station.type = typeFromName(fields[2]);
        if (station.type < 0)
            return fail("unknown measurement type \"" + fields[2] + "\"");

        for (std::size_t i = 3; i < fields.size(); ++i) {
            const std::string& option = fields[i];
            const auto eq = option.find('=');
            const std::string key = lower(option.substr(0, eq));
            const std::string value = eq == std::string::npos ? std::string() : option.substr(eq + 1);
            const bool hasValue = eq != std::string::npos;
            const auto number = [&](long long low, long long high) -> std::optional<long long> {
                long long v = 0;
                if (!hasValue || !parseInt(value, low, high, v))
                    return std::nullopt;
                return v;
            };
            const auto bad = [&] { return fail("bad option \"" + option + "\""); };

            if (key == "regs") {
                std::array<uint16_t, 8> regs{};
                std::istringstream parts(value);
                std::string part;
                std::size_t count = 0;
                while (std::getline(parts, part, ',')) {
                    long long v = 0;
                    if (count >= regs.size() || !parseInt(part.rfind("0x", 0) == 0 ? part : "0x" + part, 0, 0xFFFF, v))
                        return bad();
                    regs[count++] = static_cast<uint16_t>(v);
                }
                if (count != regs.size())
                    return fail("regs= needs 8 hexadecimal words");
                station.registers = regs;
                station.vary = false;
            } else if (const IntOption* known = findIntOption(key)) {
                const auto v = number(known->low, known->high);
                if (!v)
                    return bad();
                known->set(station, *v);
            } else if (key == "fixed" && !hasValue) {
                station.vary = false;
            } else if (key == "silent" && !hasValue) {
                station.faults.silent = true;
            } else if (key == "badcrc" && !hasValue) {
                station.faults.badCrc = true;
            } else if (key == "exception") {
                long long v = 4; // server device failure
                if (hasValue && !parseInt(value, 1, 255, v))
                    return bad();
                station.faults.exception = static_cast<int>(v);
            } else if (key == "prob") {
                double p = 0;
                if (!hasValue || !parseDouble(value, p) || p < 0 || p > 1)
                    return bad();
                station.faults.probability = p;
            } else {
                return fail("unknown option \"" + option + "\"");
            }
        }
        for (const StationConfig& other : config.stations)
            if (other.address == station.address && other.block == station.block)
                return fail("station " + std::to_string(station.address) + " block " + std::to_string(station.block)
                            + " is already defined on line " + std::to_string(other.line));
        config.stations.push_back(station);
    }
    return config;
}

} // namespace sim
