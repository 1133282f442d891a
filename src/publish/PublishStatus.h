#pragma once
// What the publisher shows of itself in the Diagnostics window.

#include <QString>
#include <QtGlobal>

namespace publish {

struct PublishStatus {
    bool enabled = false;
    bool connected = false;
    bool connecting = false; // an attempt is under way: `problem` is not its reason
    QString destination;    // "host:port"
    qint64 sent = 0;        // readings published since the program started (backfill included)
    qint64 acknowledged = 0;
    qint64 pendingBackfill = 0; // readings recorded while there was no connection, still to send
    QString problem;        // the last reason the connection ended or could not be made
};

// "MQTT localhost:1883: connected, 120 readings sent, 118 acknowledged, 0 to backfill."
QString describe(const PublishStatus& status);

} // namespace publish
