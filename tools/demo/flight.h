#pragma once
// Where things are: the landscape, the camera's flight, and the places of
// the objects set along it. All positions are in scene units, y up; the
// glowing core floats at the origin above a crater, ringed by mountains.
#include "tools/demo/demo_math.h"
#include "tools/demo/meshes.h"

#include <vector>

namespace vendrake::demo {

// Ground height under (x, z).
double TerrainHeight(double x, double z);
// The terrain spans +-TerrainHalfSize in x and z.
constexpr double TerrainHalfSize = 640;

struct TPose {
    TVec Position;
    TFrame Frame; // the camera looks down its -Z
};

// The camera's position at a time (seconds), smooth through the whole run.
TVec CameraPosition(double seconds);
// The camera's placement: looking ahead along the flight or at the core,
// banking into turns.
TPose CameraPose(double seconds);

// Camera lens as the scene file stores it (field of view lens - lens / 4.5)
// and its clipping planes.
constexpr double CameraLens = 72;
constexpr double CameraNear = 0.5;
constexpr double CameraFar = 2200;
// Vertical field of view in degrees, and the aspect the player projects with.
constexpr double CameraFieldOfView = CameraLens - CameraLens / 4.5;
constexpr double CameraAspect = 4.0 / 3.0;

// The tunnel follows the flight between these times.
constexpr double TunnelStart = 48.2;
constexpr double TunnelEnd = 57.3;
constexpr double TunnelInnerRadius = 8.5;
constexpr double TunnelOuterRadius = 9.5;
std::vector<TPipeRing> TunnelRings();

// The gates the camera flies through, centred on the flight.
struct TPlacement {
    TVec Centre;
    TFrame Frame;
};
std::vector<TPlacement> GatePlacements();
constexpr double GateRadius = 12;
constexpr double GateTube = 1.3;

// Crystal clusters beside the valley flight, standing on the ground.
std::vector<TPlacement> CrystalSites();
constexpr double CrystalClusterRadius = 16;
constexpr double CrystalClusterHeight = 34;

// The beacon that carries the scene's light: it leads the camera in from
// the south, then circles high over the core.
TVec BeaconPosition(double seconds);

} // namespace vendrake::demo
