// The web player's own mipmap builder against the system's GLU, both
// uploading through Mesa's OpenGL on a real window: the same levels, the
// same sizes, the same bytes within a rounding.
#include "tests/support/x_helpers.h"

#include "platform/form.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "web/glu.h"

#include <random>
#include <thread>
#include <vector>

namespace vendrake {
namespace {

using TLevels = std::vector<std::vector<std::uint8_t>>;

// Every level of the bound texture, RGB, with its size.
TLevels ReadLevels(std::vector<std::pair<int, int>>& sizes)
{
    TLevels levels;
    for (int level = 0;; ++level) {
        GLint w = 0, h = 0;
        gl.glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        gl.glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        if (w == 0 || h == 0)
            return levels;
        sizes.emplace_back(w, h);
        levels.emplace_back(std::size_t(w) * h * 3);
        gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl.glGetTexImage(GL_TEXTURE_2D, level, GL_RGB, GL_UNSIGNED_BYTE, levels.back().data());
    }
}

TEST(WebGlu, MipmapsMatchTheSystemGluForAnySize)
{
    ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
    TApplication application;
    application.Initialize(test::TestDisplay());
    TForm form(application);
    TCustomControl surface(form);
    surface.SetAlign(TAlign::alClient);
    form.SetBounds(0, 0, 16, 16);
    auto device = std::make_unique<TgrOpengl>();
    ASSERT_TRUE(device->CreateContext(surface.Handle(), {6, 2, 5, 0, 3, 7}));

    std::mt19937 random(7);
    // Powers of two are halved; other sides are resampled to the nearest
    // power first, shrinking (37 to 32, 21 to 16, 300 to 256) or growing
    // (200 to 256, 6 to 8, 3 to 4).
    for (const auto& [w, h] : {std::pair{8, 4}, std::pair{37, 21}, std::pair{300, 200}, std::pair{6, 3}}) {
        std::vector<std::uint8_t> image(std::size_t(w) * h * 3);
        for (std::uint8_t& b : image)
            b = std::uint8_t(random());
        TLevels levels[2];
        std::vector<std::pair<int, int>> sizes[2];
        std::thread painter([&] {
            device->MakeCurrent();
            gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            for (int which = 0; which < 2; ++which) {
                GLuint texture = 0;
                gl.glGenTextures(1, &texture);
                gl.glBindTexture(GL_TEXTURE_2D, texture);
                if (which == 0)
                    gl.gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, w, h, GL_RGB, GL_UNSIGNED_BYTE, image.data());
                else
                    web::Build2DMipmaps(GL_TEXTURE_2D, GL_RGB, w, h, GL_RGB, GL_UNSIGNED_BYTE, image.data());
                levels[which] = ReadLevels(sizes[which]);
                gl.glDeleteTextures(1, &texture);
            }
            device->ReleaseCurrent();
        });
        painter.join();
        ASSERT_EQ(sizes[1], sizes[0]) << w << "x" << h;
        for (std::size_t level = 0; level < levels[0].size(); ++level) {
            int worst = 0;
            for (std::size_t i = 0; i < levels[0][level].size(); ++i)
                worst = std::max(worst, std::abs(int(levels[0][level][i]) - int(levels[1][level][i])));
            EXPECT_LE(worst, 1) << w << "x" << h << ", level " << level;
        }
    }
}

} // namespace
} // namespace vendrake
