// Meshes on a real window, with Mesa's OpenGL: client arrays with a byte
// stride, index lists and face groups only come out right on screen when
// every pointer, stride and offset does.
#include "tests/support/x_helpers.h"

#include "platform/form.h"
#include "platform/x_window.h"
#include "render/mesh.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"

#include <array>
#include <cstdlib>
#include <initializer_list>

namespace vendrake {
namespace {

constexpr int Left = 500, Top = 460, Width = 80, Height = 60;

// Position 3 and an RGB colour: 6 floats a record.
constexpr std::uint32_t Coloured = TMeshFlag::Position3 | TMeshFlag::ColorRGB;

std::shared_ptr<TgrPrimitive> Mesh(std::uint32_t flags, std::initializer_list<float> records,
                                   std::initializer_list<std::int32_t> indices = {},
                                   std::initializer_list<TgrMeshFace> faces = {})
{
    auto mesh = std::make_shared<TgrPrimitive>();
    mesh->SetFlags(flags);
    mesh->SetVertexCount(static_cast<std::int32_t>(records.size()) / mesh->Stride());
    std::copy(records.begin(), records.end(), mesh->Vertices().begin());
    mesh->SetIndices(std::vector<std::int32_t>(indices));
    mesh->SetFaceCount(static_cast<std::int32_t>(faces.size()));
    std::copy(faces.begin(), faces.end(), mesh->Faces().begin());
    mesh->ChoosePaintMethod();
    return mesh;
}

struct MeshDisplayTest : ::testing::Test {
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

        // One model unit per pixel, origin at the bottom-left pixel corner.
        gl.glViewport(0, 0, Width, Height);
        gl.glMatrixMode(GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, Width, 0, Height, -100, 100);
        gl.glMatrixMode(GL_MODELVIEW);
        gl.glLoadIdentity();
        gl.glDisable(GL_DEPTH_TEST);
        gl.glDisable(GL_LIGHTING);
        gl.glClearColor(0, 0, 0, 1);
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
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
    for (std::size_t i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > 3)
            return ::testing::AssertionFailure() << "got (" << actual[0] << ", " << actual[1] << ", "
                                                 << actual[2] << "), expected (" << expected[0] << ", "
                                                 << expected[1] << ", " << expected[2] << ")";
    return ::testing::AssertionSuccess();
}

const std::array<int, 3> Black{0, 0, 0}, Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255},
    White{255, 255, 255};

TEST_F(MeshDisplayTest, UnlitArraysIndexListsAndFaceGroups)
{
    auto root = std::make_shared<TgrTree>();

    // Unindexed: a red quad of two triangles, drawn straight from the array.
    const auto arrays = root->Add(Mesh(Coloured, {2, 2, 0, 1, 0, 0, 30, 2, 0, 1, 0, 0, 30, 28, 0, 1, 0, 0,
                                                  2, 2, 0, 1, 0, 0, 30, 28, 0, 1, 0, 0, 2, 28, 0, 1, 0, 0}));
    ASSERT_EQ(arrays->PaintMethod, &TgrPrimitive::PaintFakeArray);

    // Two face groups whose vertices lie interleaved in the buffer; the index
    // list picks the green triangle first, then the blue one.
    const auto faces = root->Add(Mesh(Coloured,
                                      {40, 2, 0, 0, 0, 1, 40, 2, 0, 0, 1, 0,  //
                                       70, 28, 0, 0, 0, 1, 70, 2, 0, 0, 1, 0, //
                                       40, 28, 0, 0, 0, 1, 70, 28, 0, 0, 1, 0},
                                      {1, 3, 5, 0, 2, 4}, {{GL_TRIANGLES, 0, 0, 3}, {GL_TRIANGLE_FAN, 0, 3, 3}}));
    ASSERT_EQ(faces->PaintMethod, &TgrPrimitive::PaintFaces);

    // Indexed, with normals: a grey triangle and a white line 5 units long
    // along each vertex normal.
    const float g = 0.5f;
    const auto lines = root->Add(Mesh(Coloured | TMeshFlag::Normal,
                                      {10.5f, 35.5f, 0, -1, 0, 0, g, g, g, //
                                       30.5f, 35.5f, 0, 1, 0, 0, g, g, g,  //
                                       10.5f, 50.5f, 0, 0, 1, 0, g, g, g},
                                      {0, 1, 2}));
    ASSERT_EQ(lines->PaintMethod, &TgrPrimitive::PaintVertexArray);

    root->Action();
    gl.glFinish();

    EXPECT_TRUE(Near(Pixel(15, 15), Red));
    EXPECT_TRUE(Near(Pixel(29, 3), Red));
    EXPECT_TRUE(Near(Pixel(35, 15), Black));
    EXPECT_TRUE(Near(Pixel(65, 6), Green));
    EXPECT_TRUE(Near(Pixel(45, 24), Blue));
    EXPECT_TRUE(Near(Pixel(75, 15), Black));
    EXPECT_TRUE(Near(Pixel(15, 40), {128, 128, 128}));
    EXPECT_TRUE(Near(Pixel(7, 35), White));
    EXPECT_TRUE(Near(Pixel(33, 35), White));
    EXPECT_TRUE(Near(Pixel(10, 53), White));
    EXPECT_TRUE(Near(Pixel(3, 35), Black)) << "the lines stop after 5 units";
    EXPECT_TRUE(Near(Pixel(38, 35), Black));
    EXPECT_TRUE(Near(Pixel(10, 58), Black));

    // The client arrays are switched off again; colour material stays on.
    GLboolean on = GL_TRUE;
    for (GLenum array : {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_COLOR_ARRAY}) {
        gl.glGetBooleanv(array, &on);
        EXPECT_EQ(on, GL_FALSE) << array;
    }
    gl.glGetBooleanv(GL_COLOR_MATERIAL, &on);
    EXPECT_EQ(on, GL_TRUE);
    EXPECT_EQ(gl.glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
} // namespace vendrake
