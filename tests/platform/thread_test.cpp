#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace vendrake {
namespace {

using namespace std::chrono_literals;

// The shape of a render loop: work until told to stop.
class TCountingThread : public TThread {
public:
    ~TCountingThread() override
    {
        Terminate();
        WaitFor();
    }
    std::atomic<int> Passes{0};
    std::atomic<bool> SawTerminated{false};

protected:
    void Execute() override
    {
        while (!Terminated()) {
            ++Passes;
            std::this_thread::yield();
        }
        SawTerminated = true;
    }
};

TEST(Thread, StartsSuspendedRunsAfterResumeAndStopsOnRequest)
{
    TCountingThread thread;
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(thread.Suspended());
    EXPECT_EQ(thread.Passes.load(), 0);
    EXPECT_FALSE(thread.Finished());

    thread.Resume();
    EXPECT_FALSE(thread.Suspended());
    while (thread.Passes.load() < 3)
        std::this_thread::yield();
    EXPECT_FALSE(thread.Finished());

    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_TRUE(thread.SawTerminated.load());
    thread.WaitFor();  // a second wait returns at once
}

TEST(Thread, NeverResumedThreadCanStillBeStopped)
{
    // Stopping resumes it; the body then finds the request at its first test.
    TCountingThread thread;
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_TRUE(thread.SawTerminated.load());
    EXPECT_EQ(thread.Passes.load(), 0);

    // Destroying one that was never resumed or stopped does not hang either.
    std::atomic<bool> ran{false};
    {
        TThread idle([&](TThread& self) { ran = self.Terminated(); });
    }
    EXPECT_TRUE(ran.load());
}

TEST(Thread, SynchronizeRunsOnTheMainThreadWhileItWaitsForTheStop)
{
    const auto mainId = std::this_thread::get_id();
    std::atomic<int> calls{0};
    std::atomic<bool> allOnMain{true};
    TThread worker([&](TThread& self) {
        while (!self.Terminated()) {
            self.Synchronize([&] {
                if (std::this_thread::get_id() != mainId)
                    allOnMain = false;
                ++calls;
            });
        }
    });
    worker.Resume();
    // The worker is blocked in Synchronize most of the time; nobody but
    // WaitFor runs the main thread's queue here.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(calls.load(), 0);
    worker.Terminate();
    worker.WaitFor();
    EXPECT_TRUE(worker.Finished());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(allOnMain.load());

    // On the main thread itself the call simply runs.
    worker.Synchronize([&] { ++calls; });
    EXPECT_EQ(calls.load(), 2);
}

TEST(Thread, ErrorsComeBackToWhoeverCausedThem)
{
    // A failing synchronised call throws in the thread that asked for it.
    std::string caught;
    TThread asker([&](TThread& self) {
        try {
            self.Synchronize([] { throw std::runtime_error("viewport update failed"); });
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
    });
    asker.Resume();
    asker.WaitFor();
    EXPECT_EQ(caught, "viewport update failed");
    EXPECT_EQ(asker.FatalException(), nullptr);

    // A failing body ends the thread and is kept for the owner.
    TThread failing([](TThread&) { throw std::runtime_error("body failed"); });
    failing.Resume();
    failing.WaitFor();
    ASSERT_NE(failing.FatalException(), nullptr);
    EXPECT_THROW(std::rethrow_exception(failing.FatalException()), std::runtime_error);
}

TEST(Thread, WaitForFromAnotherThreadWaitsWithoutRunningCalls)
{
    std::atomic<bool> release{false};
    TThread slow([&](TThread&) {
        while (!release.load())
            std::this_thread::yield();
    });
    slow.Resume();
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        slow.WaitFor();
        waited = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(waited.load());
    release = true;
    waiter.join();
    EXPECT_TRUE(waited.load());
    EXPECT_TRUE(slow.Finished());
}

} // namespace
} // namespace vendrake
