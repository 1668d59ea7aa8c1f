#include "platform/application.h"
#include "platform/form.h"
#include "platform/keys.h"
#include "platform/thread.h"
#include "platform/x_window.h"

#include "tests/support/x_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace vendrake {
namespace {

using test::TObserver;
using test::TWatchdog;
using test::WaitUntil;

struct FormTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        application.Initialize(test::TestDisplay());
    }

    // Waits, from outside, until the window is on screen.
    void WaitForForm(Window id)
    {
        EXPECT_TRUE(WaitUntil([&] { return observer.Viewable(id); })) << "never mapped";
    }

    TApplication application;
    TObserver observer;
};

TEST_F(FormTest, KeysArriveAsVirtualKeysAndEscapeEndsTheLoop)
{
    TForm form(application);
    form.SetBorderStyle(TBorderStyle::bsNone);
    form.SetBounds(0, 0, 320, 240);
    std::vector<std::uint16_t> keys;
    std::vector<TShiftState> shifts;
    form.OnKeyDown = [&](TForm& sender, std::uint16_t& key, TShiftState shift) {
        EXPECT_EQ(&sender, &form);
        keys.push_back(key);
        shifts.push_back(shift);
        if (key == VK_ESCAPE)
            sender.Application().Terminate();
    };
    const Window id = form.Handle()->Id();

    std::thread user([&] {
        WaitForForm(id);
        // Sent to the window itself: other tests' windows may hold the focus.
        const std::string keys = "xdotool key --window " + std::to_string(id) +
                                 " a shift+F5 Left 7 Escape";
        EXPECT_EQ(std::system(keys.c_str()), 0);
    });
    TWatchdog watchdog(application, 20);
    application.Run();
    user.join();

    EXPECT_FALSE(watchdog.Fired()) << "Escape did not end the loop";
    // Shift arrives as a key of its own, then F5 with the shift state.
    const std::vector<std::uint16_t> expected = {'A', VK_SHIFT, VK_F1 + 4, VK_LEFT, '7', 27};
    EXPECT_EQ(keys, expected);
    ASSERT_EQ(shifts.size(), expected.size());
    EXPECT_EQ(shifts[2], ssShift);
    EXPECT_EQ(shifts[5], 0u);
}

TEST_F(FormTest, WindowManagerCloseEndsTheLoopOfTheMainForm)
{
    TForm form(application);
    ASSERT_EQ(application.MainForm(), &form);
    const Window id = form.Handle()->Id();

    std::thread manager([&] {
        WaitForForm(id);
        Display* display = observer.Get();
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = id;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, id, False, NoEventMask, &event);
        XFlush(display);
    });
    TWatchdog watchdog(application, 20);
    application.Run();  // shows the main form itself
    manager.join();

    EXPECT_TRUE(form.Visible());
    EXPECT_FALSE(watchdog.Fired()) << "closing the window did not end the loop";
}

TEST_F(FormTest, BorderlessFormKeepsItsGeometryAndTheSurfaceFollowsResizes)
{
    application.Title = "Vendrake";
    TForm form(application);
    form.SetCaption("Form1");
    form.SetBorderStyle(TBorderStyle::bsNone);
    form.SetBounds(40, 30, 320, 240);
    TCustomControl surface(form);
    surface.SetAlign(TAlign::alClient);
    std::atomic<int> paints{0};
    surface.OnPaint = [&](TCustomControl&) { ++paints; };
    std::vector<std::pair<int, int>> surfaceSizes;
    surface.OnResize = [&](TCustomControl& sender) {
        surfaceSizes.emplace_back(sender.Width(), sender.Height());
    };

    // The surface's window only exists once asked for, and then fills the form.
    EXPECT_FALSE(surface.HandleAllocated());
    HWND handle = surface.Handle();
    EXPECT_EQ(surface.Handle(), handle);
    RECT rect{};
    ASSERT_TRUE(GetClientRect(handle, &rect));
    EXPECT_EQ(rect.right, 320);
    EXPECT_EQ(rect.bottom, 240);

    const Window formId = form.Handle()->Id();
    const Window surfaceId = handle->Id();
    EXPECT_EQ(observer.ParentOf(surfaceId), formId);
    // No decorations: flags say "decorations given", and they are none.
    const std::vector<long> motif = observer.LongProperty(formId, "_MOTIF_WM_HINTS");
    ASSERT_EQ(motif.size(), 5u);
    EXPECT_EQ(motif[0] & 2, 2);
    EXPECT_EQ(motif[2], 0);
    // The main form stands for the application: window managers, task lists
    // and tools see its title, its process and that it takes key presses.
    for (const char* name : {"WM_NAME", "_NET_WM_NAME", "_NET_WM_ICON_NAME", "WM_ICON_NAME"})
        EXPECT_EQ(observer.TextProperty(formId, name), "Vendrake") << name;
    EXPECT_EQ(form.Caption(), "Form1");
    EXPECT_EQ(observer.TextProperty(formId, "WM_CLASS"), std::string("Vendrake\0Vendrake\0", 18));
    EXPECT_EQ(observer.LongProperty(formId, "_NET_WM_PID"), std::vector<long>{getpid()});
    const std::vector<long> wmHints = observer.LongProperty(formId, "WM_HINTS");
    ASSERT_GE(wmHints.size(), 2u);
    EXPECT_EQ(wmHints[0] & InputHint, InputHint);
    EXPECT_EQ(wmHints[1], True);

    std::vector<std::pair<int, int>> formSizes;
    RECT afterResize{};
    form.OnResize = [&](TForm& sender) {
        formSizes.emplace_back(sender.ClientWidth(), sender.ClientHeight());
        if (sender.ClientWidth() == 400) {
            GetClientRect(surface.Handle(), &afterResize);
            sender.Application().Terminate();
        }
    };
    std::thread manager([&] {
        WaitForForm(formId);
        // What a window manager or the user does to the window.
        XResizeWindow(observer.Get(), formId, 400, 300);
        XFlush(observer.Get());
    });
    TWatchdog watchdog(application, 20);
    form.Show();
    application.Run();
    manager.join();

    ASSERT_FALSE(watchdog.Fired()) << "the resize never reached OnResize";
    EXPECT_EQ(formSizes.back(), std::make_pair(400, 300));
    EXPECT_EQ(afterResize.right, 400);
    EXPECT_EQ(afterResize.bottom, 300);
    EXPECT_EQ(surface.Width(), 400);
    EXPECT_EQ(surfaceSizes.back(), std::make_pair(400, 300));
    XSync(application.Connection(), False);
    const XWindowAttributes surfaceNow = observer.Attributes(surfaceId);
    EXPECT_EQ(surfaceNow.width, 400);
    EXPECT_EQ(surfaceNow.height, 300);
    const XWindowAttributes formNow = observer.Attributes(formId);
    EXPECT_EQ(formNow.x, 40);
    EXPECT_EQ(formNow.y, 30);
    EXPECT_GT(paints.load(), 0) << "mapping the surface did not paint it";
}

TEST_F(FormTest, AFullScreenFormAsksForItBeforeMappingAndKeepsACentredSurfaceInTheMiddle)
{
    TForm form(application);
    form.SetBorderStyle(TBorderStyle::bsNone);
    form.SetBounds(0, 0, 1000, 700);
    TCustomControl surface(form);
    surface.SetBounds(0, 0, 800, 600);
    surface.SetAlign(TAlign::alCenter);
    form.SetFullScreen(true);
    const Window formId = form.Handle()->Id();
    const Window surfaceId = surface.Handle()->Id();

    Display* d = observer.Get();
    const auto atom = [&](const char* name) { return static_cast<long>(XInternAtom(d, name, False)); };
    EXPECT_EQ(observer.LongProperty(formId, "_NET_WM_STATE"), std::vector<long>{atom("_NET_WM_STATE_FULLSCREEN")});
    EXPECT_EQ(observer.LongProperty(formId, "_NET_WM_BYPASS_COMPOSITOR"), std::vector<long>{1});
    XWindowAttributes at = observer.Attributes(surfaceId);
    EXPECT_EQ(std::vector<int>({at.x, at.y, at.width, at.height}), std::vector<int>({100, 50, 800, 600}));

    // What a window manager does with a full-screen window: the surface
    // stays in the middle at its size.
    form.Show();
    TWatchdog watchdog(application, 20);
    std::thread user([&] {
        WaitForForm(formId);
        // Again until it holds: the form places itself once it sees its map.
        for (int i = 0; i < 20 && observer.Attributes(surfaceId).x != 240; ++i) {
            XResizeWindow(d, formId, 1280, 720);
            XFlush(d);
            WaitUntil([&] { return observer.Attributes(surfaceId).x == 240; }, 0.5);
        }
        application.Terminate();
    });
    application.Run();
    user.join();
    at = observer.Attributes(surfaceId);
    EXPECT_EQ(std::vector<int>({at.x, at.y, at.width, at.height}), std::vector<int>({240, 60, 800, 600}));

    // Back to an ordinary window: its state is the window manager's to drop.
    form.SetFullScreen(false);
    XSync(application.Connection(), False);
    EXPECT_TRUE(observer.LongProperty(formId, "_NET_WM_BYPASS_COMPOSITOR").empty());
}

TEST_F(FormTest, SurfaceIsNeverErasedAndItsCanvasDrawsBrushAndPen)
{
    TForm form(application);
    // Pixels are read back: keep clear of where other tests put their windows.
    form.SetBounds(900, 640, 64, 48);
    TCustomControl surface(form);
    surface.SetAlign(TAlign::alClient);
    int paints = 0;
    surface.OnPaint = [&](TCustomControl& sender) {
        ++paints;
        TCanvas& canvas = sender.Canvas();
        canvas.Brush.Color = 0x0000FF;  // red, as 0x00BBGGRR
        canvas.Pen.Color = 0xFF0000;    // blue
        canvas.Rectangle(0, 0, sender.Width(), sender.Height());
    };
    const Window id = surface.Handle()->Id();
    form.Show();
    ASSERT_TRUE(WaitUntil([&] {
        application.ProcessMessages();
        return paints > 0;
    }));
    XSync(application.Connection(), False);
    EXPECT_EQ(observer.Pixel(id, 32, 24), 0xFF0000u);
    EXPECT_EQ(observer.Pixel(id, 0, 0), 0x0000FFu);
    EXPECT_EQ(observer.Pixel(id, 63, 47), 0x0000FFu);

    // Someone asks for the window to be cleared: nothing may change.
    XClearArea(observer.Get(), id, 0, 0, 0, 0, False);
    XSync(observer.Get(), False);
    EXPECT_EQ(observer.Pixel(id, 32, 24), 0xFF0000u);

    // Invalidate paints again without clearing first.
    const int before = paints;
    surface.OnPaint = [&](TCustomControl&) {
        ++paints;
        EXPECT_EQ(observer.Pixel(id, 32, 24), 0xFF0000u);
    };
    surface.Invalidate();
    EXPECT_TRUE(WaitUntil([&] {
        application.ProcessMessages();
        return paints > before;
    }));
}

TEST_F(FormTest, CallsFromOtherThreadsRunInsideTheMessageLoop)
{
    TForm form(application);
    form.SetBounds(0, 0, 32, 32);
    std::thread::id ranOn;
    TThread worker([&](TThread& self) {
        self.Synchronize([&] {
            ranOn = std::this_thread::get_id();
            application.Terminate();
        });
    });
    worker.Resume();
    TWatchdog watchdog(application, 20);
    application.Run();
    worker.WaitFor();
    EXPECT_FALSE(watchdog.Fired()) << "the queued call did not wake the loop";
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(FormTest, ProbeWindowIsHiddenAndGoesWithDestroyWindow)
{
    HWND probe = CreateProbeWindow();
    ASSERT_NE(probe, nullptr);
    const Window id = probe->Id();
    XSync(probe->Connection(), False);

    const XWindowAttributes attributes = observer.Attributes(id);
    EXPECT_EQ(attributes.width, 200);
    EXPECT_EQ(attributes.height, 200);
    EXPECT_EQ(attributes.map_state, IsUnmapped);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(observer.Get(), id, &hint));
    EXPECT_STREQ(hint.res_class, "Kivo");
    XFree(hint.res_name);
    XFree(hint.res_class);
    char* title = nullptr;
    ASSERT_TRUE(XFetchName(observer.Get(), id, &title));
    EXPECT_STREQ(title, "Riva2");
    XFree(title);

    EXPECT_EQ(GetDC(probe), GetDC(probe));
    EXPECT_TRUE(ReleaseDC(probe, GetDC(probe)));
    EXPECT_TRUE(DestroyWindow(probe));
    EXPECT_FALSE(DestroyWindow(probe));
    XSync(observer.Get(), False);
    EXPECT_TRUE(WaitUntil([&] {
        XWindowAttributes gone{};
        TXErrorTrap trap(observer.Get());
        return !XGetWindowAttributes(observer.Get(), id, &gone);
    }));
}

} // namespace
} // namespace vendrake
