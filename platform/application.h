#pragma once
// The application object: the X connection of the window toolkit, the
// message loop, and the queue through which other threads hand calls to the
// main thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct _XDisplay;

namespace vendrake {

class TForm;
class TXConnection;

// One size of an application's icon: Width by Height pixels as 0xAARRGGBB,
// the top row first.
struct TIconImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

// True on the thread the process started on.
bool IsMainThread();

// Calls handed to the main thread. Another thread queues a call and waits
// until the main thread has run it; the main thread runs them from its
// message loop or while it waits for something (a thread's end).
class TMainThreadQueue {
public:
    static TMainThreadQueue& Instance();

    // Runs `call` on the main thread and returns when it has run; an
    // exception it throws comes out here. On the main thread it runs at once.
    void Call(std::function<void()> call);

    // Main thread: runs every queued call; true when there was any.
    bool RunPending();
    // Main thread: runs queued calls as they come until `done` holds.
    // Whoever makes `done` true calls Notify afterwards.
    void RunUntil(const std::function<bool()>& done);
    void Notify();

    // Readable when calls are waiting (or the loop was woken otherwise);
    // the message loop polls it next to the X connection.
    int WakeFd() const { return FWakeFd; }
    void Wake();
    void DrainWake();

    TMainThreadQueue(const TMainThreadQueue&) = delete;
    TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

protected:
    TMainThreadQueue();
    ~TMainThreadQueue();

private:

    struct TEntry {
        std::function<void()> Call;
        std::exception_ptr Error;
        bool Done = false;
    };

    std::mutex FMutex;
    std::condition_variable FChanged;  // a call was queued, or one has run, or Notify
    std::deque<std::shared_ptr<TEntry>> FPending;
    int FWakeFd = -1;
};

class TApplication {
public:
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Used as the WM_CLASS of the application's windows.
    std::string Title;
    // Run shows the main form (the first form created) when it is hidden.
    bool ShowMainForm = true;
    // What task lists and window switchers show for the main form; set it
    // before the form's window is made.
    std::vector<TIconImage> Icon;

    // Opens the X connection; an empty name means $DISPLAY. Throws
    // std::runtime_error("cannot open X display ':5'") when there is none.
    void Initialize(const std::string& displayName = {});
    bool Initialized() const { return FConnection != nullptr; }
    _XDisplay* Connection() const;
    // Forms hold on to the connection, so it outlives every window on it.
    std::shared_ptr<TXConnection> SharedConnection() const { return FConnection; }
    // The display's name as Xlib resolved it; empty before Initialize.
    const std::string& DisplayName() const;
    int Screen() const;

    TForm* MainForm() const { return FMainForm; }

    // The message loop: dispatches X events to the windows and runs the calls
    // other threads queued, until Terminate. Waits in poll(), never in Xlib.
    void Run();
    // Ends Run at its next turn; any thread may call it.
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }
    // Handles what is pending now without waiting.
    void ProcessMessages();

private:
    friend class TForm;
    void FormCreated(TForm& form);
    void FormDestroyed(TForm& form);
    void DispatchPendingEvents();

    std::shared_ptr<TXConnection> FConnection;
    TForm* FMainForm = nullptr;
    std::atomic<bool> FTerminated{false};
};

// The process's application object.
TApplication& Application();

} // namespace vendrake
