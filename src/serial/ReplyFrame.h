#pragma once
// Finding the reply to a read request among the bytes received from the line.

#include "diagnostics/Outcome.h"
#include "serial/ModbusFrame.h"

#include <QByteArrayView>

#include <cstdint>

namespace serial {

struct ReplyScan {
    enum Kind {
        Incomplete, // no complete reply yet: keep waiting
        Reply,      // a valid reply at `offset`, `length` bytes
        Exception,  // a valid exception reply of the station at `offset` (5 bytes)
    };
    Kind kind = Incomplete;
    qsizetype offset = 0;
    qsizetype length = 0;
    // Bytes at the front that can never begin a reply; the caller may drop them.
    qsizetype discardable = 0;
};

// Looks for the first valid reply to `request` in `bytes`: the request's station address, its
// function code, a byte count of twice the register count, the registers and a correct CRC; or
// a valid exception reply (function code + 0x80, exception code, correct CRC). Bytes before such
// a frame (noise, a frame of another station, a damaged frame) are skipped.
ReplyScan scanForReply(QByteArrayView bytes, const ModbusRequest& request);

// Why `bytes`, received while waiting for the reply to `request`, held no valid reply: a damaged
// frame of the station (CRC, function, length), a valid frame of another station, or bytes that
// form no frame. None when there are no bytes, or when they hold a valid reply (one that came
// only after the limit). Where several explanations fit, the frame of the station that comes
// closest to a valid reply is the one named.
diagnostics::InvalidReason diagnoseReply(QByteArrayView bytes, const ModbusRequest& request);

} // namespace serial
