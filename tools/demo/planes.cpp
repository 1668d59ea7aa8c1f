#include "tools/demo/planes.h"

#include "tools/demo/timeline.h"

#include <algorithm>
#include <cmath>

namespace vendrake::demo {

namespace {

// Beyond the far plane: a plane placed this far away is clipped away.
constexpr double HiddenDistance = CameraFar * 1.3;
// Lens reflections float this far in front of the camera.
constexpr double ReflectionDistance = 40;

double FadeDistance(double distance, double visibility)
{
    return distance / std::max(visibility, distance / HiddenDistance);
}

} // namespace

const std::array<TPlaneLook, 7> PlaneLooks = {{
    {"Plane01", TPlaneKind::Glow, 80, 14, 0, 0, 0.1},
    {"Plane03", TPlaneKind::Glow, 30, 2.6, 0, 0, 0.9},
    {"Plane04", TPlaneKind::Rays, 120, 20, 0, 7, 0.25},
    {"Plane05", TPlaneKind::Rays, 120, 12, 0, -11, 0.25},
    {"Plane06", TPlaneKind::Reflection, 7, 0, 0.45, 0, 0},
    {"Plane07", TPlaneKind::Reflection, 4.5, 0, -0.3, 0, 0},
    {"Plane08", TPlaneKind::Reflection, 11, 0, -0.85, 0, 0},
}};

double GlowVisibility(double seconds, const TPose& camera)
{
    const TVec toCore = TVec{0, 0, 0} - camera.Position;
    const double front = -Dot(Normalize(toCore), camera.Frame.Z);
    double v = SmoothStep(0.0, 0.3, front);
    v *= SmoothStep(0.5, 5.0, seconds);
    // Inside the tunnel the walls hide the core until the exit comes near.
    const double inside = SmoothStep(TunnelStart - 0.8, TunnelStart + 0.2, seconds) *
                          SmoothStep(TunnelEnd - 0.5, TunnelEnd - 3.0, seconds);
    return v * (1 - inside);
}

TPose PlanePose(std::size_t index, double seconds, const TPose& camera)
{
    const TPlaneLook& look = PlaneLooks[index];
    const double visibility = GlowVisibility(seconds, camera);
    const TVec toCore = TVec{0, 0, 0} - camera.Position;
    const double swell = 1 + look.Pulse * KickPulse(seconds);
    if (look.Kind == TPlaneKind::Reflection) {
        // The core's place on the view plane at unit distance, scaled along
        // the line through the middle.
        const TVec c{Dot(toCore, camera.Frame.X), Dot(toCore, camera.Frame.Y), Dot(toCore, camera.Frame.Z)};
        const double depth = std::max(-c.z, 1e-3);
        const TVec local{c.x / depth * look.Along, c.y / depth * look.Along, -1};
        const double distance = FadeDistance(ReflectionDistance, visibility);
        return {camera.Position + Apply(camera.Frame, local * distance), camera.Frame};
    }
    const double half = look.Size / 2;
    const double distance = FadeDistance(half / std::tan(Radians(look.Angle * swell)), visibility);
    TFrame frame = camera.Frame;
    if (look.Kind == TPlaneKind::Rays)
        frame = Compose(camera.Frame, AxisRotation({0, 0, 1}, Radians(look.Spin * seconds + 15)));
    return {camera.Position + Normalize(toCore) * distance, frame};
}

} // namespace vendrake::demo
