#include "serial/StationExchange.h"

#include "common/Logging.h"
#include "serial/LateReplies.h"
#include "serial/ReplyFrame.h"
#include "serial/SerialControl.h"

#include <QDateTime>

namespace serial {

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void addLateReplies(diagnostics::Exchange& exchange, std::vector<diagnostics::StationBlock> found)
{
    exchange.lateReplies.insert(exchange.lateReplies.end(), found.begin(), found.end());
}

diagnostics::Outcome outcomeOf(const ReplyWait& wait, QByteArray unexplained, const ModbusRequest& request,
                               const ReplyLimits& limits)
{
    using diagnostics::Outcome;
    using diagnostics::OutcomeKind;
    switch (wait.outcome) {
    case ReplyOutcome::Reply: return Outcome::value();
    case ReplyOutcome::Exception: return Outcome::exception(wait.exceptionCode);
    case ReplyOutcome::PortClosed: return Outcome::of(OutcomeKind::PortClosed);
    case ReplyOutcome::PortLost:
    case ReplyOutcome::Quit: return Outcome::of(OutcomeKind::PortLost);
    case ReplyOutcome::TimedOut: break;
    }
    const diagnostics::InvalidReason reason = diagnoseReply(unexplained, request);
    if (reason == diagnostics::InvalidReason::None)
        return Outcome::noReply(limits.replyMs);
    return Outcome::invalidReply(reason);
}

} // namespace

diagnostics::Exchange exchangeWithStation(SerialControl& port, const ModbusRequest& request,
                                          const ReplyLimits& limits, LateReplies* lateReplies, QByteArray& frame)
{
    diagnostics::Exchange exchange;
    frame.clear();
    const auto finish = [&](diagnostics::Outcome outcome) {
        exchange.outcome = outcome;
        exchange.endedAtMs = nowMs();
        return exchange;
    };
    if (!port.PortOpen())
        return finish(diagnostics::Outcome::of(diagnostics::OutcomeKind::PortClosed));
    if (lateReplies != nullptr) {
        if (const auto late = lateReplies->waitBefore(port, request))
            exchange.lateReplies.push_back(*late);
        if (!port.PortOpen())
            return finish(diagnostics::Outcome::of(diagnostics::OutcomeKind::PortLost));
    }
    if (port.InBufferCount() > 0) {
        QByteArray stale = port.Input();
        if (lateReplies != nullptr)
            addLateReplies(exchange, lateReplies->recognise(stale));
    }
    port.setInBufferCount(0);

    exchange.request = request.Frame;
    exchange.sentAtMs = nowMs();
    port.Output(request.Frame);
    ReplyWait wait = awaitReply(port, request, limits);
    exchange.received = wait.received;
    exchange.replyMs = wait.replyMs;

    // The bytes the station's own reply does not explain: late replies owed by earlier requests
    // are recognised there, and what is left says what went wrong.
    QByteArray unexplained = wait.received;
    if (!wait.frame.isEmpty()) {
        if (const qsizetype at = unexplained.indexOf(wait.frame); at >= 0)
            unexplained.remove(at, wait.frame.size());
    }
    if (lateReplies != nullptr) {
        addLateReplies(exchange, lateReplies->recognise(unexplained));
        lateReplies->note(request, wait.outcome, limits);
    }
    if (wait.outcome == ReplyOutcome::Reply)
        frame = std::move(wait.frame);
    finish(outcomeOf(wait, std::move(unexplained), request, limits));
    qCDebug(lcSerial).noquote() << "TX" << exchange.request.toHex(' ') << "RX" << exchange.received.toHex(' ') << "|"
                                << exchange.outcome.code();
    return exchange;
}

} // namespace serial
