#include "web/glu.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vendrake::web {

void Perspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar)
{
    const double radians = fovy / 2 * M_PI / 180;
    const double deltaZ = zFar - zNear;
    const double sine = std::sin(radians);
    if (deltaZ == 0 || sine == 0 || aspect == 0)
        return;
    const double cotangent = std::cos(radians) / sine;
    GLdouble m[16] = {};
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(zFar + zNear) / deltaZ;
    m[11] = -1;
    m[14] = -2 * zNear * zFar / deltaZ;
    gl.glMultMatrixd(m);
}

namespace {

// GLU's rounding to a power of two: halve until 1 or 3 is left; a 3 rounds up.
int NearestPower(int value)
{
    int power = 1;
    for (;;) {
        if (value == 1)
            return power;
        if (value == 3)
            return power * 4;
        value >>= 1;
        power *= 2;
    }
}

// Box-filter resampling: each output pixel averages the input area it covers.
std::vector<std::uint8_t> Scale(const std::uint8_t* in, int width, int height, int components, int newWidth,
                                int newHeight)
{
    std::vector<std::uint8_t> out(std::size_t(newWidth) * newHeight * components);
    const double sx = double(width) / newWidth, sy = double(height) / newHeight;
    for (int y = 0; y < newHeight; ++y) {
        const double y0 = y * sy, y1 = std::max(y0 + 1e-9, (y + 1) * sy);
        for (int x = 0; x < newWidth; ++x) {
            const double x0 = x * sx, x1 = std::max(x0 + 1e-9, (x + 1) * sx);
            double sum[4] = {}, area = 0;
            // Magnifying, the area is less than a pixel: sample where it lies.
            const int ty0 = std::min(height - 1, int(y0)), ty1 = std::min(height - 1, int(std::ceil(y1)) - 1);
            const int tx0 = std::min(width - 1, int(x0)), tx1 = std::min(width - 1, int(std::ceil(x1)) - 1);
            for (int ty = ty0; ty <= std::max(ty0, ty1); ++ty) {
                const double wy = std::min(y1, ty + 1.0) - std::max(y0, double(ty));
                for (int tx = tx0; tx <= std::max(tx0, tx1); ++tx) {
                    const double w = std::max(wy, 1e-9) * std::max(std::min(x1, tx + 1.0) - std::max(x0, double(tx)), 1e-9);
                    const std::uint8_t* p = in + (std::size_t(ty) * width + tx) * components;
                    for (int c = 0; c < components; ++c)
                        sum[c] += w * p[c];
                    area += w;
                }
            }
            std::uint8_t* q = &out[(std::size_t(y) * newWidth + x) * components];
            for (int c = 0; c < components; ++c)
                q[c] = std::uint8_t(std::clamp(sum[c] / area + 0.5, 0.0, 255.0));
        }
    }
    return out;
}

std::vector<std::uint8_t> Halve(const std::vector<std::uint8_t>& in, int width, int height, int components)
{
    const int w = std::max(1, width / 2), h = std::max(1, height / 2);
    std::vector<std::uint8_t> out(std::size_t(w) * h * components);
    const std::size_t row = std::size_t(width) * components;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c) {
                std::uint8_t& q = out[(std::size_t(y) * w + x) * components + c];
                if (width == 1 || height == 1) {
                    // One row or column: pairs, rounded down as GLU does.
                    const std::size_t step = width == 1 ? row : std::size_t(components);
                    const std::size_t at = width == 1 ? 2 * y * row + c : std::size_t(2 * x) * components + c;
                    q = std::uint8_t((in[at] + in[at + step]) / 2);
                } else {
                    const std::size_t at = 2 * y * row + std::size_t(2 * x) * components + c;
                    q = std::uint8_t((in[at] + in[at + components] + in[at + row] + in[at + row + components] + 2) / 4);
                }
            }
    return out;
}

} // namespace

GLint Build2DMipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height, GLenum format, GLenum type,
                     const void* data)
{
    if (width < 1 || height < 1)
        return GLU_INVALID_VALUE;
    if (type != GL_UNSIGNED_BYTE || (format != GL_RGB && format != GL_RGBA))
        return GLU_INVALID_ENUM;
    const int components = format == GL_RGBA ? 4 : 3;
    GLint alignment = 4;
    gl.glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    // Rows as the unpack alignment lays them out, packed tight from here on.
    const std::size_t rowBytes = (std::size_t(width) * components + alignment - 1) / alignment * alignment;
    std::vector<std::uint8_t> level(std::size_t(width) * height * components);
    for (int y = 0; y < height; ++y)
        std::copy_n(static_cast<const std::uint8_t*>(data) + y * rowBytes, std::size_t(width) * components,
                    &level[std::size_t(y) * width * components]);
    GLint maxSize = 4096;
    gl.glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    int w = std::min(NearestPower(width), int(maxSize)), h = std::min(NearestPower(height), int(maxSize));
    if (w != width || h != height)
        level = Scale(level.data(), width, height, components, w, h);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int n = 0;; ++n) {
        gl.glTexImage2D(target, n, internalFormat, w, h, 0, format, GL_UNSIGNED_BYTE, level.data());
        if (w == 1 && h == 1)
            break;
        level = Halve(level, w, h, components);
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
    }
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    return 0;
}

} // namespace vendrake::web
