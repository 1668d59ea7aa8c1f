#include "platform/thread.h"

#include "platform/application.h"

#include <stdexcept>

namespace vendrake {

TThread::TThread() : FThread([this] { ThreadMain(); }) {}

TThread::TThread(std::function<void(TThread&)> body)
    : FBody(std::move(body)), FThread([this] { ThreadMain(); })
{
}

TThread::~TThread()
{
    if (std::this_thread::get_id() == FThread.get_id()) {
        // Destroyed from its own body: nobody can wait for it here.
        FThread.detach();
        return;
    }
    Terminate();
    WaitFor();
}

void TThread::ThreadMain()
{
    {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return FResumed; });
    }
    try {
        Execute();
    } catch (...) {
        std::lock_guard lock(FMutex);
        FFatal = std::current_exception();
    }
    {
        std::lock_guard lock(FMutex);
        FFinished = true;
    }
    FChanged.notify_all();
    // The main thread may be waiting for us among its queued calls.
    TMainThreadQueue::Instance().Notify();
}

void TThread::Execute()
{
    if (FBody)
        FBody(*this);
}

void TThread::Resume()
{
    {
        std::lock_guard lock(FMutex);
        FResumed = true;
    }
    FChanged.notify_all();
}

void TThread::Terminate() { FTerminated = true; }

bool TThread::Suspended() const
{
    std::lock_guard lock(FMutex);
    return !FResumed;
}

void TThread::WaitFor()
{
    if (std::this_thread::get_id() == FThread.get_id())
        throw std::logic_error("a thread cannot wait for its own end");
    Resume();
    if (IsMainThread()) {
        TMainThreadQueue::Instance().RunUntil([this] { return Finished(); });
    } else {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [this] { return FFinished.load(); });
    }
    std::call_once(FJoined, [this] { FThread.join(); });
}

void TThread::Synchronize(const std::function<void()>& call)
{
    TMainThreadQueue::Instance().Call(call);
}

std::exception_ptr TThread::FatalException() const
{
    std::lock_guard lock(FMutex);
    return FFatal;
}

} // namespace vendrake
