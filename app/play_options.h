#pragma once
// The program's command line, the files it plays and the frame figures it
// can report. Without options the program plays the scene in its working
// directory until Escape and prints nothing.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace vendrake {

struct TPlayOptions {
    std::string Scene;       // empty: the scene in the working directory
    std::string Music;       // --music; empty: the one beside the scene
    bool Window = false;     // an ordinary window, the display mode left alone
    bool Loop = false;       // play again from the beginning at the scene's end
    bool ExitAtEnd = false;  // end at the scene's end
    std::int64_t Frames = 0; // end after this many frames; 0 = until Escape
    bool Stats = false;      // report the frame figures on the way out
    bool Help = false;
};

// Raised for an unknown option or a bad value; the message is one line.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TPlayOptions ParsePlayOptions(int argc, const char* const* argv);
extern const char* const PlayUsage;

// The files a run plays, as absolute paths, and the folder to play from
// (texture names in a scene are relative to it).
struct TPlayFiles {
    std::filesystem::path Scene;
    std::filesystem::path Music;  // empty: none
    std::filesystem::path Folder;
    std::string Caption;          // the window's title with --window
    std::string Notice;           // a line for the user, or empty
};

// Resolves the options' paths against the working directory `cwd`. With no
// scene, the scene and vendrake.mp3 of that directory, as ever (a missing
// song then plays silently). With one, the music is --music, else the MP3 of
// the scene's name beside it, else vendrake.mp3 beside it, else none, which
// Notice says. Raises std::runtime_error naming the file when the scene or
// the --music file cannot be read. With no scene and none in `cwd`, an
// installed program plays from `demoFolder` (the demo installed with it)
// when that holds the scene.
TPlayFiles ResolvePlayFiles(const TPlayOptions& options, const std::filesystem::path& cwd,
                            const std::filesystem::path& demoFolder = {});

// The installed demo's folder: `relative` taken from the running
// executable's folder.
std::filesystem::path InstalledDemoFolder(const std::filesystem::path& relative);

// Counts frames and times them against the program's start. FrameShown runs
// on the render thread; the rest only once that thread has ended.
class TFrameStats {
public:
    // Times are performance-counter readings (nanoseconds); limit 0 = no
    // limit.
    TFrameStats(std::int64_t startNs, std::int64_t limit);

    // One frame was swapped at nowNs. True for the frame that reaches the
    // limit; frames after it are not counted.
    bool FrameShown(std::int64_t nowNs);

    std::int64_t Frames() const { return FFrames; }
    // "first frame 84.2 ms after start; 300 frames, 29.4 per second after
    // the first; peak memory 61.3 MiB; sound through pulse; mode 800x600";
    // soundDriver is the audio output's driver, empty when no sound played;
    // the monitor's size tells whether the picture filled it ("mode
    // 800x600") or sat in its middle ("centred on 1280x720"); a monitor
    // width of 0 stands for an ordinary window ("in a window").
    std::string Report(std::int64_t peakBytes, const std::string& soundDriver, int monitorWidth,
                       int monitorHeight) const;

private:
    std::int64_t FStart;
    std::int64_t FLimit;
    std::int64_t FFrames = 0;
    std::int64_t FFirst = 0;
    std::int64_t FLast = 0;
};

// The process's peak resident memory so far.
std::int64_t PeakResidentBytes();

} // namespace vendrake
