#pragma once
// A measurement as it runs, without any window: the one-second tick, the cycle over the inputs
// with its stop protocol, the station values and the late replies, and the port, opened at the
// start and reopened at every tick while it is missing or lost. The measurement window shows it,
// and zentlog-station runs it without a display; the history, the frame trace, the line counters
// and the publisher take what it hands on through its signals.

#include "measure/MeasurementCycle.h"
#include "measure/MeasurementFlags.h"
#include "measure/StationValues.h"
#include "serial/LateReplies.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <map>
#include <vector>

namespace config {
class ChannelConfiguration;
}
namespace serial {
class SerialControl;
struct SerialSettings;
}

namespace measure {

inline constexpr int kInputCount = 4;

class MeasurementSession final : public QObject {
    Q_OBJECT
public:
    MeasurementSession(config::ChannelConfiguration& channels, MeasurementFlags& flags, serial::SerialControl& port,
                       const serial::SerialSettings& settings, QObject* parent = nullptr);

    // How an input's station is read and its value text made; tests put their own here.
    void setChannelReader(ChannelReader reader) { reader_ = std::move(reader); }

    // The tick, once a second while the measurement runs.
    QTimer& timer() { return timer_; }
    void start();
    // One tick: skipped while a cycle still runs (two cycles never share the line); the abandon
    // request is handed on; otherwise a cycle runs, on the port when it can be opened and with
    // every input failed as "port closed" when it cannot, so that an outage is recorded as one.
    void tick();
    // The tick stops and the port is closed; a later start reports a missing port afresh.
    void stop();

    // Opens the port unless it is open; false (and the outage reported once) when it cannot be.
    bool ensurePortOpen();
    // True from the moment the port could not be opened or was lost until it works again.
    bool portOutage() const { return outage_; }

    // The text each input showed last ("Out of order" without a value); empty before its first visit.
    const QString& valueText(int input) const { return texts_[static_cast<size_t>(input)]; }

signals:
    // An input's value text (or "Out of order") has just been produced by a visit, or the input's
    // value stopped being live because the port went.
    void valueShown(int input, const QString& text);
    // A late reply that came during an exchange answered an earlier request of `input`.
    void lateReplyDiscarded(int input, qint64 atMs);
    // Every visit of a selected input, as soon as it ends.
    void channelVisited(int input, const diagnostics::Exchange& exchange);
    // Every reading of a visit as soon as the visit ends (after channelVisited), with its exchange.
    void channelRead(const measure::Reading& reading, const diagnostics::Exchange& exchange);
    // A cycle ended after `milliseconds`; its readings, one per input visit that showed a text.
    void cycleCompleted(const std::vector<measure::Reading>& readings, qint64 milliseconds);
    // The tick found the abandon request (the stop marker) set.
    void stopRequested();
    // Once per outage: "cannot be opened: REASON" or "stopped working: REASON".
    void portFailed(const QString& what);
    // The port works again after an outage.
    void portRestored();

private:
    ChannelRead readChannel(int16_t type, double address, int16_t startRegister);
    void noteVisit(int input, const diagnostics::Exchange& exchange);
    void show(int input, const QString& text);
    void portLost(const QString& reason);
    void showOutOfOrder();

    config::ChannelConfiguration& channels_;
    MeasurementFlags& flags_;
    serial::SerialControl& port_;
    const serial::SerialSettings& settings_;
    StationValues stationValues_;
    serial::LateReplies lateReplies_; // on port_
    ChannelReader reader_;
    MeasurementCycle cycle_;
    QTimer timer_;
    std::vector<Reading> cycleReadings_; // handed over by the cycle as it ends
    std::array<QString, kInputCount> texts_{};
    // The input that last asked each station block, to which a late reply from it belongs.
    std::map<diagnostics::StationBlock, int> requestedBy_;
    bool outage_ = false;
    bool withoutPort_ = false; // the cycle under way runs without a port: nothing is sent
};

} // namespace measure
