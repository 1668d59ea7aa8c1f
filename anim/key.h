#pragma once
// Keys of an animation track: a time, the spline parameters, and one value
// per channel.
//
// Storage is laid out for the per-frame search. A key keeps up to four
// channels inline (positions have three, rotations four), and the key list
// stores keys by value in blocks that never move, so walking the keys reads
// contiguous memory and a key pointer handed out by AddKey or Get stays valid
// for as long as the list lives.
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace vendrake {

// One channel of a key or of a track's result.
struct TAnimValue {
    double Value = 0;
    float InTangent = 0;
    float OutTangent = 0;
};
static_assert(sizeof(TAnimValue) == 16);

// A growable array of channel records; new elements are zero.
class TAnimValueArray {
public:
    static constexpr int InlineCount = 4;

    TAnimValueArray() = default;
    explicit TAnimValueArray(int count) { SetCount(count); }

    int Count() const { return FCount; }
    // A negative count is taken as 0.
    void SetCount(int count);

    TAnimValue* data() { return FCount > InlineCount ? FHeap.data() : FInline.data(); }
    const TAnimValue* data() const { return FCount > InlineCount ? FHeap.data() : FInline.data(); }
    TAnimValue& operator[](int i) { return data()[i]; }
    const TAnimValue& operator[](int i) const { return data()[i]; }
    TAnimValue* begin() { return data(); }
    TAnimValue* end() { return data() + FCount; }
    const TAnimValue* begin() const { return data(); }
    const TAnimValue* end() const { return data() + FCount; }

private:
    int FCount = 0;
    // Inline slots past FCount are kept zero, so growing again yields zeros.
    std::array<TAnimValue, InlineCount> FInline{};
    std::vector<TAnimValue> FHeap; // all elements, once there are more than InlineCount
};

class TAnimKey {
public:
    explicit TAnimKey(int channelCount = 0) { SetChannelCount(channelCount); }

    int ChannelCount() const { return Values.Count(); }
    void SetChannelCount(int n) { Values.SetCount(n); }

    float Tension = 0;
    float Bias = 0;
    float Continuity = 0;
    float Time = 0;
    TAnimValueArray Values;
};

// The keys of one track, in the order they were added. Nothing sorts them;
// tracks expect non-decreasing times.
//
// A track remembers where its last evaluation landed in this list. Every
// change the list can see (AddKey, Clear, and handing out a key for writing
// through the non-const Get) gives the list a new Stamp, which makes its
// tracks search afresh. A key time edited through a pointer kept from before
// an evaluation is not seen: fetch the key again with Get to edit it.
class TAnimKeyList {
public:
    TAnimKeyList();
    TAnimKeyList(const TAnimKeyList&) = delete;
    TAnimKeyList& operator=(const TAnimKeyList&) = delete;
    TAnimKeyList(TAnimKeyList&& other) noexcept;
    TAnimKeyList& operator=(TAnimKeyList&& other) noexcept;
    ~TAnimKeyList() = default;

    int ChannelCount() const { return FChannelCount; }
    // The channel count of keys still to be added; ignored once the list holds
    // a key, since keys keep the count they were created with.
    void SetChannelCount(int n);

    int Count() const { return FCount; }
    // Appends a key with ChannelCount channels and returns it.
    TAnimKey* AddKey();
    // The key at index, or nullptr outside 0..Count-1.
    TAnimKey* Get(int index);
    const TAnimKey* Get(int index) const;
    void Clear();

    // Changes whenever the list may have changed; unique across all lists.
    std::uint64_t Stamp() const { return FStamp; }
    // True when the times of all keys but the last never decrease (a NaN time
    // counts as a decrease): the keys a span search compares t with.
    bool SearchTimesAscending() const;

private:
    friend class TAnim;

    // Block b >= 1 holds keys [FirstBlockSize << (b - 1), FirstBlockSize << b);
    // block 0 holds the first FirstBlockSize keys.
    static constexpr unsigned FirstBlockShift = 3;
    static constexpr unsigned FirstBlockSize = 1u << FirstBlockShift;

    static unsigned BlockOf(unsigned index) { return static_cast<unsigned>(std::bit_width(index >> FirstBlockShift)); }
    static unsigned BlockStart(unsigned block) { return block == 0 ? 0 : FirstBlockSize << (block - 1); }
    static unsigned BlockSize(unsigned block) { return block == 0 ? FirstBlockSize : BlockStart(block); }

    // Unchecked access for the evaluation, which must not touch the stamp.
    TAnimKey& At(int index)
    {
        const auto i = static_cast<unsigned>(index);
        const unsigned b = BlockOf(i);
        return FBlocks[b][i - BlockStart(b)];
    }
    const TAnimKey& At(int index) const
    {
        const auto i = static_cast<unsigned>(index);
        const unsigned b = BlockOf(i);
        return FBlocks[b][i - BlockStart(b)];
    }
    void Touch();

    std::vector<std::vector<TAnimKey>> FBlocks; // each reserved to its full size up front
    int FCount = 0;
    int FChannelCount = 0;
    std::uint64_t FStamp = 0;
};

} // namespace vendrake
