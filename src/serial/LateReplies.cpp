#include "serial/LateReplies.h"

namespace serial {

namespace {

bool sameRegisters(const ModbusRequest& a, const ModbusRequest& b)
{
    return a.FunctionCode == b.FunctionCode && a.StartRegister == b.StartRegister && a.RegisterCount == b.RegisterCount;
}

} // namespace

void LateReplies::waitBefore(SerialControl& port, const ModbusRequest& request)
{
    const auto found = byStation_.find(request.Address);
    if (found == byStation_.end() || sameRegisters(found->second.request, request))
        return;
    const Unanswered& unanswered = found->second;
    if (!unanswered.lateUntil.hasExpired())
        awaitLateReply(port, unanswered.request, static_cast<int>(unanswered.lateUntil.remainingTime()));
    // The late reply has come, or it is too late now to be expected.
    byStation_.erase(found);
}

void LateReplies::note(const ModbusRequest& request, ReplyOutcome outcome, const ReplyLimits& limits)
{
    // Only a request that went out and got no valid answer may still be answered; a port that
    // closed or was lost takes its late replies with it.
    if (outcome == ReplyOutcome::TimedOut)
        byStation_.insert_or_assign(request.Address, Unanswered{request, QDeadlineTimer(limits.lateReplyMs)});
}

} // namespace serial
