#pragma once
// When the recorder commits: readings wait in memory and go into the file together, so that the
// pages of the tables and indexes are written once for many cycles instead of once per cycle (a
// flash card wears with every page written). No reading waits longer than the interval: the
// commit comes at the last cycle end before the oldest waiting reading would pass it, judged by
// the length of the last cycle. The first cycle is committed at once. An interval of 0 commits
// at every cycle.

#include <QtGlobal>

#include <optional>

namespace history {

class CommitSchedule {
public:
    explicit CommitSchedule(int intervalSeconds)
        : intervalMs_(qint64(intervalSeconds) * 1000)
    {
    }

    // A cycle handed its readings over at `nowMs`: true when everything waiting must be committed
    // now. A clock that went back commits at once rather than holding readings for its gap.
    bool cycleEnded(qint64 nowMs);
    // Everything waiting is in the file.
    void committed() { waitingSinceMs_.reset(); }
    qint64 intervalMs() const { return intervalMs_; }

private:
    qint64 intervalMs_;
    std::optional<qint64> waitingSinceMs_; // when the oldest reading not yet committed came
    std::optional<qint64> lastCycleMs_;
};

} // namespace history
