#pragma once
// The high-resolution performance counter and the processor yield.
//
// The counter reads CLOCK_MONOTONIC in nanoseconds, so its frequency is 10^9.
// Tests can put a counter source of their own in its place to drive frame
// times exactly.
#include <cstdint>
#include <functional>
#include <memory>

namespace vendrake {

constexpr std::int64_t PerformanceFrequency = 1'000'000'000;

// Both return false only for a null pointer.
bool QueryPerformanceFrequency(std::int64_t* frequency);
bool QueryPerformanceCounter(std::int64_t* count);

// Replaces the counter's source for the whole process; an empty function puts
// the monotonic clock back. Safe to call while other threads read the counter.
using TCounterSource = std::function<std::int64_t()>;
void SetCounterSource(TCounterSource source);

// Installs a counter source for as long as it lives, then restores the one
// that was there before.
class TCounterSourceOverride {
public:
    explicit TCounterSourceOverride(TCounterSource source);
    ~TCounterSourceOverride();
    TCounterSourceOverride(const TCounterSourceOverride&) = delete;
    TCounterSourceOverride& operator=(const TCounterSourceOverride&) = delete;

private:
    std::shared_ptr<const TCounterSource> FPrevious;
};

// Sleeps for the given milliseconds; 0 gives up the rest of the time slice.
void Sleep(unsigned milliseconds);

} // namespace vendrake
