#pragma once
// TPropertyInfo: one named, typed input or output of an effect, and
// TPropertyInfoList, the ordered list an effect keeps them in.
//
// A plug-in is handed the address of a property's Value block and may keep it
// for as long as the effect lives, so a property never moves: it can be
// neither copied nor moved, and the list holds each one by unique_ptr.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vendrake {

class TInternalEffect;

// Min and Max of a property: 32 bits that hold a float for a FLOAT property,
// a signed integer for an INT property, and 0 for any other type.
struct TPropertyLimit {
    static TPropertyLimit FromFloat(float value);
    static TPropertyLimit FromInt(std::int32_t value);
    float AsFloat() const;
    std::int32_t AsInt() const;

    std::uint32_t Bits = 0;
};

// Announces a property to the plug-in: its name and the address of its Value.
using TPropertyRegister = std::function<void(const std::string& name, void* value)>;

class TPropertyInfo {
public:
    static constexpr std::size_t ValueBytes = 20;

    TPropertyInfo() = default;
    TPropertyInfo(const TPropertyInfo&) = delete;
    TPropertyInfo& operator=(const TPropertyInfo&) = delete;

    std::string Name;
    std::string PropType; // as the descriptor wrote it, e.g. "FLOAT" or "Int"
    // The plug-in's storage for this property. The host never reads or writes
    // it; aligned so that a plug-in may keep doubles or pointers there.
    alignas(8) std::array<std::uint8_t, ValueBytes> Value{};
    // The property (normally another effect's output) that feeds this input;
    // the render thread paints its owner first. Not owned.
    TPropertyInfo* Link = nullptr;
    TInternalEffect* Owner = nullptr;
    // The owner's AddProperty for an input, AddOutput for an output.
    TPropertyRegister Register;
    TPropertyLimit Min;
    TPropertyLimit Max;
};

// Ordered list of properties with append, indexed access and removal. The
// list owns its properties: they live, at fixed addresses, until removed or
// until the list (and with it the effect) goes.
class TPropertyInfoList {
public:
    TPropertyInfoList() = default;
    TPropertyInfoList(const TPropertyInfoList&) = delete;
    TPropertyInfoList& operator=(const TPropertyInfoList&) = delete;

    // Appends item and returns it. A null item raises std::invalid_argument.
    TPropertyInfo& Add(std::unique_ptr<TPropertyInfo> item);
    std::size_t Count() const { return FItems.size(); }
    // Indexed access; an index past the end raises std::out_of_range.
    TPropertyInfo& Items(std::size_t index) const;
    TPropertyInfo& operator[](std::size_t index) const { return Items(index); }
    // Position of item in the list, or -1.
    std::ptrdiff_t IndexOf(const TPropertyInfo* item) const;
    // Takes the property out of the list and hands it to the caller, who
    // decides how long its Value must outlive the removal.
    std::unique_ptr<TPropertyInfo> Extract(std::size_t index);
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TPropertyInfo>> FItems;
};

} // namespace vendrake
