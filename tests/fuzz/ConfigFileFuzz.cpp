// "config.txt" as anything a disk can hand us: parsing never fails badly, and whatever parses
// is written back in a form that reads back to the same channels.

#include "config/ConfigFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const config::ConfigParse parsed = config::parseConfig(bytes);
    if (parsed.malformed)
        return 0;
    for (const config::ChannelConfig& channel : parsed.channels) {
        if (channel.selected < 0 || channel.selected > 2 || channel.measurementType < -1
            || channel.measurementType > 15 || (channel.master && channel.ext)
            || channel.stationAddress.contains(QLatin1Char('"')) || channel.tag.contains(QLatin1Char('"')))
            std::abort();
    }
    const QByteArray written = config::serializeConfig(parsed.channels);
    const config::ConfigParse again = config::parseConfig(written);
    if (again.malformed || !again.problems.isEmpty() || config::serializeConfig(again.channels) != written)
        std::abort();
    return 0;
}
