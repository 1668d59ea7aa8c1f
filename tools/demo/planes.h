#pragma once
// The seven glow planes. Painted additively without the depth test, each is
// a square turned to face the camera, placed along the line of sight to the
// core so that its distance sets how large it looks: the halo and the hot
// centre sit on the core, two ray stars turn about it, and three lens
// reflections lie on the line from the core through the middle of the view.
// A plane that should not show is pushed beyond the far clipping plane.
#include "tools/demo/flight.h"

#include <array>

namespace vendrake::demo {

enum class TPlaneKind {
    Glow,       // on the core, facing the camera
    Rays,       // on the core, turning about the line of sight
    Reflection  // on the line from the core through the middle of the view
};

struct TPlaneLook {
    const char* Name;
    TPlaneKind Kind;
    double Size;   // side of the square, scene units
    double Angle;  // Glow and Rays: apparent half-size, degrees
    double Along;  // Reflection: 1 on the core, 0 mid-view, -1 mirrored
    double Spin;   // Rays: degrees per second about the line of sight
    double Pulse;  // how much the apparent size swells on each kick
};

// In the order the scene file holds them.
extern const std::array<TPlaneLook, 7> PlaneLooks;

// Where plane `index` of PlaneLooks stands at a time, for a camera at `camera`.
TPose PlanePose(std::size_t index, double seconds, const TPose& camera);

// 0..1: how much the glow of the core shows (it is hidden inside the
// tunnel, and fades in at the start).
double GlowVisibility(double seconds, const TPose& camera);

} // namespace vendrake::demo
