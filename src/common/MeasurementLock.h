#pragma once
// One measurement per working directory: the measurement window of zentlog and zentlog-station
// take the same lock file there, so that two programs never record into one history, and the
// one refused can name the process that measures.

#include <QString>

#include <QLockFile>

#include <memory>

namespace common {

inline constexpr char kMeasurementLockName[] = "zentlog-measure.lock";
inline constexpr char kStationProgramName[] = "zentlog-station";

struct MeasurementLock {
    std::unique_ptr<QLockFile> lock; // held until destroyed; null when refused or when there is none
    QString refusal; // another process measures the folder: who, naming the folder and the process id
    // The lock file cannot be made (a read-only folder): the measurement goes on unlocked, since
    // it loses nothing by measuring there (the history waits for the folder), and is told why.
    QString warning;

    bool refused() const { return !refusal.isEmpty(); }
};

// Takes the lock of `directory` (empty: the working directory). A lock left by a process that no
// longer runs (killed, or a power cut) is taken over.
MeasurementLock lockMeasurement(const QString& directory);

} // namespace common
