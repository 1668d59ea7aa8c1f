#pragma once
// Two monitors side by side on Xorg's dummy driver, for the scope's
// duration: DUMMY0, the desktop's own output, and DUMMY1, each showing
// 1024x768 (both offer 800x600 too), with the primary on the left or on the
// right. Afterwards there is one 1024x768 monitor again, DUMMY0 at the
// origin and primary, whatever happened in between.
#include <cstdio>
#include <optional>
#include <string>

#include <sys/wait.h>

#include "tests/support/x_helpers.h"

#include <X11/extensions/Xrandr.h>

namespace vendrake::test {

// Runs xrandr on display with args; its output when it fails, else empty.
inline std::optional<std::string> RunXrandr(const std::string& display, const std::string& args)
{
    FILE* pipe = popen(("xrandr -display " + display + " " + args + " 2>&1").c_str(), "r");
    if (!pipe)
        return "cannot run xrandr";
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return std::nullopt;
    return "xrandr " + args + ": " + output;
}

// The part of the screen an output shows, read afresh; nothing when it is
// off or unknown.
inline std::optional<TArea> OutputArea(const std::string& display, const std::string& output)
{
    TXConnection x(display);
    Display* d = x.Get();
    std::optional<TArea> area;
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d));
    for (int i = 0; resources && i < resources->noutput && !area; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(d, resources, resources->outputs[i]);
        if (info && info->name == output && info->crtc != 0) {
            if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(d, resources, info->crtc)) {
                if (crtc->mode != 0)
                    area = TArea{crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
                XRRFreeCrtcInfo(crtc);
            }
        }
        if (info)
            XRRFreeOutputInfo(info);
    }
    if (resources)
        XRRFreeScreenResources(resources);
    return area;
}

enum class TPrimarySide { Left, Right };

class TTwoMonitors {
public:
    TTwoMonitors(const std::string& display, TPrimarySide side) : FDisplay(display)
    {
        {
            TXConnection x(display);
            FScreenMm = std::to_string(DisplayWidthMM(x.Get(), x.ScreenNumber())) + "x" +
                        std::to_string(DisplayHeightMM(x.Get(), x.ScreenNumber()));
        }
        // Adding a mode the output has already is no error.
        for (const char* mode : {"1024x768", "800x600"})
            if (!FError)
                FError = RunXrandr(FDisplay, std::string("--addmode DUMMY1 ") + mode);
        if (!FError)
            FError = RunXrandr(FDisplay, side == TPrimarySide::Right
                                             ? "--output DUMMY1 --mode 1024x768 --pos 0x0 "
                                               "--output DUMMY0 --mode 1024x768 --right-of DUMMY1 --primary"
                                             : "--output DUMMY0 --mode 1024x768 --pos 0x0 --primary "
                                               "--output DUMMY1 --mode 1024x768 --right-of DUMMY0");
    }
    // The screen's physical size as well, which xrandr would otherwise work
    // out again from whatever the screen last was.
    ~TTwoMonitors() { OneMonitor(FDisplay, " --fbmm " + FScreenMm); }
    TTwoMonitors(const TTwoMonitors&) = delete;
    TTwoMonitors& operator=(const TTwoMonitors&) = delete;

    // The layout every other test expects, also after a run that was killed
    // before it could undo its own.
    static void OneMonitor(const std::string& display, const std::string& more = "")
    {
        RunXrandr(display, "--output DUMMY1 --off --output DUMMY0 --mode 1024x768 --pos 0x0 --primary" + more);
    }

    // Why the layout could not be made; nothing when it stands.
    const std::optional<std::string>& Error() const { return FError; }

private:
    std::string FDisplay;
    std::string FScreenMm;
    std::optional<std::string> FError;
};

} // namespace vendrake::test
