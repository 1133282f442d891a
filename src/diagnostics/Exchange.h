#pragma once
// One request and what came back for it, as the frame trace and the counters see it.

#include "diagnostics/Outcome.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace diagnostics {

// A station's block of registers: who a request went to, or who a late reply came from.
struct StationBlock {
    int address = 0;
    int startRegister = 0;
    friend bool operator==(const StationBlock&, const StationBlock&) = default;
    friend auto operator<=>(const StationBlock&, const StationBlock&) = default;
};

struct Exchange {
    qint64 sentAtMs = 0;   // UTC milliseconds when the request was handed to the port (0: nothing sent)
    qint64 endedAtMs = 0;  // UTC milliseconds when the exchange ended
    QByteArray request;    // the request frame; empty when nothing was sent
    QByteArray received;   // every byte received while waiting for the reply (the first 4096)
    // On a Modbus TCP connection, the MBAP headers in front of the request and of the reply taken.
    QByteArray requestHeader;
    QByteArray replyHeader;
    Outcome outcome;
    // From the moment the request had left to the last byte of the reply (or exception reply).
    std::optional<double> replyMs;
    // Late replies to earlier, unanswered requests that were recognised and thrown away during
    // this exchange (before its request went out, or among the bytes of its wait).
    std::vector<StationBlock> lateReplies;

    bool ok() const { return outcome.ok(); }
};

} // namespace diagnostics
