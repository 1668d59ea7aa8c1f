#include "anim/track.h"

#include "math/quaternion.h"

#include <algorithm>

namespace vendrake {

namespace {

float F(double v) { return static_cast<float>(v); }

// Hermite weights of P1, P2, the tangent leaving P1 and the tangent entering
// P2. u², u³ and 2u³ - 3u² are rounded to float on the way.
struct THermiteBasis {
    double H1, H2, H3, H4;
};

THermiteBasis HermiteBasis(float u)
{
    const float u2 = F(double(u) * u);
    const float u3 = F(double(u2) * u);
    const float a = F(2.0 * u3 - 3.0 * u2);
    return {double(a) + 1.0, -double(a), double(u3) - 2.0 * u2 + u, double(u3) - u2};
}

int CommonChannels(int channels, const TAnimKey& key) { return std::min(channels, key.ChannelCount()); }

} // namespace

void TAnim::SetChannelCount(int n)
{
    FChannelCount = std::max(n, 0);
    Values.SetCount(FChannelCount);
    Keys.SetChannelCount(FChannelCount);
}

// The span index i is the first key whose time is greater than t, or the last
// key when there is none; keys i-1 and i bracket t when 0 < i and t is before
// the last key.
int TAnim::FindSpanFromFirst(double time) const
{
    const int last = Keys.Count() - 1;
    int i = 0;
    while (i < last && double(Keys.At(i).Time) <= time)
        ++i;
    return i;
}

// For keys whose search times never decrease: "key j is at or before t" holds
// for a prefix of the keys, so the answer can be found from any starting
// point, galloping away from the hint and bisecting. A NaN time is at or
// after no key, which gives 0 like the walk from the first key.
int TAnim::FindSpanFrom(int hint, double time) const
{
    const int last = Keys.Count() - 1;
    auto atOrBefore = [&](int j) { return double(Keys.At(j).Time) <= time; };
    int lo, hi; // the answer lies in [lo, hi]
    if (hint < last && atOrBefore(hint)) {
        lo = hint + 1;
        int probe = lo;
        for (int step = 1; probe < last && atOrBefore(probe); step *= 2) {
            lo = probe + 1;
            probe = lo + std::min(step, last - lo);
        }
        hi = probe;
    } else if (hint > 0 && !atOrBefore(hint - 1)) {
        hi = hint - 1;
        int probe = hi - 1;
        for (int step = 1; probe >= 0 && !atOrBefore(probe); step *= 2) {
            hi = probe;
            probe = hi - step;
        }
        lo = std::max(probe + 1, 0);
    } else {
        return hint;
    }
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (atOrBefore(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int TAnim::FindSpan(double time)
{
    if (Keys.Stamp() != FSpanStamp) {
        FSpanStamp = Keys.Stamp();
        FSpanAscending = Keys.SearchTimesAscending();
        FSpanValid = false;
    }
    int i;
    if (FSpanAscending) {
        i = FindSpanFrom(FSpanValid ? FSpanIndex : 0, time);
    } else if (FSpanValid && time >= FSpanTime) {
        // Out-of-order keys: every key before the last answer was at or
        // before the last time, so it is at or before this later one too.
        const int last = Keys.Count() - 1;
        i = FSpanIndex;
        while (i < last && double(Keys.At(i).Time) <= time)
            ++i;
    } else {
        i = FindSpanFromFirst(time);
    }
    FSpanIndex = i;
    FSpanTime = time;
    FSpanValid = true;
    return i;
}

void TAnim::CopyLastKey()
{
    const TAnimKey& key = Keys.At(Keys.Count() - 1);
    const int channels = CommonChannels(std::min(Keys.ChannelCount(), Values.Count()), key);
    for (int c = 0; c < channels; ++c)
        Values[c].Value = key.Values[c].Value;
}

bool TAnim::Evaluate(double time)
{
    if (Interpolation > Slerp)
        return false;
    const int n = Keys.Count();
    if (n == 0)
        return false;

    const int i = RememberSpan ? FindSpan(time) : FindSpanFromFirst(time);
    if (i == 0 || time >= Keys.At(n - 1).Time) {
        CopyLastKey();
        return true;
    }

    TAnimKey& k1 = Keys.At(i - 1);
    TAnimKey& k2 = Keys.At(i);
    int channels = std::min(Keys.ChannelCount(), Values.Count());
    channels = CommonChannels(CommonChannels(channels, k1), k2);

    if (Interpolation == Step) {
        for (int c = 0; c < channels; ++c)
            Values[c].Value = k1.Values[c].Value;
        return true;
    }

    if (Interpolation == Slerp) {
        if (channels < 4)
            return false;
        const double u = (time - k1.Time) / (double(k2.Time) - k1.Time);
        const TAnimValueArray& a = k1.Values;
        const TAnimValueArray& b = k2.Values;
        const TQuat p = TQuaternion::Make(F(a[3].Value), F(a[0].Value), F(a[1].Value), F(a[2].Value));
        const TQuat q = TQuaternion::Make(F(b[3].Value), F(b[0].Value), F(b[1].Value), F(b[2].Value));
        const TQuat r = TQuaternion::Slerp(p, q, F(u));
        Values[0].Value = r.x;
        Values[1].Value = r.y;
        Values[2].Value = r.z;
        Values[3].Value = r.w;
        return true;
    }

    const float d = F(double(k2.Time) - k1.Time);
    const float u = F((time - k1.Time) / d);

    if (Interpolation == Linear) {
        for (int c = 0; c < channels; ++c)
            Values[c].Value = (1.0 - u) * k1.Values[c].Value + double(u) * k2.Values[c].Value;
        return true;
    }

    // The splines also read the keys either side of the span. The key after
    // it counts only when another key follows; in the span that ends at the
    // second-to-last key, the end key stands in for it.
    TAnimKey& k0 = i >= 2 ? Keys.At(i - 2) : k1;
    TAnimKey& k3 = i < n - 2 ? Keys.At(i + 1) : k2;
    channels = CommonChannels(CommonChannels(channels, k0), k3);
    const THermiteBasis h = HermiteBasis(u);

    if (Interpolation == KochanekBartels) {
        const double t1 = 1.0 - k1.Tension, t2 = 1.0 - k2.Tension;
        const float a = F(t1 * (1.0 + k1.Continuity) * (1.0 + k1.Bias));
        const float b = F(t1 * (1.0 - k1.Continuity) * (1.0 - k1.Bias));
        const float c = F(t2 * (1.0 - k2.Continuity) * (1.0 + k2.Bias));
        const float e = F(t2 * (1.0 + k2.Continuity) * (1.0 - k2.Bias));
        // Tangents scaled for uneven key spacing; 1 where a neighbour is missing.
        const float s1 = &k0 == &k1 ? 1.0f : F(double(d) / (double(k2.Time) - k0.Time));
        const float s2 = &k3 == &k2 ? 1.0f : F(double(d) / (double(k3.Time) - k1.Time));
        for (int ch = 0; ch < channels; ++ch) {
            const double p0 = k0.Values[ch].Value, p1 = k1.Values[ch].Value;
            const double p2 = k2.Values[ch].Value, p3 = k3.Values[ch].Value;
            const float delta = F(p2 - p1);
            const float out1 = F((a * (p1 - p0) + double(b) * delta) * s1);
            const float in2 = F((double(c) * delta + e * (p3 - p2)) * s2);
            Values[ch].Value = h.H1 * p1 + h.H2 * p2 + h.H3 * out1 + h.H4 * in2;
        }
        return true;
    }

    // Hermite.
    for (int ch = 0; ch < channels; ++ch) {
        TAnimValue& v1 = k1.Values[ch];
        TAnimValue& v2 = k2.Values[ch];
        if (AutoTangents) {
            const double p0 = k0.Values[ch].Value, p3 = k3.Values[ch].Value;
            const float delta = F(v2.Value - v1.Value);
            v1.OutTangent = F(0.5 * (v1.Value - p0) + delta);
            v2.InTangent = F(0.5 * (p3 - v2.Value) + delta);
        }
        Values[ch].Value = h.H1 * v1.Value + h.H2 * v2.Value + h.H3 * v1.OutTangent + h.H4 * v2.InTangent;
    }
    return true;
}

} // namespace vendrake
