// Cost of one TAnim::Evaluate on tracks of 10 to 100,000 keys: time moving on
// by one frame per call (the player's case), and jumping to random times.
// The *FromFirst variants walk from the first key on every call, for scale.
#include "anim/track.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using vendrake::TAnim;
using vendrake::TAnimKey;

// Keys one scene unit apart (a tenth of a second); values on a smooth path,
// quaternions kept unit length and sign-aligned.
TAnim MakeTrack(int keyCount, std::uint8_t scheme)
{
    TAnim track;
    track.Interpolation = scheme;
    track.AutoTangents = true;
    track.SetChannelCount(scheme == TAnim::Slerp ? 4 : 3);
    for (int k = 0; k < keyCount; ++k) {
        TAnimKey* key = track.Keys.AddKey();
        key->Time = static_cast<float>(k);
        const double a = 0.05 * k;
        if (scheme == TAnim::Slerp) {
            key->Values[2].Value = std::sin(a);
            key->Values[3].Value = std::cos(a);
        } else {
            key->Values[0].Value = 100 * std::cos(a);
            key->Values[1].Value = 100 * std::sin(a);
            key->Values[2].Value = k;
        }
    }
    return track;
}

// A frame at 60 frames per second on the scene clock (10 units per second).
constexpr double Frame = 10.0 / 60.0;

void FrameByFrame(benchmark::State& state, std::uint8_t scheme, bool rememberSpan)
{
    const int keys = static_cast<int>(state.range(0));
    TAnim track = MakeTrack(keys, scheme);
    track.RememberSpan = rememberSpan;
    double time = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(track.Evaluate(time));
        benchmark::DoNotOptimize(track.Values[0].Value);
        time += Frame;
        if (time > keys)
            time = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void RandomTimes(benchmark::State& state, std::uint8_t scheme, bool rememberSpan)
{
    const int keys = static_cast<int>(state.range(0));
    TAnim track = MakeTrack(keys, scheme);
    track.RememberSpan = rememberSpan;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> pick(0, keys);
    std::vector<double> times(4096);
    for (double& t : times)
        t = pick(rng);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(track.Evaluate(times[i]));
        benchmark::DoNotOptimize(track.Values[0].Value);
        i = (i + 1) % times.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(10)->Arg(1000)->Arg(100000); }

BENCHMARK_CAPTURE(FrameByFrame, KochanekBartels, TAnim::KochanekBartels, true)->Apply(Sizes);
BENCHMARK_CAPTURE(FrameByFrame, Linear, TAnim::Linear, true)->Apply(Sizes);
BENCHMARK_CAPTURE(FrameByFrame, Hermite, TAnim::Hermite, true)->Apply(Sizes);
BENCHMARK_CAPTURE(FrameByFrame, Slerp, TAnim::Slerp, true)->Apply(Sizes);
BENCHMARK_CAPTURE(RandomTimes, KochanekBartels, TAnim::KochanekBartels, true)->Apply(Sizes);
BENCHMARK_CAPTURE(FrameByFrame, KochanekBartelsFromFirst, TAnim::KochanekBartels, false)->Apply(Sizes);
BENCHMARK_CAPTURE(RandomTimes, KochanekBartelsFromFirst, TAnim::KochanekBartels, false)->Apply(Sizes);

} // namespace
