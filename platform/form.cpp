#include "platform/form.h"

#include "platform/application.h"
#include "platform/keys.h"
#include "platform/x_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <unistd.h>
#include <bit>
#include <stdexcept>

namespace vendrake {

namespace {

// The layout window managers read from _MOTIF_WM_HINTS.
constexpr long MwmHintsDecorations = 1L << 1;
constexpr long MwmDecorAll = 1L << 0;

TShiftState ShiftFromState(unsigned state)
{
    TShiftState shift = 0;
    if (state & ShiftMask)
        shift |= ssShift;
    if (state & ControlMask)
        shift |= ssCtrl;
    if (state & Mod1Mask)
        shift |= ssAlt;
    return shift;
}

std::uint16_t VirtualKeyOf(const XKeyEvent& event)
{
    XKeyEvent copy = event;
    KeySym keysym = XLookupKeysym(&copy, 0);
    // With Num Lock on, keypad keys are digits, not cursor keys.
    if ((event.state & Mod2Mask) && keysym >= XK_KP_Space && keysym <= XK_KP_Equal) {
        KeySym shifted = XLookupKeysym(&copy, 1);
        if (shifted >= XK_KP_0 && shifted <= XK_KP_9)
            keysym = shifted;
    }
    return VirtualKeyFromKeysym(keysym);
}

// The pixel value of a colour in a window's visual.
unsigned long PixelOf(TXWindow& window, TColorRef color)
{
    XVisualInfo wanted{};
    wanted.visualid = window.VisualId();
    wanted.screen = window.Screen();
    int count = 0;
    XVisualInfo* info =
        XGetVisualInfo(window.Connection(), VisualIDMask | VisualScreenMask, &wanted, &count);
    const unsigned red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
    unsigned long pixel = 0;
    if (info && (info->c_class == TrueColor || info->c_class == DirectColor)) {
        auto place = [](unsigned value, unsigned long mask) {
            if (mask == 0)
                return 0UL;
            const int shift = std::countr_zero(mask);
            const int bits = std::popcount(mask);
            unsigned long scaled = bits >= 8 ? static_cast<unsigned long>(value) << (bits - 8)
                                             : static_cast<unsigned long>(value) >> (8 - bits);
            return (scaled << shift) & mask;
        };
        pixel = place(red, info->red_mask) | place(green, info->green_mask) |
                place(blue, info->blue_mask);
    } else {
        // Colormapped screens: black or white, whichever is nearer.
        Display* display = window.Connection();
        pixel = red + green + blue >= 384 ? WhitePixel(display, window.Screen())
                                          : BlackPixel(display, window.Screen());
    }
    if (info)
        XFree(info);
    return pixel;
}

} // namespace

// -- TCanvas -----------------------------------------------------------------

HWND TCanvas::Window() const { return FControl.Handle(); }

HDC TCanvas::Handle() const { return GetDC(FControl.Handle()); }

void TCanvas::FillRect(int x1, int y1, int x2, int y2)
{
    if (x2 <= x1 || y2 <= y1 || Brush.Style == TBrushStyle::bsClear)
        return;
    TXWindow& window = *FControl.Handle();
    Display* display = window.Connection();
    GC gc = XCreateGC(display, window.Id(), 0, nullptr);
    XSetForeground(display, gc, PixelOf(window, Brush.Color));
    XFillRectangle(display, window.Id(), gc, x1, y1, static_cast<unsigned>(x2 - x1),
                   static_cast<unsigned>(y2 - y1));
    XFreeGC(display, gc);
    XFlush(display);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2)
{
    FillRect(x1, y1, x2, y2);
    if (x2 <= x1 || y2 <= y1 || Pen.Style == TPenStyle::psClear)
        return;
    TXWindow& window = *FControl.Handle();
    Display* display = window.Connection();
    GC gc = XCreateGC(display, window.Id(), 0, nullptr);
    XSetForeground(display, gc, PixelOf(window, Pen.Color));
    const int width = std::max(Pen.Width, 1);
    if (Pen.Style == TPenStyle::psSolid) {
        XSetLineAttributes(display, gc, static_cast<unsigned>(width), LineSolid, CapButt,
                           JoinMiter);
    } else {
        static const char dash[] = {6, 2};
        static const char dot[] = {1, 1};
        const bool dashed = Pen.Style == TPenStyle::psDash;
        XSetLineAttributes(display, gc, static_cast<unsigned>(width), LineOnOffDash, CapButt,
                           JoinMiter);
        XSetDashes(display, gc, 0, dashed ? dash : dot, 2);
    }
    // Keep the outline inside the area, as the filled part is.
    const int inset = width / 2;
    XDrawRectangle(display, window.Id(), gc, x1 + inset, y1 + inset,
                   static_cast<unsigned>(std::max(x2 - x1 - width, 0)),
                   static_cast<unsigned>(std::max(y2 - y1 - width, 0)));
    XFreeGC(display, gc);
    XFlush(display);
}

// -- TCustomControl ----------------------------------------------------------

TCustomControl::TCustomControl(TForm& parent) : FParent(&parent), FCanvas(*this)
{
    parent.AddControl(*this);
}

TCustomControl::~TCustomControl()
{
    if (FParent)
        FParent->RemoveControl(*this);
}

HWND TCustomControl::Handle()
{
    if (FWindow)
        return FWindow.get();
    if (!FParent)
        throw std::runtime_error("a control without a form has no window");
    TXWindow& parent = *FParent->Handle();
    if (FAlign == TAlign::alClient) {
        FLeft = 0;
        FTop = 0;
        FWidth = FParent->ClientWidth();
        FHeight = FParent->ClientHeight();
    } else if (FAlign == TAlign::alCenter) {
        FLeft = (FParent->ClientWidth() - FWidth) / 2;
        FTop = (FParent->ClientHeight() - FHeight) / 2;
    }
    TXWindowParams params;
    params.Parent = parent.Id();
    params.Left = FLeft;
    params.Top = FTop;
    params.Width = FWidth;
    params.Height = FHeight;
    params.EventMask = ExposureMask | StructureNotifyMask;
    params.Background = false;
    FWindow = std::make_unique<TXWindow>(parent.Connection(), parent.DisplayName(),
                                         parent.Screen(), params);
    FWindow->OnEvent = [this](const XEvent& event) { HandleEvent(event); };
    FWindow->Map();
    Resize();
    return FWindow.get();
}

void TCustomControl::SetBounds(int left, int top, int width, int height)
{
    const bool resized = width != FWidth || height != FHeight;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    if (!FWindow)
        return;
    FWindow->MoveResize(left, top, width, height);
    if (resized)
        Resize();
}

void TCustomControl::SetAlign(TAlign align)
{
    FAlign = align;
    Realign();
}

void TCustomControl::Realign()
{
    if (!FParent)
        return;
    if (FAlign == TAlign::alClient)
        SetBounds(0, 0, FParent->ClientWidth(), FParent->ClientHeight());
    else if (FAlign == TAlign::alCenter)
        SetBounds((FParent->ClientWidth() - FWidth) / 2, (FParent->ClientHeight() - FHeight) / 2, FWidth, FHeight);
}

void TCustomControl::Invalidate()
{
    if (!FWindow)
        return;
    // Without a background this clears nothing; it only sends Expose.
    XClearArea(FWindow->Connection(), FWindow->Id(), 0, 0, 0, 0, True);
    XFlush(FWindow->Connection());
}

void TCustomControl::Paint()
{
    if (OnPaint)
        OnPaint(*this);
}

void TCustomControl::Resize()
{
    if (OnResize)
        OnResize(*this);
}

void TCustomControl::HandleEvent(const XEvent& event)
{
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0)
            Paint();
        break;
    // No ConfigureNotify: controls are sized by their form alone, and the
    // server's echo of an earlier size would only make them flicker back.
    default:
        break;
    }
}

void TCustomControl::FormGone()
{
    // X destroys child windows with their parent; forget ours first.
    FWindow.reset();
    FParent = nullptr;
}

// -- TForm -------------------------------------------------------------------

TForm::TForm(TApplication& application)
    : FApplication(application), FConnection(application.SharedConnection())
{
    application.FormCreated(*this);
}

TForm::~TForm()
{
    for (TCustomControl* control : FControls)
        control->FormGone();
    FControls.clear();
    FWindow.reset();
    FApplication.FormDestroyed(*this);
}

void TForm::AddControl(TCustomControl& control) { FControls.push_back(&control); }

void TForm::RemoveControl(TCustomControl& control)
{
    FControls.erase(std::remove(FControls.begin(), FControls.end(), &control), FControls.end());
}

HWND TForm::Handle()
{
    if (FWindow)
        return FWindow.get();
    if (!FApplication.Initialized())
        throw std::runtime_error("a form needs the application's X display: Initialize first");
    FConnection = FApplication.SharedConnection();
    Display* display = FApplication.Connection();

    TXWindowParams params;
    params.Left = FLeft;
    params.Top = FTop;
    params.Width = FWidth;
    params.Height = FHeight;
    params.EventMask = KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask;
    params.Background = true;
    params.BackgroundPixel = BlackPixel(display, FApplication.Screen());
    FWindow = std::make_unique<TXWindow>(display, FApplication.DisplayName(),
                                         FApplication.Screen(), params);
    FWindow->OnEvent = [this](const XEvent& event) { HandleEvent(event); };
    FWindow->OnRecreated = [this](TXWindow&) {
        ApplyIdentity();
        ApplyWindowManagerHints();
    };

    FWmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    FWmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    FMotifHints = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    const std::string& title = FApplication.Title;
    FWindow->SetClass(title.empty() ? "form" : title, title.empty() ? "Form" : title);
    ApplyIdentity();
    ApplyWindowManagerHints();
    SizeChanged();
    return FWindow.get();
}

void TForm::ApplyWindowManagerHints()
{
    Display* display = FWindow->Connection();
    const Window id = FWindow->Id();

    Atom protocols[] = {FWmDeleteWindow};
    XSetWMProtocols(display, id, protocols, 1);

    // Ask for the position and size as given, not where the window manager
    // would like them.
    XSizeHints hints{};
    hints.flags = USPosition | USSize | PPosition | PSize;
    hints.x = FLeft;
    hints.y = FTop;
    hints.width = FWidth;
    hints.height = FHeight;
    XSetWMNormalHints(display, id, &hints);

    long motif[5] = {MwmHintsDecorations, 0,
                     FBorderStyle == TBorderStyle::bsNone || FFullScreen ? 0 : MwmDecorAll, 0, 0};
    XChangeProperty(display, id, FMotifHints, FMotifHints, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(motif), 5);

    // The window manager owns _NET_WM_STATE once the window is mapped; before
    // that, the window says how it wants to start.
    const Atom bypass = XInternAtom(display, "_NET_WM_BYPASS_COMPOSITOR", False);
    if (FFullScreen) {
        if (!FWindow->Mapped()) {
            Atom state = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
            XChangeProperty(display, id, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                            PropModeReplace, reinterpret_cast<unsigned char*>(&state), 1);
        }
        long on = 1;
        XChangeProperty(display, id, bypass, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&on), 1);
    } else {
        if (!FWindow->Mapped())
            XDeleteProperty(display, id, XInternAtom(display, "_NET_WM_STATE", False));
        XDeleteProperty(display, id, bypass);
    }
    XFlush(display);
}

// Who the window belongs to, for window managers, task lists and tools that
// look for a program's windows.
void TForm::ApplyIdentity()
{
    Display* display = FWindow->Connection();
    const Window id = FWindow->Id();

    // The main form stands for the application: it carries the application's
    // title as its names and its icon. Other forms are named by their caption.
    const std::string& title = FApplication.Title;
    const bool main = FApplication.MainForm() == this && !title.empty();
    FWindow->SetTitle(main ? title : FCaption);
    if (main) {
        const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
        const auto* text = reinterpret_cast<const unsigned char*>(title.data());
        const int length = static_cast<int>(title.size());
        for (const char* name : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"})
            XChangeProperty(display, id, XInternAtom(display, name, False), utf8, 8, PropModeReplace, text, length);
        XSetIconName(display, id, title.c_str());
    }
    const Atom iconAtom = XInternAtom(display, "_NET_WM_ICON", False);
    if (main && !FApplication.Icon.empty()) {
        // Width, height and the pixels of each size, one CARDINAL (a long to
        // Xlib) each.
        std::vector<long> icon;
        for (const TIconImage& image : FApplication.Icon) {
            if (image.Width <= 0 || image.Height <= 0 ||
                image.Pixels.size() != static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height))
                continue;
            icon.push_back(image.Width);
            icon.push_back(image.Height);
            icon.insert(icon.end(), image.Pixels.begin(), image.Pixels.end());
        }
        XChangeProperty(display, id, iconAtom, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(icon.data()), static_cast<int>(icon.size()));
    } else {
        XDeleteProperty(display, id, iconAtom);
    }

    long pid = static_cast<long>(getpid());
    XChangeProperty(display, id, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    // A process id means something only on its own machine.
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        char* hostList[] = {host};
        XTextProperty machine{};
        if (XStringListToTextProperty(hostList, 1, &machine)) {
            XSetWMClientMachine(display, id, &machine);
            XFree(machine.value);
        }
    }

    // The window takes key presses: window managers give it the focus.
    XWMHints wmHints{};
    wmHints.flags = InputHint | StateHint;
    wmHints.input = True;
    wmHints.initial_state = NormalState;
    XSetWMHints(display, id, &wmHints);
}

// After mapping, a change of state is a request to the window manager.
void TForm::SendFullScreenState()
{
    Display* display = FWindow->Connection();
    // _NET_WM_STATE_ADD or _REMOVE, the state, no second state, from an application.
    SendToWindowManager("_NET_WM_STATE", {FFullScreen ? 1 : 0,
                                          static_cast<long>(XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False)),
                                          0, 1, 0});
}

// A client message about this window to the root window, where EWMH window
// managers listen for requests.
void TForm::SendToWindowManager(const char* request, const std::array<long, 5>& data)
{
    Display* display = FWindow->Connection();
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = FWindow->Id();
    message.xclient.message_type = XInternAtom(display, request, False);
    message.xclient.format = 32;
    std::copy(data.begin(), data.end(), message.xclient.data.l);
    XSendEvent(display, RootWindow(display, FWindow->Screen()), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &message);
    XFlush(display);
}

void TForm::SetFullScreen(bool on)
{
    if (on == FFullScreen)
        return;
    FFullScreen = on;
    if (!FWindow)
        return;
    ApplyWindowManagerHints();
    if (FWindow->Mapped())
        SendFullScreenState();
}

void TForm::SetCaption(const std::string& caption)
{
    FCaption = caption;
    if (FWindow)
        ApplyIdentity();
}

void TForm::SetBorderStyle(TBorderStyle style)
{
    FBorderStyle = style;
    if (FWindow)
        ApplyWindowManagerHints();
}

void TForm::SetBounds(int left, int top, int width, int height)
{
    const bool resized = width != FWidth || height != FHeight;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    if (!FWindow)
        return;
    ApplyWindowManagerHints();
    FWindow->MoveResize(left, top, width, height);
    if (resized)
        SizeChanged();
}

void TForm::SizeChanged()
{
    for (TCustomControl* control : FControls)
        control->Realign();
    Resize();
}

void TForm::Show()
{
    Handle();
    FVisible = true;
    FPlaceAfterMap = true;
    FWindow->Map();
}

void TForm::Hide()
{
    FVisible = false;
    if (FWindow)
        FWindow->Unmap();
}

void TForm::Close()
{
    if (FApplication.MainForm() == this)
        FApplication.Terminate();
    else
        Hide();
}

// Asked of the window manager, which decides the focus on an EWMH desktop,
// and taken directly, which is how it goes without one.
void TForm::TakeFocus()
{
    SendToWindowManager("_NET_ACTIVE_WINDOW", {1, CurrentTime, 0, 0, 0});  // from an application
    Display* display = FWindow->Connection();
    TXErrorTrap trap(display);  // not viewable yet inside a frame: no matter
    XSetInputFocus(display, FWindow->Id(), RevertToParent, CurrentTime);
}

void TForm::FocusChanged(const XEvent& event)
{
    const XFocusChangeEvent& focus = event.xfocus;
    // The focus moving inside the window, or a keyboard grab that comes and
    // goes (a window manager's shortcut), leaves the window active.
    if (focus.detail == NotifyInferior || focus.detail == NotifyPointer ||
        focus.mode == NotifyGrab || focus.mode == NotifyUngrab)
        return;
    const bool active = event.type == FocusIn;
    if (active == FActive)
        return;
    FActive = active;
    if (active)
        Activate();
    else
        Deactivate();
}

void TForm::Activate()
{
    if (OnActivate)
        OnActivate(*this);
}

void TForm::Deactivate()
{
    if (OnDeactivate)
        OnDeactivate(*this);
}

void TForm::KeyDown(std::uint16_t& key, TShiftState shift)
{
    if (OnKeyDown)
        OnKeyDown(*this, key, shift);
}

void TForm::KeyUp(std::uint16_t& key, TShiftState shift)
{
    if (OnKeyUp)
        OnKeyUp(*this, key, shift);
}

void TForm::Resize()
{
    if (OnResize)
        OnResize(*this);
}

void TForm::HandleEvent(const XEvent& event)
{
    Display* display = FWindow->Connection();
    switch (event.type) {
    case KeyPress:
    case KeyRelease: {
        std::uint16_t key = VirtualKeyOf(event.xkey);
        if (key == 0)
            break;
        if (event.type == KeyPress)
            KeyDown(key, ShiftFromState(event.xkey.state));
        else
            KeyUp(key, ShiftFromState(event.xkey.state));
        break;
    }
    case ConfigureNotify: {
        const XConfigureEvent& configure = event.xconfigure;
        // Real events from inside a window manager's frame carry coordinates
        // relative to the frame; the manager's synthetic ones are root-relative.
        if (configure.send_event || !FReparented) {
            FLeft = configure.x;
            FTop = configure.y;
        }
        const bool resized = configure.width != FWidth || configure.height != FHeight;
        FWidth = configure.width;
        FHeight = configure.height;
        FWindow->NoteGeometry(FLeft, FTop, FWidth, FHeight);
        if (resized)
            SizeChanged();
        break;
    }
    case ReparentNotify:
        FReparented = event.xreparent.parent != RootWindow(display, FWindow->Screen());
        break;
    case MapNotify:
        if (FPlaceAfterMap) {
            // Window managers may have placed the window as they liked.
            FPlaceAfterMap = false;
            FWindow->MoveResize(FLeft, FTop, FWidth, FHeight);
            TakeFocus();
        }
        break;
    case FocusIn:
    case FocusOut:
        FocusChanged(event);
        break;
    case ClientMessage:
        if (event.xclient.message_type == FWmProtocols &&
            static_cast<unsigned long>(event.xclient.data.l[0]) == FWmDeleteWindow)
            Close();
        break;
    default:
        break;
    }
}

} // namespace vendrake
