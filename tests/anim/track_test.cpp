#include "anim/track.h"
#include "math/quaternion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

using namespace vendrake;

namespace {

const std::uint8_t AllSchemes[] = {TAnim::Step, TAnim::Linear, TAnim::KochanekBartels, TAnim::Hermite,
                                   TAnim::Slerp};
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

TAnim Track(std::uint8_t scheme, int channels)
{
    TAnim track;
    track.Interpolation = scheme;
    track.SetChannelCount(channels);
    return track;
}

// A one-channel track with (time, value) keys.
TAnim Track(std::uint8_t scheme, std::vector<std::pair<float, double>> keys)
{
    TAnim track = Track(scheme, 1);
    for (auto [time, value] : keys) {
        TAnimKey* key = track.Keys.AddKey();
        key->Time = time;
        key->Values[0].Value = value;
    }
    return track;
}

double ValueAt(TAnim& track, double time)
{
    EXPECT_TRUE(track.Evaluate(time)) << "t = " << time;
    return track.Values[0].Value;
}

void AddQuatKey(TAnim& track, float time, float x, float y, float z, float w)
{
    TAnimKey* key = track.Keys.AddKey();
    key->Time = time;
    const float v[] = {x, y, z, w};
    for (int c = 0; c < 4; ++c)
        key->Values[c].Value = v[c];
}

} // namespace

TEST(Anim, NoKeysOrAnUnknownSchemeFailAndLeaveTheValues)
{
    for (std::uint8_t scheme : AllSchemes) {
        TAnim track = Track(scheme, 4);
        track.Values[0].Value = 123;
        EXPECT_FALSE(track.Evaluate(1));
        EXPECT_EQ(track.Values[0].Value, 123);
    }
    TAnim track = Track(7, {{0, 0}, {10, 10}});
    track.Values[0].Value = 123;
    for (double t : {-5.0, 5.0, 25.0}) {
        EXPECT_FALSE(track.Evaluate(t));
        EXPECT_EQ(track.Values[0].Value, 123);
    }
}

TEST(Anim, OneKeyGivesItsValuesAtEveryTime)
{
    for (std::uint8_t scheme : AllSchemes) {
        TAnim track = Track(scheme, 4);
        AddQuatKey(track, 5, 0.5f, -0.5f, 0.5f, 0.5f);
        for (double t : {-100.0, 5.0, 1e9, NaN, -Inf}) {
            ASSERT_TRUE(track.Evaluate(t));
            EXPECT_EQ(track.Values[1].Value, -0.5) << int(scheme) << " t = " << t;
            EXPECT_EQ(track.Values[3].Value, 0.5);
        }
    }
}

TEST(Anim, LinearAndStepOnThreeKeys)
{
    TAnim linear = Track(TAnim::Linear, {{0, 0}, {10, 10}, {20, 40}});
    // Before the first key the result is the last key, not the first.
    const std::pair<double, double> linearCases[] = {{-5, 40}, {0, 0}, {5, 5}, {10, 10}, {15, 25}, {20, 40}, {25, 40}};
    for (auto [t, expected] : linearCases)
        EXPECT_EQ(ValueAt(linear, t), expected) << "t = " << t;

    TAnim step = Track(TAnim::Step, {{0, 0}, {10, 10}, {20, 40}});
    const std::pair<double, double> stepCases[] = {{-5, 40}, {0, 0}, {9.99, 0}, {10, 10}, {15, 10}, {20, 40}};
    for (auto [t, expected] : stepCases)
        EXPECT_EQ(ValueAt(step, t), expected) << "t = " << t;
}

TEST(Anim, SpanFractionIsRoundedToFloatExceptForQuaternions)
{
    TAnim linear = Track(TAnim::Linear, {{0, 0}, {3, 3}});
    EXPECT_EQ(ValueAt(linear, 1), 3.0 * double(float(1.0 / 3.0)));
    EXPECT_NE(ValueAt(linear, 1), 1.0);

    // Quaternions divide by the span length unrounded: 1000 - 0.1f is no
    // float, and rounding it would move the fraction, and the z below, by one
    // float step.
    const float s45 = static_cast<float>(std::sin(std::numbers::pi / 4));
    TAnim turn = Track(TAnim::Slerp, 4);
    AddQuatKey(turn, 0.1f, 0, 0, 0, 1);
    AddQuatKey(turn, 1000, 0, 0, s45, s45);
    ASSERT_TRUE(turn.Evaluate(1));
    const float u = static_cast<float>((1 - double(0.1f)) / (1000 - double(0.1f)));
    const TQuat r = TQuaternion::Slerp(TQuaternion::Make(1, 0, 0, 0), TQuaternion::Make(s45, 0, 0, s45), u);
    EXPECT_EQ(turn.Values[2].Value, r.z);
    EXPECT_EQ(turn.Values[3].Value, r.w);
}

TEST(Anim, EverySchemeGivesAKeysOwnValueAtItsTime)
{
    const float quats[][4] = {{0, 0, 0, 1}, {0, 0.6f, 0, 0.8f}, {0.8f, 0, 0, 0.6f}, {0, 0, 1, 0}, {0, 0.6f, 0, 0.8f}};
    for (std::uint8_t scheme : AllSchemes) {
        TAnim track = Track(scheme, 4);
        track.AutoTangents = true;
        for (int k = 0; k < 5; ++k)
            AddQuatKey(track, 10.0f * k + (k == 3 ? 2.5f : 0.0f), quats[k][0], quats[k][1], quats[k][2], quats[k][3]);
        for (int k = 0; k < 4; ++k) {
            const TAnimKey& key = *std::as_const(track.Keys).Get(k);
            ASSERT_TRUE(track.Evaluate(key.Time));
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(track.Values[c].Value, key.Values[c].Value) << int(scheme) << " key " << k << " channel " << c;
        }
    }
}

TEST(Anim, KochanekBartelsTangents)
{
    const double p[] = {0, 3, -2, 5, 1};
    TAnim track = Track(TAnim::KochanekBartels, {{0, p[0]}, {10, p[1]}, {20, p[2]}, {30, p[3]}, {40, p[4]}});

    // Zero parameters on even keys: Catmull-Rom on a span with a key before it
    // and two after it.
    for (double u : {0.1, 0.25, 0.5, 0.9}) {
        const double catmullRom = 0.5 * (2 * p[1] + (p[2] - p[0]) * u + (2 * p[0] - 5 * p[1] + 4 * p[2] - p[3]) * u * u +
                                         (3 * p[1] - p[0] - 3 * p[2] + p[3]) * u * u * u);
        EXPECT_NEAR(ValueAt(track, 10 + 10 * u), catmullRom, 1e-5) << "u = " << u;
    }

    // Velocity stays continuous across a key between unevenly spaced spans.
    TAnim uneven = Track(TAnim::KochanekBartels, {{0, 0}, {4, 3}, {10, -2}, {30, 5}, {31, 1}});
    const double eps = 1e-3;
    const double left = (ValueAt(uneven, 4) - ValueAt(uneven, 4 - eps)) / eps;
    const double right = (ValueAt(uneven, 4 + eps) - ValueAt(uneven, 4)) / eps;
    EXPECT_NEAR(left, right, 1e-2);

    // Continuity and bias, on the span from t = 4 to 10 of those keys, worked
    // out apart from the code: textbook tangents, each (1-T)(1±C)(1±B)/2 times the
    // neighbouring difference, the one leaving a key scaled by
    // 2 N_after / (N_before + N_after) and the one entering it by
    // 2 N_before / (N_before + N_after), N the interval lengths:
    //   leaving key 1 (T 1/4, C 1/2, B -1/2): (0.28125 * 3 + 0.28125 * -5) * 2*6/(4+6) = -0.675
    //   entering key 2 (T -1/2, C -3/4, B 1/4): (1.640625 * -5 + 0.140625 * 7) * 2*6/(6+20) = -3.33173077
    // then the cubic Hermite curve on u = (t - 4) / 6.
    TAnimKey& k1 = *uneven.Keys.Get(1);
    k1.Tension = 0.25f, k1.Continuity = 0.5f, k1.Bias = -0.5f;
    TAnimKey& k2 = *uneven.Keys.Get(2);
    k2.Tension = -0.5f, k2.Continuity = -0.75f, k2.Bias = 0.25f;
    EXPECT_NEAR(ValueAt(uneven, 5.5), 2.28000300, 1e-5);
    EXPECT_NEAR(ValueAt(uneven, 7), 0.83209135, 1e-5);
    EXPECT_NEAR(ValueAt(uneven, 8.5), -0.78186599, 1e-5);

    // Tension 1 on both span keys: no tangents, a smooth step.
    track.Keys.Get(1)->Tension = 1;
    track.Keys.Get(2)->Tension = 1;
    for (double u : {0.1, 0.5, 0.8})
        EXPECT_NEAR(ValueAt(track, 10 + 10 * u), p[1] + (p[2] - p[1]) * (3 * u * u - 2 * u * u * u), 1e-5);

    // In the span ending at the second-to-last key the end key stands in for
    // the key after the span: the last key does not matter there.
    TAnim four = Track(TAnim::KochanekBartels, {{0, 0}, {10, 3}, {20, -2}, {30, 5}});
    const double before = ValueAt(four, 15);
    four.Keys.Get(3)->Values[0].Value = 500;
    EXPECT_EQ(ValueAt(four, 15), before);
}

TEST(Anim, HermiteWritesAutomaticTangentsAndReusesStoredOnes)
{
    TAnim track = Track(TAnim::Hermite, {{0, 1}, {10, 4}, {20, 6}, {30, 10}, {40, 0}});
    // Stored tangents are zero: a smooth step.
    EXPECT_NEAR(ValueAt(track, 15), 5.0, 1e-12);

    track.AutoTangents = true;
    const double value = ValueAt(track, 15);
    const TAnimKey& k1 = *std::as_const(track.Keys).Get(1);
    const TAnimKey& k2 = *std::as_const(track.Keys).Get(2);
    EXPECT_EQ(k1.Values[0].OutTangent, 0.5f * 3 + 2); // half the neighbour's difference plus the span's
    EXPECT_EQ(k2.Values[0].InTangent, 0.5f * 4 + 2);
    EXPECT_EQ(k1.Values[0].InTangent, 0.0f); // the other sides are left alone
    EXPECT_EQ(k2.Values[0].OutTangent, 0.0f);
    EXPECT_NE(value, 5.0);

    // Moving the neighbours no longer matters once the tangents are stored.
    track.AutoTangents = false;
    track.Keys.Get(0)->Values[0].Value = -50;
    track.Keys.Get(3)->Values[0].Value = 50;
    EXPECT_EQ(ValueAt(track, 15), value);
    track.AutoTangents = true;
    EXPECT_NE(ValueAt(track, 15), value);
}

TEST(Anim, SlerpHalfWayToAQuarterTurnIsAnEighthTurn)
{
    const float s45 = static_cast<float>(std::sin(std::numbers::pi / 4));
    TAnim track = Track(TAnim::Slerp, 4);
    AddQuatKey(track, 0, 0, 0, 0, 1);
    AddQuatKey(track, 10, 0, 0, s45, s45);
    ASSERT_TRUE(track.Evaluate(5));
    EXPECT_EQ(track.Values[0].Value, 0.0);
    EXPECT_EQ(track.Values[1].Value, 0.0);
    EXPECT_NEAR(track.Values[2].Value, std::sin(std::numbers::pi / 8), 1e-6);
    EXPECT_NEAR(track.Values[3].Value, std::cos(std::numbers::pi / 8), 1e-6);
}

TEST(Anim, OnlyChannelsThatValuesAndKeysAllHaveAreEvaluated)
{
    // Values shrunk below the keys' channel count: nothing is written past it.
    TAnim track = Track(TAnim::Linear, 3);
    for (float t : {0.0f, 10.0f}) {
        TAnimKey* key = track.Keys.AddKey();
        key->Time = t;
        for (auto& v : key->Values)
            v.Value = t;
    }
    track.SetChannelCount(2);
    ASSERT_EQ(track.Values.Count(), 2);
    EXPECT_EQ(ValueAt(track, 5), 5.0);
    EXPECT_EQ(track.Values[1].Value, 5.0);

    // Grown beyond them: the extra channels keep their values.
    track.SetChannelCount(5);
    track.Values[4].Value = 7;
    track.Keys.Get(1)->SetChannelCount(1); // one key shrunk behind the list's back
    EXPECT_EQ(ValueAt(track, 2.5), 2.5);
    EXPECT_EQ(track.Values[1].Value, 5.0);
    EXPECT_EQ(track.Values[4].Value, 7.0);
    ASSERT_TRUE(track.Evaluate(20)); // the last key's one channel
    EXPECT_EQ(track.Values[0].Value, 10.0);

    // A quaternion span needs all four channels.
    TAnim rotation = Track(TAnim::Slerp, 3);
    rotation.Keys.AddKey()->Time = 0;
    rotation.Keys.AddKey()->Time = 10;
    rotation.Values[0].Value = 9;
    EXPECT_FALSE(rotation.Evaluate(5));
    EXPECT_EQ(rotation.Values[0].Value, 9.0);
}

TEST(Anim, AKeyListMovedInIsSearchedAfresh)
{
    std::vector<std::pair<float, double>> keys;
    for (int i = 0; i < 100; ++i)
        keys.push_back({static_cast<float>(i), i});
    TAnim track = Track(TAnim::Linear, keys);
    EXPECT_EQ(ValueAt(track, 90.5), 90.5);
    // The span remembered there, at key 91, is not in the new list.
    track.Keys = std::move(Track(TAnim::Linear, {{0, 0}, {100, -100}}).Keys);
    EXPECT_NEAR(ValueAt(track, 90.5), -90.5, 1e-4);
}

// The remembered search must land where the walk from the first key lands,
// for ordered, tied, reversed and scrambled keys, for times in any order, and
// across key edits between evaluations.
TEST(Anim, RememberedSpanMatchesTheWalkFromTheFirstKey)
{
    std::mt19937 rng(20240611);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };

    for (int trial = 0; trial < 400; ++trial) {
        const std::uint8_t scheme = AllSchemes[trial % 5];
        const int n = trial % 40 == 0 ? 3000 : 1 + below(40);
        const int layout = below(5); // ascending, with ties, descending, scrambled, ascending but the last
        TAnim remembered = Track(scheme, 4), walked = Track(scheme, 4);
        walked.RememberSpan = false;
        remembered.AutoTangents = walked.AutoTangents = below(2) == 0;

        std::vector<float> times;
        float t = static_cast<float>(uniform(-50, 50));
        for (int k = 0; k < n; ++k) {
            times.push_back(t);
            const double step = layout == 1 && below(3) == 0 ? 0.0 : uniform(0.1, 5);
            t += static_cast<float>(layout == 2 ? -step : layout == 3 ? uniform(-5, 5) : step);
        }
        if (layout == 4)
            times.back() = times.front() - 1;
        for (float time : times) {
            const float tension = static_cast<float>(uniform(-1, 1)), bias = static_cast<float>(uniform(-1, 1));
            const double values[] = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
            for (TAnim* track : {&remembered, &walked}) {
                TAnimKey* key = track->Keys.AddKey();
                key->Time = time;
                key->Tension = tension;
                key->Bias = bias;
                for (int c = 0; c < 4; ++c)
                    key->Values[c].Value = values[c];
            }
        }

        const auto [lo, hi] = std::minmax_element(times.begin(), times.end());
        double now = *lo - 3;
        for (int step = 0; step < 300; ++step) {
            const int kind = below(20);
            if (kind < 12)
                now += uniform(0, (*hi - *lo + 6) / 40); // a frame forward
            else if (kind < 14)
                now -= uniform(0, 3);
            else if (kind < 17)
                now = uniform(*lo - 3, *hi + 3);
            else if (kind < 19)
                now = times[static_cast<std::size_t>(below(n))];
            else
                now = std::array{NaN, Inf, -Inf}[static_cast<std::size_t>(below(3))];
            if (!std::isfinite(now) && kind < 19)
                now = *lo;

            if (step % 60 == 59) { // edit both tracks alike
                const float time = static_cast<float>(uniform(*lo - 3, *hi + 3));
                const int index = below(n);
                const bool move = below(2) == 0;
                for (TAnim* track : {&remembered, &walked}) {
                    if (move)
                        track->Keys.Get(index)->Time = time;
                    else
                        track->Keys.AddKey()->Time = time;
                }
            }

            const bool a = remembered.Evaluate(now), b = walked.Evaluate(now);
            ASSERT_EQ(a, b);
            ASSERT_EQ(std::memcmp(remembered.Values.data(), walked.Values.data(), 4 * sizeof(TAnimValue)), 0)
                << "trial " << trial << " step " << step << " t = " << now;
        }
    }
}
