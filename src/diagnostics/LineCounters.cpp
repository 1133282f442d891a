#include "diagnostics/LineCounters.h"

#include <numeric>

namespace diagnostics {

namespace {

template <typename Map>
uint64_t sumOf(const Map& map)
{
    return std::accumulate(map.begin(), map.end(), uint64_t{0},
                           [](uint64_t sum, const auto& entry) { return sum + entry.second; });
}

QString milliseconds(std::optional<double> ms)
{
    return ms ? QString::number(*ms, 'f', 1) : QStringLiteral("-");
}

} // namespace

uint64_t ChannelCounters::invalidTotal() const
{
    return sumOf(invalid);
}

uint64_t ChannelCounters::exceptionTotal() const
{
    return sumOf(exceptions);
}

void countVisit(ChannelCounters& c, qint64 timeMs, const Outcome& outcome, std::optional<double> replyMs)
{
    ++c.visits;
    if (outcome.requestSent())
        ++c.requests;
    switch (outcome.kind) {
    case OutcomeKind::Value:
        ++c.replies;
        c.lastValidMs = timeMs;
        c.consecutiveFailures = 0;
        if (replyMs)
            c.replyTimes.add(*replyMs);
        return;
    case OutcomeKind::NoReply: ++c.noReply; break;
    case OutcomeKind::InvalidReply: ++c.invalid[outcome.invalid]; break;
    case OutcomeKind::Exception: ++c.exceptions[outcome.exceptionCode]; break;
    case OutcomeKind::PortLost: ++c.portLost; break;
    case OutcomeKind::PortClosed: ++c.portClosed; break;
    case OutcomeKind::NoAddress:
    case OutcomeKind::NoType: ++c.notSent; break;
    }
    ++c.consecutiveFailures;
    c.lastFailure = outcome;
    c.lastFailureMs = timeMs;
}

void LineCounters::recordVisit(int channel, qint64 timeMs, const Outcome& outcome, std::optional<double> replyMs)
{
    if (channel < 0 || channel >= kChannelCount)
        return;
    countVisit(channels_[static_cast<std::size_t>(channel)], timeMs, outcome, replyMs);
    if (!outcome.ok())
        addFailure(channel, timeMs, outcome.describe());
}

void LineCounters::recordLateReply(int channel, qint64 timeMs)
{
    if (channel < 0 || channel >= kChannelCount)
        return;
    ++channels_[static_cast<std::size_t>(channel)].lateReplies;
    addFailure(channel, timeMs, QStringLiteral("late reply discarded"));
}

void LineCounters::addFailure(int channel, qint64 timeMs, QString reason)
{
    failures_.push_back(Failure{timeMs, channel, std::move(reason)});
    while (failures_.size() > kRecentFailures)
        failures_.pop_front();
}

void LineCounters::reset()
{
    channels_ = {};
    failures_.clear();
}

LineCounters LineCounters::restore(const std::array<ChannelCounters, kChannelCount>& channels,
                                   std::deque<Failure> failures)
{
    LineCounters counters;
    counters.channels_ = channels;
    while (failures.size() > kRecentFailures)
        failures.pop_front();
    counters.failures_ = std::move(failures);
    return counters;
}

ChannelCounters LineCounters::total() const
{
    ChannelCounters sum;
    for (const ChannelCounters& c : channels_) {
        sum.visits += c.visits;
        sum.requests += c.requests;
        sum.replies += c.replies;
        sum.noReply += c.noReply;
        for (const auto& [reason, n] : c.invalid)
            sum.invalid[reason] += n;
        for (const auto& [code, n] : c.exceptions)
            sum.exceptions[code] += n;
        sum.portLost += c.portLost;
        sum.portClosed += c.portClosed;
        sum.notSent += c.notSent;
        sum.lateReplies += c.lateReplies;
        sum.replyTimes.merge(c.replyTimes);
    }
    return sum;
}

QString statsLine(const ChannelCounters& c)
{
    const ReplyTimes& t = c.replyTimes;
    return QStringLiteral("requests=%1 replies=%2 timeouts=%3 invalid=%4 exceptions=%5 lost=%6 "
                          "reply_ms_min=%7 reply_ms_mean=%8 reply_ms_p95=%9 reply_ms_max=%10")
        .arg(c.requests)
        .arg(c.replies)
        .arg(c.noReply)
        .arg(c.invalidTotal())
        .arg(c.exceptionTotal())
        .arg(c.portLost + c.portClosed)
        .arg(milliseconds(t.minimum()), milliseconds(t.mean()), milliseconds(t.percentile95()),
             milliseconds(t.maximum()));
}

} // namespace diagnostics
