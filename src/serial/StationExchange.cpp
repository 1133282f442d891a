#include "serial/StationExchange.h"

#include "common/Logging.h"
#include "serial/LateReplies.h"
#include "serial/NetworkDevice.h"
#include "serial/ReplyFrame.h"
#include "serial/SerialControl.h"
#include "serial/SerialDevices.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>

namespace serial {

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// How long `bytes` characters take on the line at the port's settings.
double wireMilliseconds(SerialControl& port, qsizetype bytes)
{
    if (isNetworkDevice(port.deviceName()))
        return 0; // no line of ours: the device server's own line time is part of the reply time
    const std::optional<LineSettings> line = parseSettingsString(port.Settings());
    if (!line || line->baudRate <= 0)
        return 0;
    const int bitsPerCharacter = 1 + line->dataBits + (line->parity == 'n' ? 0 : 1) + line->stopBits;
    return 1000.0 * static_cast<double>(bytes) * bitsPerCharacter / line->baudRate;
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
    const auto handedOver = std::chrono::steady_clock::now();
    port.Output(request.Frame);
    ReplyWait wait = awaitReply(port, request, limits);
    exchange.received = wait.received;
    exchange.requestHeader = port.sentHeader();
    exchange.replyHeader = port.receivedHeader();
    if (wait.lastByteAt) {
        // The request ends on the wire its own transmission time after it was handed over. The
        // port's "sent" signal is no measure of that: it means the bytes reached the driver, and
        // it comes only once the event loop gets to it, late whenever a window was being drawn.
        const double sinceHandedOver =
            std::chrono::duration<double, std::milli>(*wait.lastByteAt - handedOver).count();
        exchange.replyMs = std::max(0.0, sinceHandedOver - wireMilliseconds(port, request.Frame.size()));
    }

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
