#pragma once
// A desktop on an X server the test already has: the xfwm4 window manager
// (without its compositor) and a tint2 panel along the top edge of each
// monitor, which reserves its height with _NET_WM_STRUT. Both have a home
// of their own, so no user's settings are read or written. The constructor
// returns once the window manager manages and the panel's strut is in the
// work area; the session stops when the object goes.
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/x_window.h"
#include "tests/support/x_server.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace vendrake::test {

class TWindowManagerSession {
public:
    // The panel is magenta, so that a test can see whether it shows.
    static constexpr unsigned long PanelColour = 0xFF00FF;

    TWindowManagerSession(const std::string& display, int panelHeight = 30)
        : FFolder("vendrake-wm"), FConnection(display), FPanelHeight(panelHeight)
    {
        const std::string home = FFolder.Path();
        const std::vector<std::string> environment = {
            "DISPLAY=" + display, "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
            "XDG_CACHE_HOME=" + home + "/cache", "XDG_DATA_HOME=" + home + "/data", "XDG_RUNTIME_DIR=" + home,
            // No accessibility bus, no session manager, a D-Bus of its own.
            "NO_AT_BRIDGE=1", "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS"};

        // xfwm4 reads its settings from xfconfd over the session bus and
        // does not start without them.
        FWindowManager = SpawnProcess("/usr/bin/dbus-run-session",
                                      {"--", "/usr/bin/xfwm4", "--compositor=off"}, FFolder / "xfwm4.log",
                                      FFolder / "xfwm4.log",
                                      {.Environment = environment, .Folder = {}, .OwnGroup = true});
        if (!WaitForChild(FWindowManager, [&] { return Manages(); }, 30))
            Fail("xfwm4 did not start", FFolder / "xfwm4.log");

        // The panel stacks as an ordinary dock. One kept always on top (tint2's
        // own default) stays above every full-screen window in xfwm4, which
        // puts such docks in a layer over its full-screen one.
        {
            std::ofstream rc(FFolder / "tint2rc");
            rc << "rounded = 0\nborder_width = 0\nbackground_color = #FF00FF 100\nborder_color = #000000 0\n"
                  "panel_items = T\npanel_monitor = all\npanel_position = top center horizontal\n"
                  "panel_size = 100% "
               << panelHeight
               << "\npanel_margin = 0 0\npanel_padding = 0 0 0\npanel_background_id = 1\n"
                  "panel_layer = normal\npanel_dock = 0\nstrut_policy = follow_size\nautohide = 0\n"
                  "wm_menu = 0\ntaskbar_mode = single_desktop\n";
        }
        FPanel = SpawnProcess("/usr/bin/tint2", {"-c", FFolder / "tint2rc"}, FFolder / "tint2.log",
                              FFolder / "tint2.log", {.Environment = environment, .Folder = {}, .OwnGroup = true});
        if (!WaitForChild(FPanel, [&] { return PanelReserved(); }, 30))
            Fail("the tint2 panel did not take its place", FFolder / "tint2.log");
    }
    ~TWindowManagerSession() { Stop(); }
    TWindowManagerSession(const TWindowManagerSession&) = delete;
    TWindowManagerSession& operator=(const TWindowManagerSession&) = delete;

    int PanelHeight() const { return FPanelHeight; }

private:
    Display* X() const { return FConnection.Get(); }

    // A 32-bit property of window (the root when 0).
    std::vector<long> Cardinals(const char* name, Window window = 0) const
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (XGetWindowProperty(X(), window ? window : DefaultRootWindow(X()), XInternAtom(X(), name, False), 0,
                               64, False, AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data && format == 32)
            values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
        if (data)
            XFree(data);
        return values;
    }

    // The EWMH check: the root names a window that names itself.
    bool Manages() const
    {
        const std::vector<long> check = Cardinals("_NET_SUPPORTING_WM_CHECK");
        if (check.size() != 1)
            return false;
        const std::vector<long> self = Cardinals("_NET_SUPPORTING_WM_CHECK", static_cast<Window>(check[0]));
        return self.size() == 1 && self[0] == check[0];
    }

    // The window manager has taken the panel's strut off the work area.
    bool PanelReserved() const
    {
        const std::vector<long> area = Cardinals("_NET_WORKAREA");
        return area.size() >= 4 && area[1] == FPanelHeight;
    }

    [[noreturn]] void Fail(const std::string& what, const std::string& log)
    {
        const std::string text = ReadTextFile(log);
        Stop();
        throw std::runtime_error(what + ": " + text);
    }

    void Stop()
    {
        StopProcessGroup(FPanel);
        StopProcessGroup(FWindowManager);
        FPanel = FWindowManager = -1;
        // Other tests share the server: leave no desktop hints on it, should
        // the window manager have ended without taking its own away.
        int count = 0;
        Atom* properties = XListProperties(X(), DefaultRootWindow(X()), &count);
        for (int i = 0; i < count; ++i) {
            char* name = XGetAtomName(X(), properties[i]);
            if (name && std::string(name).starts_with("_NET_"))
                XDeleteProperty(X(), DefaultRootWindow(X()), properties[i]);
            if (name)
                XFree(name);
        }
        if (properties)
            XFree(properties);
        XSync(X(), False);
    }

    TServerFolder FFolder;
    TXConnection FConnection;
    int FPanelHeight;
    pid_t FWindowManager = -1;
    pid_t FPanel = -1;
};

} // namespace vendrake::test
