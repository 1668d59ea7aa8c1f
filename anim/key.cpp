#include "anim/key.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace vendrake {

void TAnimValueArray::SetCount(int count)
{
    count = std::max(count, 0);
    if (count <= InlineCount) {
        if (FCount > InlineCount) {
            std::copy_n(FHeap.begin(), count, FInline.begin());
            std::vector<TAnimValue>().swap(FHeap);
        } else {
            std::fill(FInline.begin() + count, FInline.end(), TAnimValue{});
        }
    } else if (FCount <= InlineCount) {
        FHeap.assign(static_cast<std::size_t>(count), TAnimValue{});
        std::copy_n(FInline.begin(), FCount, FHeap.begin());
        FInline.fill(TAnimValue{});
    } else {
        FHeap.resize(static_cast<std::size_t>(count));
    }
    FCount = count;
}

namespace {
// Stamps are drawn from one counter so that two lists never share one, not
// even after one has been moved into the other.
std::uint64_t NextStamp()
{
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}
} // namespace

TAnimKeyList::TAnimKeyList() : FStamp(NextStamp()) {}

TAnimKeyList::TAnimKeyList(TAnimKeyList&& other) noexcept
    : FBlocks(std::move(other.FBlocks)), FCount(std::exchange(other.FCount, 0)),
      FChannelCount(other.FChannelCount), FStamp(NextStamp())
{
    other.FBlocks.clear();
    other.Touch();
}

TAnimKeyList& TAnimKeyList::operator=(TAnimKeyList&& other) noexcept
{
    if (this != &other) {
        FBlocks = std::move(other.FBlocks);
        FCount = std::exchange(other.FCount, 0);
        FChannelCount = other.FChannelCount;
        other.FBlocks.clear();
        other.Touch();
        Touch();
    }
    return *this;
}

void TAnimKeyList::Touch() { FStamp = NextStamp(); }

void TAnimKeyList::SetChannelCount(int n)
{
    if (FCount == 0)
        FChannelCount = std::max(n, 0);
}

TAnimKey* TAnimKeyList::AddKey()
{
    const auto index = static_cast<unsigned>(FCount);
    const unsigned b = BlockOf(index);
    if (b == FBlocks.size()) {
        FBlocks.emplace_back();
        // Reserved once and never grown past, so the keys never move.
        FBlocks.back().reserve(BlockSize(b));
    }
    TAnimKey& key = FBlocks[b].emplace_back(FChannelCount);
    ++FCount;
    Touch();
    return &key;
}

TAnimKey* TAnimKeyList::Get(int index)
{
    if (index < 0 || index >= FCount)
        return nullptr;
    Touch();
    return &At(index);
}

const TAnimKey* TAnimKeyList::Get(int index) const
{
    return index >= 0 && index < FCount ? &At(index) : nullptr;
}

void TAnimKeyList::Clear()
{
    FBlocks.clear();
    FCount = 0;
    Touch();
}

bool TAnimKeyList::SearchTimesAscending() const
{
    for (int i = 0; i + 2 < FCount; ++i)
        if (!(At(i).Time <= At(i + 1).Time))
            return false;
    return true;
}

} // namespace vendrake
