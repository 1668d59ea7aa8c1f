// Materials and lights on a real window, with Mesa's OpenGL: the colours on
// screen can only come out right when material, light and transforms all do.
#include "tests/support/x_helpers.h"

#include "stream/stream.h"
#include "platform/form.h"
#include "platform/x_window.h"
#include "render/light.h"
#include "render/material.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "scene/transform.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace vendrake {
namespace {

constexpr int Left = 470, Top = 380, Width = 64, Height = 48;

// A flat rectangle facing +z, centred on the origin of its frame.
class TQuad : public TgrTree {
    VENDRAKE_NODE_CLASS(TQuad, TgrTree)
public:
    TQuad(float halfWidth, float halfHeight) : FHalfWidth(halfWidth), FHalfHeight(halfHeight) {}
    void Action() override
    {
        gl.glBegin(GL_QUADS);
        gl.glNormal3f(0, 0, 1);
        gl.glVertex3f(-FHalfWidth, -FHalfHeight, 0);
        gl.glVertex3f(FHalfWidth, -FHalfHeight, 0);
        gl.glVertex3f(FHalfWidth, FHalfHeight, 0);
        gl.glVertex3f(-FHalfWidth, FHalfHeight, 0);
        gl.glEnd();
        TgrTree::Action();
    }

private:
    float FHalfWidth, FHalfHeight;
};

std::shared_ptr<TgrPRS> Translation(float x, float y, float z)
{
    auto prs = std::make_shared<TgrPRS>();
    prs->Position = {x, y, z};
    prs->Matrix[12] = x;
    prs->Matrix[13] = y;
    prs->Matrix[14] = z;
    return prs;
}

void WriteHeader(TStream& s, const char* name)
{
    const std::string n(name);
    for (std::int32_t v : {1, 0, 0, static_cast<std::int32_t>(n.size())})
        s.WriteInt32(v);
    s.WriteBuffer(n.data(), n.size());
}

// Ambient is red: it shows up if the global ambient light is still on.
std::shared_ptr<TgrMaterial> Material(std::uint32_t shadeModel, std::uint32_t face, std::uint32_t polygonMode,
                                      float lineWidth, TVector4 diffuse)
{
    auto material = std::make_shared<TgrMaterial>();
    material->ShadeModel = shadeModel;
    material->Face = face;
    material->PolygonMode = polygonMode;
    material->LineWidth = lineWidth;
    material->Ambient = {1, 0, 0, 1};
    material->Diffuse = diffuse;
    return material;
}

// A point light whose colour feeds the diffuse term only.
std::shared_ptr<TgrLight> ReadLight(float red, float green, float blue)
{
    TMemoryStream s;
    WriteHeader(s, "light");
    std::array<std::int32_t, 24> record{};
    record[10] = 1; // diffuse
    std::array<float, 4> color{red, green, blue, 1.0f};
    std::memcpy(&record[4], color.data(), sizeof color);
    s.WriteBuffer(record.data(), sizeof record);
    s.Seek(0);
    auto light = std::make_shared<TgrLight>();
    light->ReadFromStream(s, false);
    return light;
}

struct MaterialDisplayTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        application.Initialize(test::TestDisplay());
        form = std::make_unique<TForm>(application);
        form->SetBorderStyle(TBorderStyle::bsNone);
        form->SetBounds(Left, Top, Width, Height);
        surface = std::make_unique<TCustomControl>(*form);
        surface->SetAlign(TAlign::alClient);
        form->Show();
        ASSERT_TRUE(test::WaitUntil([&] {
            application.ProcessMessages();
            return observer.Viewable(surface->Handle()->Id()) && surface->Width() == Width &&
                   surface->Height() == Height;
        }));
        device = std::make_unique<TgrOpengl>();
        ASSERT_TRUE(device->CreateContext(surface->Handle(), {6, 2, 5, 0, 3, 7}));
        device->MakeCurrent();
    }

    void TearDown() override
    {
        if (device)
            device->ReleaseCurrent();
        device.reset();
    }

    std::array<int, 3> Pixel(int x, int y) const
    {
        std::array<std::uint8_t, 4> rgba{};
        gl.glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return {rgba[0], rgba[1], rgba[2]};
    }

    TApplication application;
    test::TObserver observer;
    std::unique_ptr<TForm> form;
    std::unique_ptr<TCustomControl> surface;
    std::unique_ptr<TgrOpengl> device;
};

::testing::AssertionResult Near(std::array<int, 3> actual, std::array<int, 3> expected)
{
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[static_cast<std::size_t>(i)] - expected[static_cast<std::size_t>(i)]) > 3)
            return ::testing::AssertionFailure() << "got (" << actual[0] << ", " << actual[1] << ", "
                                                 << actual[2] << "), expected (" << expected[0] << ", "
                                                 << expected[1] << ", " << expected[2] << ")";
    return ::testing::AssertionSuccess();
}

TEST_F(MaterialDisplayTest, LitMaterialsWireframeAndTheLightsMarker)
{
    gl.glViewport(0, 0, Width, Height);
    gl.glMatrixMode(GL_PROJECTION);
    gl.glLoadIdentity();
    gl.glOrtho(-1, 1, -1, 1, 1, 100);
    gl.glMatrixMode(GL_MODELVIEW);
    gl.glLoadIdentity();
    gl.glClearColor(0, 0, 0.25f, 1);
    gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl.glEnable(GL_LIGHTING); // as the scene player does every frame

    // Loading the light turns the global ambient off; the light node enables
    // GL_LIGHT0 itself.
    auto root = std::make_shared<TgrTree>();
    root->Add(Translation(-0.5f, 0.5f, -10))->AddChild(ReadLight(1, 0.5f, 1));
    root->Add(Translation(0.5f, 0.5f, -50))
        ->Add(Material(GL_SMOOTH, GL_FRONT, GL_FILL, 1, {0.4f, 0.8f, 0.6f, 1}))
        ->AddChild(std::make_shared<TQuad>(0.3f, 0.3f));
    // Its left edge runs through the middle of pixel column 19.
    root->Add(Translation(0, -0.5f, -50))
        ->Add(Material(GL_FLAT, GL_FRONT_AND_BACK, GL_LINE, 3, {1, 1, 0, 1}))
        ->AddChild(std::make_shared<TQuad>(0.390625f, 0.3f));
    root->Action();
    gl.glFinish();

    // Lit: light diffuse (1, 0.5, 1) times material diffuse (0.4, 0.8, 0.6).
    EXPECT_TRUE(Near(Pixel(48, 36), {102, 102, 153}));
    // The marker: a white point where the light sits.
    EXPECT_TRUE(Near(Pixel(16, 36), {255, 255, 255}));
    EXPECT_TRUE(Near(Pixel(32, 36), {0, 0, 64}));
    // Wireframe: the edge in the lit colour, the inside untouched.
    EXPECT_TRUE(Near(Pixel(19, 12), {255, 128, 0}));
    EXPECT_TRUE(Near(Pixel(32, 12), {0, 0, 64}));
    EXPECT_TRUE(Near(Pixel(15, 12), {0, 0, 64}));

    // Left behind: line mode, line width, marker size and colour; the lighting
    // group came back.
    GLint polygonMode[2] = {};
    gl.glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    EXPECT_EQ(polygonMode[0], GL_LINE);
    EXPECT_EQ(polygonMode[1], GL_LINE);
    GLfloat value = 0;
    gl.glGetFloatv(GL_LINE_WIDTH, &value);
    EXPECT_EQ(value, 3.0f);
    gl.glGetFloatv(GL_POINT_SIZE, &value);
    EXPECT_EQ(value, 5.0f);
    GLfloat color[4] = {};
    gl.glGetFloatv(GL_CURRENT_COLOR, color);
    EXPECT_EQ(color[0] + color[1] + color[2], 3.0f);
    GLint shadeModel = 0;
    gl.glGetIntegerv(GL_SHADE_MODEL, &shadeModel);
    EXPECT_EQ(shadeModel, GL_SMOOTH);
    EXPECT_EQ(gl.glIsEnabled(GL_LIGHT0), GL_TRUE);
    EXPECT_EQ(gl.glGetError(), GLenum(GL_NO_ERROR));
}

} // namespace
} // namespace vendrake
