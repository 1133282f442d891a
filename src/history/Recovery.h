#pragma once
// Copies what can still be read from a damaged history file into a new, sound one of the current
// layout. SQLite stops a query at the first damaged page it meets, so the readings are read in
// ranges of ids: a range that fails is read from both of its ends and what lies between is split
// in halves until every readable row is kept and only the ids on damaged pages are left out. The
// minutes are made again from the rescued readings (their own pages may be damaged too, or sum up
// readings that are lost); the MQTT acknowledgements are copied as far as they can be read.
//
// The damaged file is only read, and nothing is made beside it where SQLite allows it (see
// ReadMode::Once). The copy is written under a temporary name beside the new file and renamed
// once complete; a file already at the new name is never replaced.

#include <QList>
#include <QString>

#include <functional>

namespace history {

// Ids first to last, both included.
struct IdRange {
    qint64 first = 0;
    qint64 last = 0;
};

struct RecoveryOutcome {
    enum class Status {
        Rescued,     // the new file holds at least one reading
        NothingRead, // no reading could be read: no file was written
        Failed,      // the damaged file could not be opened, or the new one not written
        Cancelled,
    };
    Status status = Status::Failed;
    qint64 readings = 0;
    qint64 minutes = 0;
    qint64 acknowledgements = 0; // rows of mqtt_acked
    bool acknowledgementsDamaged = false;
    // The ids from the lowest to the highest the file tells of that the new file lacks, in order:
    // the readings of damaged pages. The last range ends at the largest id there is when the
    // readings after the last readable one could not be counted.
    QList<IdRange> skipped;
    // Failed or NothingRead: why, for the user. Rescued: what the damage looked like, or empty.
    QString message;
};

// `keepGoing` is asked now and then; false cancels, and no file is left.
RecoveryOutcome recoverHistory(const QString& damagedPath, const QString& newPath,
                               const std::function<bool()>& keepGoing = {});

} // namespace history
