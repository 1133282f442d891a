#include "publish/AckedRanges.h"

#include <iterator>

namespace publish {

AckedRanges AckedRanges::upTo(qint64 last)
{
    AckedRanges acked;
    if (last >= 0)
        acked.ranges_.emplace(0, last);
    return acked;
}

AckedRanges AckedRanges::fromRanges(const std::vector<Range>& ranges)
{
    AckedRanges acked;
    // Added one range at a time so that overlapping or touching ranges from a file merge.
    for (const auto& [first, last] : ranges) {
        if (first > last)
            continue;
        auto it = acked.ranges_.upper_bound(first);
        qint64 newFirst = first;
        qint64 newLast = last;
        if (it != acked.ranges_.begin()) {
            auto before = std::prev(it);
            if (before->second + 1 >= first) {
                newFirst = before->first;
                newLast = std::max(newLast, before->second);
                it = acked.ranges_.erase(before);
            }
        }
        while (it != acked.ranges_.end() && it->first <= newLast + 1) {
            newLast = std::max(newLast, it->second);
            it = acked.ranges_.erase(it);
        }
        acked.ranges_.emplace(newFirst, newLast);
    }
    return acked;
}

void AckedRanges::add(qint64 seq)
{
    if (contains(seq))
        return;
    auto next = ranges_.upper_bound(seq);
    const bool joinsNext = next != ranges_.end() && next->first == seq + 1;
    if (next != ranges_.begin()) {
        auto before = std::prev(next);
        if (before->second + 1 == seq) {
            before->second = joinsNext ? next->second : seq;
            if (joinsNext)
                ranges_.erase(next);
            return;
        }
    }
    if (joinsNext) {
        const qint64 last = next->second;
        ranges_.erase(next);
        ranges_.emplace(seq, last);
        return;
    }
    ranges_.emplace(seq, seq);
}

bool AckedRanges::contains(qint64 seq) const
{
    auto it = ranges_.upper_bound(seq);
    return it != ranges_.begin() && std::prev(it)->second >= seq;
}

std::optional<AckedRanges::Range> AckedRanges::rangeFrom(qint64 seq) const
{
    auto it = ranges_.upper_bound(seq);
    if (it != ranges_.begin() && std::prev(it)->second >= seq)
        return *std::prev(it);
    if (it != ranges_.end())
        return *it;
    return std::nullopt;
}

qint64 AckedRanges::nextUnacked(qint64 seq) const
{
    const qint64 candidate = seq + 1;
    auto it = ranges_.upper_bound(candidate);
    if (it != ranges_.begin() && std::prev(it)->second >= candidate)
        return std::prev(it)->second + 1;
    return candidate;
}

std::vector<AckedRanges::Range> AckedRanges::ranges() const
{
    return {ranges_.begin(), ranges_.end()};
}

} // namespace publish
