#include "engine/property.h"

#include <bit>
#include <stdexcept>

namespace vendrake {

TPropertyLimit TPropertyLimit::FromFloat(float value)
{
    return TPropertyLimit{std::bit_cast<std::uint32_t>(value)};
}

TPropertyLimit TPropertyLimit::FromInt(std::int32_t value)
{
    return TPropertyLimit{static_cast<std::uint32_t>(value)};
}

float TPropertyLimit::AsFloat() const
{
    return std::bit_cast<float>(Bits);
}

std::int32_t TPropertyLimit::AsInt() const
{
    return static_cast<std::int32_t>(Bits);
}

TPropertyInfo& TPropertyInfoList::Add(std::unique_ptr<TPropertyInfo> item)
{
    if (!item)
        throw std::invalid_argument("TPropertyInfoList.Add: no property given");
    FItems.push_back(std::move(item));
    return *FItems.back();
}

TPropertyInfo& TPropertyInfoList::Items(std::size_t index) const
{
    if (index >= FItems.size())
        throw std::out_of_range("TPropertyInfoList: index " + std::to_string(index) +
                                " out of bounds (count " + std::to_string(FItems.size()) + ")");
    return *FItems[index];
}

std::ptrdiff_t TPropertyInfoList::IndexOf(const TPropertyInfo* item) const
{
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == item)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::unique_ptr<TPropertyInfo> TPropertyInfoList::Extract(std::size_t index)
{
    Items(index); // bounds check
    std::unique_ptr<TPropertyInfo> item = std::move(FItems[index]);
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
    return item;
}

} // namespace vendrake
