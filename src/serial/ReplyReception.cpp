#include "serial/ReplyReception.h"

#include "serial/ReplyFrame.h"
#include "serial/SerialControl.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace serial {

namespace {

// Received bytes kept while looking for the reply: enough for any noise in front of it, bounded
// against a line that floods us.
constexpr qsizetype kMaxKeptBytes = 4096;

enum class Step { Waiting, Done, Failed };
enum class WaitEnd { Done, Failed, TimedOut, Lost, Quit };

// Runs a local event loop until `check` says Done or Failed, the limit runs out, the port is
// lost or the application quits. `check` runs once at once and again after every signal of the
// port. A Done that comes only once the limit has run out counts as a time-out.
template <typename Check>
WaitEnd waitOn(SerialControl& port, int limitMs, Check check)
{
    const QDeadlineTimer deadline(std::max(0, limitMs));
    const auto judge = [&] {
        const Step step = check();
        if (step == Step::Done && deadline.hasExpired())
            return Step::Failed; // the time limit takes precedence
        return step;
    };
    const Step first = judge();
    if (first == Step::Done)
        return WaitEnd::Done;
    if (first == Step::Failed)
        return deadline.hasExpired() ? WaitEnd::TimedOut : WaitEnd::Failed;
    if (QCoreApplication::instance() == nullptr || QCoreApplication::closingDown())
        return WaitEnd::Quit;

    QEventLoop loop;
    std::optional<WaitEnd> end;
    const auto finish = [&](WaitEnd how) {
        if (!end) {
            end = how;
            loop.quit();
        }
    };
    const auto wake = [&] {
        if (end)
            return;
        if (!port.PortOpen()) {
            finish(WaitEnd::Lost);
            return;
        }
        switch (judge()) {
        case Step::Done: finish(WaitEnd::Done); break;
        case Step::Failed: finish(deadline.hasExpired() ? WaitEnd::TimedOut : WaitEnd::Failed); break;
        case Step::Waiting: break;
        }
    };

    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] { finish(WaitEnd::TimedOut); });
    QObject::connect(&port, &SerialControl::bytesReceived, &loop, wake);
    QObject::connect(&port, &SerialControl::bytesSent, &loop, wake);
    QObject::connect(&port, &SerialControl::portLost, &loop, [&] { finish(WaitEnd::Lost); });
    timer.start(std::max(0, limitMs));
    loop.exec();
    // Leaving the loop without an end of our own means someone ended every event loop: the
    // application is quitting.
    return end.value_or(WaitEnd::Quit);
}

// Adds what the port has received to `received` and looks there for the reply to `request`. While
// none is complete, bytes that can never begin one are dropped.
// `everything`, when given, keeps a copy of every byte taken (the first kMaxKeptBytes).
ReplyScan takeAndScan(SerialControl& port, QByteArray& received, const ModbusRequest& request,
                      QByteArray* everything = nullptr)
{
    if (port.InBufferCount() > 0) {
        const QByteArray bytes = port.Input();
        received.append(bytes);
        if (everything != nullptr && everything->size() < kMaxKeptBytes)
            everything->append(bytes.first(std::min(bytes.size(), kMaxKeptBytes - everything->size())));
    }
    const ReplyScan scan = scanForReply(received, request);
    if (scan.kind == ReplyScan::Incomplete) {
        received.remove(0, scan.discardable);
        if (received.size() > kMaxKeptBytes)
            received.remove(0, received.size() - kMaxKeptBytes);
    }
    return scan;
}

} // namespace

ReplyWait awaitReply(SerialControl& port, const ModbusRequest& request, const ReplyLimits& limits)
{
    ReplyWait wait;
    if (!port.PortOpen()) {
        wait.outcome = ReplyOutcome::PortClosed;
        return wait;
    }

    // The request must leave the send buffer within its limit.
    const WaitEnd sent = waitOn(port, limits.sendMs, [&] {
        if (!port.PortOpen())
            return Step::Failed;
        return port.OutBufferCount() == 0 ? Step::Done : Step::Waiting;
    });
    switch (sent) {
    case WaitEnd::Quit: wait.outcome = ReplyOutcome::Quit; return wait;
    case WaitEnd::Lost: wait.outcome = ReplyOutcome::PortLost; return wait;
    case WaitEnd::TimedOut:
        // What did not leave in time is dropped; the reply still gets its own wait, which
        // without a request normally ends in a time-out too.
        if (port.PortOpen())
            port.setOutBufferCount(0);
        break;
    case WaitEnd::Failed:
        wait.outcome = port.PortOpen() ? ReplyOutcome::TimedOut : ReplyOutcome::PortLost;
        return wait;
    case WaitEnd::Done: break;
    }

    // Then the complete, valid reply within a fresh limit.
    QByteArray received;
    bool exception = false;
    const WaitEnd got = waitOn(port, limits.replyMs, [&] {
        if (!port.PortOpen())
            return Step::Failed;
        const ReplyScan scan = takeAndScan(port, received, request, &wait.received);
        switch (scan.kind) {
        case ReplyScan::Reply:
            wait.frame = received.sliced(scan.offset, scan.length);
            break;
        case ReplyScan::Exception:
            wait.frame = received.sliced(scan.offset, scan.length);
            wait.exceptionCode = static_cast<uint8_t>(wait.frame[2]);
            exception = true;
            break;
        case ReplyScan::Incomplete:
            return Step::Waiting;
        }
        // The check runs as soon as bytes arrive: now is when the last byte of the frame came.
        wait.lastByteAt = std::chrono::steady_clock::now();
        return exception ? Step::Failed : Step::Done;
    });
    switch (got) {
    case WaitEnd::Done: wait.outcome = ReplyOutcome::Reply; break;
    case WaitEnd::Quit: wait.outcome = ReplyOutcome::Quit; break;
    case WaitEnd::Lost: wait.outcome = ReplyOutcome::PortLost; break;
    case WaitEnd::TimedOut: wait.outcome = ReplyOutcome::TimedOut; break;
    case WaitEnd::Failed:
        if (exception)
            wait.outcome = ReplyOutcome::Exception;
        else
            wait.outcome = port.PortOpen() ? ReplyOutcome::TimedOut : ReplyOutcome::PortLost;
        break;
    }
    if (wait.outcome != ReplyOutcome::Reply && wait.outcome != ReplyOutcome::Exception) {
        // A frame that completed only as the limit ran out is no reply.
        wait.frame.clear();
        wait.lastByteAt.reset();
        wait.exceptionCode = 0;
    }
    return wait;
}

ReplyOutcome awaitReplyFrame(SerialControl& port, const ModbusRequest& request, QByteArray& reply,
                             const ReplyLimits& limits)
{
    ReplyWait wait = awaitReply(port, request, limits);
    reply = wait.outcome == ReplyOutcome::Reply ? std::move(wait.frame) : QByteArray();
    return wait.outcome;
}

bool awaitLateReply(SerialControl& port, const ModbusRequest& request, int ms)
{
    if (!port.PortOpen() || ms <= 0)
        return false;
    QByteArray received;
    const WaitEnd end = waitOn(port, ms, [&] {
        if (!port.PortOpen())
            return Step::Failed;
        return takeAndScan(port, received, request).kind == ReplyScan::Incomplete ? Step::Waiting : Step::Done;
    });
    return end == WaitEnd::Done;
}

bool AwaitReply(SerialControl& port, const ModbusRequest& request, QByteArray& reply, const ReplyLimits& limits)
{
    return awaitReplyFrame(port, request, reply, limits) == ReplyOutcome::Reply;
}

} // namespace serial
