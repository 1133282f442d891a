#pragma once
// The measurement stop protocol shared by the main window, the measurement window and the cycle.

#include <QByteArray>

namespace measure {

struct MeasurementFlags {
    bool CycleRunning = false; // a measurement cycle is under way
    QByteArray StopRequest;    // equals stopMarker when the user asked to leave the measurement
    // ESC. The configuration window sets it again when it loads; holding it from the start means
    // an empty request can never be taken for a stop.
    QByteArray stopMarker = "\x1b";

    bool stopRequested() const { return StopRequest == stopMarker; }
};

} // namespace measure
