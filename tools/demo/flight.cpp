#include "tools/demo/flight.h"

#include "tools/demo/timeline.h"

#include <algorithm>
#include <cmath>

namespace vendrake::demo {

namespace {

struct TControlPoint {
    double Time;
    TVec Position;
};

// The flight as points the camera passes at given times (seconds); a point
// before the start sets the speed at which it starts.
std::vector<TControlPoint> FlightPoints()
{
    std::vector<TControlPoint> points = {
        // Dawn: from the outer plains towards the glow behind the ridge.
        {-4, {75, 85, 660}},
        {0, {60, 95, 590}},
        {5, {45, 106, 500}},
        {10, {25, 124, 410}},
        {15, {5, 142, 330}},
        // Valley: over the crest, down to the basin floor, past the crystals.
        {18, {-15, 88, 268}},
        {20.5, {-45, 22, 218}},
        {23, {-95, -12, 186}},
        {26, {-160, -20, 130}},
        {29, {-200, -18, 45}},
        {32, {-205, -10, -45}},
        // Gates: a climbing curve through four rings.
        {35, {-165, -2, -112}},
        {39, {-100, 12, -166}},
        {43, {-25, 24, -186}},
        {47, {55, 32, -178}},
        // Tunnel: round the east side and back towards the core.
        {48, {80, 34, -178}},
        {50.5, {158, 46, -138}},
        {53, {203, 46, -52}},
        {55.5, {200, 40, 32}},
        // Out of the tunnel, slowing down before the core.
        {57.5, {152, 32, 64}},
        {60.5, {118, 25, 50}},
        {64, {90, 19, 38}},
        {66, {64, 15, 42}},
    };
    // Core: once round it, rising and falling.
    for (int i = 0; i <= 13; ++i) {
        const double t = 67 + i;
        const double theta = Radians(45 + 22 * (t - 67));
        const double radius = 64 + 6 * std::sin(2 * Pi * (t - 67) / 13);
        const double height = 6 + 14 * std::sin(2 * Pi * (t - 67) / 13 + 0.6);
        points.push_back({t, {radius * std::cos(theta), height, radius * std::sin(theta)}});
    }
    // Outro: on round, out and up for the last view over the whole basin;
    // the last point lies past the end, so the camera is still moving there.
    struct TOutro {
        double Time, Radius, Height, Degrees;
    };
    const TOutro outro[] = {{84, 92, 34, 365},   {88, 132, 62, 385},  {92, 190, 92, 405},
                            {96, 258, 122, 425}, {99, 300, 140, 440}, {103, 330, 150, 452}};
    for (const TOutro& o : outro) {
        const double theta = Radians(o.Degrees);
        points.push_back({o.Time, {o.Radius * std::cos(theta), o.Height, o.Radius * std::sin(theta)}});
    }
    return points;
}

const std::vector<TControlPoint>& Flight()
{
    static const std::vector<TControlPoint> points = FlightPoints();
    return points;
}

// Cubic Hermite through the points with Catmull-Rom tangents for uneven
// spacing: smooth in position and speed.
TVec SplineAt(const std::vector<TControlPoint>& p, double t)
{
    const std::size_t n = p.size();
    if (t <= p.front().Time)
        return p.front().Position;
    if (t >= p.back().Time)
        return p.back().Position;
    std::size_t i = 0;
    while (i + 2 < n && p[i + 1].Time <= t)
        ++i;
    const TControlPoint& a = p[i];
    const TControlPoint& b = p[i + 1];
    auto tangent = [&](std::size_t k) {
        const std::size_t lo = k == 0 ? 0 : k - 1, hi = std::min(k + 1, n - 1);
        return (p[hi].Position - p[lo].Position) * (1.0 / (p[hi].Time - p[lo].Time));
    };
    const double h = b.Time - a.Time;
    const double s = (t - a.Time) / h;
    const double s2 = s * s, s3 = s2 * s;
    return a.Position * (2 * s3 - 3 * s2 + 1) + tangent(i) * (h * (s3 - 2 * s2 + s)) +
           b.Position * (-2 * s3 + 3 * s2) + tangent(i + 1) * (h * (s3 - s2));
}

// How much the camera looks at the core rather than ahead, 0..1.
double CoreWeight(double t)
{
    double w = 1.0;
    w = Mix(w, 0.25, SmoothStep(14.5, 18.5, t));
    w = Mix(w, 0.0, SmoothStep(29, 33, t));
    w = Mix(w, 1.0, SmoothStep(56.8, 59.5, t));
    return w;
}

double Heading(double t)
{
    const TVec v = CameraPosition(t + 0.05) - CameraPosition(t - 0.05);
    return std::atan2(v.x, v.z);
}

// Bank into turns: the rate of heading change, averaged over two seconds.
double BankAngle(double t)
{
    double sum = 0;
    constexpr int Samples = 21;
    for (int i = 0; i < Samples; ++i) {
        const double s = t - 1.0 + 2.0 * double(i) / (Samples - 1);
        double d = Heading(s + 0.1) - Heading(s - 0.1);
        if (d > Pi)
            d -= 2 * Pi;
        if (d < -Pi)
            d += 2 * Pi;
        sum += d / 0.2;
    }
    const double rate = sum / Samples;
    return Clamp(rate * 0.7, Radians(-16), Radians(16));
}

} // namespace

double TerrainHeight(double x, double z)
{
    const double r = std::hypot(x, z);
    const double angle = std::atan2(z, x);
    // Mountains of uneven height all round; the noise runs round the circle.
    const double scale = 0.85 + 0.35 * Fbm(2.2 * std::cos(angle) + 7, 2.2 * std::sin(angle) + 7, 3, 91);
    double h = -40.0;
    h -= 34 * SmoothStep(118, 30, r);                       // the crater under the core
    h += 130 * scale * SmoothStep(225, 320, r);             // the ring of mountains
    h -= 100 * scale * SmoothStep(370, 520, r);             // and the plains beyond
    const double mountains = SmoothStep(215, 300, r) * SmoothStep(560, 400, r);
    h += 46 * mountains * (RidgedFbm(x / 120, z / 120, 5, 92) - 0.3);
    h += 5 * Fbm(x / 45, z / 45, 4, 93) * (1 - 0.6 * mountains);
    return h;
}

TVec CameraPosition(double seconds) { return SplineAt(Flight(), seconds); }

TPose CameraPose(double seconds)
{
    const TVec position = CameraPosition(seconds);
    const TVec ahead = Normalize(CameraPosition(seconds + 0.8) - position);
    // Towards the end the camera looks a little above the core, taking in
    // the mountains and the sky.
    const TVec target{0, 50 * SmoothStep(82, 97, seconds), 0};
    const TVec toCore = Normalize(target - position);
    const double w = CoreWeight(seconds);
    const TVec forward = Normalize(Lerp(ahead, toCore, w));
    // Banking fades while the camera looks at the core.
    const double bank = BankAngle(seconds) * (1 - w);
    const TFrame level = LookFrame(forward, {0, 1, 0});
    const TFrame banked = Compose(AxisRotation(forward, -bank), level);
    return {position, banked};
}

std::vector<TPipeRing> TunnelRings()
{
    std::vector<TPipeRing> rings;
    constexpr double Step = 0.1;
    const int count = static_cast<int>(std::lround((TunnelEnd - TunnelStart) / Step));
    for (int i = 0; i <= count; ++i) {
        const double t = TunnelStart + i * Step;
        const TVec centre = CameraPosition(t);
        const TVec tangent = Normalize(CameraPosition(t + 0.05) - CameraPosition(t - 0.05));
        rings.push_back({centre, LookFrame(tangent, {0, 1, 0})});
    }
    return rings;
}

std::vector<TPlacement> GatePlacements()
{
    std::vector<TPlacement> gates;
    for (double t : {35.0, 39.0, 43.0, 46.6}) {
        const TVec tangent = Normalize(CameraPosition(t + 0.05) - CameraPosition(t - 0.05));
        gates.push_back({CameraPosition(t), LookFrame(tangent, {0, 1, 0})});
    }
    return gates;
}

std::vector<TPlacement> CrystalSites()
{
    std::vector<TPlacement> sites;
    const double times[] = {21.6, 25.2, 28.6};
    const double sides[] = {1, -1, 1};
    for (std::size_t i = 0; i < std::size(times); ++i) {
        const double t = times[i];
        const TVec v = CameraPosition(t + 0.05) - CameraPosition(t - 0.05);
        const TVec across = Normalize(Cross(v, {0, 1, 0})) * (sides[i] * 44);
        TVec centre = CameraPosition(t) + across;
        centre.y = TerrainHeight(centre.x, centre.z) - 3;
        sites.push_back({centre, AxisRotation({0, 1, 0}, 1.3 * double(i))});
    }
    return sites;
}

TVec BeaconPosition(double seconds)
{
    const double angle = 2 * Pi * seconds / 64 + 1.9;
    const TVec circling{70 * std::cos(angle), 150 + 10 * std::sin(2 * angle), 70 * std::sin(angle)};
    // At first it leads the camera in from the south.
    const TVec leading{30, 185 - 1.5 * seconds, 470 - 13 * seconds};
    return Lerp(leading, circling, SmoothStep(2, 24, seconds));
}

} // namespace vendrake::demo
