#pragma once
// y3d render: frames of a scene exactly as the program paints them, drawn
// with the player's own code off-screen, read back and written as PNG files
// or as a video with the soundtrack. OpenGL comes through GLX when an X
// display can be opened and through EGL otherwise, with no X server at all.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake::y3d {

struct TRenderOptions {
    std::string SceneFile;
    double Time = 0;   // demo time of the first frame, seconds (--time)
    int Width = 800;   // the program's window
    int Height = 600;
    int Frames = 1;    // more than one: a sequence into OutDir
    double Fps = 25;   // 60 for a video unless given
    bool Planes = true; // the program's plane set-up
    std::string Out;    // the one frame's file
    std::string OutDir; // frame_0000.png, frame_0001.png, ...
    // A span instead of --time and --frames (always for a video): frames at
    // From + k / Fps before To; To < 0 is the end of the longest track.
    bool Span = false;
    double From = 0;
    double To = -1;
    std::string Video;  // .mp4, .mkv or .webm
    int Crf = 18;
    std::string Music;  // empty: vendrake.mp3 next to the scene, if there
};

// The arguments after "render". Raises std::invalid_argument naming what is
// wrong or missing.
TRenderOptions ParseRenderOptions(const std::vector<std::string>& args);

// The scene loaded and painted as the program paints it, into an off-screen
// frame of the given size: texture files are found next to the scene, as the
// program finds them in its working directory; each frame is painted in the
// render thread's order (clear to opaque black, canvas, player).
class TFramePainter {
public:
    TFramePainter(const std::string& sceneFile, int width, int height, bool planes);
    ~TFramePainter();
    TFramePainter(const TFramePainter&) = delete;
    TFramePainter& operator=(const TFramePainter&) = delete;

    // Where the scene's longest track ends, seconds.
    double SceneEnd() const;
    // Whether the context was made through EGL, without an X server.
    bool Offscreen() const;
    // Paints the frame the program shows `seconds` into the demo. Times go
    // forward only, as on the program's clock.
    void Paint(double seconds);
    // The frame just painted, rows bottom first as OpenGL reads them: RGB,
    // or B, G, R, A (4 bytes a pixel), which costs no conversion.
    enum class TLayout { Rgb, Bgra };
    const std::vector<std::uint8_t>& ReadBack(TLayout layout = TLayout::Rgb);

private:
    struct TState;
    std::unique_ptr<TState> F;
};

struct TRenderObserver {
    // After each frame: frames done and of how many.
    std::function<void(int done, int total)> Progress;
    // Something the user should know that does not stop the render.
    std::function<void(const std::string& message)> Warning;
};

// A render ended by a signal, with the signal's number.
class ERenderInterrupted : public std::runtime_error {
public:
    ERenderInterrupted(const std::string& message, int signal) : std::runtime_error(message), Signal(signal) {}
    int Signal;
};

// Paints the frames the options ask for and writes them. Returns the files
// written. A video is written under a temporary name and renamed at the end;
// SIGINT, SIGTERM or SIGHUP during a video end the render with an
// ERenderInterrupted and leave no file.
std::vector<std::string> RenderFrames(const TRenderOptions& options, const TRenderObserver& observer = {});

constexpr int MaxRenderSide = 8192;
constexpr int MaxRenderFrames = 100000;

} // namespace vendrake::y3d
