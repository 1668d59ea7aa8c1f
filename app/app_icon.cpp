#include "app/app_icon.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vendrake {

namespace {

struct TColour {
    double R, G, B, A;
};

TColour Over(const TColour& top, const TColour& under)
{
    const double a = top.A + under.A * (1 - top.A);
    if (a <= 0)
        return {0, 0, 0, 0};
    const auto mix = [&](double t, double u) { return (t * top.A + u * under.A * (1 - top.A)) / a; };
    return {mix(top.R, under.R), mix(top.G, under.G), mix(top.B, under.B), a};
}

std::uint32_t Pack(const TColour& c)
{
    const auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return byte(c.A) << 24 | byte(c.R) << 16 | byte(c.G) << 8 | byte(c.B);
}

// Coverage of a shape edge at distance d (negative inside) for a pixel of
// size `pixel`, for smooth edges at every size.
double Coverage(double d, double pixel)
{
    return std::clamp(0.5 - d / pixel, 0.0, 1.0);
}

TIconImage Draw(int size)
{
    TIconImage image{size, size, std::vector<std::uint32_t>(static_cast<std::size_t>(size) * size)};
    const double pixel = 2.0 / size;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            // -1..1 across the icon, y up.
            const double u = (x + 0.5) * pixel - 1;
            const double v = 1 - (y + 0.5) * pixel;
            const double r = std::hypot(u, v);
            // A round night sky, deep blue towards the rim.
            TColour c{0.03 + 0.05 * (1 - r), 0.04 + 0.06 * (1 - r), 0.12 + 0.18 * (1 - r), Coverage(r - 0.96, pixel)};
            // The ring, an ellipse tilted as seen from the crater's rim.
            const double ring = std::hypot(u / 0.78, v / 0.30) - 1;
            const double ringWidth = 0.10;
            if (v < 0 || std::hypot(u, v) > 0.42)  // the core hides the ring's far side
                c = Over({0.55, 0.85, 1.0, 0.9 * Coverage(std::fabs(ring) * 0.3 - ringWidth / 2, pixel)}, c);
            // The core: white at the heart, through amber to a soft glow.
            const double glow = std::exp(-r * r / 0.10);
            c = Over({1.0, 0.55 + 0.45 * glow, 0.15 + 0.7 * glow * glow, std::min(1.0, 1.4 * glow)}, c);
            image.Pixels[static_cast<std::size_t>(y) * size + x] = Pack(c);
        }
    }
    return image;
}

} // namespace

std::vector<TIconImage> VendrakeIcon()
{
    std::vector<TIconImage> icon;
    for (int size : {16, 32, 48, 64})
        icon.push_back(Draw(size));
    return icon;
}

} // namespace vendrake
