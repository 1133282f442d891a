#pragma once
// The counters of the line, per channel, since the user last reset them, and the last failures.
// Fed once per channel visit; read by the Diagnostics window, the panels' tooltips and
// zentlog-poll. No widgets.

#include "diagnostics/Exchange.h"
#include "diagnostics/Outcome.h"
#include "diagnostics/ReplyTimes.h"

#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

namespace diagnostics {

struct ChannelCounters {
    uint64_t visits = 0;      // every visit, with or without a request
    uint64_t requests = 0;    // visits on which a request went out
    uint64_t replies = 0;     // valid replies in time
    uint64_t noReply = 0;
    std::map<InvalidReason, uint64_t> invalid; // invalid replies by what was wrong
    std::map<int, uint64_t> exceptions;        // exception replies by code
    uint64_t portLost = 0;
    uint64_t portClosed = 0;
    uint64_t notSent = 0;     // no station address or no measurement type
    uint64_t lateReplies = 0; // late replies to this channel's requests, recognised and thrown away
    uint64_t consecutiveFailures = 0;
    std::optional<qint64> lastValidMs; // UTC milliseconds of the last value
    std::optional<Outcome> lastFailure;
    qint64 lastFailureMs = 0;
    ReplyTimes replyTimes;

    uint64_t invalidTotal() const;
    uint64_t exceptionTotal() const;
};

// One entry of the failure list.
struct Failure {
    qint64 timeMs = 0;
    int channel = 0;
    QString reason; // an outcome's description, or "late reply discarded"
};

class LineCounters {
public:
    static constexpr int kChannelCount = 4;
    static constexpr std::size_t kRecentFailures = 20;

    // One visit of `channel` (0..3) at `timeMs` that ended with `outcome`; `replyMs` with a reply.
    void recordVisit(int channel, qint64 timeMs, const Outcome& outcome, std::optional<double> replyMs);
    // A late reply to an earlier request of `channel` came and was thrown away.
    void recordLateReply(int channel, qint64 timeMs);
    void reset();
    // Counters rebuilt from their parts (the station's live feed carries them so); failures
    // beyond kRecentFailures keep the newest.
    static LineCounters restore(const std::array<ChannelCounters, kChannelCount>& channels, std::deque<Failure> failures);

    const ChannelCounters& channel(int i) const { return channels_.at(static_cast<std::size_t>(i)); }
    // Oldest first, at most kRecentFailures.
    const std::deque<Failure>& recentFailures() const { return failures_; }
    // The whole line: the counts and reply times of every channel together (no last times).
    ChannelCounters total() const;

private:
    void addFailure(int channel, qint64 timeMs, QString reason);

    std::array<ChannelCounters, kChannelCount> channels_{};
    std::deque<Failure> failures_;
};

// Adds a visit to one channel's counters (also used alone by zentlog-poll).
void countVisit(ChannelCounters& counters, qint64 timeMs, const Outcome& outcome, std::optional<double> replyMs);

// The line scripts read: "requests=N replies=N timeouts=N invalid=N exceptions=N lost=N
// reply_ms_min=X reply_ms_mean=X reply_ms_p95=X reply_ms_max=X", times with one decimal ("." as
// the separator whatever the locale), "-" where there was no reply.
QString statsLine(const ChannelCounters& counters);

} // namespace diagnostics
