#include "measure/MeasurementCycle.h"

#include "config/AddressText.h"
#include "config/ChannelConfiguration.h"
#include "config/MeasurementTypes.h"

#include <QDateTime>

namespace measure {

namespace {
// Keeps CycleRunning true for exactly as long as the cycle runs, however it is left.
class CycleRunningGuard {
public:
    explicit CycleRunningGuard(bool& running)
        : running_(running)
    {
        running_ = true;
    }
    ~CycleRunningGuard() { running_ = false; }
    CycleRunningGuard(const CycleRunningGuard&) = delete;
    CycleRunningGuard& operator=(const CycleRunningGuard&) = delete;

private:
    bool& running_;
};
} // namespace

ChannelRead ChannelRead::of(ShownValue shown)
{
    ChannelRead read;
    read.value = std::move(shown);
    read.exchange.outcome = diagnostics::Outcome::value();
    read.exchange.endedAtMs = QDateTime::currentMSecsSinceEpoch();
    return read;
}

ChannelRead ChannelRead::failed(diagnostics::Outcome outcome)
{
    ChannelRead read;
    read.exchange.outcome = outcome;
    read.exchange.endedAtMs = QDateTime::currentMSecsSinceEpoch();
    return read;
}

MeasurementCycle::MeasurementCycle(config::ChannelConfiguration& channels, MeasurementFlags& flags,
                                   ChannelReader reader, ValueSink show)
    : channels_(channels)
    , flags_(flags)
    , reader_(std::move(reader))
    , show_(std::move(show))
{
}

void MeasurementCycle::RunMeasurementCycle()
{
    const CycleRunningGuard running(flags_.CycleRunning);
    std::vector<Reading> readings;
    for (int i = 0; i < config::kChannelCount; ++i) {
        // The configuration is read afresh at every visit, so unconfirmed edits count at once.
        if (channels_.selected(i) == 1) {
            const int16_t startRegister = channels_.IsChannelMaster(i).value_or(false) ? 0 : 20;
            const double address = config::addressValue(channels_.stationAddress(i));
            const int16_t type = channels_.measurementType(i);
            if (config::isMeasurementType(type)) {
                Reading reading;
                reading.timeMs = QDateTime::currentMSecsSinceEpoch();
                reading.channel = i;
                reading.tag = channels_.tag(i);
                reading.typeName = config::measurementTypeTexts[static_cast<size_t>(type)].trimmed();
                ChannelRead read = reader_(type, address, startRegister);
                reading.ok = read.value.has_value();
                reading.outcome = read.exchange.outcome;
                reading.shown = read.value ? std::move(*read.value) : ShownValue(kOutOfOrder);
                // The panel shows the very text the reading holds.
                show_(i, reading.shown.text);
                if (visits_)
                    visits_(i, read.exchange);
                if (reading_)
                    reading_(reading, read.exchange);
                readings.push_back(std::move(reading));
            } else if (visits_) {
                visits_(i, ChannelRead::failed(diagnostics::Outcome::of(diagnostics::OutcomeKind::NoType)).exchange);
            }
        }
        if (flags_.stopRequested())
            break;
    }
    if (readings_ && !readings.empty())
        readings_(std::move(readings));
}

} // namespace measure
