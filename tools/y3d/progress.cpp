#include "tools/y3d/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace vendrake::y3d {

TProgressBar::TProgressBar(std::ostream& out, bool terminal)
    : FOut(out), FTerminal(terminal), FStart(std::chrono::steady_clock::now()), FLastDrawn(FStart)
{
}

double TProgressBar::Elapsed() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

double TProgressBar::Rate() const
{
    const double seconds = std::chrono::duration<double>(FLast - FFirst).count();
    return seconds > 0 ? (FDone - FFirstDone) / seconds : 0;
}

void TProgressBar::Update(int done, int total)
{
    const auto now = std::chrono::steady_clock::now();
    if (FDone == 0) {
        FFirst = now;
        FFirstDone = done;
    }
    FDone = done;
    FLast = now;
    if (!FTerminal || total <= 0)
        return;
    if (FDrawn && done < total && now - FLastDrawn < std::chrono::milliseconds(100))
        return;
    FLastDrawn = now;
    FDrawn = true;
    constexpr int Width = 30;
    const double part = std::clamp(double(done) / total, 0.0, 1.0);
    const int filled = static_cast<int>(part * Width);
    const double rate = Rate();
    char line[160];
    std::snprintf(line, sizeof line, "\r[%s%s] %d/%d frames, %.1f a second, %s left\033[K",
                  std::string(std::size_t(filled), '#').c_str(), std::string(std::size_t(Width - filled), '.').c_str(),
                  done, total, rate, rate > 0 ? MinutesAndSeconds((total - done) / rate).c_str() : "?:??");
    FOut << line << std::flush;
}

void TProgressBar::Close(const std::string& line)
{
    if (FDrawn)
        FOut << "\r\033[K";
    FOut << line << '\n' << std::flush;
}

std::string MinutesAndSeconds(double seconds)
{
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

} // namespace vendrake::y3d
