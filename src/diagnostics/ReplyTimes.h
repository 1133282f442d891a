#pragma once
// Reply times of one channel: minimum, mean, 95th percentile and maximum, since the last reset.
// Times are kept to a tenth of a millisecond in a sparse histogram, so that a channel read every
// second for months needs a few kilobytes, and the percentile is exact at the precision shown.

#include <cstdint>
#include <map>
#include <optional>

namespace diagnostics {

class ReplyTimes {
public:
    // Everything a ReplyTimes holds, to carry it elsewhere (the station's live feed) and rebuild
    // it exactly there.
    struct Parts {
        std::map<int64_t, uint64_t> tenths;
        uint64_t count = 0;
        double sum = 0;
        double min = 0;
        double max = 0;
    };
    Parts parts() const { return {tenths_, count_, sum_, min_, max_}; }
    // The count is that of the histogram, whatever `parts.count` says.
    static ReplyTimes fromParts(Parts parts);

    void add(double ms);
    void clear() { *this = {}; }
    // Adds every time of `other`.
    void merge(const ReplyTimes& other);

    uint64_t count() const { return count_; }
    std::optional<double> minimum() const;
    std::optional<double> maximum() const;
    std::optional<double> mean() const;
    // The nearest-rank 95th percentile, to a tenth of a millisecond.
    std::optional<double> percentile95() const;

private:
    std::map<int64_t, uint64_t> tenths_; // tenths of a millisecond -> how many
    uint64_t count_ = 0;
    double sum_ = 0;
    double min_ = 0;
    double max_ = 0;
};

} // namespace diagnostics
