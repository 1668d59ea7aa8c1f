#include "engine/effect_list.h"

#include <stdexcept>
#include <string>

namespace vendrake {

TInternalEffect& TInternalEffectList::Add(TInternalEffectPtr effect)
{
    if (!effect)
        throw std::invalid_argument("TInternalEffectList.Add: no effect given");
    FItems.push_back(std::move(effect));
    return *FItems.back();
}

const TInternalEffectPtr& TInternalEffectList::Item(std::size_t index) const
{
    if (index >= FItems.size())
        throw std::out_of_range("TInternalEffectList: index " + std::to_string(index) +
                                " out of bounds (count " + std::to_string(FItems.size()) + ")");
    return FItems[index];
}

TInternalEffect& TInternalEffectList::Items(std::size_t index) const
{
    return *Item(index);
}

std::ptrdiff_t TInternalEffectList::IndexOf(const TInternalEffect* effect) const
{
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == effect)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

void TInternalEffectList::Delete(std::size_t index)
{
    if (index < FItems.size())
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
}

} // namespace vendrake
