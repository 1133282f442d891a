#include "serial/PortProbe.h"

#include "serial/SerialControl.h"

namespace serial {

std::array<bool, kPortCount> ProbePorts(SerialControl& port, SerialControl* spare,
                                        const std::array<bool, kPortCount>& leave)
{
    std::array<bool, kPortCount> usable{};
    usable.fill(true);
    const int heldPort = port.PortOpen() ? port.CommPort() : 0;
    SerialControl* prober = heldPort != 0 ? spare : &port;
    if (!prober)
        return usable;

    const int16_t selection = prober->CommPort();
    for (int16_t p = 1; p <= kPortCount; ++p) {
        if (p == heldPort || leave[static_cast<size_t>(p - 1)])
            continue;
        prober->setCommPort(p);
        if (prober->setPortOpen(true)) {
            prober->setPortOpen(false);
            continue;
        }
        // The port that failed is the one the control has selected.
        const int failed = prober->CommPort();
        if (failed >= 1 && failed <= kPortCount)
            usable[static_cast<size_t>(failed - 1)] = false;
    }
    prober->setCommPort(selection);
    return usable;
}

} // namespace serial
