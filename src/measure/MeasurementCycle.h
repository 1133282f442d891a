#pragma once
// One pass over the four channels: every selected channel with a measurement type is read from
// its station, in channel order, and its value text (or "Out of order") is shown. A pending
// abandon request is honoured after every channel. Every channel visit also yields a Reading;
// the cycle hands them all over at its end.

#include "measure/MeasurementFlags.h"
#include "measure/Reading.h"
#include "measure/ValueText.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace config {
class ChannelConfiguration;
}

namespace measure {

// Reads one station and returns the value of its channel (its text and the numbers it shows), or
// nothing when no valid reply came.
using ChannelReader = std::function<std::optional<ShownValue>(int16_t measurementType, double address,
                                                              int16_t startRegister)>;
// Shows a text in the value label of a channel.
using ValueSink = std::function<void(int channel, const QString& text)>;
// Takes the readings of a cycle that has ended, one per channel visit, in visit order.
using ReadingsSink = std::function<void(std::vector<Reading> readings)>;

class MeasurementCycle {
public:
    MeasurementCycle(config::ChannelConfiguration& channels, MeasurementFlags& flags, ChannelReader reader,
                     ValueSink show);

    // Runs one cycle; CycleRunning is true for its whole length.
    void RunMeasurementCycle();

    void setReadingsSink(ReadingsSink sink) { readings_ = std::move(sink); }

private:
    config::ChannelConfiguration& channels_;
    MeasurementFlags& flags_;
    ChannelReader reader_;
    ValueSink show_;
    ReadingsSink readings_;
};

} // namespace measure
