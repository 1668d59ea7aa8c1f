#pragma once
// The demo's clock, shared by the picture and the music: 120 beats a minute,
// 48 bars of four beats in six parts of eight bars, then a short tail.
#include <cmath>

namespace vendrake::demo {

constexpr double Tempo = 120;
constexpr double BeatSeconds = 60.0 / Tempo;
constexpr double BarSeconds = 4 * BeatSeconds;
constexpr int Bars = 48;
constexpr int BarsPerPart = 8;
// The last chord and the echoes ring on after the last bar.
constexpr double TailSeconds = 2.5;
constexpr double MusicSeconds = Bars * BarSeconds + TailSeconds;
// Animation keys cover the whole soundtrack; the player holds the last key
// afterwards.
constexpr double SceneSeconds = MusicSeconds;
// The player's scene clock runs at 10 units a second; keys are one unit
// apart.
constexpr double SceneUnitsPerSecond = 10;
constexpr int KeyStep = 1;

enum class TPart { Dawn, Valley, Gates, Tunnel, Core, Outro };

inline TPart PartAt(double seconds)
{
    const int part = static_cast<int>(std::floor(seconds / (BarsPerPart * BarSeconds)));
    return static_cast<TPart>(part < 0 ? 0 : part > 5 ? 5 : part);
}

inline double PartStart(TPart part) { return static_cast<int>(part) * BarsPerPart * BarSeconds; }

// The kick drum plays four to the bar from the second part until four bars
// before the end.
inline bool KickPlays(double seconds)
{
    return seconds >= PartStart(TPart::Valley) && seconds < (Bars - 4) * BarSeconds;
}

// 1 on a kick, decaying over the beat; 0 while the kick is silent.
inline double KickPulse(double seconds)
{
    if (!KickPlays(seconds))
        return 0;
    const double sinceBeat = seconds - std::floor(seconds / BeatSeconds) * BeatSeconds;
    return std::exp(-sinceBeat * 7.0);
}

} // namespace vendrake::demo
