// "PortCom.dat" as anything a disk can hand us: the settings that come out are always usable,
// and they are written back in a form that reads back the same.

#include "serial/PortComFile.h"
#include "serial/SerialDevices.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const serial::PortComParse parsed = serial::parsePortCom(bytes);
    const serial::SerialSettings& s = parsed.settings;
    if (s.portNumber < 1 || s.portNumber > 4 || s.rateIndex < 0 || s.rateIndex > 2 || s.parityIndex < 0
        || s.parityIndex > 2 || s.stopIndex < 0 || s.stopIndex > 1 || !serial::parseSettingsString(s.settingsString()))
        std::abort();
    const serial::PortComParse again = serial::parsePortCom(serial::serializePortCom(s));
    if (again.malformed || !again.problems.isEmpty() || again.settings.portNumber != s.portNumber
        || again.settings.rateIndex != s.rateIndex || again.settings.parityIndex != s.parityIndex
        || again.settings.stopIndex != s.stopIndex)
        std::abort();
    return 0;
}
