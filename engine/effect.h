#pragma once
// TInternalEffect: one visual layer the render thread paints each frame.
//
// By itself an effect is the host-side proxy of an effect that lives in a
// plug-in library (engine/plugin_api.h): construction loads the library (or
// takes a loaded module), binds its entry points, creates the plug-in's
// instance, reads its descriptor and announces every property to it. Init and
// Render are then forwarded to the plug-in. Built-in effects derive from it,
// use the plain constructor and override Init and Render.
//
// Effects are shared: an effect list holds std::shared_ptr, and an effect
// lives as long as the lists (or other holders) that keep it. Its properties
// live exactly as long as the effect, at fixed addresses, because the plug-in
// keeps the addresses of their Value blocks.
#include "engine/plugin_api.h"
#include "engine/property.h"
#include "platform/dynamic_library.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace vendrake {

class TInternalEffect;
struct TEffectRegistration;

// Raised when a plug-in effect cannot be constructed: its library does not
// load, lacks "fx_create", or hands over an unusable descriptor.
class EEffectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A class reference for effects: names an effect class, builds an effect of
// it from a registration record, and knows its base class.
class TEffectClass {
public:
    using TFactory = std::shared_ptr<TInternalEffect> (*)(const TEffectRegistration&);

    constexpr TEffectClass(std::string_view name, const TEffectClass* parent, TFactory factory)
        : FName(name), FParent(parent), FFactory(factory)
    {
    }
    TEffectClass(const TEffectClass&) = delete;
    TEffectClass& operator=(const TEffectClass&) = delete;

    std::string_view Name() const { return FName; }
    const TEffectClass* Parent() const { return FParent; }
    // The virtual constructor: a new effect of this class, constructed from
    // the record when the class takes one (as TInternalEffect does), with its
    // plain constructor otherwise; none for a class that cannot be created.
    std::shared_ptr<TInternalEffect> Create(const TEffectRegistration& info) const
    {
        return FFactory ? FFactory(info) : nullptr;
    }
    // True for this class and every class derived from base.
    bool InheritsFrom(const TEffectClass& base) const;

private:
    std::string_view FName;
    const TEffectClass* FParent;
    TFactory FFactory;
};

template <class T> std::shared_ptr<TInternalEffect> MakeEffectOf(const TEffectRegistration& info)
{
    if constexpr (std::is_abstract_v<T>)
        return nullptr;
    else if constexpr (std::is_constructible_v<T, const TEffectRegistration&>)
        return std::make_shared<T>(info);
    else if constexpr (std::is_default_constructible_v<T>)
        return std::make_shared<T>();
    else
        return nullptr;
}

// What CreateFromInfo reads to build an effect.
struct TEffectRegistration {
    std::string LibraryName;
    HMODULE Module = nullptr;  // null: load LibraryName
    std::string EffectName;
    const TEffectClass* EffectClass = nullptr;
};

// The plug-in's entry points, in the order they are bound; null when the
// library does not export the name.
struct TEffectEntryPoints {
    TFxCreate Create = nullptr;
    // Bound to "getinfo" first and then to "getfxinfo": after binding it
    // holds "getfxinfo", or null when only "getinfo" is exported.
    TFxGetInfo GetInfo = nullptr;
    TFxInit Init = nullptr;
    TFxRender Render = nullptr;
    FARPROC Start = nullptr;  // looked up, never called
    TFxAddProp AddProp = nullptr;
    TFxAddOutput AddOutput = nullptr;
    FARPROC Dispose = nullptr;  // looked up, never called
    TFxSetGL SetGL = nullptr;
};

class TInternalEffect {
public:
    static const TEffectClass& ClassRef();
    virtual const TEffectClass& EffectClass() const { return ClassRef(); }

    // Create: an effect without plug-in; handle -1, no properties, no type.
    TInternalEffect();
    // CreateFromModule: binds the entry points of a library the caller has
    // loaded and keeps loaded, then creates the instance.
    TInternalEffect(HMODULE module, std::string effectName);
    // CreateFromLibrary: loads the library, binds, creates the instance. The
    // effect unloads the library when it goes.
    TInternalEffect(std::string libraryName, std::string effectName);
    // CreateFromInfo: a plug-in proxy when the record's class is exactly
    // TInternalEffect (from its module when it has one, else from its
    // library), a plain effect for any other class, derived ones included.
    explicit TInternalEffect(const TEffectRegistration& info);

    // The same four as shared effects, ready for an effect list.
    static std::shared_ptr<TInternalEffect> Create();
    static std::shared_ptr<TInternalEffect> CreateFromModule(HMODULE module, std::string effectName);
    static std::shared_ptr<TInternalEffect> CreateFromLibrary(std::string libraryName,
                                                              std::string effectName);
    static std::shared_ptr<TInternalEffect> CreateFromInfo(const TEffectRegistration& info);

    // Neither calls "fx_dispose" nor touches the properties' values; unloads
    // the library only when this effect loaded it.
    virtual ~TInternalEffect();
    TInternalEffect(const TInternalEffect&) = delete;
    TInternalEffect& operator=(const TInternalEffect&) = delete;

    // Virtual operations, in slot order after the constructors.
    virtual void Reserved() {}
    // Forwards to "fx_init"(handle, 0) when there is an instance; Param is not
    // passed on.
    virtual void Init(std::int32_t Param);
    // Forwards to "fx_render"(handle, Time, Delta) when there is an instance.
    // Both values are in hundredths of a second.
    virtual void Render(float Time, float Delta);
    // The descriptor text from "getfxinfo", or empty without that entry.
    virtual std::string GetDescriptor();
    // Announce a property or an output and the address of its Value to the
    // plug-in, when there is an instance. During construction these are the
    // base versions, whatever the class.
    virtual void AddProperty(const std::string& Name, void* Value);
    virtual void AddOutput(const std::string& Name, void* Value);

    // Loads the library when no module is set yet and binds every entry
    // point. A library that does not load raises EEffectError with the
    // loader's reason.
    void BindEntryPoints();
    // Creates the plug-in instance and reads its descriptor. Without
    // "fx_create" it raises EEffectError naming the library.
    void CreateInstance();
    // Fills the type and the two property lists from a descriptor text and
    // announces each property as it is filed.
    void ParseDescriptor(const char* Text);

    const std::string& LibraryName() const { return FLibraryName; }
    HMODULE Module() const { return FModule; }
    const std::string& EffectName() const { return FEffectName; }
    std::int32_t Handle() const { return FHandle; }
    const TEffectEntryPoints& EntryPoints() const { return FEntryPoints; }
    // Inputs (INIT and RUNTIME sections) and outputs (OUTPUT section). Open
    // to a wiring step, which may link inputs to other effects' properties.
    TPropertyInfoList& Properties() { return FProperties; }
    const TPropertyInfoList& Properties() const { return FProperties; }
    TPropertyInfoList& Outputs() { return FOutputs; }
    const TPropertyInfoList& Outputs() const { return FOutputs; }
    // "Painter", in any letter case, makes the render thread paint the effect.
    const std::string& EffectType() const { return FEffectType; }
    void SetEffectType(std::string value) { FEffectType = std::move(value); }

protected:
    // Where errors say the effect came from: the library's name, or the
    // effect's name for a module handed in.
    std::string Origin() const;

    std::string FLibraryName;
    HMODULE FModule = nullptr;
    std::string FEffectName;
    std::int32_t FHandle = -1;
    TEffectEntryPoints FEntryPoints;
    TPropertyInfoList FProperties;
    TPropertyInfoList FOutputs;
    std::string FEffectType;

private:
    void InitFromModule(HMODULE module, std::string effectName);
    void InitFromLibrary(std::string libraryName, std::string effectName);

    // Set when BindEntryPoints loaded the library itself.
    TDynamicLibrary FOwnLibrary;
};

} // namespace vendrake

// Declares the class reference of an effect class. Put it at the top of the
// body of every class derived from TInternalEffect:
//     class TMyEffect : public TInternalEffect {
//         VENDRAKE_EFFECT_CLASS(TMyEffect, TInternalEffect)
//     public: ...
#define VENDRAKE_EFFECT_CLASS(Class, Base)                                                        \
public:                                                                                           \
    static const ::vendrake::TEffectClass& ClassRef()                                             \
    {                                                                                             \
        static const ::vendrake::TEffectClass ref(#Class, &Base::ClassRef(),                      \
                                                  &::vendrake::MakeEffectOf<Class>);              \
        return ref;                                                                               \
    }                                                                                             \
    const ::vendrake::TEffectClass& EffectClass() const override { return ClassRef(); }
