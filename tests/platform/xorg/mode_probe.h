#pragma once
// Test support for display-mode switching on an Xorg server with the dummy
// driver (screen 1024x768, modes 1024x768 and 800x600). Reads and sets the
// mode straight through XRandR, independently of the code under test, and
// serialises the tests that switch modes, which may run in parallel processes
// against the same screen.
#include "platform/display_mode.h"

// Before Xlib, whose macros (None, Bool, Status) would break it.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vendrake::probe {

constexpr int BaseWidth = 1024;
constexpr int BaseHeight = 768;

inline std::string DisplayName()
{
    const char* name = std::getenv("DISPLAY");
    return name ? name : "(unset)";
}

// Protocol errors are counted rather than ending the test process.
inline int g_xErrors = 0;

struct TScreenState {
    int CrtcWidth = 0, CrtcHeight = 0;
    int ScreenWidth = 0, ScreenHeight = 0;
    int MmWidth = 0, MmHeight = 0;
    int Depth = 0;
    RRMode Mode = None;
    double Refresh = 0;
};

// A fresh connection (so the screen size is current), its resources and the
// output that shows the desktop: the primary, else the first connected one.
class TSession {
public:
    TSession() : Dpy(XOpenDisplay(nullptr))
    {
        if (!Dpy)
            return;
        Root = DefaultRootWindow(Dpy);
        Res = XRRGetScreenResourcesCurrent(Dpy, Root);
        const RROutput primary = XRRGetOutputPrimary(Dpy, Root);
        for (int i = 0; Res && i < Res->noutput; ++i) {
            XRROutputInfo* info = XRRGetOutputInfo(Dpy, Res, Res->outputs[i]);
            if (info->connection == RR_Connected && info->crtc != None &&
                (Output == None || Res->outputs[i] == primary)) {
                Output = Res->outputs[i];
                Crtc = info->crtc;
            }
            XRRFreeOutputInfo(info);
        }
    }
    ~TSession()
    {
        if (Res)
            XRRFreeScreenResources(Res);
        if (Dpy)
            XCloseDisplay(Dpy);
    }
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    bool Ok() const { return Dpy && Res && Crtc != None; }
    int Screen() const { return DefaultScreen(Dpy); }
    int MmFor(int px) const
    {
        const double perPixel = static_cast<double>(DisplayWidthMM(Dpy, Screen())) /
                                DisplayWidth(Dpy, Screen());
        return std::max(1, static_cast<int>(std::lround(px * perPixel)));
    }

    Display* Dpy;
    Window Root = None;
    XRRScreenResources* Res = nullptr;
    RROutput Output = None;
    RRCrtc Crtc = None;
};

inline std::optional<TScreenState> ReadScreen()
{
    TSession x;
    if (!x.Ok())
        return std::nullopt;
    TScreenState s;
    s.ScreenWidth = DisplayWidth(x.Dpy, x.Screen());
    s.ScreenHeight = DisplayHeight(x.Dpy, x.Screen());
    s.MmWidth = DisplayWidthMM(x.Dpy, x.Screen());
    s.MmHeight = DisplayHeightMM(x.Dpy, x.Screen());
    s.Depth = DefaultDepth(x.Dpy, x.Screen());
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(x.Dpy, x.Res, x.Crtc);
    s.CrtcWidth = static_cast<int>(crtc->width);
    s.CrtcHeight = static_cast<int>(crtc->height);
    s.Mode = crtc->mode;
    XRRFreeCrtcInfo(crtc);
    for (int i = 0; i < x.Res->nmode; ++i) {
        const XRRModeInfo& m = x.Res->modes[i];
        if (m.id == s.Mode)
            s.Refresh = static_cast<double>(m.dotClock) / (m.hTotal * m.vTotal);
    }
    return s;
}

inline bool ShowsSize(const std::optional<TScreenState>& s, int width, int height)
{
    return s && s->CrtcWidth == width && s->CrtcHeight == height && s->ScreenWidth == width &&
           s->ScreenHeight == height;
}

// Puts the first mode of that size on the CRTC and fits the screen to it.
inline bool ForceSize(int width, int height)
{
    TSession x;
    if (!x.Ok())
        return false;
    RRMode mode = None;
    for (int i = x.Res->nmode - 1; i >= 0; --i)
        if (static_cast<int>(x.Res->modes[i].width) == width &&
            static_cast<int>(x.Res->modes[i].height) == height)
            mode = x.Res->modes[i].id;
    if (mode == None)
        return false;
    const int errors = g_xErrors;
    const int grownWidth = std::max(width, DisplayWidth(x.Dpy, x.Screen()));
    const int grownHeight = std::max(height, DisplayHeight(x.Dpy, x.Screen()));
    XRRSetScreenSize(x.Dpy, x.Root, grownWidth, grownHeight, x.MmFor(grownWidth),
                     x.MmFor(grownHeight));
    XRRSetCrtcConfig(x.Dpy, x.Res, x.Crtc, CurrentTime, 0, 0, mode, RR_Rotate_0, &x.Output, 1);
    XRRSetScreenSize(x.Dpy, x.Root, width, height, x.MmFor(width), x.MmFor(height));
    XSync(x.Dpy, False);
    return g_xErrors == errors;
}

// A mode of our own on the desktop's output, for the scope's duration.
class TScopedMode {
public:
    TScopedMode(int width, int height, double refresh)
    {
        TSession x;
        if (!x.Ok())
            return;
        std::string name = "test-" + std::to_string(width) + "x" + std::to_string(height) + "@" +
                           std::to_string(refresh);
        XRRModeInfo info{};
        info.width = static_cast<unsigned>(width);
        info.height = static_cast<unsigned>(height);
        info.hSyncStart = info.width + 40;
        info.hSyncEnd = info.width + 168;
        info.hTotal = info.width + 256;
        info.vSyncStart = info.height + 1;
        info.vSyncEnd = info.height + 5;
        info.vTotal = info.height + 28;
        info.dotClock =
            static_cast<unsigned long>(std::lround(refresh * info.hTotal * info.vTotal));
        info.name = name.data();
        info.nameLength = static_cast<unsigned>(name.size());
        FOutput = x.Output;
        FMode = XRRCreateMode(x.Dpy, x.Root, &info);
        XRRAddOutputMode(x.Dpy, FOutput, FMode);
        XSync(x.Dpy, False);
    }
    ~TScopedMode()
    {
        ForceSize(BaseWidth, BaseHeight);  // a mode in use cannot be removed
        TSession x;
        if (!x.Ok() || FMode == None)
            return;
        XRRDeleteOutputMode(x.Dpy, FOutput, FMode);
        XRRDestroyMode(x.Dpy, FMode);
        XSync(x.Dpy, False);
    }
    TScopedMode(const TScopedMode&) = delete;
    TScopedMode& operator=(const TScopedMode&) = delete;

    RRMode Id() const { return FMode; }

private:
    RROutput FOutput = None;
    RRMode FMode = None;
};

// An exclusive lock on the screen named by DISPLAY, held for one test.
class TScreenLock {
public:
    TScreenLock()
    {
        std::string name = "/tmp/vendrake-mode-test-";
        for (char c : DisplayName())
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        FFd = open((name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (FFd >= 0)
            flock(FFd, LOCK_EX);
    }
    ~TScreenLock()
    {
        if (FFd >= 0)
            close(FFd);
    }
    TScreenLock(const TScreenLock&) = delete;
    TScreenLock& operator=(const TScreenLock&) = delete;

private:
    int FFd = -1;
};

inline DEVMODEA ModeOfSize(std::uint32_t width, std::uint32_t height)
{
    DEVMODEA m{};
    m.dmSize = sizeof m;
    m.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    m.dmPelsWidth = width;
    m.dmPelsHeight = height;
    return m;
}

// Every test starts and ends at the base size, whatever happened in between.
class TModeSwitchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XSetErrorHandler([](Display*, XErrorEvent*) {
            ++g_xErrors;
            return 0;
        });
        ASSERT_TRUE(TSession().Ok()) << "no usable X server at DISPLAY=" << DisplayName()
                                     << "; these tests need Xorg with the dummy driver";
        if (!ShowsSize(ReadScreen(), BaseWidth, BaseHeight)) {
            ASSERT_TRUE(ForceSize(BaseWidth, BaseHeight));
        }
        Base = *ReadScreen();
        ASSERT_TRUE(ShowsSize(Base, BaseWidth, BaseHeight));
    }

    void TearDown() override
    {
        ChangeDisplaySettingsA(nullptr, 0);
        if (!ShowsSize(ReadScreen(), BaseWidth, BaseHeight))
            ForceSize(BaseWidth, BaseHeight);
    }

    // Same mode and screen as at the start of the test.
    void ExpectBase() const
    {
        const std::optional<TScreenState> now = ReadScreen();
        ASSERT_TRUE(now);
        EXPECT_EQ(now->Mode, Base.Mode);
        EXPECT_EQ(now->ScreenWidth, Base.ScreenWidth);
        EXPECT_EQ(now->ScreenHeight, Base.ScreenHeight);
        EXPECT_EQ(now->MmWidth, Base.MmWidth);
        EXPECT_EQ(now->MmHeight, Base.MmHeight);
    }

    TScreenLock Lock;
    TScreenState Base;
};

} // namespace vendrake::probe
