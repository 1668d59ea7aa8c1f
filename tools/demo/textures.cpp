#include "tools/demo/textures.h"

#include "tools/demo/demo_math.h"

#include <cmath>

namespace vendrake::demo {

namespace {

constexpr int Side = 256;

std::uint8_t ToByte(double v)
{
    return static_cast<std::uint8_t>(std::lround(Clamp(v, 0.0, 1.0) * 255.0));
}

// Noise that wraps around in u (0..1): the field at u blended with the field
// one period to the left, so column 0 continues column Width - 1.
double WrappedFbm(double u, double v, double scale, int octaves, std::uint32_t seed)
{
    const double a = Fbm(u * scale, v * scale, octaves, seed);
    const double b = Fbm((u - 1.0) * scale, v * scale, octaves, seed);
    return Mix(a, b, u);
}

double WrappedRidged(double u, double v, double scale, int octaves, std::uint32_t seed)
{
    const double a = RidgedFbm(u * scale, v * scale, octaves, seed);
    const double b = RidgedFbm((u - 1.0) * scale, v * scale, octaves, seed);
    return Mix(a, b, u);
}

// Centred coordinates of a pixel: -1..1 across the image, y up.
void Centred(int x, int y, int size, double& cx, double& cy)
{
    cx = (x + 0.5) / size * 2.0 - 1.0;
    cy = 1.0 - (y + 0.5) / size * 2.0;
}

} // namespace

TImage::TImage(int width, int height, int channels)
    : Width(width), Height(height), Channels(channels),
      Pixels(std::size_t(width) * std::size_t(height) * std::size_t(channels))
{
}

void TImage::Set(int x, int y, double r, double g, double b, double a)
{
    std::uint8_t* p = &Pixels[(std::size_t(y) * std::size_t(Width) + std::size_t(x)) * std::size_t(Channels)];
    p[0] = ToByte(r);
    p[1] = ToByte(g);
    p[2] = ToByte(b);
    if (Channels == 4)
        p[3] = ToByte(a);
}

TImage GroundTexture()
{
    TImage image(Side, Side, 3);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const double u = x / double(Side), v = y / double(Side);
            const double grain = Fbm(u * 24, v * 24, 4, 11);
            const double patches = Fbm(u * 5, v * 5, 3, 12);
            const double cracks = RidgedFbm(u * 9, v * 9, 3, 13);
            double value = 0.78 + 0.12 * grain + 0.08 * patches;
            value -= 0.35 * SmoothStep(0.82, 0.97, cracks);
            image.Set(x, y, value * 1.02, value * 0.98, value * 0.92);
        }
    return image;
}

TImage RockTexture()
{
    TImage image(Side, Side, 3);
    TRandom random(0x5EED0001);
    struct TCrater {
        double x, y, r;
    };
    std::vector<TCrater> craters;
    for (int i = 0; i < 22; ++i)
        craters.push_back({random.Uniform(), random.Uniform(), random.Range(0.03, 0.12)});
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const double u = x / double(Side), v = y / double(Side);
            double value = 0.52 + 0.2 * Fbm(u * 10, v * 10, 5, 21);
            for (const TCrater& c : craters) {
                const double d = std::hypot(u - c.x, v - c.y) / c.r;
                if (d < 1.3) {
                    // A dark floor and a bright rim, lit from the upper left.
                    const double rim = std::exp(-std::pow((d - 1.0) / 0.12, 2));
                    const double side = ((u - c.x) * -0.7 + (v - c.y) * -0.7) / (c.r * d + 1e-9);
                    value += 0.22 * rim - 0.18 * SmoothStep(1.0, 0.2, d) * (0.6 + 0.4 * side);
                }
            }
            image.Set(x, y, value * 1.05, value * 0.97, value * 0.88);
        }
    return image;
}

TImage PanelTexture()
{
    TImage image(Side, Side, 3);
    constexpr int Cell = 64;
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const int cx = x / Cell, cy = y / Cell;
            const int lx = x % Cell, ly = y % Cell;
            // Every other panel is split in two; some carry a light strip.
            const bool split = ((cx + 2 * cy) % 3) == 0;
            const int px = split && lx >= Cell / 2 ? lx - Cell / 2 : lx;
            const int width = split ? Cell / 2 : Cell;
            double r = 0.30, g = 0.33, b = 0.38;
            const double shade = 0.04 * double((cx * 7 + cy * 3) % 4);
            r += shade;
            g += shade;
            b += shade;
            if (px < 2 || ly < 2) { // seam, lit edge
                r = 0.62;
                g = 0.66;
                b = 0.72;
            } else if (px >= width - 2 || ly >= Cell - 2) { // seam, shadowed edge
                r = 0.08;
                g = 0.09;
                b = 0.11;
            } else if ((px == 6 || px == width - 7) && (ly == 6 || ly == Cell - 7)) { // rivets
                r = 0.75;
                g = 0.77;
                b = 0.8;
            } else if ((cx + cy) % 2 == 0 && ly >= 26 && ly < 38 && px >= 10 && px < width - 10) {
                // A light strip, cyan or amber, hot in the middle.
                const double core = 1.0 - std::fabs(ly - 31.5) / 6.5;
                if ((cx + 3 * cy) % 4 == 0) {
                    r = 1.0;
                    g = 0.55 + 0.4 * core;
                    b = 0.15 + 0.5 * core;
                } else {
                    r = 0.2 + 0.7 * core;
                    g = 0.9 + 0.1 * core;
                    b = 1.0;
                }
            }
            image.Set(x, y, r, g, b);
        }
    return image;
}

TImage MetalTexture()
{
    TImage image(Side, Side, 3);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const double u = x / double(Side), v = y / double(Side);
            // Brushing runs along u: stretched noise.
            double value = 0.72 + 0.1 * Fbm(u * 3, v * 90, 3, 31) + 0.04 * Fbm(u * 40, v * 40, 2, 32);
            const double groove = std::fmod(v * 8.0, 1.0);
            if (groove < 0.06)
                value *= 0.45;
            else if (groove < 0.1)
                value *= 1.15;
            double r = value, g = value, b = value * 1.04;
            if (v > 0.47 && v < 0.53) { // an accent line
                r = 1.0;
                g = 0.55;
                b = 0.18;
            }
            image.Set(x, y, r, g, b);
        }
    return image;
}

TImage CoreTexture()
{
    TImage image(Side, Side, 3);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const double u = x / double(Side), v = y / double(Side);
            const double warp = WrappedFbm(u, v, 4, 3, 41);
            const double veins = WrappedRidged(u, v + 0.15 * warp, 6, 4, 42);
            const double heat = SmoothStep(0.45, 0.95, veins);
            const double base = 0.35 + 0.2 * WrappedFbm(u, v, 8, 3, 43);
            image.Set(x, y, base + 0.65 * heat, base * 0.35 + 0.75 * heat * heat, 0.05 + 0.6 * heat * heat * heat);
        }
    return image;
}

TImage GlassTexture()
{
    TImage image(Side, Side, 4);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const double u = x / double(Side), v = 1.0 - y / double(Side);
            const double streak = Fbm(u * 14, v * 2.5, 4, 51);
            const double edge = SmoothStep(0.12, 0.0, u) + SmoothStep(0.88, 1.0, u);
            const double t = 0.5 + 0.5 * streak;
            const double r = Mix(0.45, 0.75, t) + 0.4 * edge;
            const double g = Mix(0.35, 0.85, v * 0.8) + 0.4 * edge;
            const double b = 1.0;
            const double alpha = Clamp(0.42 + 0.35 * t + 0.4 * edge + 0.15 * v, 0.0, 0.92);
            image.Set(x, y, r, g, b, alpha);
        }
    return image;
}

TImage VeilTexture()
{
    TImage image(Side, Side, 4);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const double u = x / double(Side), v = 1.0 - (y + 0.5) / Side; // v: 0 bottom, 1 top
            const double rays = 0.5 + 0.5 * Fbm(u * 40, v * 0.8, 4, 61);
            const double folds = 0.5 + 0.5 * Fbm(u * 6, 0.3, 2, 62);
            const double bottom = SmoothStep(0.0, 0.12, v) * (1.0 + 0.8 * std::exp(-std::pow((v - 0.12) / 0.05, 2)));
            const double top = SmoothStep(1.0, 0.35, v);
            const double side = SmoothStep(0.0, 0.08, u) * SmoothStep(1.0, 0.92, u);
            const double alpha = Clamp(bottom * top * side * (0.25 + 0.75 * rays * rays) * (0.6 + 0.5 * folds), 0.0, 1.0);
            const double r = Mix(0.15, 0.85, SmoothStep(0.3, 0.9, v));
            const double g = Mix(1.0, 0.25, SmoothStep(0.25, 0.8, v));
            const double b = Mix(0.45, 1.0, SmoothStep(0.2, 0.7, v));
            image.Set(x, y, r, g, b, alpha);
        }
    return image;
}

TImage SkyTexture()
{
    constexpr int Width = 512, Height = 256;
    TImage image(Width, Height, 3);
    constexpr double Bottom = -20, Top = 90; // degrees, as the dome spans them
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const double u = (x + 0.5) / Width;
            const double v = 1.0 - (y + 0.5) / Height;
            const double elevation = Mix(Bottom, Top, v);
            const double e = Clamp(elevation / 90.0, -1.0, 1.0);
            // The dawn glow lies towards -z (u = 0.25), broad and low.
            double du = std::fabs(u - 0.25);
            du = du > 0.5 ? 1.0 - du : du;
            const double dawn = std::exp(-du * du / 0.02) * std::exp(-std::max(e, 0.0) * 9.0);
            const double horizon = std::exp(-std::fabs(e) * 14.0);
            double r = Mix(0.14, 0.02, SmoothStep(0.0, 0.5, e));
            double g = Mix(0.16, 0.03, SmoothStep(0.0, 0.6, e));
            double b = Mix(0.32, 0.16, SmoothStep(0.0, 1.0, e));
            r += 0.45 * horizon + 0.55 * dawn;
            g += 0.26 * horizon + 0.32 * dawn;
            b += 0.16 * horizon + 0.1 * dawn;
            if (e < 0) { // below the horizon: dark haze
                const double h = SmoothStep(0.0, -0.12, e);
                r = Mix(r, 0.1, h);
                g = Mix(g, 0.07, h);
                b = Mix(b, 0.13, h);
            }
            const double nebula = SmoothStep(0.1, 0.8, WrappedFbm(u, v, 6, 5, 71)) * SmoothStep(0.05, 0.4, e);
            const double tint = 0.5 + 0.5 * WrappedFbm(u, v, 3, 2, 72);
            r += nebula * 0.22 * tint;
            g += nebula * 0.05;
            b += nebula * 0.25 * (1.0 - 0.5 * tint);
            image.Set(x, y, r, g, b);
        }
    return image;
}

TImage HaloTexture()
{
    TImage image(Side, Side, 3);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            double cx, cy;
            Centred(x, y, Side, cx, cy);
            const double r = std::hypot(cx, cy);
            const double fade = SmoothStep(1.0, 0.8, r);
            const double glow = (0.9 * std::exp(-r * r * 18.0) + 0.45 * std::exp(-r * 4.0)) * fade;
            image.Set(x, y, glow, glow * 0.82 + 0.1 * std::exp(-r * r * 60), glow * 0.62 + 0.2 * std::exp(-r * r * 60));
        }
    return image;
}

TImage StreakTexture()
{
    TImage image(Side, Side, 3);
    constexpr int Rays = 6;
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            double cx, cy;
            Centred(x, y, Side, cx, cy);
            const double r = std::hypot(cx, cy);
            const double angle = std::atan2(cy, cx);
            double value = 0.8 * std::exp(-r * r * 90.0);
            for (int i = 0; i < Rays; ++i) {
                const double a = Pi * i / Rays;
                // Distance from the ray's line through the centre.
                const double d = std::fabs(std::sin(angle - a)) * r;
                const double length = i % 3 == 0 ? 0.95 : (i % 3 == 1 ? 0.6 : 0.4);
                value += std::exp(-d * d / 0.00004) * SmoothStep(length, 0.0, r) * (i % 3 == 0 ? 0.9 : 0.55);
            }
            value *= SmoothStep(1.0, 0.9, r);
            image.Set(x, y, value * 0.9, value * 0.95, value);
        }
    return image;
}

TImage GhostTexture()
{
    TImage image(Side, Side, 3);
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            double cx, cy;
            Centred(x, y, Side, cx, cy);
            const double r = std::hypot(cx, cy);
            auto ring = [&](double radius) { return std::exp(-std::pow((r - radius) / 0.05, 2)); };
            const double disk = 0.12 * SmoothStep(0.7, 0.5, r);
            const double fade = SmoothStep(0.98, 0.9, r);
            image.Set(x, y, (0.55 * ring(0.78) + disk) * fade, (0.5 * ring(0.74) + disk) * fade,
                      (0.6 * ring(0.7) + disk * 1.2) * fade);
        }
    return image;
}

} // namespace vendrake::demo
