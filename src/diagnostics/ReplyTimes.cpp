#include "diagnostics/ReplyTimes.h"

#include <algorithm>
#include <cmath>

namespace diagnostics {

void ReplyTimes::add(double ms)
{
    if (!std::isfinite(ms))
        return;
    ms = std::max(0.0, ms);
    min_ = count_ == 0 ? ms : std::min(min_, ms);
    max_ = count_ == 0 ? ms : std::max(max_, ms);
    sum_ += ms;
    ++count_;
    ++tenths_[std::llround(ms * 10)];
}

void ReplyTimes::merge(const ReplyTimes& other)
{
    if (other.count_ == 0)
        return;
    min_ = count_ == 0 ? other.min_ : std::min(min_, other.min_);
    max_ = count_ == 0 ? other.max_ : std::max(max_, other.max_);
    sum_ += other.sum_;
    count_ += other.count_;
    for (const auto& [tenths, n] : other.tenths_)
        tenths_[tenths] += n;
}

ReplyTimes ReplyTimes::fromParts(Parts parts)
{
    ReplyTimes times;
    for (const auto& [tenths, n] : parts.tenths) {
        if (n > 0)
            times.tenths_[tenths] += n;
        times.count_ += n;
    }
    if (times.count_ > 0) {
        times.sum_ = parts.sum;
        times.min_ = parts.min;
        times.max_ = parts.max;
    }
    return times;
}

std::optional<double> ReplyTimes::minimum() const
{
    return count_ == 0 ? std::nullopt : std::optional(min_);
}

std::optional<double> ReplyTimes::maximum() const
{
    return count_ == 0 ? std::nullopt : std::optional(max_);
}

std::optional<double> ReplyTimes::mean() const
{
    return count_ == 0 ? std::nullopt : std::optional(sum_ / static_cast<double>(count_));
}

std::optional<double> ReplyTimes::percentile95() const
{
    if (count_ == 0)
        return std::nullopt;
    // Nearest rank: the smallest time that at least 95 % of the replies did not exceed.
    const auto rank = static_cast<uint64_t>(std::ceil(0.95 * static_cast<double>(count_)));
    uint64_t seen = 0;
    for (const auto& [tenths, n] : tenths_) {
        seen += n;
        if (seen >= rank)
            return static_cast<double>(tenths) / 10.0;
    }
    return max_;
}

} // namespace diagnostics
