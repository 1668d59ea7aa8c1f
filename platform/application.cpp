#include "platform/application.h"

#include "platform/form.h"
#include "platform/x_window.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace vendrake {

namespace {

// Static initialisation runs on the thread the process started on.
const std::thread::id MainThreadId = std::this_thread::get_id();

const std::string NoName;

} // namespace

bool IsMainThread() { return std::this_thread::get_id() == MainThreadId; }

// -- TMainThreadQueue --------------------------------------------------------

TMainThreadQueue& TMainThreadQueue::Instance()
{
    // Never destroyed: threads still running at exit may reach for it.
    static TMainThreadQueue* const queue = [] {
        struct TMade : TMainThreadQueue {};
        return static_cast<TMainThreadQueue*>(std::make_unique<TMade>().release());
    }();
    return *queue;
}

TMainThreadQueue::TMainThreadQueue()
{
    FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWakeFd < 0)
        throw std::runtime_error("cannot create the main thread's wake-up descriptor");
}

TMainThreadQueue::~TMainThreadQueue() { close(FWakeFd); }

void TMainThreadQueue::Call(std::function<void()> call)
{
    if (IsMainThread()) {
        call();
        return;
    }
    auto entry = std::make_shared<TEntry>();
    entry->Call = std::move(call);
    {
        std::lock_guard lock(FMutex);
        FPending.push_back(entry);
    }
    FChanged.notify_all();
    Wake();
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return entry->Done; });
    if (entry->Error)
        std::rethrow_exception(entry->Error);
}

bool TMainThreadQueue::RunPending()
{
    bool ran = false;
    for (;;) {
        std::shared_ptr<TEntry> entry;
        {
            std::lock_guard lock(FMutex);
            if (FPending.empty())
                break;
            entry = std::move(FPending.front());
            FPending.pop_front();
        }
        try {
            entry->Call();
        } catch (...) {
            entry->Error = std::current_exception();
        }
        {
            // Let go of the entry before the caller may see it done: the
            // caller then frees it, and an exception in it, on its own
            // thread, after the hand-over through the mutex.
            std::lock_guard lock(FMutex);
            entry->Done = true;
            entry.reset();
        }
        FChanged.notify_all();
        ran = true;
    }
    return ran;
}

void TMainThreadQueue::RunUntil(const std::function<bool()>& done)
{
    for (;;) {
        RunPending();
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return done() || !FPending.empty(); });
        if (done())
            return;
    }
}

void TMainThreadQueue::Notify()
{
    {
        std::lock_guard lock(FMutex);
    }
    FChanged.notify_all();
}

void TMainThreadQueue::Wake()
{
    const std::uint64_t one = 1;
    // A full counter (never in practice) already means "readable".
    [[maybe_unused]] auto written = write(FWakeFd, &one, sizeof one);
}

void TMainThreadQueue::DrainWake()
{
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = read(FWakeFd, &count, sizeof count);
}

// -- TApplication ------------------------------------------------------------

TApplication::TApplication() = default;

TApplication::~TApplication() = default;

void TApplication::Initialize(const std::string& displayName)
{
    if (FConnection)
        return;
    FConnection = std::make_shared<TXConnection>(displayName);
    SetDefaultDisplayName(FConnection->Name());
}

_XDisplay* TApplication::Connection() const { return FConnection ? FConnection->Get() : nullptr; }

const std::string& TApplication::DisplayName() const
{
    return FConnection ? FConnection->Name() : NoName;
}

int TApplication::Screen() const { return FConnection ? FConnection->ScreenNumber() : 0; }

void TApplication::FormCreated(TForm& form)
{
    if (!FMainForm)
        FMainForm = &form;
}

void TApplication::FormDestroyed(TForm& form)
{
    if (FMainForm == &form)
        FMainForm = nullptr;
}

void TApplication::Terminate()
{
    FTerminated = true;
    TMainThreadQueue::Instance().Wake();
}

void TApplication::DispatchPendingEvents()
{
    Display* display = Connection();
    if (!display)
        return;
    // XPending flushes and reads what the socket holds without blocking.
    while (!FTerminated && XPending(display) > 0) {
        XEvent event{};
        XNextEvent(display, &event);
        if (TXWindow* window = TXWindow::Find(display, event.xany.window))
            window->Dispatch(event);
    }
}

void TApplication::ProcessMessages()
{
    TMainThreadQueue& queue = TMainThreadQueue::Instance();
    queue.DrainWake();
    queue.RunPending();
    DispatchPendingEvents();
}

void TApplication::Run()
{
    if (!Initialized())
        throw std::runtime_error("the application has no X display: Initialize was not called");
    if (ShowMainForm && FMainForm && !FMainForm->Visible())
        FMainForm->Show();

    Display* display = Connection();
    TMainThreadQueue& queue = TMainThreadQueue::Instance();
    while (!FTerminated) {
        // Drain before running, so a call queued from here on wakes the poll.
        queue.DrainWake();
        queue.RunPending();
        DispatchPendingEvents();
        if (FTerminated)
            break;
        // Handlers may have read more events into Xlib's queue; poll would
        // not see those.
        if (XEventsQueued(display, QueuedAfterFlush) > 0)
            continue;
        pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {queue.WakeFd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            throw std::runtime_error("the message loop cannot wait for events");
    }
}

TApplication& Application()
{
    // Never destroyed, so forms that outlive main() still find it.
    static TApplication* const application = std::make_unique<TApplication>().release();
    return *application;
}

} // namespace vendrake
