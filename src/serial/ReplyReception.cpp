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

} // namespace

ReplyOutcome awaitReplyFrame(SerialControl& port, const ModbusRequest& request, QByteArray& reply,
                             const ReplyLimits& limits)
{
    reply.clear();
    if (!port.PortOpen())
        return ReplyOutcome::PortClosed;

    // The request must leave the send buffer within its limit.
    const WaitEnd sent = waitOn(port, limits.sendMs, [&] {
        if (!port.PortOpen())
            return Step::Failed;
        return port.OutBufferCount() == 0 ? Step::Done : Step::Waiting;
    });
    switch (sent) {
    case WaitEnd::Quit: return ReplyOutcome::Quit;
    case WaitEnd::Lost: return ReplyOutcome::PortLost;
    case WaitEnd::TimedOut:
        // What did not leave in time is dropped; the reply still gets its own wait, which
        // without a request normally ends in a time-out too.
        if (port.PortOpen())
            port.setOutBufferCount(0);
        break;
    case WaitEnd::Failed:
        return port.PortOpen() ? ReplyOutcome::TimedOut : ReplyOutcome::PortLost;
    case WaitEnd::Done: break;
    }

    // Then the complete, valid reply within a fresh limit.
    QByteArray received;
    bool exception = false;
    QByteArray frame;
    const WaitEnd got = waitOn(port, limits.replyMs, [&] {
        if (!port.PortOpen())
            return Step::Failed;
        if (port.InBufferCount() > 0)
            received.append(port.Input());
        const ReplyScan scan = scanForReply(received, request);
        switch (scan.kind) {
        case ReplyScan::Reply:
            frame = received.sliced(scan.offset, scan.length);
            return Step::Done;
        case ReplyScan::Exception:
            exception = true;
            return Step::Failed;
        case ReplyScan::Incomplete:
            received.remove(0, scan.discardable);
            if (received.size() > kMaxKeptBytes)
                received.remove(0, received.size() - kMaxKeptBytes);
            return Step::Waiting;
        }
        return Step::Waiting;
    });
    switch (got) {
    case WaitEnd::Done:
        reply = frame;
        return ReplyOutcome::Reply;
    case WaitEnd::Quit: return ReplyOutcome::Quit;
    case WaitEnd::Lost: return ReplyOutcome::PortLost;
    case WaitEnd::TimedOut: return ReplyOutcome::TimedOut;
    case WaitEnd::Failed:
        if (exception)
            return ReplyOutcome::Exception;
        return port.PortOpen() ? ReplyOutcome::TimedOut : ReplyOutcome::PortLost;
    }
    return ReplyOutcome::TimedOut;
}

bool AwaitReply(SerialControl& port, const ModbusRequest& request, QByteArray& reply, const ReplyLimits& limits)
{
    return awaitReplyFrame(port, request, reply, limits) == ReplyOutcome::Reply;
}

} // namespace serial
