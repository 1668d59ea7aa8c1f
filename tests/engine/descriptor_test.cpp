#include "engine/descriptor.h"
#include "engine/property.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace vendrake;

namespace {

// Stands in for an effect: its type, its two lists, and a log of every
// announcement with the list sizes at the moment it was made.
struct FakeEffect {
    struct Call {
        bool Output;
        std::string Name;
        void* Value;
        std::size_t Inputs;
        std::size_t Outputs;
    };

    std::string EffectType;
    TPropertyInfoList Properties;
    TPropertyInfoList Outputs;
    std::vector<Call> Calls;
    int OwnerTag = 0;

    TInternalEffect* Owner() { return reinterpret_cast<TInternalEffect*>(&OwnerTag); }

    TDescriptorTarget Target()
    {
        return TDescriptorTarget{
            .EffectType = EffectType,
            .Properties = Properties,
            .Outputs = Outputs,
            .Owner = Owner(),
            .AddProperty = [this](const std::string& n, void* v) { Log(false, n, v); },
            .AddOutput = [this](const std::string& n, void* v) { Log(true, n, v); },
        };
    }

    void Parse(const char* text) { ParseDescriptor(text, Target()); }

    void Log(bool output, const std::string& name, void* value)
    {
        Calls.push_back({output, name, value, Properties.Count(), Outputs.Count()});
    }

    std::vector<std::string> Names(const TPropertyInfoList& list) const
    {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < list.Count(); ++i)
            names.push_back(list[i].Name);
        return names;
    }
};

using Strings = std::vector<std::string>;

std::string ConvertMessage(auto convert, const char* text)
{
    try {
        convert(text);
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "(converted)";
}

} // namespace

TEST(Descriptor, PrologIsTheFixedElevenLinesEndingInLineFeedCarriageReturn)
{
    const char* lines[] = {
        "<?xml version=\"1.0\"?>",
        "<!DOCTYPE EFFECT [",
        "<!ELEMENT EFFECT (DESCRIPTION, INIT?, RUNTIME?, OUTPUT? )? >",
        ("<!ATTLIST EFFECT NAME CDATA #REQUIRED TYPE CDATA #REQUIRED COMPATIBLE CDATA #REQUIRED "
         "VERSION CDATA #REQUIRED>"),
        "<!ELEMENT DESCRIPTION (#PCDATA)>",
        "<!ELEMENT INIT ( PROPERTY? ) >",
        "<!ELEMENT RUNTIME ( PROPERTY? ) >",
        "<!ELEMENT OUTPUT ( PROPERTY? ) >",
        "<!ELEMENT PROPERTY (#PCDATA)>",
        "<!ATTLIST PROPERTY NAME CDATA #REQUIRED TYPE CDATA #REQUIRED>",
        "]>",
    };
    std::string expected;
    for (const char* line : lines)
        expected += std::string(line) + '\x0A' + '\x0D';
    EXPECT_EQ(expected.size(), 450u);
    EXPECT_EQ(std::string(DescriptorProlog), expected);

    EXPECT_EQ(BuildDescriptorDocument("<EFFECT/>"), expected + "<EFFECT/></XML>");
    EXPECT_EQ(BuildDescriptorDocument(nullptr), expected + "</XML>");
}

TEST(Descriptor, FilesSectionsInDocumentOrderAndAnnouncesEachValue)
{
    FakeEffect fx;
    fx.Parse(R"(<EFFECT NAME="Blur" TYPE="Painter" COMPATIBLE="1" VERSION="2">
  <DESCRIPTION>Blurs <PROPERTY NAME="ignored" TYPE="INT"/> what lies below.</DESCRIPTION>
  <INIT>
    <PROPERTY NAME="Radius" TYPE="FLOAT" MIN="0.5" MAX="12"/>
    <PROPERTY NAME="Passes" TYPE="INT" MIN="1" MAX="8">text is not used</PROPERTY>
  </INIT>
  <RUNTIME><PROPERTY NAME="Strength" TYPE="float"/></RUNTIME>
  <OUTPUT><PROPERTY NAME="Image" TYPE="BOOL" MIN="3" MAX="4"/></OUTPUT>
</EFFECT>)");

    EXPECT_EQ(fx.EffectType, "Painter");
    ASSERT_EQ(fx.Names(fx.Properties), (Strings{"Radius", "Passes", "Strength"}));
    ASSERT_EQ(fx.Names(fx.Outputs), (Strings{"Image"}));

    const TPropertyInfo& radius = fx.Properties[0];
    EXPECT_EQ(radius.PropType, "FLOAT");
    EXPECT_EQ(radius.Min.AsFloat(), 0.5f);
    EXPECT_EQ(radius.Max.AsFloat(), 12.0f);
    const TPropertyInfo& passes = fx.Properties[1];
    EXPECT_EQ(passes.Min.AsInt(), 1);
    EXPECT_EQ(passes.Max.AsInt(), 8);
    const TPropertyInfo& strength = fx.Properties[2]; // lower-case type, no MIN or MAX
    EXPECT_EQ(strength.PropType, "float");
    EXPECT_EQ(strength.Min.Bits, TPropertyLimit::FromFloat(0.0f).Bits);
    EXPECT_EQ(strength.Max.Bits, 0u);
    const TPropertyInfo& image = fx.Outputs[0]; // not a numeric type: limits stay 0
    EXPECT_EQ(image.Min.Bits, 0u);
    EXPECT_EQ(image.Max.Bits, 0u);
    EXPECT_EQ(image.Link, nullptr);

    // One announcement per property, right after it was filed, with the
    // address of that property's own Value; outputs through AddOutput.
    ASSERT_EQ(fx.Calls.size(), 4u);
    const TPropertyInfo* order[] = {&radius, &passes, &strength, &image};
    const std::size_t inputsThen[] = {1, 2, 3, 3};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(fx.Calls[i].Output, i == 3);
        EXPECT_EQ(fx.Calls[i].Name, order[i]->Name);
        EXPECT_EQ(fx.Calls[i].Value, order[i]->Value.data());
        EXPECT_EQ(fx.Calls[i].Inputs, inputsThen[i]);
        EXPECT_EQ(fx.Calls[i].Outputs, i == 3 ? 1u : 0u);
        EXPECT_EQ(order[i]->Owner, fx.Owner());
        EXPECT_TRUE(order[i]->Register);
    }
    // Register is the announcing call itself.
    fx.Outputs[0].Register("again", nullptr);
    EXPECT_TRUE(fx.Calls.back().Output);
}

TEST(Descriptor, EmptyOrMissingTextGivesNothing)
{
    for (const char* text : {"", static_cast<const char*>(nullptr)}) {
        FakeEffect fx;
        fx.Parse(text);
        EXPECT_EQ(fx.EffectType, "");
        EXPECT_EQ(fx.Properties.Count(), 0u);
        EXPECT_EQ(fx.Outputs.Count(), 0u);
        EXPECT_TRUE(fx.Calls.empty());
    }
}

TEST(Descriptor, SectionRulesAndLetterCase)
{
    FakeEffect fx;
    fx.Parse(R"(<property name="before any section" type="int" min="x"/>
<effect type="painter"><init/>
<Property Name="a"/></init>
<property name="after init closed"/>
<!-- <OUTPUT><PROPERTY NAME="in a comment"/> -->
<![CDATA[<OUTPUT><PROPERTY NAME="in cdata"/>]]>
<?OUTPUT?><?PROPERTY NAME="pi"?>
<output></output><property name="after output closed"/>
<runtime><property name="runtime"/></runtime></effect>
<init></init></property>)");

    EXPECT_EQ(fx.EffectType, "painter"); // the end tag does not clear it
    EXPECT_EQ(fx.Names(fx.Properties), (Strings{"a", "after init closed", "runtime"}));
    EXPECT_EQ(fx.Names(fx.Outputs), (Strings{"after output closed"}));
    EXPECT_EQ(fx.Calls.size(), 4u);

    // The prolog's document type declaration names EFFECT too; it is not a tag.
    FakeEffect untyped;
    untyped.EffectType = "kept";
    untyped.Parse("<INIT><PROPERTY NAME='p' TYPE='INT' MIN='' MAX='-3'/></INIT>");
    EXPECT_EQ(untyped.EffectType, "kept");
    ASSERT_EQ(untyped.Properties.Count(), 1u);
    EXPECT_EQ(untyped.Properties[0].Min.AsInt(), 0);
    EXPECT_EQ(untyped.Properties[0].Max.AsInt(), -3);
}

TEST(Descriptor, BadLimitStopsAtThatPropertyKeepingTheOnesBefore)
{
    FakeEffect fx;
    try {
        fx.Parse(R"(<EFFECT TYPE="Painter"><INIT>
<PROPERTY NAME="ok" TYPE="FLOAT" MIN="1"/>
<OUTPUT><PROPERTY NAME="out" TYPE="INT"/>
<PROPERTY NAME="bad" TYPE="FLOAT" MIN="2" MAX="1,5"/>
<PROPERTY NAME="never" TYPE="INT"/></OUTPUT></INIT></EFFECT>)");
        FAIL() << "a bad MAX must raise";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'1,5' is not a valid floating point value");
    }
    EXPECT_EQ(fx.EffectType, "Painter");
    EXPECT_EQ(fx.Names(fx.Properties), (Strings{"ok"}));
    EXPECT_EQ(fx.Names(fx.Outputs), (Strings{"out"}));
    EXPECT_EQ(fx.Calls.size(), 2u); // the bad one was never announced

    FakeEffect ints;
    EXPECT_THROW(ints.Parse("<INIT><PROPERTY NAME='i' TYPE='Int' MIN='1.0'/></INIT>"),
                 std::runtime_error);
    EXPECT_EQ(ints.Properties.Count(), 0u);
    EXPECT_EQ(ConvertMessage(TextToInt32, "1.0"), "'1.0' is not a valid integer value");
}

TEST(Descriptor, IntegerConversion)
{
    const struct {
        const char* Text;
        std::int32_t Value;
    } good[] = {
        {"0", 0},           {"42", 42},          {"+7", 7},           {"-7", -7},
        {"   12", 12},      {"007", 7},          {"$ff", 255},        {"0x7FFFFFFF", 2147483647},
        {"$FFFFFFFF", -1},  {"-$10", -16},       {"0X1a", 26},        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"00000000000000000000000000009", 9},
    };
    for (const auto& g : good)
        EXPECT_EQ(TextToInt32(g.Text), g.Value) << g.Text;

    for (const char* bad : {"", " ", "-", "+", "12 ", "1e3", "1.0", "0x", "$", "$-1", "--1",
                            "2147483648", "-2147483649", "$100000000", "99999999999999999999",
                            "12a", "0b1", "\t1", "1_000"})
        EXPECT_EQ(ConvertMessage(TextToInt32, bad),
                  "'" + std::string(bad) + "' is not a valid integer value");
}

TEST(Descriptor, FloatConversion)
{
    const struct {
        const char* Text;
        float Value;
    } good[] = {
        {"0", 0.0f},        {"1.5", 1.5f},          {"-2.25", -2.25f},    {"+3", 3.0f},
        {" 4.5 ", 4.5f},    {".5", 0.5f},           {"5.", 5.0f},         {"1e3", 1000.0f},
        {"2.5E-2", 0.025f}, {"1e+2", 100.0f},       {"0.1", 0.1f},        {"3.4028235e38", 3.4028235e38f},
        {"1e-40", 1e-40f},  {"0.000001e-60", 0.0f}, {"1e-99999999999", 0.0f},
    };
    for (const auto& g : good)
        EXPECT_EQ(TextToFloat32(g.Text), g.Value) << g.Text;
    EXPECT_TRUE(std::signbit(TextToFloat32("-1e-60")));

    for (const char* bad : {"", " ", ".", "-", "1,5", "1.2.3", "e5", "1e", "1e+", "0x10", "inf",
                            "nan", "-INF", "1 2", "1f", "\t1", "3.5e38", "1e39", "1e99999999999",
                            "12abc"})
        EXPECT_EQ(ConvertMessage(TextToFloat32, bad),
                  "'" + std::string(bad) + "' is not a valid floating point value");
}

TEST(PropertyInfoList, PropertiesKeepTheirAddressesWhileTheListChanges)
{
    static_assert(sizeof(TPropertyInfo::Value) == 20);
    TPropertyInfoList list;
    TPropertyInfo& first = list.Add(std::make_unique<TPropertyInfo>());
    first.Name = "first";
    std::uint8_t* value = first.Value.data();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(value) % 8, 0u);
    EXPECT_TRUE(std::all_of(first.Value.begin(), first.Value.end(), [](auto b) { return b == 0; }));

    for (int i = 0; i < 1000; ++i)
        list.Add(std::make_unique<TPropertyInfo>()).Name = std::to_string(i);
    EXPECT_EQ(list.Count(), 1001u);
    EXPECT_EQ(list[0].Value.data(), value);
    EXPECT_EQ(list.IndexOf(&first), 0);
    EXPECT_EQ(list.IndexOf(nullptr), -1);

    // Taking one out hands it over intact; the rest close up in order.
    std::unique_ptr<TPropertyInfo> taken = list.Extract(0);
    EXPECT_EQ(taken.get(), &first);
    EXPECT_EQ(list.Count(), 1000u);
    EXPECT_EQ(list[0].Name, "0");

    EXPECT_THROW(list.Items(1000), std::out_of_range);
    EXPECT_THROW(list.Extract(1000), std::out_of_range);
    EXPECT_THROW(list.Add(nullptr), std::invalid_argument);
    EXPECT_EQ(list.Count(), 1000u);
}
