#pragma once
// Modbus TCP's framing: the MBAP header (transaction identifier, protocol 0, length, unit
// identifier) in front of the request or reply without its address and CRC. The program builds
// and checks RTU frames; a Modbus TCP connection carries the same frames in this form.

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace serial {

inline constexpr qsizetype kMbapHeaderSize = 7;

// `rtu` (address, function, data, CRC) as a Modbus TCP frame: the address becomes the unit
// identifier, the CRC is left out. Empty when `rtu` is too short to be a frame.
QByteArray mbapFromRtu(QByteArrayView rtu, uint16_t transaction);

struct MbapTake {
    enum Kind {
        Incomplete, // more bytes are needed
        Frame,      // one frame taken: `transaction` and `rtu`
        Garbage,    // the bytes cannot be a Modbus TCP frame: nothing in them can be trusted
    };
    Kind kind = Incomplete;
    uint16_t transaction = 0;
    QByteArray rtu; // the frame as it would have come on the line, with its CRC
};

// Takes the first frame off the front of `buffer`. On Garbage `buffer` is left as it is.
MbapTake takeMbapFrame(QByteArray& buffer);

} // namespace serial
