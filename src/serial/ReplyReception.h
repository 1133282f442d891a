#pragma once
// Waiting for the reply to a request that has just been written to the serial port.

#include "serial/ModbusFrame.h"

#include <QByteArray>

namespace serial {

class SerialControl;

// The two limits of one exchange, in milliseconds: first for the request to leave the send
// buffer, then, afresh, for the complete reply.
struct ReplyLimits {
    int sendMs = 2000;
    int replyMs = 2000;
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

// Waits for the reply to `request`, whose frame has just been written to `port`. Runs a local
// event loop, woken by the port's signals and by one single-shot timer, so that nothing is
// polled and the interface stays responsive. Only a valid frame counts (see scanForReply); the
// frame alone, without the bytes around it, goes to `reply`. On any failure `reply` is empty.
ReplyOutcome awaitReplyFrame(SerialControl& port, const ModbusRequest& request, QByteArray& reply,
                             const ReplyLimits& limits = {});

// True when a valid reply arrived in time.
bool AwaitReply(SerialControl& port, const ModbusRequest& request, QByteArray& reply,
                const ReplyLimits& limits = {});

} // namespace serial
