#pragma once
// The measurement stop protocol shared by the main window, the measurement window and the cycle.

#include <QByteArray>

namespace measure {

struct MeasurementFlags {
    bool CycleRunning = false;  // a measurement cycle is under way
    QByteArray StopRequest;     // equals stopMarker when the user asked to leave the measurement
    QByteArray stopMarker;      // ESC once the configuration window has loaded
};

} // namespace measure
