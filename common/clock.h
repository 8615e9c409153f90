// The monotonic clock, for deadlines and waits: it is never set back.
#pragma once
#include <cstdint>
#include <ctime>

inline int64_t clock_ns()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

inline int64_t clock_ms()
{
    return clock_ns() / 1000000;
}
