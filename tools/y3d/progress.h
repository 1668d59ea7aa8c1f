#pragma once
// A progress line for long renders: on a terminal a bar that redraws itself
// (frames done, frames a second, time left); elsewhere nothing until the
// closing line, so logs keep only what matters.
#include <chrono>
#include <iosfwd>
#include <string>

namespace vendrake::y3d {

class TProgressBar {
public:
    TProgressBar(std::ostream& out, bool terminal);

    // Notes the frames done and redraws the bar, at most ten times a second
    // and at the last frame.
    void Update(int done, int total);
    // Replaces the bar with one closing line.
    void Close(const std::string& line);
    // Seconds since the bar was made.
    double Elapsed() const;
    // Frames a second since the first frame was done (set-up left out).
    double Rate() const;
    int Done() const { return FDone; }

private:
    std::ostream& FOut;
    bool FTerminal;
    bool FDrawn = false;
    int FDone = 0;
    int FFirstDone = 0;
    std::chrono::steady_clock::time_point FStart;
    std::chrono::steady_clock::time_point FFirst; // when the first report came
    std::chrono::steady_clock::time_point FLast;
    std::chrono::steady_clock::time_point FLastDrawn;
};

// "1:05" for 65 seconds.
std::string MinutesAndSeconds(double seconds);

} // namespace vendrake::y3d
