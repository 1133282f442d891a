#pragma once
// The measurement window's own measurement as its panel source: the session on the program's
// serial port, the channel configuration and the stop protocol.

#include "measure/PanelSource.h"

namespace config {
class ChannelConfiguration;
}
namespace diagnostics {
class LineCounters;
}
namespace serial {
struct SerialSettings;
}

namespace measure {

class MeasurementSession;
struct MeasurementFlags;

class SessionPanels final : public PanelSource {
    Q_OBJECT
public:
    SessionPanels(config::ChannelConfiguration& channels, MeasurementFlags& flags, MeasurementSession& session,
                  const serial::SerialSettings& settings, const diagnostics::LineCounters* counters,
                  QObject* parent = nullptr);

    bool configurationKnown() const override;
    bool selected(int channel) const override;
    int16_t measurementType(int channel) const override;
    QString channelLabel(int channel) const override;
    const diagnostics::ChannelCounters* counters(int channel) const override;

    void open() override;
    QTimer& timer() override;
    void tick() override;
    bool deferStop() override;
    void stop() override;
    bool cycleRunning() const override;

private:
    config::ChannelConfiguration& channels_;
    MeasurementFlags& flags_;
    MeasurementSession& session_;
    const serial::SerialSettings& settings_;
    const diagnostics::LineCounters* counters_;
};

} // namespace measure
