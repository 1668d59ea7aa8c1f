#include "platform/clock.h"

#include <cerrno>
#include <memory>
#include <mutex>
#include <sched.h>
#include <time.h>

namespace vendrake {

namespace {

std::mutex SourceMutex;
std::shared_ptr<const TCounterSource> Source;  // null: the monotonic clock

std::shared_ptr<const TCounterSource> CurrentSource()
{
    std::lock_guard lock(SourceMutex);
    return Source;
}

std::shared_ptr<const TCounterSource> ExchangeSource(std::shared_ptr<const TCounterSource> next)
{
    std::lock_guard lock(SourceMutex);
    Source.swap(next);
    return next;
}

std::int64_t MonotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * PerformanceFrequency + now.tv_nsec;
}

} // namespace

bool QueryPerformanceFrequency(std::int64_t* frequency)
{
    if (!frequency)
        return false;
    *frequency = PerformanceFrequency;
    return true;
}

bool QueryPerformanceCounter(std::int64_t* count)
{
    if (!count)
        return false;
    auto source = CurrentSource();
    *count = source ? (*source)() : MonotonicNanoseconds();
    return true;
}

void SetCounterSource(TCounterSource source)
{
    ExchangeSource(source ? std::make_shared<const TCounterSource>(std::move(source)) : nullptr);
}

TCounterSourceOverride::TCounterSourceOverride(TCounterSource source)
    : FPrevious(ExchangeSource(source ? std::make_shared<const TCounterSource>(std::move(source))
                                      : nullptr))
{
}

TCounterSourceOverride::~TCounterSourceOverride() { ExchangeSource(std::move(FPrevious)); }

void Sleep(unsigned milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

} // namespace vendrake
