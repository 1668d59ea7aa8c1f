#include "platform/display_mode.h"
#include "tests/platform/xorg/mode_probe.h"
#include "platform/x_window.h"

#include <array>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vendrake {
namespace {

using probe::ReadScreen;
using probe::ShowsSize;
using DisplayModeTest = probe::TModeSwitchTest;

std::int32_t Change(std::uint32_t width, std::uint32_t height, std::uint32_t flags = CDS_FULLSCREEN)
{
    DEVMODEA mode = probe::ModeOfSize(width, height);
    return ChangeDisplaySettingsA(&mode, flags);
}

std::int32_t Restore()
{
    return ChangeDisplaySettingsA(nullptr, 0);
}

TEST_F(DisplayModeTest, SwitchesAndRestoresTheModeInForceBeforeTheFirstChange)
{
    ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
    const std::optional<probe::TScreenState> now = ReadScreen();
    ASSERT_TRUE(ShowsSize(now, 800, 600));
    EXPECT_EQ(now->Depth, Base.Depth);
    // The desktop keeps its dots per millimetre.
    EXPECT_NEAR(now->MmWidth / 800.0, Base.MmWidth / 1024.0, 0.002);
    EXPECT_NEAR(now->MmHeight / 600.0, Base.MmHeight / 768.0, 0.002);

    // A second change does not make 800x600 the user's mode.
    probe::TScopedMode small(640, 480, 60.0);
    ASSERT_EQ(Change(640, 480), DISP_CHANGE_SUCCESSFUL);
    EXPECT_TRUE(ShowsSize(ReadScreen(), 640, 480));
    // Asking for the size in force changes nothing and succeeds.
    EXPECT_EQ(Change(640, 480), DISP_CHANGE_SUCCESSFUL);

    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();
    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();

    // After a restore the next change starts over.
    ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();
}

TEST_F(DisplayModeTest, RequestsThatCannotBeMetChangeNothing)
{
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);

    EXPECT_EQ(Change(1000, 700), DISP_CHANGE_BADMODE);
    EXPECT_EQ(Change(0xFFFFFCE0u, 600), DISP_CHANGE_BADMODE);  // a negative width
    EXPECT_EQ(Change(800, 600, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Change(1000, 700, CDS_TEST), DISP_CHANGE_BADMODE);
    EXPECT_EQ(Change(1024, 768), DISP_CHANGE_SUCCESSFUL);
    DEVMODEA truncated = probe::ModeOfSize(800, 600);
    truncated.dmSize = 64;
    EXPECT_EQ(ChangeDisplaySettingsA(&truncated, CDS_FULLSCREEN), DISP_CHANGE_BADPARAM);
    ExpectBase();

    // No change was made, so no handler was installed.
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_flags & SA_SIGINFO, before.sa_flags & SA_SIGINFO);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST_F(DisplayModeTest, FailsQuietlyWithoutADisplay)
{
    const std::string display = probe::DisplayName();
    struct TRestoreDisplay {
        std::string Name;
        ~TRestoreDisplay() { setenv("DISPLAY", Name.c_str(), 1); }
    } restoreDisplay{display};

    setenv("DISPLAY", ":4999", 1);
    EXPECT_EQ(Change(800, 600), DISP_CHANGE_FAILED);
    unsetenv("DISPLAY");
    EXPECT_EQ(Change(800, 600), DISP_CHANGE_FAILED);
    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);  // nothing in force

    // A restore that cannot reach the server keeps the user's mode for later.
    setenv("DISPLAY", display.c_str(), 1);
    ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
    unsetenv("DISPLAY");
    EXPECT_EQ(Restore(), DISP_CHANGE_FAILED);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_TRUE(ShowsSize(ReadScreen(), 800, 600));
    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();
}

TEST_F(DisplayModeTest, KeepsTheRefreshRateClosestToTheCurrentOne)
{
    ASSERT_NEAR(Base.Refresh, 60.0, 0.01);
    // The server's own 800x600 runs at 60.32 Hz. Created in this order so that
    // neither the first nor the last candidate is the right one.
    probe::TScopedMode closest(800, 600, 60.0);
    probe::TScopedMode fast(800, 600, 75.0);
    ASSERT_NE(closest.Id(), None);

    ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
    const std::optional<probe::TScreenState> now = ReadScreen();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->Mode, closest.Id());
    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();
}

// --- Processes that end while a change is in force.

struct TChildRun {
    bool Switched = false;
    std::optional<probe::TScreenState> Seen;  // while the child was alive
    int WaitStatus = 0;
};

// Forks a child that runs `before`, switches to 800x600 and waits; the parent
// looks at the screen, then either sends `signal` or lets the child go on to
// `end`.
TChildRun RunChild(const std::function<void()>& before, const std::function<void()>& end,
                   int signal)
{
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0)
        return {};
    const pid_t pid = fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        close(up[0]);
        close(down[1]);
        if (before)
            before();
        const char switched = Change(800, 600) == DISP_CHANGE_SUCCESSFUL ? '1' : '0';
        (void)!write(up[1], &switched, 1);
        // poll rather than a blocking read: some runtimes (ThreadSanitizer)
        // hold signals back until a plain read returns.
        pollfd wait{down[0], POLLIN, 0};
        while (poll(&wait, 1, -1) < 0) {
        }
        char go = 0;
        (void)!read(down[0], &go, 1);
        if (end)
            end();
        _exit(0);
    }
    close(up[1]);
    close(down[0]);
    TChildRun run;
    char switched = 0;
    run.Switched = read(up[0], &switched, 1) == 1 && switched == '1';
    run.Seen = ReadScreen();
    if (signal)
        kill(pid, signal);
    else
        (void)!write(down[1], "g", 1);
    waitpid(pid, &run.WaitStatus, 0);
    close(up[0]);
    close(down[1]);
    return run;
}

void Segfault()
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile char*>(page) = 1;
}

void BusError()
{
    const int fd = memfd_create("empty", 0);  // a mapping past the end of a file
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    (void)*static_cast<volatile char*>(page);
}

extern "C" void ExitFortyTwo(int)
{
    _exit(42);
}

TEST_F(DisplayModeTest, EveryWayOutOfAProcessRestoresTheUserMode)
{
    struct TWayOut {
        const char* Name;
        std::function<void()> Before;
        std::function<void()> End;
        int Sent;        // by the parent
        int DiesOf;      // 0: exits
        int ExitStatus;  // when it exits
    };
    const auto ownCrashHandler = [] {
        struct sigaction action {};
        action.sa_handler = &ExitFortyTwo;
        sigaction(SIGSEGV, &action, nullptr);
    };
    const TWayOut ways[] = {
        {"exit without restoring", nullptr, [] { std::exit(0); }, 0, 0, 0},
        {"SIGINT", nullptr, nullptr, SIGINT, SIGINT, 0},
        {"SIGTERM", nullptr, nullptr, SIGTERM, SIGTERM, 0},
        {"SIGHUP", nullptr, nullptr, SIGHUP, SIGHUP, 0},
        // Every other signal whose default action ends the process.
        {"SIGQUIT", nullptr, nullptr, SIGQUIT, SIGQUIT, 0},
        {"SIGUSR1", nullptr, nullptr, SIGUSR1, SIGUSR1, 0},
        {"SIGALRM", nullptr, nullptr, SIGALRM, SIGALRM, 0},
        {"SIGPIPE", nullptr, nullptr, SIGPIPE, SIGPIPE, 0},
        {"a real-time signal", nullptr, nullptr, SIGRTMIN + 3, SIGRTMIN + 3, 0},
        {"segmentation fault", nullptr, &Segfault, 0, SIGSEGV, 0},
        {"bus error", nullptr, &BusError, 0, SIGBUS, 0},
        {"abort", nullptr, [] { std::abort(); }, 0, SIGABRT, 0},
        // Restored first, then the program's own crash handler runs.
        {"crash with a handler of its own", ownCrashHandler, &Segfault, 0, 0, 42},
    };
    for (const TWayOut& way : ways) {
        SCOPED_TRACE(way.Name);
        const TChildRun run = RunChild(way.Before, way.End, way.Sent);
        ASSERT_TRUE(run.Switched);
        EXPECT_TRUE(ShowsSize(run.Seen, 800, 600));
        if (way.DiesOf == 0) {
            EXPECT_TRUE(WIFEXITED(run.WaitStatus) && WEXITSTATUS(run.WaitStatus) == way.ExitStatus)
                << "status " << run.WaitStatus;
        } else if (way.DiesOf == SIGSEGV || way.DiesOf == SIGBUS) {
            // A sanitizer's crash report ends the process with a status instead.
            EXPECT_TRUE((WIFSIGNALED(run.WaitStatus) && WTERMSIG(run.WaitStatus) == way.DiesOf) ||
                        (WIFEXITED(run.WaitStatus) && WEXITSTATUS(run.WaitStatus) != 0))
                << "status " << run.WaitStatus;
        } else {
            EXPECT_TRUE(WIFSIGNALED(run.WaitStatus) && WTERMSIG(run.WaitStatus) == way.DiesOf)
                << "status " << run.WaitStatus;
        }
        ExpectBase();
        if (!ShowsSize(ReadScreen(), probe::BaseWidth, probe::BaseHeight))
            probe::ForceSize(probe::BaseWidth, probe::BaseHeight);
    }
}

volatile std::sig_atomic_t g_terminations = 0;

extern "C" void CountTermination(int)
{
    g_terminations = g_terminations + 1;
}

TEST_F(DisplayModeTest, RespectsSignalHandlersInstalledBefore)
{
    struct TSavedActions {
        struct sigaction Int {}, Term{}, Hup{};
        TSavedActions()
        {
            sigaction(SIGINT, nullptr, &Int);
            sigaction(SIGTERM, nullptr, &Term);
            sigaction(SIGHUP, nullptr, &Hup);
        }
        ~TSavedActions()
        {
            sigaction(SIGINT, &Int, nullptr);
            sigaction(SIGTERM, &Term, nullptr);
            sigaction(SIGHUP, &Hup, nullptr);
        }
    } saved;
    struct sigaction ignore {}, count{}, now{};
    ignore.sa_handler = SIG_IGN;
    count.sa_handler = &CountTermination;
    sigaction(SIGHUP, &ignore, nullptr);
    sigaction(SIGTERM, &count, nullptr);
    g_terminations = 0;

    ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_TRUE(!(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_IGN);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_TRUE(now.sa_flags & SA_SIGINFO);
    // The program handles SIGTERM itself and may carry on; the mode stays.
    raise(SIGTERM);
    EXPECT_EQ(g_terminations, 1);
    EXPECT_TRUE(ShowsSize(ReadScreen(), 800, 600));

    ASSERT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_TRUE(!(now.sa_flags & SA_SIGINFO) && now.sa_handler == &CountTermination);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_flags & SA_SIGINFO, saved.Int.sa_flags & SA_SIGINFO);
    EXPECT_EQ(now.sa_handler, saved.Int.sa_handler);
}

// The dummy driver's first two outputs side by side, for the scope's
// duration; then DUMMY0 alone again, as the other tests expect it.
struct TTwoMonitors {
    explicit TTwoMonitors(const std::string& layout)
    {
        std::system("xrandr --addmode DUMMY1 1024x768 2>/dev/null; xrandr --addmode DUMMY1 800x600 2>/dev/null");
        Ok = std::system(("xrandr " + layout).c_str()) == 0;
    }
    ~TTwoMonitors() { std::system("xrandr --output DUMMY1 --off --output DUMMY0 --mode 1024x768 --pos 0x0 --primary"); }
    TTwoMonitors(const TTwoMonitors&) = delete;
    TTwoMonitors& operator=(const TTwoMonitors&) = delete;
    bool Ok = false;
};

// Where an output is shown: x, y, width, height.
std::array<int, 4> Shown(const char* output)
{
    probe::TSession x;
    std::array<int, 4> shown{};
    for (int i = 0; x.Res && i < x.Res->noutput; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(x.Dpy, x.Res, x.Res->outputs[i]);
        if (std::string(info->name) == output && info->crtc != None) {
            XRRCrtcInfo* crtc = XRRGetCrtcInfo(x.Dpy, x.Res, info->crtc);
            shown = {crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
            XRRFreeCrtcInfo(crtc);
        }
        XRRFreeOutputInfo(info);
    }
    return shown;
}

std::array<int, 4> Monitor()
{
    RECT r{};
    EXPECT_TRUE(GetPresentationMonitor(&r));
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

TEST_F(DisplayModeTest, TheMonitorsBesideTheSwitchedOneKeepTheirPlaces)
{
    using Rect = std::array<int, 4>;
    {
        SCOPED_TRACE("the primary on the left");
        TTwoMonitors two("--output DUMMY0 --mode 1024x768 --pos 0x0 --primary --output DUMMY1 --mode 1024x768 --pos 1024x0");
        ASSERT_TRUE(two.Ok);
        EXPECT_EQ(Monitor(), (Rect{0, 0, 1024, 768}));
        ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(Shown("DUMMY0"), (Rect{0, 0, 800, 600}));
        EXPECT_EQ(Shown("DUMMY1"), (Rect{800, 0, 1024, 768})) << "a strip nobody shows";
        EXPECT_EQ(Monitor(), (Rect{0, 0, 800, 600}));
        ASSERT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(Shown("DUMMY0"), (Rect{0, 0, 1024, 768}));
        EXPECT_EQ(Shown("DUMMY1"), (Rect{1024, 0, 1024, 768}));
    }
    {
        SCOPED_TRACE("the primary on the right");
        TTwoMonitors two("--output DUMMY1 --mode 1024x768 --pos 0x0 --output DUMMY0 --mode 1024x768 --right-of DUMMY1 --primary");
        ASSERT_TRUE(two.Ok);
        ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(Shown("DUMMY0"), (Rect{1024, 0, 800, 600}));
        EXPECT_EQ(Shown("DUMMY1"), (Rect{0, 0, 1024, 768}));
        EXPECT_EQ(Monitor(), (Rect{1024, 0, 800, 600}));
        // A second change of the same monitor still goes back to the first layout.
        ASSERT_EQ(Change(640, 480), DISP_CHANGE_SUCCESSFUL);
        ASSERT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(Shown("DUMMY0"), (Rect{1024, 0, 1024, 768}));
        EXPECT_EQ(Shown("DUMMY1"), (Rect{0, 0, 1024, 768}));
    }
    {
        SCOPED_TRACE("no primary: the monitor under the pointer");
        TTwoMonitors two("--output DUMMY0 --mode 1024x768 --pos 0x0 --output DUMMY1 --mode 1024x768 --pos 1024x0 --noprimary");
        ASSERT_TRUE(two.Ok);
        ASSERT_EQ(std::system("xdotool mousemove 1500 300"), 0);
        EXPECT_EQ(Monitor(), (Rect{1024, 0, 1024, 768}));
        ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(Shown("DUMMY1"), (Rect{1024, 0, 800, 600}));
        EXPECT_EQ(Shown("DUMMY0"), (Rect{0, 0, 1024, 768}));
        ASSERT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
        EXPECT_EQ(Shown("DUMMY1"), (Rect{1024, 0, 1024, 768}));
    }
    ExpectBase();
}

TEST_F(DisplayModeTest, AForkedChildLeavesItsParentsChangeAlone)
{
    ASSERT_EQ(Change(800, 600), DISP_CHANGE_SUCCESSFUL);
    const auto childOf = [](const std::function<void()>& body, int signal) {
        const pid_t pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
        if (signal)
            kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    };
    childOf([] { std::exit(0); }, 0);
    EXPECT_TRUE(ShowsSize(ReadScreen(), 800, 600)) << "after a child exited";
    childOf([] { pause(); }, SIGTERM);
    EXPECT_TRUE(ShowsSize(ReadScreen(), 800, 600)) << "after a child was terminated";
    childOf([] { Restore(); }, 0);
    EXPECT_TRUE(ShowsSize(ReadScreen(), 800, 600)) << "after a child restored";

    EXPECT_EQ(Restore(), DISP_CHANGE_SUCCESSFUL);
    ExpectBase();
}

} // namespace
} // namespace vendrake
