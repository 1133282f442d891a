#include "serial/ReplyFrame.h"

#include <algorithm>
#include <vector>

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

// True when the bytes from `offset` form a frame with a correct CRC, of any function: an
// answer of the station that is not the one asked for.
bool anyFrameAt(QByteArrayView bytes, qsizetype offset)
{
    constexpr qsizetype kLongestOtherFrame = 64;
    for (qsizetype length = 4; length <= kLongestOtherFrame && offset + length <= bytes.size(); ++length) {
        if (crcMatches(bytes, offset, length))
            return true;
    }
    return false;
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

diagnostics::InvalidReason diagnoseReply(QByteArrayView bytes, const ModbusRequest& request)
{
    using diagnostics::InvalidReason;
    if (bytes.isEmpty() || scanForReply(bytes, request).kind != ReplyScan::Incomplete)
        return InvalidReason::None;

    const auto address = static_cast<uint8_t>(request.Address & 0xFF);
    const auto function = static_cast<uint8_t>(request.FunctionCode & 0x7F);
    const auto exceptionFunction = static_cast<uint8_t>(function | 0x80);
    const qsizetype byteCount = 2 * static_cast<qsizetype>(request.RegisterCount);
    const qsizetype size = bytes.size();

    // Valid frames of other stations first, so that bytes inside them are not mistaken for the
    // start of a damaged frame of ours.
    std::vector<bool> inForeignFrame(static_cast<std::size_t>(size), false);
    bool foreign = false;
    for (qsizetype i = 0; i + 1 < size; ++i) {
        if (byteAt(bytes, i) == address)
            continue;
        const uint8_t fn = byteAt(bytes, i + 1);
        qsizetype length = 0;
        if (fn == function && i + 2 < size && byteAt(bytes, i + 2) == byteCount)
            length = byteCount + 5;
        else if (fn == exceptionFunction)
            length = 5;
        if (length > 0 && i + length <= size && crcMatches(bytes, i, length)) {
            foreign = true;
            std::fill(inForeignFrame.begin() + i, inForeignFrame.begin() + i + length, true);
            i += length - 1;
        }
    }

    // Then the damaged frames of the station: the closest to a valid reply is named.
    int best = 0; // 3: CRC, 2: length, 1: function
    for (qsizetype i = 0; i < size; ++i) {
        if (byteAt(bytes, i) != address || inForeignFrame[static_cast<std::size_t>(i)])
            continue;
        int rank = 0;
        if (i + 1 >= size) {
            rank = 2; // the address alone: the frame stopped short
        } else if (const uint8_t fn = byteAt(bytes, i + 1); fn == function) {
            if (i + 2 >= size || byteAt(bytes, i + 2) != byteCount || i + byteCount + 5 > size)
                rank = 2;
            else
                rank = crcMatches(bytes, i, byteCount + 5) ? 0 : 3;
        } else if (fn == exceptionFunction) {
            rank = i + 5 > size ? 2 : (crcMatches(bytes, i, 5) ? 0 : 3);
        } else if (anyFrameAt(bytes, i)) {
            rank = 1; // a whole frame of the station, but not the one asked for
        }
        best = std::max(best, rank);
    }
    switch (best) {
    case 3: return InvalidReason::Crc;
    case 2: return InvalidReason::Length;
    default: break;
    }
    if (foreign)
        return InvalidReason::Address;
    return best == 1 ? InvalidReason::Function : InvalidReason::Noise;
}

} // namespace serial
