#include "platform/display_mode.h"
#include "platform/application.h"
#include "platform/x_window.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vendrake {

namespace {

// A CRTC driving more outputs than this is left alone.
constexpr int MaxOutputs = 16;

struct TCrtcConfig {
    RRCrtc Crtc = None;
    RRMode Mode = None;
    int X = 0;
    int Y = 0;
    Rotation Orientation = RR_Rotate_0;
    std::array<RROutput, MaxOutputs> Outputs{};
    int OutputCount = 0;
};

struct TScreenSize {
    int Width = 0;
    int Height = 0;
    int MmWidth = 0;
    int MmHeight = 0;

    bool SamePixels(const TScreenSize& other) const
    {
        return Width == other.Width && Height == other.Height;
    }
};

struct FreeDisplay {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
struct FreeResources {
    void operator()(XRRScreenResources* r) const { XRRFreeScreenResources(r); }
};
struct FreeCrtcInfo {
    void operator()(XRRCrtcInfo* c) const { XRRFreeCrtcInfo(c); }
};
struct FreeOutputInfo {
    void operator()(XRROutputInfo* o) const { XRRFreeOutputInfo(o); }
};
using DisplayPtr = std::unique_ptr<Display, FreeDisplay>;
using ResourcesPtr = std::unique_ptr<XRRScreenResources, FreeResources>;
using CrtcInfoPtr = std::unique_ptr<XRRCrtcInfo, FreeCrtcInfo>;
using OutputInfoPtr = std::unique_ptr<XRROutputInfo, FreeOutputInfo>;

// A screen size in pixels with the physical size that keeps the resolution
// (dots per millimetre) of `from`; 96 dpi when `from` has none.
TScreenSize Resized(const TScreenSize& from, int width, int height)
{
    const auto mm = [](int px, int fromPx, int fromMm) {
        const double perPixel = fromPx > 0 && fromMm > 0 ? static_cast<double>(fromMm) / fromPx
                                                          : 25.4 / 96.0;
        return std::max(1, static_cast<int>(std::lround(px * perPixel)));
    };
    return {width, height, mm(width, from.Width, from.MmWidth),
            mm(height, from.Height, from.MmHeight)};
}

// ---------------------------------------------------------------------------
// The connection a call works on: the toolkit's, once the application has
// opened it, else one of our own for the call. Servers that emulate mode
// changes per client (Xwayland) show a change only to the windows of the
// connection that made it, so the program's window must be on the same one.
// Protocol errors on it are recorded, not fatal, while the call runs.

class TRandRConnection {
public:
    TRandRConnection()
    {
        EnsureXThreads();
        FDisplay = Application().Connection();
        if (!FDisplay) {
            FOwn.reset(XOpenDisplay(nullptr));
            FDisplay = FOwn.get();
        }
        if (!FDisplay)
            return;
        FTrap.emplace(FDisplay);
        int eventBase = 0, errorBase = 0, major = 0;
        if (!XRRQueryExtension(FDisplay, &eventBase, &errorBase) ||
            !XRRQueryVersion(FDisplay, &major, &FMinor) || major < 1 ||
            (major == 1 && FMinor < 2)) {
            FRandR = false;
            return;
        }
        if (major > 1)
            FMinor = std::numeric_limits<int>::max();
        FRandR = true;
    }

    TRandRConnection(const TRandRConnection&) = delete;
    TRandRConnection& operator=(const TRandRConnection&) = delete;

    // A display with RandR 1.2 or later.
    explicit operator bool() const { return FDisplay && FRandR; }
    bool HasDisplay() const { return FDisplay != nullptr; }
    Display* Get() const { return FDisplay; }
    Window Root() const { return DefaultRootWindow(FDisplay); }
    bool HasVersion13() const { return FMinor >= 3; }

    // Waits until the server has handled everything sent so far; true when
    // any of it failed since the last call.
    bool Failed()
    {
        const bool failed = FTrap->Failed();
        FTrap.reset();
        FTrap.emplace(FDisplay);
        return failed;
    }

    ResourcesPtr Resources() const
    {
        return ResourcesPtr(HasVersion13() ? XRRGetScreenResourcesCurrent(Get(), Root())
                                           : XRRGetScreenResources(Get(), Root()));
    }

    // The screen as the server has it now. Xlib's copy of the screen is only
    // brought up to date by events that a long-lived connection may not
    // have read yet, so the size is asked for; the physical size follows
    // from Xlib's copy at the same resolution. A server that reports no
    // physical size gets one for 96 dpi, since RandR refuses a size of 0 mm.
    TScreenSize Screen() const
    {
        const int s = DefaultScreen(Get());
        TScreenSize known{DisplayWidth(Get(), s), DisplayHeight(Get(), s), DisplayWidthMM(Get(), s),
                          DisplayHeightMM(Get(), s)};
        if (known.MmWidth <= 0 || known.MmHeight <= 0)
            known = Resized({}, known.Width, known.Height);
        XWindowAttributes root{};
        if (!XGetWindowAttributes(Get(), Root(), &root) || known.SamePixels({root.width, root.height}))
            return known;
        return Resized(known, root.width, root.height);
    }

private:
    DisplayPtr FOwn;
    Display* FDisplay = nullptr;
    // Declared after the connection: goes before it closes.
    std::optional<TXErrorTrap> FTrap;
    int FMinor = 0;
    bool FRandR = false;
};

// ---------------------------------------------------------------------------
// Reading the layout.

const XRRModeInfo* FindMode(const XRRScreenResources& res, RRMode id)
{
    for (int i = 0; i < res.nmode; ++i)
        if (res.modes[i].id == id)
            return &res.modes[i];
    return nullptr;
}

double RefreshOf(const XRRModeInfo& mode)
{
    double lines = mode.vTotal;
    if (mode.modeFlags & RR_DoubleScan)
        lines *= 2;
    if (mode.modeFlags & RR_Interlace)
        lines /= 2;
    if (mode.hTotal == 0 || lines == 0)
        return 0;
    return static_cast<double>(mode.dotClock) / (mode.hTotal * lines);
}

bool SwapsAxes(Rotation r)
{
    return (r & (RR_Rotate_90 | RR_Rotate_270)) != 0;
}

// A lit CRTC as it is now.
struct TTarget {
    TCrtcConfig Config;
    unsigned Width = 0;  // as shown, rotation applied
    unsigned Height = 0;
    double Refresh = 0;

    bool Contains(int x, int y) const
    {
        return x >= Config.X && y >= Config.Y && x < Config.X + static_cast<int>(Width) &&
               y < Config.Y + static_cast<int>(Height);
    }
};

std::optional<TTarget> ReadCrtc(Display* dpy, XRRScreenResources* res, RRCrtc id)
{
    CrtcInfoPtr crtc(XRRGetCrtcInfo(dpy, res, id));
    if (!crtc || crtc->mode == None || crtc->noutput < 1 || crtc->noutput > MaxOutputs)
        return std::nullopt;
    const XRRModeInfo* mode = FindMode(*res, crtc->mode);
    if (!mode)
        return std::nullopt;
    TTarget t;
    t.Config.Crtc = id;
    t.Config.Mode = crtc->mode;
    t.Config.X = crtc->x;
    t.Config.Y = crtc->y;
    t.Config.Orientation = crtc->rotation;
    std::copy_n(crtc->outputs, crtc->noutput, t.Config.Outputs.begin());
    t.Config.OutputCount = crtc->noutput;
    t.Width = crtc->width;
    t.Height = crtc->height;
    t.Refresh = RefreshOf(*mode);
    return t;
}

std::optional<TTarget> ReadTarget(Display* dpy, XRRScreenResources* res, RROutput output)
{
    OutputInfoPtr info(XRRGetOutputInfo(dpy, res, output));
    if (!info || info->crtc == None)
        return std::nullopt;
    return ReadCrtc(dpy, res, info->crtc);
}

// The monitor the user is looking at: the primary output's CRTC, else the
// one showing the pointer, else that of the first connected output that has
// one.
std::optional<TTarget> FindTarget(TRandRConnection& x, XRRScreenResources* res)
{
    if (x.HasVersion13()) {
        const RROutput primary = XRRGetOutputPrimary(x.Get(), x.Root());
        if (primary != None && !x.Failed())
            if (auto t = ReadTarget(x.Get(), res, primary))
                return t;
    }
    Window root = None, child = None;
    int pointerX = 0, pointerY = 0, windowX = 0, windowY = 0;
    unsigned buttons = 0;
    const bool pointer = XQueryPointer(x.Get(), x.Root(), &root, &child, &pointerX, &pointerY,
                                       &windowX, &windowY, &buttons) != False;
    // A lit output counts as a monitor whatever its connection state says:
    // some drivers report it only after a full probe of the outputs.
    std::optional<TTarget> first;
    for (int i = 0; i < res->noutput; ++i) {
        OutputInfoPtr info(XRRGetOutputInfo(x.Get(), res, res->outputs[i]));
        if (!info || info->crtc == None)
            continue;
        std::optional<TTarget> t = ReadTarget(x.Get(), res, res->outputs[i]);
        if (t && pointer && t->Contains(pointerX, pointerY))
            return t;
        if (t && !first && info->connection == RR_Connected)
            first = t;
    }
    return first;
}

// Of the modes of the requested size that every output on the CRTC can show,
// the one whose refresh rate is closest to the current one.
RRMode ChooseMode(Display* dpy, XRRScreenResources* res, const TTarget& target, unsigned width,
                  unsigned height)
{
    if (SwapsAxes(target.Config.Orientation))
        std::swap(width, height);
    std::array<OutputInfoPtr, MaxOutputs> outputs;
    for (int i = 0; i < target.Config.OutputCount; ++i) {
        outputs[i].reset(XRRGetOutputInfo(dpy, res, target.Config.Outputs[i]));
        if (!outputs[i])
            return None;
    }
    const auto everyOutputHas = [&](RRMode id) {
        for (int i = 0; i < target.Config.OutputCount; ++i) {
            const XRROutputInfo& o = *outputs[i];
            if (std::find(o.modes, o.modes + o.nmode, id) == o.modes + o.nmode)
                return false;
        }
        return true;
    };
    RRMode best = None;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < res->nmode; ++i) {
        const XRRModeInfo& m = res->modes[i];
        if (m.width != width || m.height != height || !everyOutputHas(m.id))
            continue;
        const double distance = std::fabs(RefreshOf(m) - target.Refresh);
        if (distance < bestDistance) {
            best = m.id;
            bestDistance = distance;
        }
    }
    return best;
}

// CRTCs with the configuration to give them, the switched one first.
constexpr int MaxCrtcs = 8;

struct TLayout {
    std::array<TCrtcConfig, MaxCrtcs> Crtcs{};
    int Count = 0;

    bool Has(RRCrtc crtc) const
    {
        return std::any_of(Crtcs.begin(), Crtcs.begin() + Count,
                           [&](const TCrtcConfig& c) { return c.Crtc == crtc; });
    }
    // False when the layout is full.
    bool Add(const TCrtcConfig& config)
    {
        if (Count == MaxCrtcs)
            return false;
        Crtcs[static_cast<std::size_t>(Count++)] = config;
        return true;
    }
};

// The change of `target` to `mode`, shown in width by height, as layouts
// before and after it. Every other lit CRTC that lies wholly right of or
// below the target moves by the change of size, so the monitors keep their
// places relative to each other with no strip between them that nobody
// shows. `extent` receives the smallest screen that holds the new layout.
void PlanLayout(Display* dpy, XRRScreenResources* res, const TTarget& target, RRMode mode,
                unsigned width, unsigned height, TLayout& before, TLayout& after,
                std::pair<int, int>& extent)
{
    TCrtcConfig changed = target.Config;
    changed.Mode = mode;
    before.Add(target.Config);
    after.Add(changed);
    const int dx = static_cast<int>(width) - static_cast<int>(target.Width);
    const int dy = static_cast<int>(height) - static_cast<int>(target.Height);
    extent = {changed.X + static_cast<int>(width), changed.Y + static_cast<int>(height)};
    for (int i = 0; i < res->ncrtc; ++i) {
        if (res->crtcs[i] == target.Config.Crtc)
            continue;
        const std::optional<TTarget> other = ReadCrtc(dpy, res, res->crtcs[i]);
        if (!other)
            continue;
        TCrtcConfig moved = other->Config;
        if (moved.X >= target.Config.X + static_cast<int>(target.Width))
            moved.X = std::max(0, moved.X + dx);
        if (moved.Y >= target.Config.Y + static_cast<int>(target.Height))
            moved.Y = std::max(0, moved.Y + dy);
        if ((moved.X != other->Config.X || moved.Y != other->Config.Y) &&
            (before.Count == MaxCrtcs || !before.Add(other->Config) || !after.Add(moved)))
            moved = other->Config;  // more monitors than we keep track of: it stays
        extent.first = std::max(extent.first, moved.X + static_cast<int>(other->Width));
        extent.second = std::max(extent.second, moved.Y + static_cast<int>(other->Height));
    }
}

bool SetCrtc(TRandRConnection& x, XRRScreenResources* res, const TCrtcConfig& config)
{
    std::array<RROutput, MaxOutputs> outputs = config.Outputs;
    const Status status =
        XRRSetCrtcConfig(x.Get(), res, config.Crtc, CurrentTime, config.X, config.Y, config.Mode,
                         config.Orientation, outputs.data(), config.OutputCount);
    return !x.Failed() && status == RRSetConfigSuccess;
}

// Sets the layout's CRTCs and the screen size so that every CRTC always fits
// the screen: the screen grows before the CRTCs change and shrinks after.
// True when every CRTC took its new configuration; otherwise those already
// set go back to `undo` (when given) and the screen to its size. A screen
// that would not shrink afterwards only leaves some unused desktop.
bool SetLayout(TRandRConnection& x, XRRScreenResources* res, const TLayout& layout,
               const TLayout* undo, const TScreenSize& target, const TScreenSize& current)
{
    Display* dpy = x.Get();
    const TScreenSize grown = Resized(current, std::max(current.Width, target.Width),
                                      std::max(current.Height, target.Height));
    const bool grows = !grown.SamePixels(current);
    x.Failed();
    if (grows) {
        XRRSetScreenSize(dpy, x.Root(), grown.Width, grown.Height, grown.MmWidth, grown.MmHeight);
        if (x.Failed())
            return false;
    }
    for (int i = 0; i < layout.Count; ++i) {
        if (SetCrtc(x, res, layout.Crtcs[static_cast<std::size_t>(i)]))
            continue;
        for (int j = 0; undo && j < i; ++j)
            SetCrtc(x, res, undo->Crtcs[static_cast<std::size_t>(j)]);
        if (grows)
            XRRSetScreenSize(dpy, x.Root(), current.Width, current.Height, current.MmWidth,
                             current.MmHeight);
        x.Failed();
        return false;
    }
    if (!target.SamePixels(grown) || target.MmWidth != grown.MmWidth ||
        target.MmHeight != grown.MmHeight)
        XRRSetScreenSize(dpy, x.Root(), target.Width, target.Height, target.MmWidth,
                         target.MmHeight);
    x.Failed();
    return true;
}

// ---------------------------------------------------------------------------
// State. Calls are serialised by g_lock; the signal path reads only g_plan,
// g_armed and g_extent.

struct TUserMode {
    TLayout Layout;  // every CRTC a change in force has touched, as it was
    TScreenSize Screen;
};

struct TState {
    bool Changed = false;  // a change is in force
    pid_t Owner = 0;       // the process that made it
    TUserMode User;
    // The switched monitor as the change left it: x, y, width, height.
    // Servers that emulate a change for one client (Xwayland) go on
    // reporting the real mode, even to that client.
    std::array<int, 4> Shown{};
    bool ExitHookSet = false;
};

std::mutex g_lock;
TState g_state;

// What the signal handler sends, fixed before the first change so that the
// handler only writes bytes to a socket it already has and waits for the
// answer: no Xlib, no allocation, no locks.
struct TSignalPlan {
    pid_t Owner = 0;
    int Fd = -1;
    std::uint8_t Opcode = 0;
    std::uint16_t NextSequence = 0;
    std::uint32_t Root = 0;
    std::uint32_t ConfigTimestamp = 0;
    TUserMode User;
};

TSignalPlan g_plan;
std::atomic<bool> g_armed{false};
// Width << 16 | height of a screen that holds both the user's layout and
// every layout set since; the handler grows the screen to it first.
std::atomic<std::uint32_t> g_extent{0};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

// The handler's connection is used by nothing else. Once the handler has
// written to it behind Xlib's back, or after a fork, it is never used again.
Display* g_signalDisplay = nullptr;
pid_t g_signalDisplayOwner = 0;
std::atomic<bool> g_signalDisplaySpent{false};
Display* g_abandonedDisplay = nullptr;  // kept reachable, never touched

std::uint32_t PackSize(int width, int height)
{
    return static_cast<std::uint32_t>(std::clamp(width, 0, 0xffff)) << 16 |
           static_cast<std::uint32_t>(std::clamp(height, 0, 0xffff));
}

void WidenExtent(const TScreenSize& screen)
{
    const std::uint32_t old = g_extent.load();
    g_extent.store(PackSize(std::max<int>(old >> 16, screen.Width),
                            std::max<int>(old & 0xffff, screen.Height)));
}

// Opens (or keeps) the handler's connection and fills g_plan. Runs disarmed.
void PrepareSignalPlan(Display* dpy, XRRScreenResources* res, const TUserMode& user)
{
    g_plan.Fd = -1;
    if (g_signalDisplay && (g_signalDisplayOwner != getpid() || g_signalDisplaySpent.load())) {
        g_abandonedDisplay = g_signalDisplay;
        g_signalDisplay = nullptr;
    }
    if (!g_signalDisplay) {
        g_signalDisplay = XOpenDisplay(DisplayString(dpy));
        g_signalDisplayOwner = getpid();
        g_signalDisplaySpent = false;
        if (!g_signalDisplay)
            return;
    }
    int opcode = 0, eventBase = 0, errorBase = 0;
    if (!XQueryExtension(g_signalDisplay, "RANDR", &opcode, &eventBase, &errorBase))
        return;
    XSync(g_signalDisplay, False);
    g_plan.Owner = getpid();
    g_plan.Opcode = static_cast<std::uint8_t>(opcode);
    g_plan.NextSequence = static_cast<std::uint16_t>(XNextRequest(g_signalDisplay));
    g_plan.Root = static_cast<std::uint32_t>(DefaultRootWindow(dpy));
    g_plan.ConfigTimestamp = static_cast<std::uint32_t>(res->configTimestamp);
    g_plan.User = user;
    g_extent.store(PackSize(user.Screen.Width, user.Screen.Height));
    g_plan.Fd = ConnectionNumber(g_signalDisplay);
}

// --- The raw requests, in the connection's (native) byte order.

void Put16(std::uint8_t* at, std::uint16_t v)
{
    std::memcpy(at, &v, sizeof v);
}

void Put32(std::uint8_t* at, std::uint32_t v)
{
    std::memcpy(at, &v, sizeof v);
}

std::size_t PutSetScreenSize(std::uint8_t* out, const TScreenSize& s)
{
    out[0] = g_plan.Opcode;
    out[1] = X_RRSetScreenSize;
    Put16(out + 2, 5);
    Put32(out + 4, g_plan.Root);
    Put16(out + 8, static_cast<std::uint16_t>(s.Width));
    Put16(out + 10, static_cast<std::uint16_t>(s.Height));
    Put32(out + 12, static_cast<std::uint32_t>(s.MmWidth));
    Put32(out + 16, static_cast<std::uint32_t>(s.MmHeight));
    return 20;
}

std::size_t PutSetCrtcConfig(std::uint8_t* out, const TCrtcConfig& c)
{
    const std::size_t bytes = 28 + 4 * static_cast<std::size_t>(c.OutputCount);
    out[0] = g_plan.Opcode;
    out[1] = X_RRSetCrtcConfig;
    Put16(out + 2, static_cast<std::uint16_t>(bytes / 4));
    Put32(out + 4, static_cast<std::uint32_t>(c.Crtc));
    Put32(out + 8, static_cast<std::uint32_t>(CurrentTime));
    Put32(out + 12, g_plan.ConfigTimestamp);
    Put16(out + 16, static_cast<std::uint16_t>(c.X));
    Put16(out + 18, static_cast<std::uint16_t>(c.Y));
    Put32(out + 20, static_cast<std::uint32_t>(c.Mode));
    Put16(out + 24, c.Orientation);
    Put16(out + 26, 0);
    for (int i = 0; i < c.OutputCount; ++i)
        Put32(out + 28 + 4 * i, static_cast<std::uint32_t>(c.Outputs[i]));
    return bytes;
}

std::size_t PutGetInputFocus(std::uint8_t* out)
{
    constexpr std::uint8_t GetInputFocus = 43;  // core request with a reply, used as a fence
    out[0] = GetInputFocus;
    out[1] = 0;
    Put16(out + 2, 1);
    return 4;
}

long MillisecondsSince(const timespec& start)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

bool Await(int fd, short events, const timespec& start, int limitMs)
{
    for (;;) {
        const long left = limitMs - MillisecondsSince(start);
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return (p.revents & events) != 0;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t size, const timespec& start, int limitMs)
{
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!Await(fd, POLLOUT, start, limitMs))
                return false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// Reads replies, errors and events until the reply or error with sequence
// number `last` arrives, so the server has acted before the process dies.
bool AwaitSequence(int fd, std::uint16_t last, const timespec& start, int limitMs)
{
    std::uint8_t head[32];
    std::uint8_t scratch[256];
    std::size_t have = 0;
    std::size_t skip = 0;
    for (;;) {
        if (!Await(fd, POLLIN, start, limitMs))
            return false;
        std::uint8_t* into = skip > 0 ? scratch : head + have;
        const std::size_t want = skip > 0 ? std::min(skip, sizeof scratch) : sizeof head - have;
        const ssize_t n = read(fd, into, want);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return false;
        if (skip > 0) {
            skip -= static_cast<std::size_t>(n);
            continue;
        }
        have += static_cast<std::size_t>(n);
        if (have < sizeof head)
            continue;
        have = 0;
        const std::uint8_t type = head[0] & 0x7f;
        std::uint16_t sequence = 0;
        std::uint32_t length = 0;
        std::memcpy(&sequence, head + 2, sizeof sequence);
        std::memcpy(&length, head + 4, sizeof length);
        constexpr std::uint8_t ErrorPacket = 0, ReplyPacket = 1, GenericEventPacket = 35;
        if (type == ReplyPacket || type == GenericEventPacket)
            skip = 4 * static_cast<std::size_t>(length);
        if ((type == ErrorPacket || type == ReplyPacket) && sequence == last)
            return true;
    }
}

// Async-signal-safe: puts the user's mode back over the prepared connection.
void RestoreFromSignal()
{
    if (g_plan.Owner != getpid() || g_plan.Fd < 0 || !g_armed.exchange(false))
        return;
    g_signalDisplaySpent = true;
    const std::uint32_t extent = g_extent.load();
    const TScreenSize& user = g_plan.User.Screen;
    const TScreenSize grown{static_cast<int>(extent >> 16), static_cast<int>(extent & 0xffff),
                            user.MmWidth, user.MmHeight};
    std::uint8_t request[20 + MaxCrtcs * (28 + 4 * MaxOutputs) + 20 + 4];
    std::size_t size = 0;
    size += PutSetScreenSize(request + size, grown);
    const TLayout& layout = g_plan.User.Layout;
    for (int i = 0; i < layout.Count; ++i)
        size += PutSetCrtcConfig(request + size, layout.Crtcs[static_cast<std::size_t>(i)]);
    size += PutSetScreenSize(request + size, user);
    size += PutGetInputFocus(request + size);
    const std::uint16_t last = static_cast<std::uint16_t>(g_plan.NextSequence + layout.Count + 2);
    constexpr int LimitMs = 2000;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (SendAll(g_plan.Fd, request, size, start, LimitMs))
        AwaitSequence(g_plan.Fd, last, start, LimitMs);
}

// ---------------------------------------------------------------------------
// Signal handlers, installed with the first change and removed again when
// the user's mode is back.

struct TSignalSlot {
    int Signal;
    bool Fatal;  // the process is going down whatever a handler does
    struct sigaction Previous;
    bool Installed;
};

// Every signal whose default action ends the process (SIGKILL and SIGSTOP
// aside, which nobody can catch), the real-time ones included.
constexpr int MaxSignals = 64;
std::array<TSignalSlot, MaxSignals> g_slots{};
int g_slotCount = 0;

void ListSignals()
{
    if (g_slotCount > 0)
        return;
    // Raised by a fault in the program itself: it goes down whatever a
    // handler does.
    for (int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGILL, SIGFPE, SIGTRAP, SIGSYS})
        g_slots[static_cast<std::size_t>(g_slotCount++)] = {signal, true, {}, false};
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                       SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO, SIGPWR, SIGSTKFLT})
        g_slots[static_cast<std::size_t>(g_slotCount++)] = {signal, false, {}, false};
    for (int signal = SIGRTMIN; signal <= SIGRTMAX && g_slotCount < MaxSignals; ++signal)
        g_slots[static_cast<std::size_t>(g_slotCount++)] = {signal, false, {}, false};
}

std::span<TSignalSlot> Slots()
{
    return {g_slots.data(), static_cast<std::size_t>(g_slotCount)};
}

bool IsHandler(const struct sigaction& action)
{
    if (action.sa_flags & SA_SIGINFO)
        return action.sa_sigaction != nullptr;
    return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

void CallPrevious(const struct sigaction& previous, int signal, siginfo_t* info, void* context)
{
    if (previous.sa_flags & SA_SIGINFO)
        previous.sa_sigaction(signal, info, context);
    else
        previous.sa_handler(signal);
}

void OnSignal(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const TSignalSlot* slot = nullptr;
    for (const TSignalSlot& s : Slots())
        if (s.Signal == signal)
            slot = &s;
    const bool chains = slot && IsHandler(slot->Previous);
    // A termination signal that the program handles itself is its own
    // business: it may carry on, and if it ends normally the exit hook
    // restores the mode.
    if (slot && chains && !slot->Fatal) {
        CallPrevious(slot->Previous, signal, info, context);
        errno = savedErrno;
        return;
    }
    RestoreFromSignal();
    if (chains)
        CallPrevious(slot->Previous, signal, info, context);
    // Die of the signal itself, so the exit status tells what happened. The
    // signal is blocked while this handler runs and arrives as it returns.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(signal, &defaults, nullptr);
    raise(signal);
    errno = savedErrno;
}

void InstallSignalHandlers()
{
    ListSignals();
    struct sigaction ours {};
    ours.sa_sigaction = &OnSignal;
    ours.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    for (const TSignalSlot& s : Slots())
        sigaddset(&ours.sa_mask, s.Signal);
    for (TSignalSlot& s : Slots()) {
        if (s.Installed)
            continue;
        struct sigaction current {};
        sigaction(s.Signal, nullptr, &current);
        // An ignored signal cannot end the process; leave it ignored.
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
            continue;
        s.Previous = current;
        sigaction(s.Signal, &ours, nullptr);
        s.Installed = true;
    }
}

void RemoveSignalHandlers()
{
    for (TSignalSlot& s : Slots()) {
        if (!s.Installed)
            continue;
        struct sigaction current {};
        sigaction(s.Signal, nullptr, &current);
        // Someone may have replaced ours since; theirs stays.
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &OnSignal)
            sigaction(s.Signal, &s.Previous, nullptr);
        s.Installed = false;
    }
}

// Keeps the termination signals from arriving in the calling thread between
// a change reaching the server and the handlers being in place.
class TTerminationBlock {
public:
    TTerminationBlock()
    {
        ListSignals();
        sigset_t set;
        sigemptyset(&set);
        for (const TSignalSlot& s : Slots())
            if (!s.Fatal)
                sigaddset(&set, s.Signal);
        pthread_sigmask(SIG_BLOCK, &set, &FSaved);
    }
    ~TTerminationBlock() { pthread_sigmask(SIG_SETMASK, &FSaved, nullptr); }
    TTerminationBlock(const TTerminationBlock&) = delete;
    TTerminationBlock& operator=(const TTerminationBlock&) = delete;

private:
    sigset_t FSaved;
};

// ---------------------------------------------------------------------------
// Changing and restoring.

std::int32_t RestoreUserMode();

// Set while this thread is inside ChangeDisplaySettingsA: Xlib's fatal I/O
// error handler calls exit() from within a call.
thread_local bool t_inCall = false;

void RestoreAtExit()
{
    std::unique_lock lock(g_lock, std::defer_lock);
    // The prepared path needs neither the lock nor Xlib, nor the
    // application's connection, whose loss may be why the process is ending
    // (Xlib exits on a broken connection).
    if (t_inCall || !lock.try_lock() || (g_armed && Application().Connection())) {
        RestoreFromSignal();
        return;
    }
    if (g_state.Changed && g_state.Owner == getpid())
        RestoreUserMode();
}

// After a fork the child shares the parent's change and the parent's
// connection: the change is not the child's to undo.
void ForgetInheritedChange()
{
    if (g_state.Changed && g_state.Owner != getpid()) {
        g_state.Changed = false;
        g_armed = false;
    }
}

std::int32_t RestoreUserMode()
{
    if (!g_state.Changed)
        return DISP_CHANGE_SUCCESSFUL;
    TRandRConnection x;
    if (!x)
        return DISP_CHANGE_FAILED;
    ResourcesPtr res = x.Resources();
    if (!res || !SetLayout(x, res.get(), g_state.User.Layout, nullptr, g_state.User.Screen, x.Screen()))
        return DISP_CHANGE_FAILED;
    g_state.Changed = false;
    g_armed = false;
    RemoveSignalHandlers();
    return DISP_CHANGE_SUCCESSFUL;
}

std::int32_t ChangeMode(const DEVMODEA& mode, std::uint32_t flags)
{
    TRandRConnection x;
    if (!x)
        return DISP_CHANGE_FAILED;
    ResourcesPtr res = x.Resources();
    if (!res)
        return DISP_CHANGE_FAILED;
    const std::optional<TTarget> target = FindTarget(x, res.get());
    if (!target)
        return DISP_CHANGE_FAILED;
    const unsigned width = (mode.dmFields & DM_PELSWIDTH) ? mode.dmPelsWidth : target->Width;
    const unsigned height = (mode.dmFields & DM_PELSHEIGHT) ? mode.dmPelsHeight : target->Height;
    if (width == target->Width && height == target->Height)
        return DISP_CHANGE_SUCCESSFUL;
    const RRMode chosen = ChooseMode(x.Get(), res.get(), *target, width, height);
    if (chosen == None)
        return DISP_CHANGE_BADMODE;
    if (flags & CDS_TEST)
        return DISP_CHANGE_SUCCESSFUL;

    const TScreenSize screen = x.Screen();
    TLayout before, after;
    std::pair<int, int> extent;
    PlanLayout(x.Get(), res.get(), *target, chosen, width, height, before, after, extent);
    const TScreenSize nextScreen = Resized(screen, extent.first, extent.second);
    const bool first = !g_state.Changed;
    // The user's layout: as things were before the first change, and any
    // monitor a later change moves for the first time as it is now.
    TUserMode user = first ? TUserMode{{}, screen} : g_state.User;
    for (int i = 0; i < before.Count; ++i)
        if (!user.Layout.Has(before.Crtcs[static_cast<std::size_t>(i)].Crtc))
            user.Layout.Add(before.Crtcs[static_cast<std::size_t>(i)]);
    TTerminationBlock block;
    g_armed = false;
    if (first)
        PrepareSignalPlan(x.Get(), res.get(), user);
    else
        g_plan.User = user;
    const bool done = SetLayout(x, res.get(), after, &before, nextScreen, screen);
    if (done) {
        WidenExtent(nextScreen);
        g_state.Shown = {target->Config.X, target->Config.Y, static_cast<int>(width), static_cast<int>(height)};
    }
    if (done && first) {
        g_state.Changed = true;
        g_state.Owner = getpid();
        if (!g_state.ExitHookSet)
            g_state.ExitHookSet = std::atexit(&RestoreAtExit) == 0;
    }
    if (g_state.Changed) {
        g_state.User = user;
        if (g_plan.Fd >= 0) {
            g_armed = true;
            InstallSignalHandlers();
        }
    }
    return done ? DISP_CHANGE_SUCCESSFUL : DISP_CHANGE_FAILED;
}

} // namespace

std::int32_t ChangeDisplaySettingsA(DEVMODEA* mode, std::uint32_t flags)
{
    std::lock_guard lock(g_lock);
    t_inCall = true;
    struct TLeave {
        ~TLeave() { t_inCall = false; }
    } leave;
    ForgetInheritedChange();
    if (!mode)
        return (flags & CDS_TEST) ? DISP_CHANGE_SUCCESSFUL : RestoreUserMode();
    if (mode->dmSize < offsetof(DEVMODEA, dmPelsHeight) + sizeof mode->dmPelsHeight)
        return DISP_CHANGE_BADPARAM;
    return ChangeMode(*mode, flags);
}

bool GetPresentationMonitor(RECT* monitor)
{
    if (!monitor)
        return false;
    std::lock_guard lock(g_lock);
    TRandRConnection x;
    if (!x.HasDisplay())
        return false;
    const TScreenSize screen = x.Screen();
    *monitor = {0, 0, screen.Width, screen.Height};
    ResourcesPtr res = x ? x.Resources() : nullptr;
    if (!res)
        return true;
    if (g_state.Changed && g_state.Owner == getpid()) {
        const auto [left, top, width, height] = g_state.Shown;
        *monitor = {left, top, left + width, top + height};
        return true;
    }
    const std::optional<TTarget> target = FindTarget(x, res.get());
    if (target)
        *monitor = {target->Config.X, target->Config.Y,
                    target->Config.X + static_cast<std::int32_t>(target->Width),
                    target->Config.Y + static_cast<std::int32_t>(target->Height)};
    return true;
}

} // namespace vendrake
