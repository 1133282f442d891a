#pragma once
// The registers of a read reply and the rules that turn their bytes into numbers.

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace measure {

class ReplyWords {
public:
    // `frame`: a complete, checked reply to a read of 8 registers (address, function, byte
    // count, 16 register bytes, CRC).
    explicit ReplyWords(const QByteArray& frame) : frame_(frame) {}

    uint8_t hi(int k) const { return byteAt(3 + 2 * k); }
    uint8_t lo(int k) const { return byteAt(4 + 2 * k); }
    // The code byte: low byte of register 0.
    uint8_t codeByte() const { return lo(0); }

    // Two's complement, -32768..32767.
    int signedWord(int k) const;
    // As signed, but 0 when the high bit is set.
    int nonNegativeWord(int k) const;
    // 0..65535.
    int unsignedWord(int k) const;
    // The number the eight BCD digits of register `high` followed by register `low` read as;
    // empty when a digit is A..F.
    std::optional<double> bcdTotal(int high, int low) const;

private:
    uint8_t byteAt(int index) const;

    QByteArray frame_;
};

} // namespace measure
