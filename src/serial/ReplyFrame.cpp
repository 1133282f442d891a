#include "serial/ReplyFrame.h"

#include <algorithm>

namespace serial {

namespace {

uint8_t byteAt(QByteArrayView bytes, qsizetype i)
{
    return static_cast<uint8_t>(bytes[i]);
}

// True when the `length` bytes at `offset` end with the CRC of the bytes before it.
bool crcMatches(QByteArrayView bytes, qsizetype offset, qsizetype length)
{
    const uint16_t crc = crc16Modbus(bytes.sliced(offset, length - 2));
    return byteAt(bytes, offset + length - 2) == (crc & 0xFF) && byteAt(bytes, offset + length - 1) == (crc >> 8);
}

enum class Candidate { Invalid, Incomplete, Reply, Exception };

} // namespace

ReplyScan scanForReply(QByteArrayView bytes, const ModbusRequest& request)
{
    const auto address = static_cast<uint8_t>(request.Address & 0xFF);
    const auto function = static_cast<uint8_t>(request.FunctionCode & 0x7F);
    const auto exceptionFunction = static_cast<uint8_t>(function | 0x80);
    const qsizetype byteCount = 2 * static_cast<qsizetype>(request.RegisterCount);
    const qsizetype replyLength = byteCount + 5;
    constexpr qsizetype exceptionLength = 5;
    const qsizetype size = bytes.size();

    // What the bytes from `i` on can still be.
    const auto classify = [&](qsizetype i) {
        if (i + 1 >= size)
            return Candidate::Incomplete;
        const uint8_t fn = byteAt(bytes, i + 1);
        if (fn == function) {
            if (byteCount <= 0 || byteCount > 250)
                return Candidate::Invalid;
            if (i + 2 >= size)
                return Candidate::Incomplete;
            if (byteAt(bytes, i + 2) != byteCount)
                return Candidate::Invalid;
            if (i + replyLength > size)
                return Candidate::Incomplete;
            return crcMatches(bytes, i, replyLength) ? Candidate::Reply : Candidate::Invalid;
        }
        if (fn == exceptionFunction) {
            if (i + exceptionLength > size)
                return Candidate::Incomplete;
            return crcMatches(bytes, i, exceptionLength) ? Candidate::Exception : Candidate::Invalid;
        }
        return Candidate::Invalid;
    };

    qsizetype firstOpen = size; // the first byte that may still begin a frame
    for (qsizetype i = 0; i < size; ++i) {
        if (byteAt(bytes, i) != address)
            continue;
        switch (classify(i)) {
        case Candidate::Reply:
            return {ReplyScan::Reply, i, replyLength, i};
        case Candidate::Exception:
            return {ReplyScan::Exception, i, exceptionLength, i};
        case Candidate::Incomplete:
            firstOpen = std::min(firstOpen, i);
            break;
        case Candidate::Invalid:
            break;
        }
    }
    ReplyScan scan;
    scan.discardable = firstOpen;
    return scan;
}

} // namespace serial
