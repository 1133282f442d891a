#pragma once
// Readings for the trend tests, written in one transaction (thousands of single inserts would
// each wait for the disk).

#include "ExportTestDatabase.h"

#include <QString>

#include <vector>

namespace history_test {

// Creates the history at `path` when missing and adds `readings` to it.
void addReadings(const QString& path, const std::vector<Reading>& readings);

// A good reading of `channel` at `timeMs` with a value and a temperature.
Reading goodReading(int channel, qint64 timeMs, double value, double temperature = 20.0);
// An "Out of order" reading, as the recorder writes it: no numbers.
Reading failedReading(int channel, qint64 timeMs);

} // namespace history_test
