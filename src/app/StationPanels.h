#pragma once
// The measurement window as a viewer of the station service: the panels of the configuration the
// station has in force, filled by the station's visits as they come. Nothing is measured here:
// no port, no measurement lock, no cycle.

#include "measure/PanelSource.h"

#include <QTimer>

#include <array>

namespace feed {
struct StationConfiguration;
struct StationState;
struct VisitMessage;
}

namespace app {

class StationLink;

class StationPanels final : public measure::PanelSource {
    Q_OBJECT
public:
    explicit StationPanels(StationLink& link, QObject* parent = nullptr);

    bool configurationKnown() const override;
    bool selected(int channel) const override;
    int16_t measurementType(int channel) const override;
    QString channelLabel(int channel) const override;
    const diagnostics::ChannelCounters* counters(int channel) const override;
    QString titleSuffix() const override;

    void open() override;
    QTimer& timer() override { return timer_; }
    void tick() override;
    bool deferStop() override { return false; }
    void stop() override;

    // Silence from a connected station for this long and its values are no longer shown as live. A
    // station sends a line at every visit, and a visit lasts 4.5 s at most (two 2000 ms limits and
    // the 500 ms wait for a late reply), so three times that is no slow line but a hung station.
    static constexpr qint64 kSilenceMs = 15000;

private:
    void connectedChanged(bool connected);
    void visited(const feed::VisitMessage& visit);
    void stateChanged(const feed::StationState& state);
    void configurationChanged(const feed::StationConfiguration& configuration);
    // No value shown is live any more.
    void blankPanels();
    void setNotice(const QString& text);
    QString portNotice(const feed::StationState& state) const;

    StationLink& link_;
    QTimer timer_; // Minuterie1: watches the station's silence
    qint64 lastHeardMs_ = 0;
    bool silent_ = false;
    bool lossTold_ = false;
    QString notice_;
    std::array<QString, 4> shown_{};
};

} // namespace app
