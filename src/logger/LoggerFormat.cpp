#include "logger/LoggerFormat.h"

#include <QtEndian>

namespace logger {

namespace {

int16_t int16At(const char* bytes, int offset)
{
    return qFromLittleEndian<qint16>(bytes + offset);
}

template <std::size_t N>
std::array<uint8_t, N> bytesAt(const char* bytes, int offset)
{
    std::array<uint8_t, N> result{};
    for (std::size_t i = 0; i < N; ++i)
        result[i] = static_cast<uint8_t>(bytes[offset + static_cast<int>(i)]);
    return result;
}

template <std::size_t N>
void putBytes(const std::array<uint8_t, N>& bytes, char* out, int offset)
{
    for (std::size_t i = 0; i < N; ++i)
        out[offset + static_cast<int>(i)] = static_cast<char>(bytes[i]);
}

void putInt16(int16_t value, char* out, int offset)
{
    qToLittleEndian<qint16>(value, out + offset);
}

template <typename Render>
QString toQString(Render render)
{
    char buffer[16];
    const char* end = render(buffer);
    return QString::fromLatin1(buffer, end - buffer);
}

} // namespace

LoggerHeader LoggerHeader::fromBytes(const char* bytes)
{
    LoggerHeader header;
    header.Name1 = QByteArray(bytes + kName1At, kNameSize);
    header.Name2 = QByteArray(bytes + kName2At, kNameSize);
    header.TypeCode1 = {bytes[kTypeCode1At], bytes[kTypeCode1At + 1]};
    header.TypeCode2 = {bytes[kTypeCode2At], bytes[kTypeCode2At + 1]};
    header.UnitCode1 = int16At(bytes, kUnitCode1At);
    header.UnitCode2 = int16At(bytes, kUnitCode2At);
    return header;
}

QByteArray LoggerHeader::toBytes() const
{
    QByteArray bytes(kHeaderSize, '\0');
    bytes.replace(kName1At, kNameSize, Name1.leftJustified(kNameSize, ' ', true));
    bytes.replace(kName2At, kNameSize, Name2.leftJustified(kNameSize, ' ', true));
    bytes[kTypeCode1At] = TypeCode1[0];
    bytes[kTypeCode1At + 1] = TypeCode1[1];
    bytes[kTypeCode2At] = TypeCode2[0];
    bytes[kTypeCode2At + 1] = TypeCode2[1];
    putInt16(UnitCode1, bytes.data(), kUnitCode1At);
    putInt16(UnitCode2, bytes.data(), kUnitCode2At);
    return bytes;
}

void LoggerRecord::toBytes(char* out) const
{
    putBytes(DateBytes, out, kDateAt);
    putBytes(TimeBytes, out, kTimeAt);
    putBytes(Total1, out, kTotal1At);
    putInt16(MainValue1, out, kMainValue1At);
    putInt16(SecondValue1, out, kSecondValue1At);
    putBytes(Total2, out, kTotal2At);
    putInt16(MainValue2, out, kMainValue2At);
    putInt16(SecondValue2, out, kSecondValue2At);
}

LoggerRecord LoggerRecord::fromBytes(const char* bytes)
{
    LoggerRecord record;
    record.DateBytes = bytesAt<3>(bytes, kDateAt);
    record.TimeBytes = bytesAt<2>(bytes, kTimeAt);
    record.Total1 = bytesAt<4>(bytes, kTotal1At);
    record.MainValue1 = int16At(bytes, kMainValue1At);
    record.SecondValue1 = int16At(bytes, kSecondValue1At);
    record.Total2 = bytesAt<4>(bytes, kTotal2At);
    record.MainValue2 = int16At(bytes, kMainValue2At);
    record.SecondValue2 = int16At(bytes, kSecondValue2At);
    return record;
}

QString HexByte(uint8_t byte)
{
    return toQString([byte](char* out) { return HexByte(byte, out); });
}

QString HexByte2(uint8_t byte)
{
    return toQString([byte](char* out) { return HexByte2(byte, out); });
}

QString DateText(const std::array<uint8_t, 3>& date)
{
    return toQString([&date](char* out) { return DateText(date, out); });
}

QString TimeText(const std::array<uint8_t, 2>& time)
{
    return toQString([&time](char* out) { return TimeText(time, out); });
}

QString TotalText(const Totaliser& total)
{
    return toQString([&total](char* out) { return TotalText(total, out); });
}

} // namespace logger
