#include "platform/application.h"
#include "platform/form.h"
#include "platform/keys.h"

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <stdexcept>
#include <string>

namespace vendrake {
namespace {

TEST(Application, MissingDisplayIsAClearError)
{
    TApplication application;
    try {
        application.Initialize(":4711");
        FAIL() << "a display that does not exist was opened";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot open X display ':4711'");
    }
    EXPECT_FALSE(application.Initialized());

    // Nothing built on the missing display crashes either.
    TForm form(application);
    EXPECT_THROW(form.Handle(), std::runtime_error);
    EXPECT_THROW(application.Run(), std::runtime_error);
}

TEST(Keys, KeysymsMapToVirtualKeys)
{
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Escape), 27);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_a), 'A');
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Z), 'Z');
    EXPECT_EQ(VirtualKeyFromKeysym(XK_0), '0');
    EXPECT_EQ(VirtualKeyFromKeysym(XK_9), '9');
    EXPECT_EQ(VirtualKeyFromKeysym(XK_F1), VK_F1);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_F12), 123);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Left), VK_LEFT);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Down), VK_DOWN);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Return), VK_RETURN);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_KP_Enter), VK_RETURN);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_space), VK_SPACE);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_KP_7), VK_NUMPAD0 + 7);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_Shift_R), VK_SHIFT);
    EXPECT_EQ(VirtualKeyFromKeysym(XK_bracketleft), VK_OEM_4);
    // Keys the handlers have no number for are not reported.
    EXPECT_EQ(VirtualKeyFromKeysym(XK_dead_acute), 0);
    EXPECT_EQ(VirtualKeyFromKeysym(0), 0);
}

} // namespace
} // namespace vendrake
