#pragma once
// One pass over the four channels: every selected channel with a measurement type is read from
// its station, in channel order, and its value text (or "Out of order") is shown. A pending
// abandon request is honoured after every channel.

#include "measure/MeasurementFlags.h"
#include "measure/ValueText.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace config {
class ChannelConfiguration;
}

namespace measure {

// Reads one station and returns the value text of its channel, or nothing when no valid reply came.
using ChannelReader = std::function<std::optional<QString>(int16_t measurementType, double address,
                                                           int16_t startRegister)>;
// Shows a text in the value label of a channel.
using ValueSink = std::function<void(int channel, const QString& text)>;

class MeasurementCycle {
public:
    MeasurementCycle(config::ChannelConfiguration& channels, MeasurementFlags& flags, ChannelReader reader,
                     ValueSink show);

    // Runs one cycle; CycleRunning is true for its whole length.
    void RunMeasurementCycle();

private:
    config::ChannelConfiguration& channels_;
    MeasurementFlags& flags_;
    ChannelReader reader_;
    ValueSink show_;
};

} // namespace measure
