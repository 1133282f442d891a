#pragma once
// Waiting for the reply to a request that has just been written to the serial port.

#include "serial/ModbusFrame.h"

#include <QByteArray>

#include <chrono>
#include <optional>

namespace serial {

class SerialControl;

// The two limits of one exchange, in milliseconds: first for the request to leave the send
// buffer, then, afresh, for the complete reply. A station that has let the reply limit run out
// may still answer within lateReplyMs after it (see LateReplies).
struct ReplyLimits {
    int sendMs = 2000;
    int replyMs = 2000;
    int lateReplyMs = 500;
};

// How a wait ended.
enum class ReplyOutcome {
    Reply,      // a valid reply arrived in time
    TimedOut,   // no valid reply within the limit (also: one completed only as the limit ran out)
    Exception,  // the station answered with a valid exception reply
    PortClosed, // the port was not open
    PortLost,   // the port failed during the wait
    Quit,       // the application is quitting
};

// Everything a wait saw, for the diagnostics.
struct ReplyWait {
    ReplyOutcome outcome = ReplyOutcome::TimedOut;
    QByteArray frame;    // the valid reply, or the exception reply, alone
    QByteArray received; // every byte received during the wait (the first 4096)
    // When the last byte of the reply or exception reply was seen (std::chrono::steady_clock).
    std::optional<std::chrono::steady_clock::time_point> lastByteAt;
    int exceptionCode = 0; // with Exception
};

// As awaitReplyFrame, with everything the wait saw.
ReplyWait awaitReply(SerialControl& port, const ModbusRequest& request, const ReplyLimits& limits = {});

// Waits for the reply to `request`, whose frame has just been written to `port`. Runs a local
// event loop, woken by the port's signals and by one single-shot timer, so that nothing is
// polled and the interface stays responsive. Only a valid frame counts (see scanForReply); the
// frame alone, without the bytes around it, goes to `reply`. On any failure `reply` is empty.
ReplyOutcome awaitReplyFrame(SerialControl& port, const ModbusRequest& request, QByteArray& reply,
                             const ReplyLimits& limits = {});

// Waits up to `ms` for the late reply (or exception reply) to `request`, one that its station sends
// after the limit of that exchange has run out, and throws away every byte received meanwhile.
// True when it came.
bool awaitLateReply(SerialControl& port, const ModbusRequest& request, int ms);

// True when a valid reply arrived in time.
bool AwaitReply(SerialControl& port, const ModbusRequest& request, QByteArray& reply,
                const ReplyLimits& limits = {});

} // namespace serial
