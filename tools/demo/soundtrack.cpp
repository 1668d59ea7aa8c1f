#include "tools/demo/soundtrack.h"

#include "tools/demo/demo_math.h"
#include "tools/demo/timeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <lame/lame.h>

namespace vendrake::demo {

namespace {

constexpr double Fs = SampleRate;

double NoteHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

double BarTime(double bar) { return bar * BarSeconds; }

// The mix: the dry signal and the sends to the echo and the room, all
// as long as the piece.
struct TMix {
    explicit TMix(std::size_t frames);
    std::size_t Frames;
    std::vector<float> Duck; // the kick's side-chain gain, per frame
    std::vector<float> Dry;  // interleaved left, right
    std::vector<float> Echo; // interleaved left, right
    std::vector<float> Room; // mono
};

// Plays one voice: sample(t) gives its value at t seconds after start, for
// `length` seconds; pan -1 (left) .. 1 (right) at constant power. Ducked
// voices follow the kick's side-chain gain.
template <class TSample>
void Play(TMix& mix, double start, double length, double pan, double echo, double room, TSample&& sample,
          bool ducked = false)
{
    const auto first = static_cast<std::size_t>(std::max(0.0, std::round(start * Fs)));
    const auto count = static_cast<std::size_t>(std::round(length * Fs));
    const double angle = (Clamp(pan, -1.0, 1.0) + 1.0) * Pi / 4.0;
    const double left = std::cos(angle), right = std::sin(angle);
    const std::size_t end = std::min(first + count, mix.Frames);
    // The last few milliseconds fade out, so a voice cut short never clicks.
    const double fade = 0.005 * Fs;
    for (std::size_t f = first; f < end; ++f) {
        const double t = double(f - first) * (1.0 / Fs);
        const double tail = std::min(1.0, double(first + count - f) / fade);
        const double v = (ducked ? sample(t) * mix.Duck[f] : sample(t)) * tail;
        mix.Dry[2 * f] += float(v * left);
        mix.Dry[2 * f + 1] += float(v * right);
        if (echo > 0) {
            mix.Echo[2 * f] += float(v * left * echo);
            mix.Echo[2 * f + 1] += float(v * right * echo);
        }
        mix.Room[f] += float(v * room);
    }
}

// A sawtooth with its step smoothed (polyBLEP), so high notes do not alias.
struct TSaw {
    double Phase = 0;
    double Next(double hz)
    {
        const double dt = hz / Fs;
        double v = 2.0 * Phase - 1.0;
        if (Phase < dt) {
            const double x = Phase / dt;
            v -= x + x - x * x - 1.0;
        } else if (Phase > 1.0 - dt) {
            const double x = (Phase - 1.0) / dt;
            v -= x * x + x + x + 1.0;
        }
        Phase += dt;
        if (Phase >= 1.0)
            Phase -= 1.0;
        return v;
    }
};

struct TSine {
    double Phase = 0;
    double Next(double hz)
    {
        const double v = std::sin(2 * Pi * Phase);
        Phase += hz / Fs;
        if (Phase >= 1.0)
            Phase -= 1.0;
        return v;
    }
};

// A state-variable filter (trapezoidal integration): stable while the
// cutoff moves.
struct TFilter {
    double G = 0, K = 1, A1 = 0, A2 = 0, A3 = 0, S1 = 0, S2 = 0;
    double Low = 0, Band = 0, High = 0;
    void Tune(double hz, double q)
    {
        G = std::tan(Pi * Clamp(hz, 20.0, Fs * 0.45) / Fs);
        K = 1.0 / q;
        A1 = 1.0 / (1.0 + G * (G + K));
        A2 = G * A1;
        A3 = G * A2;
    }
    void Process(double x)
    {
        const double v3 = x - S2;
        const double v1 = A1 * S1 + A2 * v3;
        const double v2 = S2 + A2 * S1 + A3 * v3;
        S1 = 2 * v1 - S1;
        S2 = 2 * v2 - S2;
        Low = v2;
        Band = v1;
        High = x - K * v1 - v2;
    }
};

// Attack, then full level until the gate closes, then an exponential
// release; one value per sample.
struct TEnvelope {
    TEnvelope(double attack, double gate, double release)
        : Attack(attack * Fs), Gate(gate * Fs), Factor(std::exp(-1.0 / (release * Fs)))
    {
    }
    double Next()
    {
        const double n = Count++;
        if (n < Attack)
            return n / Attack;
        if (n < Gate)
            return 1.0;
        Level *= Factor;
        return Level;
    }
    double Attack, Gate, Factor;
    double Level = 1;
    long Count = 0;
};

// A decay from 1 with the given time constant; one value per sample.
struct TDecay {
    explicit TDecay(double seconds) : Factor(std::exp(-1.0 / (seconds * Fs))) {}
    double Next()
    {
        const double v = Value;
        Value *= Factor;
        return v;
    }
    double Factor;
    double Value = 1;
};

// The kick pushes the other instruments down for a moment.
double KickDuck(double t)
{
    if (!KickPlays(t))
        return 1.0;
    const double since = t - std::floor(t / BeatSeconds) * BeatSeconds;
    return 1.0 - 0.45 * std::exp(-since / 0.11);
}

TMix::TMix(std::size_t frames) : Frames(frames), Duck(frames), Dry(2 * frames), Echo(2 * frames), Room(frames)
{
    for (std::size_t f = 0; f < frames; ++f)
        Duck[f] = float(KickDuck(double(f) / Fs));
}

struct TChord {
    int Root;                 // bass note
    std::array<int, 3> Tones; // the chord round middle C
};

const TChord ChordAm{45, {57, 60, 64}};
const TChord ChordF{41, {53, 57, 60}};
const TChord ChordC{36, {55, 60, 64}};
const TChord ChordG{43, {55, 59, 62}};
const TChord ChordDm{38, {57, 62, 65}};
const TChord ChordE{40, {56, 59, 64}};

// Two bars a chord: Am F C G, darkened to Dm F G E in the tunnel; the
// last two bars rest on Am.
const TChord& ChordAt(int bar)
{
    static const TChord* const main[] = {&ChordAm, &ChordF, &ChordC, &ChordG};
    static const TChord* const tense[] = {&ChordDm, &ChordF, &ChordG, &ChordE};
    if (bar >= Bars - 2)
        return ChordAm;
    const int step = (bar % 8) / 2;
    return PartAt(BarTime(bar)) == TPart::Tunnel ? *tense[step] : *main[step];
}

// How open the synthesisers' filters are: closed at dawn, opening through
// the tunnel, widest at the core.
double Brightness(double t)
{
    double b = Mix(0.15, 0.5, SmoothStep(0, PartStart(TPart::Valley), t));
    b = Mix(b, 0.6, SmoothStep(PartStart(TPart::Gates) - 2, PartStart(TPart::Gates) + 2, t));
    b = Mix(b, 0.3, SmoothStep(PartStart(TPart::Tunnel) - 1, PartStart(TPart::Tunnel) + 1, t));
    b = Mix(b, 1.0, SmoothStep(PartStart(TPart::Tunnel) + 2, PartStart(TPart::Core), t));
    b = Mix(b, 0.35, SmoothStep(PartStart(TPart::Outro), MusicSeconds, t));
    return b;
}

void Pads(TMix& mix)
{
    for (int bar = 0; bar < Bars; bar += 2) {
        const TChord& chord = ChordAt(bar);
        const double start = BarTime(bar);
        const double gate = 2 * BarSeconds + (bar == Bars - 2 ? TailSeconds - 1.5 : 0.0);
        const TPart part = PartAt(start);
        const double level = part == TPart::Dawn ? 0.11 : part == TPart::Tunnel ? 0.07 : 0.08;
        const int notes[] = {chord.Tones[0], chord.Tones[1], chord.Tones[2], chord.Root + 12};
        int voice = 0;
        for (int note : notes) {
            for (double detune : {-0.08, 0.08}) {
                const double hz = NoteHz(note + detune);
                const double pan = detune < 0 ? -0.6 : 0.6;
                TSaw saw;
                saw.Phase = 0.13 * voice++;
                Play(
                    mix, start, gate + 2.6, pan, 0.1, 0.6,
                    [=, filter = TFilter(), envelope = TEnvelope(0.7, gate, 0.9), n = 0](double t) mutable {
                        if ((n++ & 31) == 0) {
                            const double at = start + t;
                            filter.Tune(450 + 1500 * Brightness(at) + 250 * std::sin(2 * Pi * 0.15 * at), 0.8);
                        }
                        filter.Process(saw.Next(hz));
                        return filter.Low * envelope.Next() * level;
                    },
                    true);
            }
        }
    }
}

void Arpeggio(TMix& mix)
{
    for (int bar = 2; bar < Bars; ++bar) {
        const TPart part = PartAt(BarTime(bar));
        const bool fast = part == TPart::Tunnel || part == TPart::Core;
        const int steps = fast ? 16 : 8;
        const double step = BarSeconds / steps;
        const TChord& chord = ChordAt(bar);
        const int ladder[] = {chord.Tones[0] + 12, chord.Tones[1] + 12, chord.Tones[2] + 12,
                              chord.Tones[0] + 24, chord.Tones[1] + 24, chord.Tones[2] + 24};
        static const int upDown[] = {0, 1, 2, 3, 4, 5, 4, 3, 2, 1, 2, 3, 4, 5, 3, 1};
        double level = part == TPart::Dawn ? 0.14 * SmoothStep(2, 7, bar) : 0.2;
        if (part == TPart::Outro)
            level *= 1.0 - 0.8 * SmoothStep(40, 48, bar);
        for (int i = 0; i < steps; ++i) {
            const double start = BarTime(bar) + i * step;
            const double hz = NoteHz(ladder[upDown[(i + bar * 3) % 16]]);
            const double bright = Brightness(start);
            const double accent = i % 4 == 0 ? 1.0 : 0.75;
            Play(
                mix, start, step + 0.4, i % 2 ? 0.4 : -0.4, 0.45, 0.3,
                [=, saw = TSaw(), filter = TFilter(), envelope = TEnvelope(0.003, step * 0.8, 0.06),
                 decay = TDecay(0.35), n = 0](double t) mutable {
                    if ((n++ & 15) == 0)
                        filter.Tune(300 + 4200 * bright * std::exp(-t / 0.12), 1.6);
                    filter.Process(saw.Next(hz));
                    return filter.Low * envelope.Next() * decay.Next() * level * accent;
                },
                true);
        }
    }
}

void Bass(TMix& mix)
{
    for (int bar = 4; bar < Bars; ++bar) {
        const double barStart = BarTime(bar);
        const TPart part = PartAt(barStart);
        const TChord& chord = ChordAt(bar);
        const bool sustained = part == TPart::Dawn || bar >= Bars - 4;
        const int steps = sustained ? 1 : 8;
        const double step = BarSeconds / steps;
        for (int i = 0; i < steps; ++i) {
            const double start = barStart + i * step;
            int note = chord.Root;
            if (part == TPart::Tunnel && i % 2 == 1)
                note += 12;
            if (part == TPart::Core && i == 7)
                note += 7;
            const double hz = NoteHz(note);
            const double level = sustained ? 0.35 * SmoothStep(4, 6, bar) : 0.55;
            const double gate = sustained ? step : step * 0.85;
            Play(
                mix, start, gate + 0.3, 0, 0.0, 0.05,
                [=, saw = TSaw(), sub = TSine(), filter = TFilter(), envelope = TEnvelope(0.004, gate, 0.05),
                 n = 0](double t) mutable {
                    if ((n++ & 15) == 0)
                        filter.Tune(160 + (sustained ? 200 : 1100) * std::exp(-t / 0.08), 1.1);
                    filter.Process(saw.Next(hz));
                    const double v = 0.7 * filter.Low + 0.6 * sub.Next(hz);
                    return v * envelope.Next() * level;
                },
                true);
        }
    }
}

struct TNote {
    double Beat, Length;
    int Pitch;
};

// Two melodies of eight bars over Am F C G: the first calm, the second an
// octave brighter and syncopated.
const std::vector<std::vector<TNote>>& MelodyA()
{
    static const std::vector<std::vector<TNote>> bars = {
        {{0, 1.5, 76}, {1.5, 0.5, 74}, {2, 1, 72}, {3, 1, 71}},
        {{0, 3, 69}, {3, 0.5, 71}, {3.5, 0.5, 72}},
        {{0, 1.5, 77}, {1.5, 0.5, 76}, {2, 1, 74}, {3, 1, 72}},
        {{0, 3, 72}, {3, 1, 69}},
        {{0, 1.5, 79}, {1.5, 0.5, 77}, {2, 1, 76}, {3, 1, 72}},
        {{0, 2, 76}, {2, 1, 79}, {3, 1, 84}},
        {{0, 1.5, 83}, {1.5, 0.5, 81}, {2, 1, 79}, {3, 1, 74}},
        {{0, 3, 79}, {3, 0.5, 81}, {3.5, 0.5, 83}},
    };
    return bars;
}

const std::vector<std::vector<TNote>>& MelodyB()
{
    static const std::vector<std::vector<TNote>> bars = {
        {{0, 0.5, 81}, {0.5, 0.5, 84}, {1, 1, 88}, {2, 0.5, 86}, {2.5, 1.5, 84}},
        {{0, 1, 83}, {1, 1, 84}, {2, 2, 81}},
        {{0, 0.5, 81}, {0.5, 0.5, 84}, {1, 1, 89}, {2, 0.5, 88}, {2.5, 1.5, 86}},
        {{0, 1, 84}, {1, 1, 86}, {2, 2, 84}},
        {{0, 0.5, 79}, {0.5, 0.5, 84}, {1, 1, 88}, {2, 0.5, 91}, {2.5, 1.5, 88}},
        {{0, 1, 86}, {1, 1, 84}, {2, 2, 88}},
        {{0, 0.5, 86}, {0.5, 0.5, 83}, {1, 1, 79}, {2, 1, 83}, {3, 1, 86}},
        {{0, 3, 83}, {3, 0.5, 84}, {3.5, 0.5, 86}},
    };
    return bars;
}

void LeadNote(TMix& mix, double start, double length, int pitch, double level)
{
    const double hz = NoteHz(pitch);
    TSaw b;
    b.Phase = 0.37;
    Play(mix, start, length + 0.6, 0.1, 0.32, 0.4,
         [=, a = TSaw(), filter = TFilter(), envelope = TEnvelope(0.012, length, 0.16), n = 0](double t) mutable {
        const double vibrato = std::sin(2 * Pi * 5.5 * t) * 0.18 * SmoothStep(0.15, 0.45, t);
        const double f = hz * std::pow(2.0, vibrato / 12.0);
        if ((n++ & 15) == 0)
            filter.Tune(1500 + 2200 * std::exp(-t / 0.3), 1.3);
        filter.Process(0.5 * a.Next(f * 1.0035) + 0.5 * b.Next(f * 0.9965));
        const double sustain = 0.75 + 0.25 * std::exp(-t / 0.25);
        return filter.Low * sustain * envelope.Next() * level;
    });
}

void Lead(TMix& mix)
{
    auto play = [&](const std::vector<std::vector<TNote>>& melody, int firstBar, int bars, double level) {
        for (int i = 0; i < bars; ++i)
            for (const TNote& n : melody[std::size_t(i)])
                LeadNote(mix, BarTime(firstBar + i) + n.Beat * BeatSeconds, n.Length * BeatSeconds * 0.95, n.Pitch,
                         level);
    };
    play(MelodyA(), 16, 8, 0.3);
    play(MelodyB(), 32, 8, 0.32);
    play(MelodyA(), 40, 4, 0.22);
}

void Kick(TMix& mix, double start)
{
    Play(mix, start, 0.45, 0, 0, 0.03,
         [sine = TSine(), random = TRandom(0x4B1C4ull + std::uint64_t(start * 1000)), sweep = TDecay(0.028),
          decay = TDecay(0.26)](double t) mutable {
        const double hz = 48 + 120 * sweep.Next();
        const double body = sine.Next(hz) * decay.Next();
        const double click = t < 0.003 ? (random.Uniform() * 2 - 1) * (1 - t / 0.003) * 0.4 : 0.0;
        return 0.6 * (body + click);
    });
}

void Snare(TMix& mix, double start, double level)
{
    TFilter filter;
    filter.Tune(1900, 0.9);
    Play(mix, start, 0.35, -0.05, 0.05, 0.25,
         [=, random = TRandom(0x5A4Eull + std::uint64_t(start * 1000)), tone = TSine()](double t) mutable {
             filter.Process(random.Uniform() * 2 - 1);
             return level * (0.9 * filter.Band * std::exp(-t / 0.11) + 0.5 * tone.Next(185) * std::exp(-t / 0.05));
         });
}

void Hat(TMix& mix, double start, bool open, double level)
{
    TFilter filter;
    filter.Tune(7500, 0.8);
    const double decay = open ? 0.18 : 0.028;
    Play(mix, start, open ? 0.6 : 0.15, 0.3, 0.05, 0.1,
         [=, random = TRandom(0x4A7ull + std::uint64_t(start * 1000)), envelope = TDecay(decay)](double) mutable {
             filter.Process(random.Uniform() * 2 - 1);
             return level * filter.High * envelope.Next();
         });
}

void Crash(TMix& mix, double start)
{
    TFilter filter;
    filter.Tune(4200, 0.7);
    Play(mix, start, 3.5, -0.2, 0.1, 0.35,
         [=, random = TRandom(0xC2A5ull + std::uint64_t(start * 1000)), envelope = TDecay(1.1)](double) mutable {
             filter.Process(random.Uniform() * 2 - 1);
             return 0.16 * filter.High * envelope.Next();
         });
}

// Filtered noise rising over `length` into the next part.
void Riser(TMix& mix, double start, double length, double level)
{
    Play(mix, start, length, 0, 0.2, 0.5,
         [=, random = TRandom(0x515Eull + std::uint64_t(start * 1000)), filter = TFilter(), n = 0](double t) mutable {
             const double x = t / length;
             if ((n++ & 15) == 0)
                 filter.Tune(300 + 6000 * x * x, 2.5);
             filter.Process(random.Uniform() * 2 - 1);
             return level * filter.Band * x * x;
         });
}

void Drums(TMix& mix)
{
    for (int bar = 0; bar < Bars; ++bar) {
        const double barStart = BarTime(bar);
        const TPart part = PartAt(barStart);
        for (int beat = 0; beat < 4; ++beat) {
            const double t = barStart + beat * BeatSeconds;
            if (KickPlays(t))
                Kick(mix, t);
            const bool backbeat = beat == 1 || beat == 3;
            const bool snares = part == TPart::Gates || part == TPart::Tunnel || part == TPart::Core ||
                                (part == TPart::Outro && bar < 42);
            if (snares && backbeat)
                Snare(mix, t, 0.5);
        }
        if (part == TPart::Tunnel && bar % 2 == 1)
            Snare(mix, barStart + 3.75 * BeatSeconds, 0.16);
        // A roll into the core.
        if (bar == 31)
            for (int i = 8; i < 16; ++i)
                Snare(mix, barStart + i * BeatSeconds / 4, 0.12 + 0.03 * (i - 8));
        const bool hats = part != TPart::Dawn && bar < Bars - 4;
        if (hats) {
            const bool sixteenths = part == TPart::Tunnel;
            const int steps = sixteenths ? 16 : 8;
            for (int i = 0; i < steps; ++i) {
                const bool offbeat = sixteenths ? i % 4 == 2 : i % 2 == 1;
                if (part == TPart::Valley && !offbeat)
                    continue;
                const bool open = !sixteenths && i == 7 && part != TPart::Valley;
                Hat(mix, barStart + i * BarSeconds / steps, open, offbeat ? 0.14 : 0.08);
            }
        }
    }
    for (int bar : {16, 24, 32, 36, 40})
        Crash(mix, BarTime(bar));
    Riser(mix, BarTime(6), 2 * BarSeconds, 0.12);
    Riser(mix, BarTime(30), 2 * BarSeconds, 0.22);
}

// Echoes a dotted eighth apart, bouncing between the sides.
void ApplyEcho(TMix& mix)
{
    const auto delay = static_cast<std::size_t>(std::round(0.75 * BeatSeconds * Fs));
    std::vector<float> left(delay), right(delay);
    std::size_t at = 0;
    for (std::size_t f = 0; f < mix.Frames; ++f) {
        const double l = left[at], r = right[at];
        // The fed-back signal crosses sides: ping-pong.
        left[at] = float(mix.Echo[2 * f] + 0.42 * r);
        right[at] = float(mix.Echo[2 * f + 1] + 0.42 * l);
        mix.Dry[2 * f] += float(0.55 * l);
        mix.Dry[2 * f + 1] += float(0.55 * r);
        mix.Room[f] += float(0.15 * (l + r));
        at = at + 1 == delay ? 0 : at + 1;
    }
}

// A room: parallel damped combs into allpasses, different lengths per side.
void ApplyRoom(TMix& mix)
{
    struct TComb {
        std::vector<float> Line;
        std::size_t At = 0;
        double Store = 0;
        double Process(double x)
        {
            const double y = Line[At];
            Store = y * 0.7 + Store * 0.3; // damping
            Line[At] = float(x + Store * 0.82);
            At = At + 1 == Line.size() ? 0 : At + 1;
            return y;
        }
    };
    struct TAllpass {
        std::vector<float> Line;
        std::size_t At = 0;
        double Process(double x)
        {
            const double stored = Line[At];
            const double y = stored - x;
            Line[At] = float(x + stored * 0.5);
            At = At + 1 == Line.size() ? 0 : At + 1;
            return y;
        }
    };
    const std::size_t combLengths[] = {1557, 1617, 1491, 1422, 1277, 1356};
    const std::size_t allpassLengths[] = {556, 441};
    for (int side = 0; side < 2; ++side) {
        const std::size_t spread = side == 0 ? 0 : 23;
        std::vector<TComb> combs;
        for (std::size_t length : combLengths)
            combs.push_back({std::vector<float>(length + spread)});
        std::vector<TAllpass> allpasses;
        for (std::size_t length : allpassLengths)
            allpasses.push_back({std::vector<float>(length + spread)});
        for (std::size_t f = 0; f < mix.Frames; ++f) {
            const double in = mix.Room[f] * 0.12;
            double out = 0;
            for (TComb& comb : combs)
                out += comb.Process(in);
            for (TAllpass& allpass : allpasses)
                out = allpass.Process(out);
            mix.Dry[2 * f + std::size_t(side)] += float(out * 0.5);
        }
    }
}

// Fades, gentle saturation, and the level set so the loudest sample sits
// just under full scale.
void Master(TMix& mix)
{
    double peak = 0;
    for (std::size_t f = 0; f < mix.Frames; ++f) {
        const double t = double(f) / Fs;
        const double fade = SmoothStep(0.0, 1.5, t) * SmoothStep(MusicSeconds, MusicSeconds - 4.5, t);
        for (int c = 0; c < 2; ++c) {
            float& s = mix.Dry[2 * f + std::size_t(c)];
            s = float(std::tanh(1.3 * s * fade) / std::tanh(1.3));
            peak = std::max(peak, double(std::fabs(s)));
        }
    }
    const double gain = peak > 0 ? 0.89 / peak : 1.0;
    for (float& s : mix.Dry)
        s = float(s * gain);
}

} // namespace

std::vector<float> SynthesizeSoundtrack()
{
    TMix mix(static_cast<std::size_t>(std::round(MusicSeconds * Fs)));
    Pads(mix);
    Arpeggio(mix);
    Bass(mix);
    Lead(mix);
    Drums(mix);
    ApplyEcho(mix);
    ApplyRoom(mix);
    Master(mix);
    return std::move(mix.Dry);
}

std::vector<std::uint8_t> EncodeMp3(const std::vector<float>& stereo)
{
    struct TLameClose {
        void operator()(lame_global_flags* flags) const { lame_close(flags); }
    };
    std::unique_ptr<lame_global_flags, TLameClose> lame(lame_init());
    if (!lame)
        throw std::runtime_error("MP3: cannot start the encoder");
    lame_set_in_samplerate(lame.get(), SampleRate);
    lame_set_out_samplerate(lame.get(), SampleRate);
    lame_set_num_channels(lame.get(), 2);
    lame_set_mode(lame.get(), JOINT_STEREO);
    lame_set_brate(lame.get(), Mp3KilobitsPerSecond);
    lame_set_VBR(lame.get(), vbr_off);
    lame_set_quality(lame.get(), 7);
    lame_set_bWriteVbrTag(lame.get(), 1);
    if (lame_init_params(lame.get()) < 0)
        throw std::runtime_error("MP3: the encoder refuses its settings");

    std::vector<std::uint8_t> out;
    constexpr int Block = 8192; // frames per call
    std::vector<unsigned char> buffer(std::size_t(1.25 * Block + 7200));
    const std::size_t frames = stereo.size() / 2;
    for (std::size_t first = 0; first < frames; first += Block) {
        const int count = static_cast<int>(std::min<std::size_t>(Block, frames - first));
        const int written = lame_encode_buffer_interleaved_ieee_float(
            lame.get(), &stereo[2 * first], count, buffer.data(), static_cast<int>(buffer.size()));
        if (written < 0)
            throw std::runtime_error("MP3: encoding failed with code " + std::to_string(written));
        out.insert(out.end(), buffer.begin(), buffer.begin() + written);
    }
    const int written = lame_encode_flush(lame.get(), buffer.data(), static_cast<int>(buffer.size()));
    if (written < 0)
        throw std::runtime_error("MP3: flushing failed with code " + std::to_string(written));
    out.insert(out.end(), buffer.begin(), buffer.begin() + written);
    // The first frame was left for the information frame, which needs the
    // totals.
    std::vector<unsigned char> tag(4096);
    const std::size_t tagSize = lame_get_lametag_frame(lame.get(), tag.data(), tag.size());
    if (tagSize > 0 && tagSize <= out.size())
        std::copy_n(tag.begin(), tagSize, out.begin());
    return out;
}

} // namespace vendrake::demo
