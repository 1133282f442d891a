#include "LoggerFiles.h"

namespace logger_test {

QByteArray le16(int value)
{
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(value & 0xFF);
    bytes[1] = static_cast<char>((value >> 8) & 0xFF);
    return bytes;
}

QByteArray workedExampleHeader()
{
    const QByteArray name = QByteArray("PUMP A") + QByteArray(10, ' ');
    const QByteArray spare(2, '\0');
    return name + spare + name + spare + "06" + "01" + spare + le16(10) + le16(6) + spare + QByteArray(10, '\0');
}

QByteArray workedExampleRecord()
{
    return QByteArray("\x05\x03\x99\x14\x05\x45\x23\x01\x00", 9) + le16(1234) + le16(215) + QByteArray(4, '\0')
        + le16(1823) + le16(250);
}

QByteArray workedExample()
{
    return workedExampleHeader() + workedExampleRecord() + QByteArray(21, '\0');
}

const QByteArray kWorkedFlowFile = "Logger : PUMP A          \r\n"
                                   "\r\n"
                                   "Flow\r\n"
                                   "\r\n"
                                   "Date\tTime\tm3/h\t\xb0"
                                   "C\tTotal m3\r\n"
                                   "5/3/99\t14:5\t12.34\t21.5\t00012345\r\n";

const QByteArray kWorkedResistivityFile = "Logger : PUMP A          \r\n"
                                          "\r\n"
                                          "Resistivity\r\n"
                                          "\r\n"
                                          "Date\tTime\tMOhm\t\xb0"
                                          "C\r\n"
                                          "5/3/99\t14:5\t18.23\t25\t\r\n";

QByteArray header(const QByteArray& name1, const char* code1, int unit1, const QByteArray& name2, const char* code2,
                  int unit2)
{
    logger::LoggerHeader h;
    h.Name1 = name1;
    h.Name2 = name2;
    h.TypeCode1 = {code1[0], code1[1]};
    h.TypeCode2 = {code2[0], code2[1]};
    h.UnitCode1 = static_cast<int16_t>(unit1);
    h.UnitCode2 = static_cast<int16_t>(unit2);
    return h.toBytes();
}

QByteArray record(const logger::LoggerRecord& r)
{
    QByteArray bytes(logger::kRecordSize, '\0');
    r.toBytes(bytes.data());
    return bytes;
}

logger::LoggerRecord values(int main1, int second1, int main2, int second2)
{
    logger::LoggerRecord r;
    r.DateBytes = {0x05, 0x03, 0x99};
    r.TimeBytes = {0x14, 0x05};
    r.MainValue1 = static_cast<int16_t>(main1);
    r.SecondValue1 = static_cast<int16_t>(second1);
    r.MainValue2 = static_cast<int16_t>(main2);
    r.SecondValue2 = static_cast<int16_t>(second2);
    return r;
}

} // namespace logger_test
