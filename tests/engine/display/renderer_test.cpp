// The renderer on a real window with Mesa's OpenGL, painting the sample
// flash plug-in.
#include "tests/support/x_helpers.h"

#include "engine/renderer.h"
#include "platform/form.h"
#include "scene/device.h"
#include "scene/viewport.h"

#include <cstdlib>
#include <cstring>

namespace vendrake {
namespace {

// Every channel within 2 of the expected 0xRRGGBB.
bool Near(unsigned long pixel, unsigned long expected)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (std::labs(long((pixel >> shift) & 0xFF) - long((expected >> shift) & 0xFF)) > 2)
            return false;
    return true;
}

TEST(RendererDisplay, PaintsTheFlashPluginAndFollowsAResize)
{
    ASSERT_FALSE(test::TestDisplay().empty()) << "this test needs an X server";
    TApplication application;
    application.Initialize(test::TestDisplay());
    test::TObserver observer;
    TForm form(application);
    form.SetBorderStyle(TBorderStyle::bsNone);
    form.SetBounds(40, 400, 96, 72);
    TCustomControl surface(form);
    surface.SetAlign(TAlign::alClient);
    form.Show();
    ASSERT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return observer.Viewable(surface.Handle()->Id());
    }));
    auto showsFlash = [&](int x, int y) {
        return test::WaitUntil([&] {
            application.ProcessMessages();
            return Near(observer.Pixel(surface.Handle()->Id(), x, y), 0x804000);
        });
    };

    // Half of (1, 0.5, 0) over the black clear.
    auto flash = TInternalEffect::CreateFromLibrary(FLASH_PLUGIN, "Flash");
    ASSERT_EQ(flash->Properties().Count(), 4u);
    const float values[] = {1.0f, 0.5f, 0.0f, 0.5f}; // Red, Green, Blue, Alpha
    for (std::size_t i = 0; i < 4; ++i)
        std::memcpy(flash->Properties()[i].Value.data(), &values[i], sizeof(float));
    auto effects = std::make_shared<TInternalEffectList>();
    effects->Add(flash);

    TRenderer renderer;
    renderer.SetSurface(&surface);
    renderer.SetEffects(effects);
    renderer.SetupDevice();
    surface.OnResize = [&](TCustomControl&) { renderer.RequestResize(); };
    EXPECT_FALSE(renderer.Device()->FinishBeforeSwap);
    EXPECT_TRUE(renderer.Device()->Formats.Get(0)->DoubleBuffer);
    const TgrCanvas& canvas = *renderer.Canvas();
    EXPECT_EQ(canvas.Near, 0.2f);
    EXPECT_EQ(canvas.Far, 1000.0f);
    EXPECT_EQ(canvas.FieldOfView, 80.0f);
    EXPECT_TRUE(canvas.DepthTest && canvas.UseViewport && canvas.AutoAspect);
    EXPECT_EQ(canvas.Rect.Right, 96);
    EXPECT_EQ(canvas.Rect.Bottom, 72);

    renderer.CreateThread();
    renderer.Start();
    EXPECT_TRUE(showsFlash(48, 36));
    // A larger window: the next frame has the main thread read it, and the
    // flash covers the new area too.
    form.SetBounds(40, 400, 120, 90);
    EXPECT_TRUE(showsFlash(110, 84));
    EXPECT_EQ(canvas.Rect.Right, 120);
    EXPECT_EQ(canvas.Rect.Bottom, 90);
    renderer.StopThread();

    float opacity = 0;
    std::memcpy(&opacity, flash->Outputs()[0].Value.data(), sizeof opacity);
    EXPECT_EQ(opacity, 0.5f);
}

} // namespace
} // namespace vendrake
