#pragma once
// TAnim: an animation track. It holds keys with one value per channel and
// computes the channel values for any time, by one of five schemes.
//
// Built on the main thread while the scene loads, then evaluated once per
// frame on the render thread; the two never overlap and nothing is locked.
#include "anim/key.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vendrake {

class TAnim {
public:
    // Interpolation codes.
    static constexpr std::uint8_t Step = 0;            // value of the key at or before the time
    static constexpr std::uint8_t Linear = 1;
    static constexpr std::uint8_t KochanekBartels = 2; // tension, continuity, bias per key
    static constexpr std::uint8_t Hermite = 3;         // tangents from neighbours or as stored
    static constexpr std::uint8_t Slerp = 4;           // channels x, y, z, w of a quaternion

    TAnim() = default;
    TAnim(const TAnim&) = delete;
    TAnim& operator=(const TAnim&) = delete;
    TAnim(TAnim&&) = default;
    TAnim& operator=(TAnim&&) = default;

    int ChannelCount() const { return FChannelCount; }
    // Sizes Values and sets the channel count of keys still to be added.
    void SetChannelCount(int n);

    // Writes Values for the given time. Returns false, leaving Values as they
    // are, when there is no key, the interpolation code is unknown, or a
    // quaternion span lacks one of its four channels. Allocates nothing.
    //
    // Before the first key and from the last key on, the result is the last
    // key's values. Channels are those that Values and the keys involved all
    // have.
    bool Evaluate(double time);

    std::string Name;
    // Hermite only: derive the tangents from the neighbouring keys and store
    // them in the span's keys.
    bool AutoTangents = false;
    std::shared_ptr<void> Data; // owned by the track; not used by the evaluation
    TAnimKeyList Keys;
    TAnimValueArray Values; // Value of each channel at the last evaluated time
    std::uint8_t Interpolation = KochanekBartels;
    // Start each span search where the last one ended. Off, every search walks
    // from the first key; the results are the same either way.
    bool RememberSpan = true;

private:
    int FindSpan(double time);
    int FindSpanFromFirst(double time) const;
    int FindSpanFrom(int hint, double time) const;
    void CopyLastKey();

    int FChannelCount = 0;
    // Where the last search landed, and for which keys and time.
    std::uint64_t FSpanStamp = 0;
    bool FSpanAscending = false;
    bool FSpanValid = false;
    int FSpanIndex = 0;
    double FSpanTime = 0;
};

} // namespace vendrake
