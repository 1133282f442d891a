// Writes a logger file of plausible data for benchmarks and the demo: channel 1 "PUMP A", a flow
// in m3/h with its totaliser; channel 2 "OUTLET", a resistivity in MOhm; one record a minute.
//
//   make-logger-file RECORDS FILE [--empty-every N]
//
// With --empty-every N every Nth record is an empty one (date bytes zero), as the logger leaves
// them after a power cut.

#include "logger/LoggerFormat.h"

#include <QByteArray>
#include <QFile>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

uint8_t bcd(int value)
{
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

logger::Totaliser bcdTotal(int64_t value)
{
    logger::Totaliser total{};
    for (uint8_t& byte : total) {
        byte = bcd(static_cast<int>(value % 100));
        value /= 100;
    }
    return total;
}

bool parseCount(const char* text, int64_t& value)
{
    const std::string_view view(text);
    const auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value);
    return ec == std::errc() && end == view.data() + view.size() && value >= 0;
}

int usage()
{
    std::fputs("usage: make-logger-file RECORDS FILE [--empty-every N]\n", stderr);
    return 2;
}

constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

} // namespace

int main(int argc, char* argv[])
{
    int64_t records = 0;
    int64_t emptyEvery = 0;
    if (argc != 3 && argc != 5)
        return usage();
    if (!parseCount(argv[1], records))
        return usage();
    if (argc == 5 && (std::strcmp(argv[3], "--empty-every") != 0 || !parseCount(argv[4], emptyEvery)))
        return usage();

    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "make-logger-file: %s\n", qPrintable(file.errorString()));
        return 1;
    }

    logger::LoggerHeader header;
    header.Name1 = "PUMP A";
    header.Name2 = "OUTLET";
    header.TypeCode1 = {'0', '6'}; // Flow, m3/h in hundredths
    header.UnitCode1 = 10;
    header.TypeCode2 = {'0', '1'}; // Resistivity, MOhm in hundredths
    header.UnitCode2 = 6;
    QByteArray chunk = header.toBytes();

    int year = 24;
    int month = 3;
    int day = 1;
    int minuteOfDay = 0;
    double total = 12345.0; // m3
    for (int64_t k = 0; k < records; ++k) {
        const double phase = static_cast<double>(k) / 240.0;
        logger::LoggerRecord record;
        const bool empty = emptyEvery > 0 && (k + 1) % emptyEvery == 0;
        if (!empty) {
            const double flow = 20.0 + 8.0 * std::sin(phase); // m3/h
            total += flow / 60.0;
            record.DateBytes = {bcd(day), bcd(month), bcd(year)};
            record.TimeBytes = {bcd(minuteOfDay / 60), bcd(minuteOfDay % 60)};
            record.Total1 = bcdTotal(static_cast<int64_t>(total));
            record.MainValue1 = static_cast<int16_t>(std::lround(flow * 100));
            record.SecondValue1 = static_cast<int16_t>(std::lround(180 + 40 * std::sin(phase / 7)));
            record.MainValue2 = static_cast<int16_t>(std::lround(1650 + 170 * std::cos(phase / 3)));
            record.SecondValue2 = static_cast<int16_t>(std::lround(200 + 35 * std::sin(phase / 5)));
        }
        char bytes[logger::kRecordSize];
        record.toBytes(bytes);
        chunk.append(bytes, logger::kRecordSize);

        if (++minuteOfDay == 24 * 60) {
            minuteOfDay = 0;
            if (++day > kDaysInMonth[month - 1]) {
                day = 1;
                if (++month > 12) {
                    month = 1;
                    year = (year + 1) % 100;
                }
            }
        }
        if (chunk.size() >= 1 << 20) {
            if (file.write(chunk) != chunk.size())
                break;
            chunk.clear();
        }
    }
    if (file.write(chunk) != chunk.size() || !file.flush()) {
        std::fprintf(stderr, "make-logger-file: %s\n", qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
