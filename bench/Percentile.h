#pragma once
// The benchmarks' percentiles: the nearest rank (the 95th of 20 values is the 19th); NaN for none.

#include <algorithm>
#include <cmath>
#include <vector>

inline double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::max<size_t>(rank, 1) - 1];
}
