#include "serial/LateReplies.h"

#include "serial/ReplyFrame.h"

#include <algorithm>

namespace serial {

namespace {

bool sameRegisters(const ModbusRequest& a, const ModbusRequest& b)
{
    return a.FunctionCode == b.FunctionCode && a.StartRegister == b.StartRegister && a.RegisterCount == b.RegisterCount;
}

diagnostics::StationBlock blockOf(const ModbusRequest& request)
{
    return {request.Address, request.StartRegister};
}

} // namespace

std::optional<diagnostics::StationBlock> LateReplies::waitBefore(SerialControl& port, const ModbusRequest& request)
{
    forgetExpired();
    const auto found = byStation_.find(request.Address);
    if (found == byStation_.end() || sameRegisters(found->second.request, request))
        return std::nullopt;
    const Unanswered unanswered = found->second;
    // Whatever happens now, the next request to this station is for other registers: from here
    // on a reply of the station is the reply to that request.
    byStation_.erase(found);
    if (!unanswered.lateUntil.hasExpired()
        && awaitLateReply(port, unanswered.request, static_cast<int>(unanswered.lateUntil.remainingTime())))
        return blockOf(unanswered.request);
    return std::nullopt;
}

void LateReplies::note(const ModbusRequest& request, ReplyOutcome outcome, const ReplyLimits& limits)
{
    // Only a request that went out and got no valid answer may still be answered; a port that
    // closed or was lost takes its late replies with it.
    if (outcome == ReplyOutcome::TimedOut) {
        byStation_.insert_or_assign(request.Address, Unanswered{request, QDeadlineTimer(limits.lateReplyMs),
                                                                QDeadlineTimer(std::max(limits.replyMs, limits.lateReplyMs))});
    } else if (outcome == ReplyOutcome::PortClosed || outcome == ReplyOutcome::PortLost) {
        byStation_.clear();
    }
}

std::vector<diagnostics::StationBlock> LateReplies::recognise(QByteArray& bytes)
{
    forgetExpired();
    std::vector<diagnostics::StationBlock> found;
    for (auto it = byStation_.begin(); it != byStation_.end() && !bytes.isEmpty();) {
        const ReplyScan scan = scanForReply(bytes, it->second.request);
        if (scan.kind == ReplyScan::Incomplete) {
            ++it;
            continue;
        }
        bytes.remove(scan.offset, scan.length);
        found.push_back(blockOf(it->second.request));
        it = byStation_.erase(it);
    }
    return found;
}

void LateReplies::forgetExpired()
{
    std::erase_if(byStation_, [](const auto& entry) { return entry.second.forgetAt.hasExpired(); });
}

} // namespace serial
