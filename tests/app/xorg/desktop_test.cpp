// The vendrake program on the desktops people play it on, all on Xorg's dummy
// driver: two monitors with the primary on either side, and xfwm4 with a
// panel along the top. Its window covers the monitor whose mode it changed,
// says who it is, and the user's layout comes back when it loses the focus
// and however it ends.
#include "tests/platform/xorg/mode_probe.h"

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"
#include "tests/support/screen_layout.h"
#include "tests/support/wm_session.h"
#include "tests/support/x_helpers.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>

#include <sys/resource.h>

namespace vendrake {
namespace {

using test::TArea;

struct ProgramOnDesktops : probe::TModeSwitchTest {
    void SetUp() override
    {
        test::TTwoMonitors::OneMonitor(Server);
        probe::TModeSwitchTest::SetUp();
        // SIGQUIT's default action writes a core file; nobody needs one here.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        test::WritePlaneScene(Folder / "ZuzezurAdor.y3d");
    }

    // Starts the program and waits for its window.
    std::unique_ptr<test::TProgram> Start(Window& form)
    {
        auto program = std::make_unique<test::TProgram>(VENDRAKE_PROGRAM, Folder.Path(), Server);
        form = 0;
        EXPECT_TRUE(test::WaitUntil(
            [&] { return !program->Running() || (form = test::FindProgramWindow(Observer.Get())) != 0; }, 30))
            << "no window";
        EXPECT_TRUE(program->Running()) << program->Stderr();
        return program;
    }

    // Waits until the outputs show these areas (nothing for an output that
    // is off) and says what they show when they do not.
    ::testing::AssertionResult Shows(const std::optional<TArea>& dummy0, const std::optional<TArea>& dummy1,
                                     double seconds = 10) const
    {
        std::optional<TArea> now0, now1;
        if (test::WaitUntil(
                [&] {
                    now0 = test::OutputArea(Server, "DUMMY0");
                    now1 = test::OutputArea(Server, "DUMMY1");
                    return now0 == dummy0 && now1 == dummy1;
                },
                seconds))
            return ::testing::AssertionSuccess();
        auto text = [](const std::optional<TArea>& a) {
            std::ostringstream out;
            if (a)
                out << *a;
            else
                out << "off";
            return out.str();
        };
        return ::testing::AssertionFailure() << "DUMMY0 shows " << text(now0) << ", DUMMY1 " << text(now1);
    }

    // Waits until the window lies over this part of the screen.
    ::testing::AssertionResult Covers(Window form, const TArea& area) const
    {
        if (test::WaitUntil([&] { return Observer.RootArea(form) == area; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the window lies at " << Observer.RootArea(form);
    }

    bool HasState(Window form, const char* state) const
    {
        const std::vector<long> states = Observer.LongProperty(form, "_NET_WM_STATE");
        return std::count(states.begin(), states.end(), static_cast<long>(XInternAtom(Observer.Get(), state, False)));
    }

    void TypeEscape(Window form) const
    {
        const std::string escape = "xdotool windowfocus --sync " + std::to_string(form) + " key Escape";
        ASSERT_EQ(std::system(escape.c_str()), 0);
    }

    void Focus(Window window) const
    {
        const std::string focus = "xdotool windowfocus --sync " + std::to_string(window);
        ASSERT_EQ(std::system(focus.c_str()), 0);
    }

    // The focus is on the form or on its drawing surface.
    bool Focused(Window form) const
    {
        const Window focus = Observer.Focus();
        return focus == form || (focus > 1 && Observer.ParentOf(focus) == form);
    }

    // What the window says about itself to window managers, taskbars and
    // compositors.
    void ExpectIdentity(Window form, pid_t pid) const
    {
        Display* d = Observer.Get();
        EXPECT_EQ(Observer.TextProperty(form, "WM_NAME"), "Vendrake");
        EXPECT_EQ(Observer.TextProperty(form, "_NET_WM_NAME"), "Vendrake");
        XClassHint hint{};
        ASSERT_TRUE(XGetClassHint(d, form, &hint));
        EXPECT_STREQ(hint.res_name, "Vendrake");
        EXPECT_STREQ(hint.res_class, "Vendrake");
        XFree(hint.res_name);
        XFree(hint.res_class);
        EXPECT_EQ(Observer.LongProperty(form, "_NET_WM_PID"), std::vector<long>{pid});
        XWMHints* hints = XGetWMHints(d, form);
        EXPECT_TRUE(hints && (hints->flags & InputHint) && hints->input) << "the window does not take input";
        if (hints)
            XFree(hints);
        const std::vector<long> icon = Observer.LongProperty(form, "_NET_WM_ICON");
        EXPECT_TRUE(icon.size() > 2 && icon[0] > 0 && icon[1] > 0) << "no icon";
        EXPECT_TRUE(HasState(form, "_NET_WM_STATE_FULLSCREEN"));
        EXPECT_EQ(Observer.LongProperty(form, "_NET_WM_BYPASS_COMPOSITOR"), std::vector<long>{1});
    }

    test::TTempFolder Folder;
    std::string Server = probe::DisplayName();
    test::TObserver Observer{Server};
};

TEST_F(ProgramOnDesktops, TwoMonitorsTheProgramTakesThePrimaryAndGivesTheLayoutBack)
{
    const TArea left{0, 0, 1024, 768}, right{1024, 0, 1024, 768};
    {
        // The primary on the right: the left monitor stays where it is.
        test::TTwoMonitors layout(Server, test::TPrimarySide::Right);
        ASSERT_FALSE(layout.Error()) << *layout.Error();
        Window form = 0;
        auto program = Start(form);
        ASSERT_NE(form, 0u);
        EXPECT_TRUE(Shows(TArea{1024, 0, 800, 600}, left));
        EXPECT_TRUE(Covers(form, TArea{1024, 0, 800, 600}));
        ExpectIdentity(form, program->Pid());
        EXPECT_TRUE(test::WaitUntil([&] { return Focused(form); })) << "the window did not take the focus";

        // Another window takes the focus: the user's layout comes back
        // while the presentation plays on, and goes again with the focus.
        const Window other = XCreateSimpleWindow(Observer.Get(), DefaultRootWindow(Observer.Get()), 0, 0, 200,
                                                 200, 0, 0, 0);
        XMapWindow(Observer.Get(), other);
        XSync(Observer.Get(), False);
        Focus(other);
        EXPECT_TRUE(Shows(right, left)) << "after the focus went to another window";
        EXPECT_TRUE(program->Running()) << program->Stderr();
        Focus(form);
        EXPECT_TRUE(Shows(TArea{1024, 0, 800, 600}, left)) << "after the focus came back";
        XDestroyWindow(Observer.Get(), other);
        XSync(Observer.Get(), False);

        TypeEscape(form);
        ASSERT_TRUE(program->Wait(5));
        EXPECT_EQ(program->ExitStatus(), 0);
        EXPECT_EQ(program->Stderr(), "");
        EXPECT_TRUE(Shows(right, left, 0));
    }
    {
        // The primary on the left: the other monitor keeps its place beside
        // it, and every signal that ends the program gives the layout back.
        test::TTwoMonitors layout(Server, test::TPrimarySide::Left);
        ASSERT_FALSE(layout.Error()) << *layout.Error();
        for (int signal : {SIGQUIT, SIGUSR1, SIGALRM}) {
            SCOPED_TRACE(strsignal(signal));
            Window form = 0;
            auto program = Start(form);
            ASSERT_NE(form, 0u);
            EXPECT_TRUE(Shows(TArea{0, 0, 800, 600}, TArea{800, 0, 1024, 768}));
            EXPECT_TRUE(Covers(form, TArea{0, 0, 800, 600}));
            program->Signal(signal);
            ASSERT_TRUE(program->Wait(5));
            EXPECT_EQ(program->TermSignal(), signal);
            EXPECT_TRUE(Shows(left, right, 0));
        }
    }
    ExpectBase();
}

TEST_F(ProgramOnDesktops, XfwmWithAPanelOnTopTheWindowCoversTheScreen)
{
    test::TWindowManagerSession desktop(Server);
    Window form = 0;
    auto program = Start(form);
    ASSERT_NE(form, 0u);
    EXPECT_TRUE(test::WaitUntil([] { return probe::ShowsSize(probe::ReadScreen(), 800, 600); }))
        << "the screen was not switched";
    // The window manager puts the window in a frame of its own and may move
    // it about before it settles.
    EXPECT_TRUE(Covers(form, TArea{0, 0, 800, 600}));
    EXPECT_TRUE(test::WaitUntil([&] { return HasState(form, "_NET_WM_STATE_FULLSCREEN"); }))
        << "the window manager took the window out of full screen";

    // Above the panel: none of the panel's colour along the top.
    auto panelShows = [&] {
        XImage* image =
            XGetImage(Observer.Get(), DefaultRootWindow(Observer.Get()), 0, 0, 800, 60, AllPlanes, ZPixmap);
        bool shows = !image;
        for (int y = 0; image && y < 60 && !shows; ++y)
            for (int x = 0; x < 800 && !shows; ++x)
                shows = (XGetPixel(image, x, y) & 0xFFFFFF) == test::TWindowManagerSession::PanelColour;
        if (image)
            XDestroyImage(image);
        return shows;
    };
    EXPECT_TRUE(test::WaitUntil([&] { return !panelShows(); })) << "the panel shows over the window";

    TypeEscape(form);
    ASSERT_TRUE(program->Wait(5));
    EXPECT_EQ(program->ExitStatus(), 0);
    ExpectBase();
}

} // namespace
} // namespace vendrake
