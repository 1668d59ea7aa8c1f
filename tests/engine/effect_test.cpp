// Effects as plug-in proxies, against the sample plug-in and a logging
// plug-in built with some of its exports left out.
#include "engine/effect.h"
#include "engine/plugin_host.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

namespace vendrake {
namespace {

using Strings = std::vector<std::string>;

// Keeps a probe library loaded (an effect's own load shares it) and reads
// the calls it logged.
class TProbe {
public:
    explicit TProbe(const char* path) : FLibrary(path) { Reset(); }
    HMODULE Module() const { return FLibrary.Handle(); }
    void Reset() const { reinterpret_cast<void (*)()>(FLibrary.Symbol("probe_reset"))(); }
    Strings Log() const
    {
        std::istringstream in(reinterpret_cast<const char* (*)()>(FLibrary.Symbol("probe_log"))());
        Strings lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    TDynamicLibrary FLibrary;
};

std::string Announced(const char* call, const TPropertyInfo& property)
{
    char text[128];
    std::snprintf(text, sizeof text, "%s(7, %s, %p)", call, property.Name.c_str(),
                  static_cast<const void*>(property.Value.data()));
    return text;
}

std::string ErrorOf(auto make)
{
    try {
        make();
    } catch (const EEffectError& e) {
        return e.what();
    }
    return "(no error)";
}

void SetFloat(TPropertyInfo& property, float value)
{
    std::memcpy(property.Value.data(), &value, sizeof value);
}

float GetFloat(const TPropertyInfo& property)
{
    float value = 0;
    std::memcpy(&value, property.Value.data(), sizeof value);
    return value;
}

class TDerivedEffect : public TInternalEffect {
    VENDRAKE_EFFECT_CLASS(TDerivedEffect, TInternalEffect)
public:
    using TInternalEffect::TInternalEffect;
};

TEST(Effect, ProxyCreatesTheInstanceAndAnnouncesEachPropertyWithItsValueAddress)
{
    TProbe probe(PROBE_FULL);
    auto effect = TInternalEffect::CreateFromLibrary(PROBE_FULL, "Probe");
    EXPECT_EQ(effect->Handle(), 7);
    EXPECT_EQ(effect->Module(), probe.Module());
    // "getfxinfo" overwrote "getinfo" in their shared field.
    EXPECT_EQ(reinterpret_cast<FARPROC>(effect->EntryPoints().GetInfo),
              GetProcAddress(probe.Module(), "getfxinfo"));
    EXPECT_EQ(effect->EffectType(), "Probe");
    ASSERT_EQ(effect->Properties().Count(), 2u);
    ASSERT_EQ(effect->Outputs().Count(), 1u);
    const TPropertyInfo& speed = effect->Properties()[0];
    EXPECT_EQ(speed.Owner, effect.get());
    EXPECT_EQ(speed.Min.AsFloat(), 0.5f);
    EXPECT_EQ(effect->Properties()[1].Min.AsInt(), -5);
    EXPECT_EQ(probe.Log(), (Strings{"fx_setgl(lookup)", "fx_create(Probe)", "getfxinfo(Probe)",
                                    Announced("fx_addprop", speed),
                                    Announced("fx_addprop", effect->Properties()[1]),
                                    Announced("fx_addoutput", effect->Outputs()[0])}));

    // Init's parameter never reaches the plug-in. "getinfo", "fx_start" and
    // "fx_dispose" are never called, not even when the effect goes.
    probe.Reset();
    effect->Init(1234);
    effect->Render(1.5f, 0.25f);
    effect.reset();
    EXPECT_EQ(probe.Log(), (Strings{"fx_init(7, 0)", "fx_render(7, 1.5, 0.25)"}));
}

TEST(Effect, MissingExportsAndANegativeHandleSkipTheirCalls)
{
    {
        // "getinfo" alone is no descriptor entry, although it has a descriptor.
        TProbe probe(PROBE_GETINFO_ONLY);
        auto effect = TInternalEffect::CreateFromLibrary(PROBE_GETINFO_ONLY, "Probe");
        EXPECT_EQ(effect->EntryPoints().GetInfo, nullptr);
        EXPECT_EQ(effect->EffectType(), "");
        EXPECT_EQ(effect->Properties().Count() + effect->Outputs().Count(), 0u);
        effect->Init(3);
        EXPECT_EQ(probe.Log(), (Strings{"fx_setgl(lookup)", "fx_create(Probe)", "fx_init(7, 0)"}));
    }
    {
        // Inputs are announced; the output is filed but not announced.
        TProbe probe(PROBE_NO_ADDOUTPUT);
        auto effect = TInternalEffect::CreateFromLibrary(PROBE_NO_ADDOUTPUT, "Probe");
        ASSERT_EQ(effect->Outputs().Count(), 1u);
        effect->AddOutput("Level", nullptr);
        EXPECT_EQ(probe.Log(), (Strings{"fx_setgl(lookup)", "fx_create(Probe)", "getfxinfo(Probe)",
                                        Announced("fx_addprop", effect->Properties()[0]),
                                        Announced("fx_addprop", effect->Properties()[1])}));
    }
    {
        // No instance: the descriptor is still read and filed, but nothing
        // else reaches the plug-in.
        TProbe probe(PROBE_NEGATIVE);
        auto effect = TInternalEffect::CreateFromLibrary(PROBE_NEGATIVE, "Probe");
        EXPECT_EQ(effect->Handle(), -1);
        EXPECT_EQ(effect->Properties().Count(), 2u);
        effect->Init(0);
        effect->Render(1, 1);
        effect->AddProperty("Speed", nullptr);
        effect->AddOutput("Level", nullptr);
        EXPECT_EQ(probe.Log(), (Strings{"fx_setgl(lookup)", "fx_create(Probe)", "getfxinfo(Probe)"}));
    }
}

TEST(Effect, UnusableLibrariesFailConstructionWithTheReason)
{
    const std::string missing = "/nonexistent/libnothing.so";
    const std::string message = ErrorOf([&] { TInternalEffect::CreateFromLibrary(missing, "X"); });
    EXPECT_EQ(message.rfind("cannot load effect library '" + missing + "': ", 0), 0u) << message;
    EXPECT_NE(message.find("No such file"), std::string::npos) << message;

    EXPECT_EQ(ErrorOf([] { TInternalEffect::CreateFromLibrary(PROBE_NO_CREATE, "Probe"); }),
              std::string("effect library '") + PROBE_NO_CREATE + "' does not export \"fx_create\"");
    TProbe probe(PROBE_NO_CREATE);
    EXPECT_EQ(ErrorOf([&] { TInternalEffect::CreateFromModule(probe.Module(), "Probe"); }),
              "the module given for effect 'Probe' does not export \"fx_create\"");
    EXPECT_EQ(probe.Log(), Strings{});

    EXPECT_EQ(TInternalEffect::CreateFromLibrary(PROBE_FULL, "AtLimit")->EffectType(), "Painter");
    EXPECT_EQ(ErrorOf([] { TInternalEffect::CreateFromLibrary(PROBE_FULL, "OverLimit"); }),
              std::string("the descriptor of effect 'OverLimit' from effect library '") + PROBE_FULL +
                  "' is longer than 1048576 bytes");
}

TEST(Effect, CreateFromInfoBuildsAProxyOnlyForTheExactBaseClass)
{
    TProbe probe(PROBE_FULL);
    TEffectRegistration info{PROBE_FULL, nullptr, "Probe", &TInternalEffect::ClassRef()};
    EXPECT_EQ(TInternalEffect::CreateFromInfo(info)->LibraryName(), PROBE_FULL);
    info = {"", probe.Module(), "Probe", &TInternalEffect::ClassRef()};
    auto fromModule = TInternalEffect::CreateFromInfo(info);
    EXPECT_EQ(fromModule->Module(), probe.Module());
    EXPECT_EQ(fromModule->Handle(), 7);

    // A derived class naming a usable library gives a plain effect and leaves
    // the library alone, built directly or through its class reference.
    probe.Reset();
    info = {PROBE_FULL, nullptr, "Probe", &TDerivedEffect::ClassRef()};
    TInternalEffect plain(info);
    auto derived = info.EffectClass->Create(info);
    ASSERT_NE(derived, nullptr);
    EXPECT_EQ(&derived->EffectClass(), &TDerivedEffect::ClassRef());
    for (const TInternalEffect* e : {&plain, derived.get()}) {
        EXPECT_EQ(e->Handle(), -1);
        EXPECT_EQ(e->Module(), nullptr);
        EXPECT_EQ(e->Properties().Count() + e->Outputs().Count(), 0u);
    }
    EXPECT_EQ(probe.Log(), Strings{});
}

TEST(Effect, SampleFlashPaintsAFullWindowQuadWithItsAlpha)
{
    TGLRecorder recorder;
    auto flash = TInternalEffect::CreateFromLibrary(FLASH_PLUGIN, "Flash");
    EXPECT_EQ(flash->EffectType(), "Painter");
    TPropertyInfoList& in = flash->Properties();
    ASSERT_EQ(in.Count(), 4u);
    EXPECT_EQ((Strings{in[0].Name, in[1].Name, in[2].Name, in[3].Name}),
              (Strings{"Red", "Green", "Blue", "Alpha"}));
    TPropertyInfo& opacity = flash->Outputs()[0];

    SetFloat(in[0], 1.0f);
    SetFloat(in[1], 0.5f);
    SetFloat(in[2], 0.25f);
    flash->Init(0);
    SetFloat(in[3], 0.75f);
    flash->Render(10, 1);
    const Strings painted{
        RecordedCall("glPushAttrib", GLbitfield(GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT |
                                                GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT |
                                                GL_TRANSFORM_BIT)),
        RecordedCall("glDisable", GL_DEPTH_TEST), RecordedCall("glDisable", GL_LIGHTING),
        RecordedCall("glDisable", GL_TEXTURE_2D), RecordedCall("glDisable", GL_CULL_FACE),
        RecordedCall("glEnable", GL_BLEND),
        RecordedCall("glBlendFunc", GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA),
        RecordedCall("glMatrixMode", GL_PROJECTION), "glPushMatrix()", "glLoadIdentity()",
        RecordedCall("glMatrixMode", GL_MODELVIEW), "glPushMatrix()", "glLoadIdentity()",
        "glColor4f(1, 0.5, 0.25, 0.75)", "glRectf(-1, -1, 1, 1)", "glPopMatrix()",
        RecordedCall("glMatrixMode", GL_PROJECTION), "glPopMatrix()", "glPopAttrib()"};
    EXPECT_EQ(recorder.Log(), painted);
    EXPECT_EQ(GetFloat(opacity), 0.75f);

    // Out-of-range values are limited; zero, negative and NaN paint nothing.
    for (float alpha : {4.0f, 0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        SetFloat(in[3], alpha);
        recorder.ClearLog();
        flash->Render(11, 1);
        EXPECT_EQ(GetFloat(opacity), alpha > 1 ? 1.0f : 0.0f);
        EXPECT_EQ(recorder.Log().size(), alpha > 1 ? painted.size() : 0u);
    }
    EXPECT_EQ(TInternalEffect::CreateFromLibrary(FLASH_PLUGIN, "Sparkle")->Handle(), -1);
}

TEST(Effect, GLLookupForwardsToTheTableAtCallTime)
{
    EXPECT_EQ(PluginGLLookup("glNoSuchFunction"), nullptr);
    EXPECT_EQ(PluginGLLookup("wglSwapBuffers"), nullptr);
    auto enable = reinterpret_cast<void (*)(GLenum)>(PluginGLLookup("glEnable"));
    auto getError = reinterpret_cast<GLenum (*)()>(PluginGLLookup("glGetError"));
    ASSERT_TRUE(enable && getError);
    enable(GL_BLEND); // an empty slot does nothing and answers 0
    EXPECT_EQ(getError(), 0u);

    TGLRecorder recorder;
    recorder.PushError(GL_INVALID_ENUM);
    enable(GL_BLEND);
    EXPECT_EQ(getError(), GLenum(GL_INVALID_ENUM));
    EXPECT_EQ(recorder.Log(), (Strings{RecordedCall("glEnable", GL_BLEND), "glGetError()"}));
}

} // namespace
} // namespace vendrake
