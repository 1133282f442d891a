#pragma once
// The windows' link to the station service measuring their working directory: its feed, and the
// latest configuration and state it sent, kept for the windows that open later (the measurement
// window as a viewer, the Diagnostics window). Reconnects by itself while the station is away.

#include "feed/FeedClient.h"

#include <QObject>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace app {

class StationLink final : public QObject {
    Q_OBJECT
public:
    explicit StationLink(QString directory, QObject* parent = nullptr);

    void start() { client_.start(); }
    bool connected() const { return client_.connected(); }
    // Connected once at least: a later loss is a loss, not a first attempt.
    bool everConnected() const { return everConnected_; }
    const std::optional<feed::StationConfiguration>& configuration() const { return configuration_; }
    const std::optional<feed::StationState>& state() const { return state_; }
    // The counters as the station last reported them (empty before its first state).
    const diagnostics::LineCounters& counters() const { return counters_; }
    // Why the feed cannot be reached, in words, when it is not connected.
    QString unreachableReason() const;

    void resetCounters() { client_.resetCounters(); }
    // The station reads its settings again (after the user saved them here).
    void reload() { client_.reload(); }

    // The station's alarms that are not normal, and those that ended while this link was up; the
    // station's own list, not a copy that could disagree with it.
    std::vector<alarms::Alarm> alarms() const;
    // Sent to the station, which acknowledges and sends the events back.
    void acknowledge(qint64 id) { client_.acknowledge(id); }
    void acknowledgeAll() { client_.acknowledgeAll(); }

signals:
    void connectedChanged(bool connected);
    void visited(const feed::VisitMessage& visit);
    void stateChanged(const feed::StationState& state);
    void configurationChanged(const feed::StationConfiguration& configuration);
    // The list of alarms() changed.
    void alarmsChanged();

private:
    QString directory_;
    feed::FeedClient client_;
    std::optional<feed::StationConfiguration> configuration_;
    std::optional<feed::StationState> state_;
    diagnostics::LineCounters counters_;
    std::map<qint64, alarms::Alarm> alarms_; // by id
    bool everConnected_ = false;
};

// Whether a station service measures `directory`: its feed answers, or the folder's measurement
// lock names zentlog-station (a station whose feed this user may not reach is still there).
bool stationMeasures(const QString& directory);

} // namespace app
