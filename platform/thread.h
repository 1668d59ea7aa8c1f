#pragma once
// A thread that starts suspended and is stopped by request.
//
// The body (Execute, or the function given to the constructor) runs once the
// thread is resumed and is expected to test Terminated regularly. Synchronize
// runs a call on the main thread and waits for it; WaitFor on the main thread
// keeps running such calls while it waits, so a thread blocked in Synchronize
// cannot keep the main thread from stopping it.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace vendrake {

class TThread {
public:
    // The thread exists at once but waits until Resume.
    TThread();
    explicit TThread(std::function<void(TThread&)> body);
    // Stops the thread as Terminate and WaitFor do. A derived class whose
    // Execute uses its own members must stop the thread in its own
    // destructor: by the time this one runs they are gone.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Lets a suspended thread run its body; does nothing afterwards.
    void Resume();
    // Asks the body to end; it notices through Terminated.
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }
    bool Suspended() const;
    // The body has returned (or thrown).
    bool Finished() const { return FFinished.load(); }

    // Waits until the body has ended. A thread still suspended is resumed
    // first, so a thread that never ran can be stopped. On the main thread,
    // calls other threads hand over with Synchronize run while waiting.
    void WaitFor();

    // Runs `call` on the main thread and waits until it has run; what it
    // throws comes out here. Called on the main thread it simply runs.
    void Synchronize(const std::function<void()>& call);

    // What the body threw, if it did.
    std::exception_ptr FatalException() const;

protected:
    // The thread's work; by default the body given to the constructor.
    virtual void Execute();

private:
    void ThreadMain();

    std::function<void(TThread&)> FBody;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    bool FResumed = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::exception_ptr FFatal;
    std::once_flag FJoined;
    std::thread FThread;  // last: starts once everything above exists
};

} // namespace vendrake
