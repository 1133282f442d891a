#pragma once
// The CPU time this process has used so far (user and system, so the kernel's share of its I/O
// counts), for tests and benchmarks that measure what something costs.

#include <sys/resource.h>

namespace testing_support {

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double cpuMicroseconds()
{
    return cpuSeconds() * 1e6;
}

} // namespace testing_support
