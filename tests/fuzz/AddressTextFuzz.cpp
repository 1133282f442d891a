// Address texts as anyone can type them: the numeric value and the address byte sent never fail
// badly, and only station addresses are ever sent.

#include "config/AddressText.h"
#include "measure/StationReaders.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const double value = config::addressValue(text);
    const std::optional<uint8_t> byte = measure::stationAddressByte(value);
    if (byte && (*byte < 1 || *byte > 247 || std::fabs(value - *byte) > 0.5))
        std::abort();
    return 0;
}
