#pragma once
// The program's command line and the frame figures it can report. Without
// options the program plays until Escape and prints nothing.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vendrake {

struct TPlayOptions {
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
    // 800x600") or sat in its middle ("centred on 1280x720").
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
