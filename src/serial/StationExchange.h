#pragma once
// One exchange with a station: the request goes out, the reply is awaited, and everything the
// diagnostics need is kept: the bytes both ways, the times, and why there was no reply.

#include "diagnostics/Exchange.h"
#include "serial/ModbusFrame.h"
#include "serial/ReplyReception.h"

#include <QByteArray>

namespace serial {

class LateReplies;
class SerialControl;

// Sends `request` (its Frame built) on `port` and waits for the reply within `limits`. On a valid
// reply `frame` holds it alone, otherwise it is empty. With `lateReplies`, late replies to
// earlier requests are waited for where needed (see LateReplies), recognised and thrown away.
// Bytes left over from before the request are thrown away in any case: they cannot be its reply.
diagnostics::Exchange exchangeWithStation(SerialControl& port, const ModbusRequest& request,
                                          const ReplyLimits& limits, LateReplies* lateReplies, QByteArray& frame);

} // namespace serial
