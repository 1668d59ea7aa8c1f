// Textures on a real window with Mesa's OpenGL: a quad drawn with a texture
// map shows the image's colours where they belong.
#include "tests/support/x_helpers.h"

#include "stream/stream.h"
#include "platform/form.h"
#include "render/texture.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"

#include <array>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace vendrake {
namespace {

using Rgb = std::array<int, 3>;

constexpr Rgb Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, White{255, 255, 255};

// Fills the viewport with a quad whose texture coordinates run from 0 at
// the bottom left to 1 at the top right.
class TQuad : public TgrTree {
    VENDRAKE_NODE_CLASS(TQuad, TgrTree)
public:
    void Action() override
    {
        gl.glBegin(GL_QUADS);
        gl.glTexCoord2f(0, 0);
        gl.glVertex2f(-1, -1);
        gl.glTexCoord2f(1, 0);
        gl.glVertex2f(1, -1);
        gl.glTexCoord2f(1, 1);
        gl.glVertex2f(1, 1);
        gl.glTexCoord2f(0, 1);
        gl.glVertex2f(-1, 1);
        gl.glEnd();
        TgrTree::Action();
    }
};

struct TextureDisplayTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        application.Initialize(test::TestDisplay());
        form = std::make_unique<TForm>(application);
        form->SetBorderStyle(TBorderStyle::bsNone);
        form->SetBounds(450, 472, Side, Side);
        surface = std::make_unique<TCustomControl>(*form);
        surface->SetAlign(TAlign::alClient);
        form->Show();
        ASSERT_TRUE(test::WaitUntil([&] {
            application.ProcessMessages();
            return observer.Viewable(surface->Handle()->Id());
        }));
    }

    // Paints root's tree over a cleared window and reads four pixels, each
    // in the middle of one quarter: bottom left, bottom right, top left, top
    // right.
    std::array<Rgb, 4> Paint(TgrTree& root)
    {
        gl.glViewport(0, 0, Side, Side);
        gl.glMatrixMode(GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glMatrixMode(GL_MODELVIEW);
        gl.glLoadIdentity();
        gl.glDisable(GL_DEPTH_TEST);
        gl.glClearColor(0, 0, 0, 1);
        gl.glClear(GL_COLOR_BUFFER_BIT);
        root.Action();
        std::array<Rgb, 4> result{};
        const int lo = Side / 4, hi = 3 * Side / 4;
        const int points[4][2] = {{lo, lo}, {hi, lo}, {lo, hi}, {hi, hi}};
        for (int i = 0; i < 4; ++i) {
            std::array<std::uint8_t, 4> p{};
            gl.glReadPixels(points[i][0], points[i][1], 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
            result[std::size_t(i)] = {p[0], p[1], p[2]};
        }
        return result;
    }

    static constexpr int Side = 48;
    TApplication application;
    test::TObserver observer;
    std::unique_ptr<TForm> form;
    std::unique_ptr<TCustomControl> surface;
};

void ExpectColours(const std::array<Rgb, 4>& seen, const std::array<Rgb, 4>& expected, const char* what)
{
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(seen[i][c], expected[i][c], 12) << what << ": point " << i << ", channel " << c;
}

// The scene's pattern: a texture that stays in force for the sibling
// painted after it, undone when their parent restores.
std::array<Rgb, 4> PaintTextured(TextureDisplayTest& test, const std::shared_ptr<TgrTexMap2d>& map)
{
    TgrTree root;
    auto texture = root.Add(std::make_shared<TgrTexture>());
    texture->SetAutoRestore(false);
    texture->SetTexMap(map);
    texture->GetTexEnv(); // decal, the default
    root.Add(std::make_shared<TQuad>());
    return test.Paint(root);
}

TEST_F(TextureDisplayTest, TexturedQuadShowsInlineAndFileImages)
{
    auto device = std::make_unique<TgrOpengl>();
    ASSERT_TRUE(device->CreateContext(surface->Handle(), {6, 2, 5, 0, 3, 7}));

    // 2 x 2 images, top row red and green, bottom row blue and white: inline
    // as R, G, B rows top first, and as a bottom-first Targa file of B, G, R.
    const std::filesystem::path file =
        std::filesystem::path(testing::TempDir()) / ("texture_display." + std::to_string(getpid()) + ".tga");
    {
        TFileStream s(file.string(), TFileMode::Create);
        const std::uint8_t tga[] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0,
                                    255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0};
        s.WriteBuffer(tga, sizeof tga);
    }

    std::array<Rgb, 4> inlineSeen{}, fileSeen{}, emptySeen{};
    GLuint inlineName = 0;
    std::thread painter([&] {
        device->MakeCurrent();
        // First, while texture 0 has never held an image: a map whose file
        // is missing paints the quad untextured, white.
        auto emptyMap = std::make_shared<TgrTexMap2d>();
        emptyMap->LoadImageFile(file.string() + ".missing");
        emptySeen = PaintTextured(*this, emptyMap);

        TMemoryStream s;
        for (std::int32_t v : {1, 0, 0, 0, 1, 2, 2, 3, 8})
            s.WriteInt32(v); // node header with an empty name, inline, 2 x 2 x 3 x 8
        const std::uint8_t pixels[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
        s.WriteBuffer(pixels, sizeof pixels);
        s.Seek(0);
        auto inlineMap = std::make_shared<TgrTexMap2d>();
        inlineMap->ReadFromStream(s, false);
        inlineName = inlineMap->TextureName;
        inlineSeen = PaintTextured(*this, inlineMap);

        auto fileMap = std::make_shared<TgrTexMap2d>();
        fileMap->LoadImageFile(file.string());
        fileSeen = PaintTextured(*this, fileMap);
        device->ReleaseCurrent();
    });
    painter.join();
    std::filesystem::remove(file);

    EXPECT_NE(inlineName, 0u);
    ExpectColours(inlineSeen, {Blue, White, Red, Green}, "inline map");
    ExpectColours(fileSeen, {Blue, White, Red, Green}, "file map");
    ExpectColours(emptySeen, {White, White, White, White}, "no image");
    device.reset();
}

} // namespace
} // namespace vendrake
