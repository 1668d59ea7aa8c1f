#pragma once
// y3d render: frames of a scene exactly as the program paints them, drawn
// with the player's own code into a window that is never shown, read back
// and written as PNG files. Needs an X display with GLX (Xvfb will do).
#include <string>
#include <vector>

namespace vendrake::y3d {

struct TRenderOptions {
    std::string SceneFile;
    double Time = 0;   // demo time of the first frame, seconds
    int Width = 800;   // the program's window
    int Height = 600;
    int Frames = 1;    // more than one: a sequence into OutDir
    double Fps = 25;
    bool Planes = true; // the program's plane set-up
    std::string Out;    // the one frame's file
    std::string OutDir; // frame_0000.png, frame_0001.png, ...
};

// The arguments after "render". Raises std::invalid_argument naming what is
// wrong or missing.
TRenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// Loads the scene (texture files are found next to it, as the program finds
// them in its working directory), paints the frames in the render thread's
// order (clear to opaque black, canvas, player) and writes them. Returns
// the files written.
std::vector<std::string> RenderFrames(const TRenderOptions& options);

constexpr int MaxRenderSide = 8192;
constexpr int MaxRenderFrames = 100000;

} // namespace vendrake::y3d
