// Effect descriptors from arbitrary bytes: the text up to its first zero byte
// goes through the descriptor parser, and the whole input through the XML
// scanner on its own and through both number conversions. A number that does
// not convert is the only error a descriptor may raise.
#include "engine/descriptor.h"
#include "engine/property.h"
#include "engine/xml_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vendrake;

namespace {

void Scan(std::string_view text)
{
    TXmlParser parser(text);
    // Every part moves the scan forward, so there are never more parts than
    // bytes.
    std::size_t parts = 0;
    while (parser.Next())
        if (++parts > text.size() + 1)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text(bytes.substr(0, bytes.find('\0'))); // zero-terminated copy

    std::string effectType;
    TPropertyInfoList properties, outputs;
    std::size_t announced = 0;
    const TPropertyRegister count = [&](const std::string&, void*) { ++announced; };
    try {
        ParseDescriptor(text.c_str(), {effectType, properties, outputs, nullptr, count, count});
    } catch (const EConvertError&) {
    }
    if (announced != properties.Count() + outputs.Count())
        std::abort(); // every property filed is announced once

    Scan(bytes);
    try {
        TextToInt32(bytes);
    } catch (const EConvertError&) {
    }
    try {
        TextToFloat32(bytes);
    } catch (const EConvertError&) {
    }
    return 0;
}
