#include "engine/effect.h"

#include "engine/descriptor.h"
#include "engine/plugin_host.h"

#include <cstring>

namespace vendrake {

bool TEffectClass::InheritsFrom(const TEffectClass& base) const
{
    for (const TEffectClass* c = this; c; c = c->Parent())
        if (c == &base)
            return true;
    return false;
}

const TEffectClass& TInternalEffect::ClassRef()
{
    static const TEffectClass ref("TInternalEffect", nullptr, &MakeEffectOf<TInternalEffect>);
    return ref;
}

namespace {

template <class T> T Entry(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(GetProcAddress(module, name));
}

} // namespace

TInternalEffect::TInternalEffect() = default;

TInternalEffect::TInternalEffect(HMODULE module, std::string effectName)
{
    InitFromModule(module, std::move(effectName));
}

TInternalEffect::TInternalEffect(std::string libraryName, std::string effectName)
{
    InitFromLibrary(std::move(libraryName), std::move(effectName));
}

TInternalEffect::TInternalEffect(const TEffectRegistration& info)
{
    // Class identity, not derivation: a derived class builds itself.
    if (info.EffectClass != &ClassRef())
        return;
    if (info.Module)
        InitFromModule(info.Module, info.EffectName);
    else
        InitFromLibrary(info.LibraryName, info.EffectName);
}

TInternalEffect::~TInternalEffect() = default;

std::shared_ptr<TInternalEffect> TInternalEffect::Create()
{
    return std::make_shared<TInternalEffect>();
}

std::shared_ptr<TInternalEffect> TInternalEffect::CreateFromModule(HMODULE module,
                                                                   std::string effectName)
{
    return std::make_shared<TInternalEffect>(module, std::move(effectName));
}

std::shared_ptr<TInternalEffect> TInternalEffect::CreateFromLibrary(std::string libraryName,
                                                                    std::string effectName)
{
    return std::make_shared<TInternalEffect>(std::move(libraryName), std::move(effectName));
}

std::shared_ptr<TInternalEffect> TInternalEffect::CreateFromInfo(const TEffectRegistration& info)
{
    return std::make_shared<TInternalEffect>(info);
}

void TInternalEffect::InitFromModule(HMODULE module, std::string effectName)
{
    FModule = module;
    FEffectName = std::move(effectName);
    BindEntryPoints();
    CreateInstance();
}

void TInternalEffect::InitFromLibrary(std::string libraryName, std::string effectName)
{
    FLibraryName = std::move(libraryName);
    FEffectName = std::move(effectName);
    BindEntryPoints();
    CreateInstance();
}

std::string TInternalEffect::Origin() const
{
    if (!FLibraryName.empty())
        return "effect library '" + FLibraryName + "'";
    return "the module given for effect '" + FEffectName + "'";
}

void TInternalEffect::BindEntryPoints()
{
    if (!FModule) {
        TDynamicLibrary library(FLibraryName.c_str());
        if (!library.Loaded())
            throw EEffectError("cannot load effect library '" + FLibraryName +
                               "': " + LastLibraryError());
        FOwnLibrary = std::move(library);
        FModule = FOwnLibrary.Handle();
    }
    TEffectEntryPoints& e = FEntryPoints;
    // One field serves "getinfo" and "getfxinfo"; the later lookup wins,
    // even when it finds nothing.
    e.GetInfo = Entry<TFxGetInfo>(FModule, "getinfo");
    e.Create = Entry<TFxCreate>(FModule, "fx_create");
    e.Start = Entry<FARPROC>(FModule, "fx_start");
    e.Init = Entry<TFxInit>(FModule, "fx_init");
    e.Render = Entry<TFxRender>(FModule, "fx_render");
    e.GetInfo = Entry<TFxGetInfo>(FModule, "getfxinfo");
    e.AddProp = Entry<TFxAddProp>(FModule, "fx_addprop");
    e.AddOutput = Entry<TFxAddOutput>(FModule, "fx_addoutput");
    e.Dispose = Entry<FARPROC>(FModule, "fx_dispose");
    e.SetGL = Entry<TFxSetGL>(FModule, "fx_setgl");
}

void TInternalEffect::CreateInstance()
{
    if (!FEntryPoints.Create)
        throw EEffectError(Origin() + " does not export \"fx_create\"");
    if (FEntryPoints.SetGL)
        FEntryPoints.SetGL(&PluginGLLookup);
    FHandle = FEntryPoints.Create(FEffectName.c_str());
    const std::string descriptor = GetDescriptor();
    ParseDescriptor(descriptor.c_str());
}

void TInternalEffect::ParseDescriptor(const char* Text)
{
    const TDescriptorTarget target{
        .EffectType = FEffectType,
        .Properties = FProperties,
        .Outputs = FOutputs,
        .Owner = this,
        .AddProperty = [this](const std::string& name, void* value) { AddProperty(name, value); },
        .AddOutput = [this](const std::string& name, void* value) { AddOutput(name, value); },
    };
    ::vendrake::ParseDescriptor(Text, target);
}

void TInternalEffect::Init(std::int32_t)
{
    if (FEntryPoints.Init && FHandle >= 0)
        FEntryPoints.Init(FHandle, 0);
}

void TInternalEffect::Render(float Time, float Delta)
{
    if (FEntryPoints.Render && FHandle >= 0)
        FEntryPoints.Render(FHandle, Time, Delta);
}

std::string TInternalEffect::GetDescriptor()
{
    if (!FEntryPoints.GetInfo)
        return {};
    const char* text = FEntryPoints.GetInfo(FEffectName.c_str());
    if (!text)
        return {};
    // Stop looking one byte past the limit: a text without its zero byte
    // must not send the scan through the plug-in's whole address space.
    const std::size_t length = strnlen(text, FX_MAX_DESCRIPTOR + 1);
    if (length > FX_MAX_DESCRIPTOR)
        throw EEffectError("the descriptor of effect '" + FEffectName + "' from " + Origin() +
                           " is longer than " + std::to_string(FX_MAX_DESCRIPTOR) + " bytes");
    return std::string(text, length);
}

void TInternalEffect::AddProperty(const std::string& Name, void* Value)
{
    if (FEntryPoints.AddProp && FHandle >= 0)
        FEntryPoints.AddProp(FHandle, Name.c_str(), Value);
}

void TInternalEffect::AddOutput(const std::string& Name, void* Value)
{
    if (FEntryPoints.AddOutput && FHandle >= 0)
        FEntryPoints.AddOutput(FHandle, Name.c_str(), Value);
}

} // namespace vendrake
