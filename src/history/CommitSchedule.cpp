#include "history/CommitSchedule.h"

namespace history {

bool CommitSchedule::cycleEnded(qint64 nowMs)
{
    // The first cycle is written at once: the file, or what keeps it from being written, shows
    // at the start.
    if (!lastCycleMs_) {
        lastCycleMs_ = nowMs;
        return true;
    }
    const qint64 cycleMs = nowMs - *lastCycleMs_;
    lastCycleMs_ = nowMs;
    if (!waitingSinceMs_)
        waitingSinceMs_ = nowMs;
    const qint64 waitedMs = nowMs - *waitingSinceMs_;
    if (intervalMs_ <= 0 || cycleMs < 0 || waitedMs < 0)
        return true;
    // Another cycle of the same length would leave the oldest reading waiting past the interval.
    return waitedMs + cycleMs >= intervalMs_;
}

} // namespace history
