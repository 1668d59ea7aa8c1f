#include "platform/x_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>
#include <unistd.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace vendrake {

int RecordXError(_XDisplay* display, int code);

namespace {

thread_local TXErrorTrap* CurrentTrap = nullptr;

int QuietErrorHandler(Display* display, XErrorEvent* error)
{
    return RecordXError(display, error->error_code);
}

std::mutex DefaultNameMutex;
std::string DefaultName;
bool DefaultNameSet = false;

// Every live window by connection and id, for the event loop's dispatch.
std::mutex RegistryMutex;
std::map<std::pair<Display*, unsigned long>, TXWindow*> Registry;

// Windows made by CreateHiddenWindow, owned here until DestroyWindow.
std::mutex HiddenMutex;
std::vector<std::unique_ptr<TXWindow>> HiddenWindows;
std::atomic<bool> HiddenOffscreen{false};

int AtLeastOne(int value) { return std::max(value, 1); }

} // namespace

int RecordXError(_XDisplay* display, int code)
{
    for (TXErrorTrap* trap = CurrentTrap; trap; trap = trap->FOuter) {
        if (trap->FConnection == display) {
            trap->FLastError = code;
            break;
        }
    }
    return 0;
}

void EnsureXThreads()
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(QuietErrorHandler);
    });
}

// -- TXConnection ------------------------------------------------------------

namespace {

// True for ":N" or "unix:N" (with an optional ".screen") when the server's
// socket file is there.
bool LocalDisplaySocketExists(const char* display)
{
    if (!display)
        return false;
    std::string_view name(display);
    if (name.starts_with("unix:"))
        name.remove_prefix(4);
    if (!name.starts_with(':'))
        return false;
    name.remove_prefix(1);
    const std::string number(name.substr(0, name.find('.')));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return ::access(("/tmp/.X11-unix/X" + number).c_str(), F_OK) == 0;
}

} // namespace

TXConnection::TXConnection(const std::string& displayName)
{
    EnsureXThreads();
    // A busy server can turn a connection away for a moment (a full listen
    // queue, a reset during set-up); only a lasting refusal is an error.
    // Xlib does not say reliably why a connection failed, so a local display
    // whose socket exists is tried again for about a second; one that does
    // not exist fails at once.
    const char* name = displayName.empty() ? nullptr : displayName.c_str();
    const bool serverListens = LocalDisplaySocketExists(name ? name : std::getenv("DISPLAY"));
    for (int attempt = 1; attempt <= 16; ++attempt) {
        errno = 0;
        FDisplay = XOpenDisplay(name);
        if (FDisplay)
            break;
        const bool transient = errno == EAGAIN || errno == ECONNRESET || errno == EINTR;
        if (!transient && !serverListens)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10 * attempt, 120)));
    }
    if (!FDisplay) {
        const char* env = std::getenv("DISPLAY");
        const std::string shown = !displayName.empty() ? displayName : env ? env : "";
        std::string message = "cannot open X display '" + shown + "'";
        if (shown.empty())
            message += " (DISPLAY is not set)";
        throw std::runtime_error(message);
    }
    FName = DisplayString(FDisplay);
}

TXConnection::~TXConnection()
{
    if (FDisplay)
        XCloseDisplay(FDisplay);
}

int TXConnection::ScreenNumber() const { return DefaultScreen(FDisplay); }

int TXConnection::Fd() const { return ConnectionNumber(FDisplay); }

// -- TXErrorTrap -------------------------------------------------------------

TXErrorTrap::TXErrorTrap(_XDisplay* connection) : FConnection(connection), FOuter(CurrentTrap)
{
    EnsureXThreads();
    // Errors of earlier requests belong to nobody here.
    XSync(FConnection, False);
    FLastError = 0;
    CurrentTrap = this;
}

TXErrorTrap::~TXErrorTrap()
{
    XSync(FConnection, False);
    CurrentTrap = FOuter;
}

bool TXErrorTrap::Failed()
{
    XSync(FConnection, False);
    return FLastError != 0;
}

// -- default display ---------------------------------------------------------

std::string DefaultDisplayName()
{
    std::lock_guard lock(DefaultNameMutex);
    if (DefaultNameSet)
        return DefaultName;
    const char* env = std::getenv("DISPLAY");
    return env ? env : "";
}

void SetDefaultDisplayName(std::string name)
{
    std::lock_guard lock(DefaultNameMutex);
    DefaultName = std::move(name);
    DefaultNameSet = true;
}

// -- TDeviceContext ----------------------------------------------------------

const std::string& TDeviceContext::DisplayName() const { return FWindow.DisplayName(); }
int TDeviceContext::Screen() const { return FWindow.Screen(); }
unsigned long TDeviceContext::Drawable() const { return FWindow.Id(); }
_XDisplay* TDeviceContext::Connection() const { return FWindow.Connection(); }

// -- TXWindow ----------------------------------------------------------------

TXWindow::TXWindow(_XDisplay* connection, std::string displayName, int screen,
                   const TXWindowParams& params)
    : FConnection(connection), FDisplayName(std::move(displayName)), FScreen(screen),
      FParams(params), FDC(*this)
{
    EnsureXThreads();
    CreateXWindow();
}

TXWindow::TXWindow(std::unique_ptr<TXConnection> connection, const TXWindowParams& params)
    : FOwnConnection(std::move(connection)), FConnection(FOwnConnection->Get()),
      FDisplayName(FOwnConnection->Name()), FScreen(FOwnConnection->ScreenNumber()),
      FParams(params), FDC(*this)
{
    CreateXWindow();
}

TXWindow::TXWindow(const TXWindowParams& params)
    : FConnection(nullptr), FDisplayName(OffscreenDisplayName), FScreen(0), FParams(params), FDC(*this)
{
    FParams.Parent = 0;
    NoteGeometry(params.Left, params.Top, params.Width, params.Height);
}

TXWindow::~TXWindow()
{
    if (Offscreen())
        return;
    DestroyXWindow();
    XSync(FConnection, False);
}

void TXWindow::CreateXWindow()
{
    Display* display = FConnection;
    if (FParams.Parent == 0)
        FParams.Parent = RootWindow(display, FScreen);
    FParams.Width = AtLeastOne(FParams.Width);
    FParams.Height = AtLeastOne(FParams.Height);

    // Pin the visual down now, so that a later pixel format can tell whether
    // the window has to be made again.
    if (FParams.VisualId == 0) {
        XWindowAttributes parent{};
        XGetWindowAttributes(display, FParams.Parent, &parent);
        FParams.VisualId = XVisualIDFromVisual(parent.visual);
    }
    XVisualInfo wanted{};
    wanted.visualid = FParams.VisualId;
    wanted.screen = FScreen;
    int count = 0;
    XVisualInfo* info = XGetVisualInfo(display, VisualIDMask | VisualScreenMask, &wanted, &count);
    if (!info || count == 0) {
        if (info)
            XFree(info);
        char id[32];
        std::snprintf(id, sizeof id, "0x%lx", FParams.VisualId);
        throw std::runtime_error(std::string("no X visual ") + id + " on display '" +
                                 FDisplayName + "'");
    }
    Visual* visual = info->visual;
    FDepth = info->depth;
    XFree(info);

    XSetWindowAttributes attributes{};
    unsigned long mask = CWEventMask | CWBorderPixel | CWColormap;
    attributes.event_mask = FParams.EventMask;
    attributes.border_pixel = 0;
    if (FParams.Background) {
        attributes.background_pixel = FParams.BackgroundPixel;
        mask |= CWBackPixel;
    } else {
        attributes.background_pixmap = None;
        mask |= CWBackPixmap;
    }
    if (visual == DefaultVisual(display, FScreen)) {
        FColormap = DefaultColormap(display, FScreen);
        FOwnColormap = false;
    } else {
        FColormap = XCreateColormap(display, RootWindow(display, FScreen), visual, AllocNone);
        FOwnColormap = true;
    }
    attributes.colormap = FColormap;

    Window id = 0;
    {
        TXErrorTrap trap(display);
        id = XCreateWindow(display, FParams.Parent, FParams.Left, FParams.Top,
                           static_cast<unsigned>(FParams.Width),
                           static_cast<unsigned>(FParams.Height), 0, FDepth, InputOutput, visual,
                           mask, &attributes);
        if (trap.Failed()) {
            if (FOwnColormap)
                XFreeColormap(display, FColormap);
            FColormap = 0;
            FOwnColormap = false;
            throw std::runtime_error("cannot create an X window on display '" + FDisplayName +
                                     "' (X error " + std::to_string(trap.LastError()) + ")");
        }
    }
    FId = id;
    FLeft = FParams.Left;
    FTop = FParams.Top;
    FWidth = FParams.Width;
    FHeight = FParams.Height;
    {
        std::lock_guard lock(RegistryMutex);
        Registry[{display, id}] = this;
    }
    ApplyNames();
}

void TXWindow::DestroyXWindow()
{
    Window id = FId.exchange(0);
    if (id == 0)
        return;
    {
        std::lock_guard lock(RegistryMutex);
        Registry.erase({FConnection, id});
    }
    XDestroyWindow(FConnection, id);
    if (FOwnColormap)
        XFreeColormap(FConnection, FColormap);
    FColormap = 0;
    FOwnColormap = false;
    XFlush(FConnection);
}

void TXWindow::ApplyNames()
{
    Window id = FId;
    if (!FTitle.empty())
        XStoreName(FConnection, id, FTitle.c_str());
    if (!FResName.empty() || !FResClass.empty()) {
        XClassHint hint{};
        hint.res_name = FResName.data();
        hint.res_class = FResClass.data();
        XSetClassHint(FConnection, id, &hint);
    }
}

void TXWindow::SetTitle(const std::string& title)
{
    FTitle = title;
    if (Offscreen())
        return;
    XStoreName(FConnection, FId, FTitle.c_str());
    XFlush(FConnection);
}

void TXWindow::SetClass(const std::string& resName, const std::string& resClass)
{
    FResName = resName;
    FResClass = resClass;
    if (Offscreen())
        return;
    ApplyNames();
    XFlush(FConnection);
}

void TXWindow::Map()
{
    FMapped = true;
    if (Offscreen())
        return;
    XMapWindow(FConnection, FId);
    XFlush(FConnection);
}

void TXWindow::Unmap()
{
    FMapped = false;
    if (Offscreen())
        return;
    XUnmapWindow(FConnection, FId);
    XFlush(FConnection);
}

void TXWindow::MoveResize(int left, int top, int width, int height)
{
    NoteGeometry(left, top, width, height);
    if (Offscreen())
        return;
    XMoveResizeWindow(FConnection, FId, FParams.Left, FParams.Top,
                      static_cast<unsigned>(FParams.Width), static_cast<unsigned>(FParams.Height));
    XFlush(FConnection);
}

void TXWindow::NoteGeometry(int left, int top, int width, int height)
{
    FParams.Left = left;
    FParams.Top = top;
    FLeft = left;
    FTop = top;
    NoteSize(width, height);
}

void TXWindow::NoteSize(int width, int height)
{
    FParams.Width = AtLeastOne(width);
    FParams.Height = AtLeastOne(height);
    FWidth = FParams.Width;
    FHeight = FParams.Height;
}

bool TXWindow::Recreate(unsigned long visualId)
{
    if (Offscreen() || visualId == FParams.VisualId)
        return true;
    const TXWindowParams previous = FParams;
    const Window oldId = FId;
    const int oldDepth = FDepth;
    const unsigned long oldColormap = FColormap;
    const bool oldOwnColormap = FOwnColormap;

    FParams.VisualId = visualId;
    try {
        CreateXWindow();
    } catch (const std::runtime_error&) {
        FParams = previous;
        FId = oldId;
        FDepth = oldDepth;
        FColormap = oldColormap;
        FOwnColormap = oldOwnColormap;
        return false;
    }
    const Window newId = FId;

    // Children would die with the old window: move them over first.
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(FConnection, oldId, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            XGetWindowAttributes(FConnection, children[i], &attributes);
            XReparentWindow(FConnection, children[i], newId, attributes.x, attributes.y);
            if (TXWindow* child = Find(FConnection, children[i]))
                child->FParams.Parent = newId;
        }
        if (children)
            XFree(children);
    }

    {
        std::lock_guard lock(RegistryMutex);
        Registry.erase({FConnection, oldId});
    }
    XDestroyWindow(FConnection, oldId);
    if (oldOwnColormap)
        XFreeColormap(FConnection, oldColormap);
    if (FMapped)
        XMapWindow(FConnection, newId);
    if (OnRecreated)
        OnRecreated(*this);
    // Other connections (OpenGL's) may use the new id at once.
    XSync(FConnection, False);
    return true;
}

TXWindow* TXWindow::Find(_XDisplay* connection, unsigned long id)
{
    std::lock_guard lock(RegistryMutex);
    auto it = Registry.find({connection, id});
    return it == Registry.end() ? nullptr : it->second;
}

void TXWindow::Dispatch(const _XEvent& event)
{
    if (OnEvent)
        OnEvent(event);
}

// -- free functions ----------------------------------------------------------

bool GetClientRect(HWND window, RECT* rect)
{
    if (!window || !rect)
        return false;
    rect->left = 0;
    rect->top = 0;
    rect->right = window->Width();
    rect->bottom = window->Height();
    return true;
}

const char* const OffscreenDisplayName = "(off-screen)";

void SetOffscreenWindows(bool offscreen) { HiddenOffscreen = offscreen; }

bool OffscreenWindows() { return HiddenOffscreen; }

bool DefaultDisplayAvailable()
{
    const std::string name = DefaultDisplayName();
    if (name.empty())
        return false;
    try {
        TXConnection probe(name);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

HWND CreateHiddenWindow(std::string_view className, std::string_view title, int left, int top,
                        int width, int height)
{
    TXWindowParams params;
    params.Left = left;
    params.Top = top;
    params.Width = width;
    params.Height = height;
    auto window = OffscreenWindows()
                      ? std::make_unique<TXWindow>(params)
                      : std::make_unique<TXWindow>(std::make_unique<TXConnection>(DefaultDisplayName()), params);
    window->SetClass(std::string(className), std::string(className));
    window->SetTitle(std::string(title));
    HWND handle = window.get();
    std::lock_guard lock(HiddenMutex);
    HiddenWindows.push_back(std::move(window));
    return handle;
}

HWND CreateProbeWindow() { return CreateHiddenWindow("Kivo", "Riva2", 0, 0, 200, 200); }

bool DestroyWindow(HWND window)
{
    std::unique_ptr<TXWindow> doomed;
    {
        std::lock_guard lock(HiddenMutex);
        auto it = std::find_if(HiddenWindows.begin(), HiddenWindows.end(),
                               [&](const auto& owned) { return owned.get() == window; });
        if (it == HiddenWindows.end())
            return false;
        doomed = std::move(*it);
        HiddenWindows.erase(it);
    }
    return true;
}

} // namespace vendrake
