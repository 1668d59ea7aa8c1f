#pragma once
// Shared by the tests that need an X server: a connection of the test's own
// to look at windows from outside, and a watchdog that ends a message loop
// that would otherwise wait forever.
// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "platform/application.h"
#include "platform/x_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace vendrake::test {

// The display the test script started; the tests fail without one.
inline std::string TestDisplay()
{
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

// Polls `condition` for up to `seconds`.
inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 10)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A rectangle of the screen, printed as X geometries are: 800x600+1024+0.
struct TArea {
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool operator==(const TArea&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const TArea& a)
    {
        return out << a.Width << 'x' << a.Height << '+' << a.X << '+' << a.Y;
    }
};

// Looks at the server's windows over a separate connection, as another
// client (or the window manager) would.
class TObserver {
public:
    TObserver() : TObserver(TestDisplay()) {}
    // On another server than the script's, one the test started.
    explicit TObserver(const std::string& display) : FConnection(display), FDisplay(FConnection.Get()) {}

    Display* Get() const { return FDisplay; }

    XWindowAttributes Attributes(Window window) const
    {
        XWindowAttributes attributes{};
        XGetWindowAttributes(FDisplay, window, &attributes);
        return attributes;
    }

    bool Viewable(Window window) const { return Attributes(window).map_state == IsViewable; }

    Window Focus() const
    {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(FDisplay, &focus, &revert);
        return focus;
    }

    // Where the window lies on the screen, in root coordinates, whether or
    // not a window manager has put it in a frame.
    TArea RootArea(Window window) const
    {
        const XWindowAttributes attributes = Attributes(window);
        TArea area{0, 0, attributes.width, attributes.height};
        Window child = 0;
        XTranslateCoordinates(FDisplay, window, DefaultRootWindow(FDisplay), 0, 0, &area.X, &area.Y, &child);
        return area;
    }

    Window ParentOf(Window window) const
    {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(FDisplay, window, &root, &parent, &children, &count);
        if (children)
            XFree(children);
        return parent;
    }

    std::vector<long> LongProperty(Window window, const char* name) const
    {
        Atom atom = XInternAtom(FDisplay, name, False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (XGetWindowProperty(FDisplay, window, atom, 0, 64, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) == Success &&
            data && format == 32) {
            auto* longs = reinterpret_cast<long*>(data);
            values.assign(longs, longs + count);
        }
        if (data)
            XFree(data);
        return values;
    }

    // An 8-bit property (a name, whatever its type) as text.
    std::string TextProperty(Window window, const char* name) const
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string text;
        if (XGetWindowProperty(FDisplay, window, XInternAtom(FDisplay, name, False), 0, 256, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data && format == 8)
            text.assign(reinterpret_cast<char*>(data), count);
        if (data)
            XFree(data);
        return text;
    }

    // The colour of one pixel of a window as 0xRRGGBB.
    unsigned long Pixel(Window window, int x, int y) const
    {
        XImage* image = XGetImage(FDisplay, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return 0xFFFFFFFF;
        unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

private:
    TXConnection FConnection;
    Display* FDisplay;
};

// Terminates the application if the test has not finished in time, so a
// broken loop fails the test instead of hanging it.
class TWatchdog {
public:
    TWatchdog(TApplication& application, double seconds)
        : FThread([this, &application, seconds] {
              std::unique_lock lock(FMutex);
              if (!FDone.wait_for(lock, std::chrono::duration<double>(seconds),
                                  [this] { return FCancelled; })) {
                  FFired = true;
                  application.Terminate();
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            std::lock_guard lock(FMutex);
            FCancelled = true;
        }
        FDone.notify_all();
        FThread.join();
    }
    bool Fired()
    {
        std::lock_guard lock(FMutex);
        return FFired;
    }

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FCancelled = false;
    bool FFired = false;
    std::thread FThread;
};

} // namespace vendrake::test
