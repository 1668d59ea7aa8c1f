#include "tests/support/x_helpers.h"

#include "app/draw.h"
#include "platform/form.h"

namespace vendrake {
namespace {

struct DrawTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        application.Initialize(test::TestDisplay());
        form = std::make_unique<TForm>(application);
        form->SetBorderStyle(TBorderStyle::bsNone);
        // Tests run in parallel on one server, and X keeps no contents of an
        // obscured window: each test that reads pixels has a spot of its own.
        form->SetBounds(Left, Top, 70, 50);
        draw = std::make_unique<TdblBuffDraw>(*form);
        draw->SetAlign(TAlign::alClient);
    }

    void ShowAndWait()
    {
        form->Show();
        ASSERT_TRUE(test::WaitUntil([&] {
            application.ProcessMessages();
            return observer.Viewable(draw->Handle()->Id());
        }));
    }

    int Left = 160;
    int Top = 700;
    TApplication application;
    test::TObserver observer;
    std::unique_ptr<TForm> form;
    std::unique_ptr<TdblBuffDraw> draw;
};

struct DrawPixelsTest : DrawTest {
    void SetUp() override
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        Left = name.find("OnPaint") == 0 ? 760 : 680;
        Top = 560;
        DrawTest::SetUp();
    }
};

TEST_F(DrawTest, BitmapFollowsTheControlsSize)
{
    ShowAndWait();
    EXPECT_EQ(draw->Bitmap().Width(), 70);
    EXPECT_EQ(draw->Bitmap().Height(), 50);
    form->SetBounds(Left, Top, 90, 30);
    ASSERT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return draw->Width() == 90 && draw->Height() == 30;
    }));
    EXPECT_EQ(draw->Bitmap().Width(), 90);
    EXPECT_EQ(draw->Bitmap().Height(), 30);
    draw->SetWidth(33);
    EXPECT_EQ(draw->Bitmap().Width(), 33);
}

TEST_F(DrawPixelsTest, WithoutOnPaintTheCanvasFillsAndOutlines)
{
    draw->Canvas().Brush.Color = 0x0000FF; // red, as 0x00BBGGRR
    draw->Canvas().Pen.Color = 0xFF0000;   // blue
    ShowAndWait();
    const auto id = draw->Handle()->Id();
    EXPECT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return observer.Pixel(id, 20, 20) == 0xFF0000 && observer.Pixel(id, 0, 0) == 0x0000FF;
    })) << std::hex << observer.Pixel(id, 20, 20);
}

TEST_F(DrawPixelsTest, OnPaintReplacesThePaintingAndNothingErases)
{
    int paints = 0;
    draw->SetOnPaint([&](TCustomControl& sender) {
        EXPECT_EQ(&sender, draw.get());
        ++paints;
    });
    ShowAndWait();
    EXPECT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return paints > 0;
    }));
    // Draw something through X, then ask for a repaint: with no background
    // and an onPaint that draws nothing, it stays.
    const auto id = draw->Handle()->Id();
    Display* d = observer.Get();
    GC gc = XCreateGC(d, id, 0, nullptr);
    XSetForeground(d, gc, 0x123456);
    XFillRectangle(d, id, gc, 0, 0, 70, 50);
    XFreeGC(d, gc);
    XSync(d, False);
    ASSERT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return observer.Pixel(id, 30, 30) == 0x123456u;
    }));
    const int before = paints;
    draw->Invalidate();
    EXPECT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return paints > before;
    }));
    application.ProcessMessages();
    EXPECT_EQ(observer.Pixel(id, 30, 30), 0x123456u) << std::hex << observer.Pixel(id, 30, 30);
}

} // namespace
} // namespace vendrake
