#pragma once
// Which readings a broker has acknowledged, as ranges of their sequence numbers (the history's
// row ids, or the memory queue's own numbers). Acknowledgements come mostly in order, so the
// set stays a handful of ranges: everything up to some number, and what live publishing got
// acknowledged beyond a backlog that is still being sent.

#include <QtGlobal>

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace publish {

class AckedRanges {
public:
    using Range = std::pair<qint64, qint64>; // first, last (inclusive)

    AckedRanges() = default;
    // Everything up to and including `last`.
    static AckedRanges upTo(qint64 last);
    static AckedRanges fromRanges(const std::vector<Range>& ranges);

    void add(qint64 seq);
    bool contains(qint64 seq) const;
    // The first range that ends at or after `seq`, if any.
    std::optional<Range> rangeFrom(qint64 seq) const;
    // The smallest number above `seq` that is not acknowledged.
    qint64 nextUnacked(qint64 seq) const;

    std::vector<Range> ranges() const;
    bool operator==(const AckedRanges& other) const { return ranges_ == other.ranges_; }

private:
    std::map<qint64, qint64> ranges_; // first -> last, disjoint, not touching
};

} // namespace publish
