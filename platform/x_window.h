#pragma once
// Native windows of the toolkit: X windows with their device contexts, and
// off-screen windows that have no X server behind them at all.
//
// A TXWindow is one X window on one connection. Its handle (HWND) and its
// device context (HDC) are C++ objects that stay the same for the window's
// whole life, even when the X window behind them has to be re-created with
// another visual (a window's visual is fixed when X creates it, and an OpenGL
// pixel format may need a different one).
//
// Xlib's headers are kept out of here on purpose: they define macros such as
// None, Bool and Status that collide with ordinary code.
#include "platform/wgl.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct _XDisplay;  // Display
union _XEvent;     // XEvent

namespace vendrake {

// Calls XInitThreads (and installs the toolkit's X error handler) once per
// process. Every path in this layer that opens a connection calls it first;
// other code that talks to Xlib directly should call it before its first
// XOpenDisplay.
void EnsureXThreads();

// An X connection, closed when the object goes.
class TXConnection {
public:
    // Opens the named display; an empty name means $DISPLAY. Throws
    // std::runtime_error("cannot open X display ':5'") when that fails.
    explicit TXConnection(const std::string& displayName);
    ~TXConnection();
    TXConnection(const TXConnection&) = delete;
    TXConnection& operator=(const TXConnection&) = delete;

    _XDisplay* Get() const { return FDisplay; }
    // The name the connection was opened with, as Xlib resolved it (":91").
    const std::string& Name() const { return FName; }
    int ScreenNumber() const;
    int Fd() const;

private:
    _XDisplay* FDisplay = nullptr;
    std::string FName;
};

// Records the X errors raised on one connection by the calling thread while
// it lives; without a trap such errors are ignored rather than ending the
// process, as Xlib's own handler would.
class TXErrorTrap {
public:
    explicit TXErrorTrap(_XDisplay* connection);
    ~TXErrorTrap();
    TXErrorTrap(const TXErrorTrap&) = delete;
    TXErrorTrap& operator=(const TXErrorTrap&) = delete;

    // Round-trips to the server so every request sent so far is answered,
    // then tells whether any of them failed.
    bool Failed();
    int LastError() const { return FLastError; }

private:
    friend int RecordXError(_XDisplay*, int);
    _XDisplay* FConnection;
    TXErrorTrap* FOuter;
    int FLastError = 0;
};

// The display the toolkit uses when none is named: the application's once it
// has been initialised, else $DISPLAY.
std::string DefaultDisplayName();
void SetDefaultDisplayName(std::string name);

// What a window is created with; kept so that it can be created again.
struct TXWindowParams {
    unsigned long Parent = 0;  // 0: the screen's root window
    int Left = 0;
    int Top = 0;
    int Width = 1;
    int Height = 1;
    long EventMask = 0;
    // false: no background at all, so the server never erases the window and
    // whatever was drawn there (an OpenGL frame) stays.
    bool Background = true;
    unsigned long BackgroundPixel = 0;
    unsigned long VisualId = 0;  // 0: the parent's visual
};

// The device context of a window: names the display and the drawable, and
// remembers the pixel format set on the window. One per window, for good.
struct TDeviceContext {
    explicit TDeviceContext(TXWindow& window) : FWindow(window) {}
    TDeviceContext(const TDeviceContext&) = delete;
    TDeviceContext& operator=(const TDeviceContext&) = delete;

    TXWindow& Window() const { return FWindow; }
    const std::string& DisplayName() const;
    int Screen() const;
    // The X window id; it changes only when the window is re-created.
    unsigned long Drawable() const;
    // The connection the window was created on (not the one OpenGL uses).
    _XDisplay* Connection() const;

    // 0 until SetPixelFormat succeeds; a window's format is set once.
    std::atomic<int> PixelFormat{0};
    // An off-screen window's drawing surface (an EGL pbuffer of the window's
    // size), made with its pixel format and released with the window.
    std::shared_ptr<void> OffscreenSurface;

private:
    TXWindow& FWindow;
};

struct TXWindow {
    // Creates the window on `connection`; `displayName` and `screen` describe
    // that connection. Throws std::runtime_error when X refuses.
    TXWindow(_XDisplay* connection, std::string displayName, int screen,
             const TXWindowParams& params);
    // The same, on a connection that the window owns and closes with itself.
    TXWindow(std::unique_ptr<TXConnection> connection, const TXWindowParams& params);
    // An off-screen window: only a size, no X server. OpenGL draws into it
    // through EGL; mapping, naming and moving it only note the request.
    explicit TXWindow(const TXWindowParams& params);
    ~TXWindow();
    TXWindow(const TXWindow&) = delete;
    TXWindow& operator=(const TXWindow&) = delete;

    _XDisplay* Connection() const { return FConnection; }
    bool Offscreen() const { return FConnection == nullptr; }
    // For an off-screen window, OffscreenDisplayName.
    const std::string& DisplayName() const { return FDisplayName; }
    int Screen() const { return FScreen; }
    unsigned long Id() const { return FId.load(); }
    unsigned long Parent() const { return FParams.Parent; }
    unsigned long VisualId() const { return FParams.VisualId; }
    int Depth() const { return FDepth; }
    TDeviceContext& DC() { return FDC; }

    // Geometry as last requested or reported by the server; readable from any
    // thread.
    int Left() const { return FLeft.load(); }
    int Top() const { return FTop.load(); }
    int Width() const { return FWidth.load(); }
    int Height() const { return FHeight.load(); }

    void Map();
    void Unmap();
    bool Mapped() const { return FMapped; }
    // Asks the server for new geometry and remembers it. X has no empty
    // windows, so sizes below 1 become 1.
    void MoveResize(int left, int top, int width, int height);
    // Remembers geometry the server reported, without sending anything.
    void NoteGeometry(int left, int top, int width, int height);
    void NoteSize(int width, int height);

    void SetTitle(const std::string& title);
    void SetClass(const std::string& resName, const std::string& resClass);

    // Re-creates the X window with another visual: same parent, geometry,
    // events, title, class and mapped state; child windows move over to the
    // new window. The handle and device context stay. False when the screen
    // has no such visual or X refuses the window.
    bool Recreate(unsigned long visualId);

    // Called with every event the toolkit's loop receives for this window.
    std::function<void(const _XEvent&)> OnEvent;
    // Called after the X window has been created again, so owners can set
    // the properties they keep on it (window-manager hints).
    std::function<void(TXWindow&)> OnRecreated;

    // The window with this id on this connection, or null.
    static TXWindow* Find(_XDisplay* connection, unsigned long id);
    void Dispatch(const _XEvent& event);

private:
    void CreateXWindow();
    void DestroyXWindow();
    void ApplyNames();

    std::unique_ptr<TXConnection> FOwnConnection;
    _XDisplay* FConnection;
    std::string FDisplayName;
    int FScreen;
    TXWindowParams FParams;
    int FDepth = 0;
    unsigned long FColormap = 0;  // owned when not the screen's default
    bool FOwnColormap = false;
    std::atomic<unsigned long> FId{0};
    std::atomic<int> FLeft{0}, FTop{0}, FWidth{1}, FHeight{1};
    bool FMapped = false;
    std::string FTitle;
    std::string FResName, FResClass;
    TDeviceContext FDC;
};

struct RECT {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// The client rectangle: (0, 0) to the window's width and height.
bool GetClientRect(HWND window, RECT* rect);

// What an off-screen window gives as its display name (in messages).
extern const char* const OffscreenDisplayName;

// Hidden windows, the probe window pixel formats are enumerated on among
// them, are X windows on the default display until this is switched on; then
// they are off-screen windows and need no X server. Forms stay X windows.
void SetOffscreenWindows(bool offscreen);
bool OffscreenWindows();
// Whether the default display can be opened now.
bool DefaultDisplayAvailable();

// A top-level window that is never shown, on a connection of its own to the
// default display, with the given WM_CLASS and title (or an off-screen window
// of that size, see SetOffscreenWindows). Throws when the display cannot be
// opened. Freed by DestroyWindow.
HWND CreateHiddenWindow(std::string_view className, std::string_view title, int left, int top,
                        int width, int height);
// The probe window pixel formats are enumerated on: 200 by 200 at (0, 0),
// class "Kivo", title "Riva2".
HWND CreateProbeWindow();
// Destroys a window made by CreateHiddenWindow; false for any other handle
// (a form's windows belong to the form).
bool DestroyWindow(HWND window);

} // namespace vendrake
