#include "engine/descriptor.h"

#include "engine/xml_parser.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <system_error>

namespace vendrake {

const std::string_view DescriptorProlog =
    "<?xml version=\"1.0\"?>\n\r"
    "<!DOCTYPE EFFECT [\n\r"
    "<!ELEMENT EFFECT (DESCRIPTION, INIT?, RUNTIME?, OUTPUT? )? >\n\r"
    "<!ATTLIST EFFECT NAME CDATA #REQUIRED TYPE CDATA #REQUIRED COMPATIBLE CDATA "
    "#REQUIRED VERSION CDATA #REQUIRED>\n\r"
    "<!ELEMENT DESCRIPTION (#PCDATA)>\n\r"
    "<!ELEMENT INIT ( PROPERTY? ) >\n\r"
    "<!ELEMENT RUNTIME ( PROPERTY? ) >\n\r"
    "<!ELEMENT OUTPUT ( PROPERTY? ) >\n\r"
    "<!ELEMENT PROPERTY (#PCDATA)>\n\r"
    "<!ATTLIST PROPERTY NAME CDATA #REQUIRED TYPE CDATA #REQUIRED>\n\r"
    "]>\n\r";

const std::string_view DescriptorEpilog = "</XML>";

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexDigit(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string UpperCase(std::string_view s)
{
    std::string result(s);
    for (char& c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

[[noreturn]] void NotAnInteger(std::string_view text)
{
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void NotAFloat(std::string_view text)
{
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

// MIN and MAX that are absent or empty count as "0".
std::string_view OrZero(const std::string& value)
{
    return value.empty() ? std::string_view("0") : std::string_view(value);
}

bool IsTag(TXmlPartType type)
{
    return type == TXmlPartType::StartTag || type == TXmlPartType::EmptyTag ||
           type == TXmlPartType::EndTag;
}

void FileProperty(const TXmlAttributeList& attributes, TPropertyInfoList& section,
                  const TDescriptorTarget& target)
{
    auto property = std::make_unique<TPropertyInfo>();
    property->Name = attributes.Value("NAME");
    property->PropType = attributes.Value("TYPE");
    property->Owner = target.Owner;

    const std::string type = UpperCase(property->PropType);
    if (type == "FLOAT") {
        property->Min = TPropertyLimit::FromFloat(TextToFloat32(OrZero(attributes.Value("MIN"))));
        property->Max = TPropertyLimit::FromFloat(TextToFloat32(OrZero(attributes.Value("MAX"))));
    } else if (type == "INT") {
        property->Min = TPropertyLimit::FromInt(TextToInt32(OrZero(attributes.Value("MIN"))));
        property->Max = TPropertyLimit::FromInt(TextToInt32(OrZero(attributes.Value("MAX"))));
    }

    property->Register = &section == &target.Outputs ? target.AddOutput : target.AddProperty;
    TPropertyInfo& filed = section.Add(std::move(property));
    if (filed.Register)
        filed.Register(filed.Name, filed.Value.data());
}

} // namespace

std::int32_t TextToInt32(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';

    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        i += 1;
    } else if (text.substr(i).starts_with("0x") || text.substr(i).starts_with("0X")) {
        hex = true;
        i += 2;
    }

    // Hexadecimal gives the 32-bit pattern; decimal must fit the signed range.
    const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    const std::uint64_t base = hex ? 16 : 10;
    std::uint64_t value = 0;
    const std::size_t digitsStart = i;
    for (; i < text.size(); ++i) {
        const int digit = hex ? HexDigit(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0)
            NotAnInteger(text);
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > limit)
            NotAnInteger(text);
    }
    if (i == digitsStart)
        NotAnInteger(text);

    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

float TextToFloat32(std::string_view text)
{
    std::string_view s = text;
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);

    // Check the whole syntax here; from_chars alone would also take "inf",
    // "nan" and hexadecimal forms.
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    const std::size_t mantissaStart = i;
    std::size_t intDigits = 0;
    std::size_t fracDigits = 0;
    while (i < s.size() && IsDigit(s[i]))
        ++i, ++intDigits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i]))
            ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0)
        NotAFloat(text);
    const std::size_t mantissaEnd = i;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            negativeExponent = s[i++] == '-';
        const std::size_t exponentStart = i;
        for (; i < s.size() && IsDigit(s[i]); ++i)
            exponent = std::min(exponent * 10 + (s[i] - '0'), 1000000000LL);
        if (i == exponentStart)
            NotAFloat(text);
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != s.size())
        NotAFloat(text);

    const char* first = s.data() + mantissaStart;
    const char* last = s.data() + s.size();
    float value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Out of range one way or the other: find the decimal magnitude of the
        // leading non-zero digit to tell overflow from underflow.
        long long magnitude = static_cast<long long>(intDigits) - 1 + exponent;
        for (const char* p = first; p != s.data() + mantissaEnd; ++p) {
            if (*p == '.')
                continue;
            if (*p != '0')
                break;
            --magnitude;
        }
        if (magnitude >= 0)
            NotAFloat(text);
        value = 0;
    } else if (error != std::errc() || end != last) {
        NotAFloat(text);
    }
    return negative ? -value : value;
}

std::string BuildDescriptorDocument(const char* text)
{
    std::string document(DescriptorProlog);
    if (text)
        document += text;
    document += DescriptorEpilog;
    return document;
}

void ParseDescriptor(const char* text, const TDescriptorTarget& target)
{
    const std::string document = BuildDescriptorDocument(text);
    TXmlParser parser(document);
    parser.StartScan();

    // Sections switch on any tag with a section's name, end tags included,
    // and last until the next one: a PROPERTY after </INIT> is still an input.
    TPropertyInfoList* section = nullptr;
    while (parser.Next()) {
        if (!IsTag(parser.PartType()))
            continue;
        const bool endTag = parser.PartType() == TXmlPartType::EndTag;
        const std::string name = UpperCase(parser.Name());
        if (name == "EFFECT" && !endTag)
            target.EffectType = parser.Attributes().Value("TYPE");
        else if (name == "INIT" || name == "RUNTIME")
            section = &target.Properties;
        else if (name == "OUTPUT")
            section = &target.Outputs;
        else if (name == "PROPERTY" && !endTag && section)
            FileProperty(parser.Attributes(), *section, target);
    }
}

} // namespace vendrake
