#pragma once
// The demo's pictures, painted procedurally: every call gives the same
// pixels. Images are RGB or RGBA bytes, rows top first.
#include <cstdint>
#include <vector>

namespace vendrake::demo {

struct TImage {
    int Width = 0;
    int Height = 0;
    int Channels = 3; // 3: R, G, B; 4: R, G, B, A
    std::vector<std::uint8_t> Pixels;

    TImage() = default;
    TImage(int width, int height, int channels);
    // Stores a colour given as 0..1 values (clamped, rounded).
    void Set(int x, int y, double r, double g, double b, double a = 1);
};

// Light grey rock and earth, tinted by the terrain's vertex colours.
TImage GroundTexture();
// Cratered grey-brown rock.
TImage RockTexture();
// Panels with bevelled seams and glowing strips, for the tunnel.
TImage PanelTexture();
// Brushed metal with engraved grooves and an accent line.
TImage MetalTexture();
// Molten streams, bright veins on deep orange; seamless around u.
TImage CoreTexture();
// Violet and cyan glass with inner streaks, alpha 0.4 to 0.9.
TImage GlassTexture();
// An aurora curtain: green below, violet above, in vertical rays, its alpha
// fading out at the top and the bottom.
TImage VeilTexture();
// The sky dome from 20 degrees below the horizon (bottom row) to the zenith
// (top row): a warm horizon, deep blue overhead, faint nebulae;
// seamless around u.
TImage SkyTexture();
// A soft radial glow on black, black at the borders.
TImage HaloTexture();
// A star of thin rays on black.
TImage StreakTexture();
// A faint ring with coloured edges on black, as a lens reflection.
TImage GhostTexture();

} // namespace vendrake::demo
