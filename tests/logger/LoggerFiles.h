#pragma once
// Logger files for tests, written byte by byte.

#include "logger/LoggerFormat.h"

#include <QByteArray>
#include <QString>

namespace logger_test {

// Two bytes, least significant first.
QByteArray le16(int value);

// The worked example: both channels "PUMP A" and ten spaces; channel 1 "Flow" with unit code 10,
// channel 2 "Resistivity" with unit code 6; one record of 5/3/99 14:5 and one empty record.
QByteArray workedExampleHeader();
QByteArray workedExampleRecord();
QByteArray workedExample();
extern const QByteArray kWorkedFlowFile;        // "Flow_PUMP A.xls"
extern const QByteArray kWorkedResistivityFile; // "Resistivity_PUMP A.xls"

// A header through the program's own layout (checked against the literal bytes in the tests).
QByteArray header(const QByteArray& name1, const char* code1, int unit1, const QByteArray& name2, const char* code2,
                  int unit2);
QByteArray record(const logger::LoggerRecord& record);
// A non-empty record on 5/3/99 14:5 with the given values and zero totalisers.
logger::LoggerRecord values(int main1, int second1, int main2, int second2);

} // namespace logger_test
