#include "measure/ReplyWords.h"

namespace measure {

uint8_t ReplyWords::byteAt(int index) const
{
    return index >= 0 && index < frame_.size() ? static_cast<uint8_t>(frame_[index]) : 0;
}

int ReplyWords::unsignedWord(int k) const
{
    return hi(k) * 256 + lo(k);
}

int ReplyWords::signedWord(int k) const
{
    const int word = unsignedWord(k);
    return hi(k) < 128 ? word : word - 65536;
}

int ReplyWords::nonNegativeWord(int k) const
{
    return hi(k) < 128 ? unsignedWord(k) : 0;
}

std::optional<double> ReplyWords::bcdTotal(int high, int low) const
{
    double total = 0;
    for (const uint8_t byte : {hi(high), lo(high), hi(low), lo(low)}) {
        for (const int digit : {byte >> 4, byte & 0x0F}) {
            if (digit > 9)
                return std::nullopt;
            total = total * 10 + digit;
        }
    }
    return total;
}

} // namespace measure
