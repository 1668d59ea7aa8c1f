#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <time.h>

namespace vendrake {
namespace {

std::int64_t Counter()
{
    std::int64_t value = 0;
    EXPECT_TRUE(QueryPerformanceCounter(&value));
    return value;
}

TEST(Clock, CountsNanosecondsOfTheMonotonicClock)
{
    std::int64_t frequency = 0;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1'000'000'000);
    EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));

    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const std::int64_t first = Counter();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::int64_t second = Counter();
    const std::int64_t beforeNs = std::int64_t{before.tv_sec} * 1'000'000'000 + before.tv_nsec;
    EXPECT_GE(first, beforeNs);
    EXPECT_GE(second - first, 20'000'000);
}

TEST(Clock, FakeSourceDrivesTheCounterUntilRestored)
{
    std::atomic<std::int64_t> fake{5};
    {
        TCounterSourceOverride outer([&] { return fake.load(); });
        EXPECT_EQ(Counter(), 5);
        fake = 1'000'000'005;
        EXPECT_EQ(Counter(), 1'000'000'005);
        {
            TCounterSourceOverride inner([] { return std::int64_t{42}; });
            EXPECT_EQ(Counter(), 42);
        }
        EXPECT_EQ(Counter(), 1'000'000'005);  // the outer fake is back

        // Other threads read the same source.
        std::int64_t seen = 0;
        std::thread reader([&] { QueryPerformanceCounter(&seen); });
        reader.join();
        EXPECT_EQ(seen, 1'000'000'005);
    }
    // The real clock again: far past the fake values, and moving.
    const std::int64_t real = Counter();
    EXPECT_GT(real, 1'000'000'005);

    SetCounterSource([] { return std::int64_t{7}; });
    EXPECT_EQ(Counter(), 7);
    SetCounterSource({});
    EXPECT_GE(Counter(), real);
}

TEST(Clock, SleepZeroYieldsAndOthersSleep)
{
    Sleep(0);
    const auto start = std::chrono::steady_clock::now();
    Sleep(15);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

} // namespace
} // namespace vendrake
