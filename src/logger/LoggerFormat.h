#pragma once
// The logger's data file: one 58-byte header, then 21-byte records, packed, little-endian, no
// count, no trailer. The logger writes these files; the program only reads them or empties them.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace logger {

inline constexpr int kHeaderSize = 58;
inline constexpr int kRecordSize = 21;
inline constexpr int kNameSize = 16;

// Header offsets.
inline constexpr int kName1At = 0;
inline constexpr int kName2At = 18;
inline constexpr int kTypeCode1At = 36;
inline constexpr int kTypeCode2At = 38;
inline constexpr int kUnitCode1At = 42;
inline constexpr int kUnitCode2At = 44;

// Record offsets: the values are not aligned (the first one sits at the odd offset 9).
inline constexpr int kDateAt = 0;
inline constexpr int kTimeAt = 3;
inline constexpr int kTotal1At = 5;
inline constexpr int kMainValue1At = 9;
inline constexpr int kSecondValue1At = 11;
inline constexpr int kTotal2At = 13;
inline constexpr int kMainValue2At = 17;
inline constexpr int kSecondValue2At = 19;

using TypeCode = std::array<char, 2>;
using Totaliser = std::array<uint8_t, 4>;

struct LoggerHeader {
    QByteArray Name1; // all 16 bytes of the field, fillers included
    QByteArray Name2;
    TypeCode TypeCode1{};
    TypeCode TypeCode2{};
    int16_t UnitCode1 = 0;
    int16_t UnitCode2 = 0;
    // The spare fields carry nothing the program uses and are not kept.

    // `bytes` holds at least kHeaderSize bytes.
    static LoggerHeader fromBytes(const char* bytes);
    // The 58 bytes of the header, spare fields zero (for generators and tests: the program itself
    // never writes logger files). Names are cut or padded with spaces to 16 bytes.
    QByteArray toBytes() const;
};

struct LoggerRecord {
    std::array<uint8_t, 3> DateBytes{};
    std::array<uint8_t, 2> TimeBytes{};
    Totaliser Total1{};
    int16_t MainValue1 = 0;
    int16_t SecondValue1 = 0;
    Totaliser Total2{};
    int16_t MainValue2 = 0;
    int16_t SecondValue2 = 0;

    // A record whose three date bytes are zero holds no measurement.
    bool isEmpty() const { return DateBytes[0] == 0 && DateBytes[1] == 0 && DateBytes[2] == 0; }

    // `bytes` holds at least kRecordSize bytes.
    static LoggerRecord fromBytes(const char* bytes);
    // Writes the 21 bytes of the record to `out`.
    void toBytes(char* out) const;
};

// Byte renderings. Each writes into `out` and returns the position after the last character,
// so that the extraction can build its lines without allocating; the QString forms are for
// the progress text and the tests.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Upper case, no leading zero: 0x05 -> "5", 0x1A -> "1A".
inline char* HexByte(uint8_t byte, char* out)
{
    if (byte >= 0x10)
        *out++ = kHexDigits[byte >> 4];
    *out++ = kHexDigits[byte & 0x0F];
    return out;
}

// Always two digits: 0x05 -> "05".
inline char* HexByte2(uint8_t byte, char* out)
{
    *out++ = kHexDigits[byte >> 4];
    *out++ = kHexDigits[byte & 0x0F];
    return out;
}

// "5/3/99" from the bytes 0x05 0x03 0x99.
inline char* DateText(const std::array<uint8_t, 3>& date, char* out)
{
    out = HexByte(date[0], out);
    *out++ = '/';
    out = HexByte(date[1], out);
    *out++ = '/';
    return HexByte(date[2], out);
}

// "14:5" from the bytes 0x14 0x05.
inline char* TimeText(const std::array<uint8_t, 2>& time, char* out)
{
    out = HexByte(time[0], out);
    *out++ = ':';
    return HexByte(time[1], out);
}

// Eight digits, last stored byte first: 0x45 0x23 0x01 0x00 -> "00012345".
inline char* TotalText(const Totaliser& total, char* out)
{
    out = HexByte2(total[3], out);
    out = HexByte2(total[2], out);
    out = HexByte2(total[1], out);
    return HexByte2(total[0], out);
}

QString HexByte(uint8_t byte);
QString HexByte2(uint8_t byte);
QString DateText(const std::array<uint8_t, 3>& date);
QString TimeText(const std::array<uint8_t, 2>& time);
QString TotalText(const Totaliser& total);

} // namespace logger
