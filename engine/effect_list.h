#pragma once
// TInternalEffectList: an ordered list of effects with append, indexed access
// and removal. The list shares its effects (std::shared_ptr) with whoever
// else holds them; list order is painting order.
#include "engine/effect.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace vendrake {

using TInternalEffectPtr = std::shared_ptr<TInternalEffect>;

class TInternalEffectList {
public:
    TInternalEffectList() = default;
    TInternalEffectList(const TInternalEffectList&) = delete;
    TInternalEffectList& operator=(const TInternalEffectList&) = delete;

    // Appends effect and returns it. A null effect raises std::invalid_argument.
    TInternalEffect& Add(TInternalEffectPtr effect);
    std::size_t Count() const { return FItems.size(); }
    // Indexed access; an index past the end raises std::out_of_range.
    TInternalEffect& Items(std::size_t index) const;
    TInternalEffect& operator[](std::size_t index) const { return Items(index); }
    const TInternalEffectPtr& Item(std::size_t index) const;
    // Position of effect in the list, or -1.
    std::ptrdiff_t IndexOf(const TInternalEffect* effect) const;
    bool Contains(const TInternalEffect* effect) const { return IndexOf(effect) >= 0; }
    // Removes the effect at index; out of range does nothing.
    void Delete(std::size_t index);
    void Clear() { FItems.clear(); }

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

    // A reference to effect that does not keep it alive, for lists that
    // only remember effects someone else holds (the painted list of a frame).
    static TInternalEffectPtr Unowned(TInternalEffect& effect)
    {
        return TInternalEffectPtr(TInternalEffectPtr(), &effect);
    }

private:
    std::vector<TInternalEffectPtr> FItems;
};

} // namespace vendrake
