#include "measure/MeasurementCycle.h"

#include "config/AddressText.h"
#include "config/ChannelConfiguration.h"

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
    for (int i = 0; i < config::kChannelCount; ++i) {
        // The configuration is read afresh at every visit, so unconfirmed edits count at once.
        if (channels_.selected(i) == 1) {
            const int16_t startRegister = channels_.IsChannelMaster(i).value_or(false) ? 0 : 20;
            const double address = config::addressValue(channels_.stationAddress(i));
            const int16_t type = channels_.measurementType(i);
            if (config::isMeasurementType(type)) {
                const std::optional<QString> text = reader_(type, address, startRegister);
                show_(i, text.value_or(kOutOfOrder));
            }
        }
        if (flags_.stopRequested())
            break;
    }
}

} // namespace measure
