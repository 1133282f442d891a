#pragma once
// One pass over the four channels: every selected channel with a measurement type is read from
// its station, in channel order, and its value text (or "Out of order") is shown. A pending
// abandon request is honoured after every channel. Every channel visit also yields a Reading;
// the cycle hands them all over at its end. How each visit went (its exchange) is handed over
// at once.

#include "diagnostics/Exchange.h"
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

// What reading one channel's station gave: the value of the channel (its text and the numbers it
// shows) when a valid reply came, and the exchange that says how it went.
struct ChannelRead {
    std::optional<ShownValue> value;
    diagnostics::Exchange exchange;

    // A value, as a reader that makes no exchange of its own (a test double) gives it.
    static ChannelRead of(ShownValue shown);
    // No value, for `outcome`.
    static ChannelRead failed(diagnostics::Outcome outcome);
};

// Reads one station.
using ChannelReader = std::function<ChannelRead(int16_t measurementType, double address, int16_t startRegister)>;
// Shows a text in the value label of a channel.
using ValueSink = std::function<void(int channel, const QString& text)>;
// Takes the readings of a cycle that has ended, one per channel visit that showed a text, in visit
// order.
using ReadingsSink = std::function<void(std::vector<Reading> readings)>;
// Told of every visit of a selected channel as soon as it ends, with its exchange; also of a
// channel that has no measurement type (nothing is sent, nothing shown, the outcome says why).
using VisitSink = std::function<void(int channel, const diagnostics::Exchange& exchange)>;
// Told of each reading as soon as its visit ends (after the VisitSink), with the visit's exchange.
using ReadingSink = std::function<void(const Reading& reading, const diagnostics::Exchange& exchange)>;

class MeasurementCycle {
public:
    MeasurementCycle(config::ChannelConfiguration& channels, MeasurementFlags& flags, ChannelReader reader,
                     ValueSink show);

    // Runs one cycle; CycleRunning is true for its whole length.
    void RunMeasurementCycle();

    void setReadingsSink(ReadingsSink sink) { readings_ = std::move(sink); }
    void setVisitSink(VisitSink sink) { visits_ = std::move(sink); }
    void setReadingSink(ReadingSink sink) { reading_ = std::move(sink); }

private:
    config::ChannelConfiguration& channels_;
    MeasurementFlags& flags_;
    ChannelReader reader_;
    ValueSink show_;
    ReadingsSink readings_;
    VisitSink visits_;
    ReadingSink reading_;
};

} // namespace measure
