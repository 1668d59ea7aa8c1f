#pragma once
// The effect descriptor: a short XML text in which a plug-in names its type
// and the properties it reads (INIT and RUNTIME sections) and writes (OUTPUT
// section). The host puts a fixed prolog with a document type definition in
// front of it and a closing tag behind it, scans the result without
// validating, and files one TPropertyInfo per PROPERTY element.
#include "engine/property.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vendrake {

// Raised when a text does not convert to a number.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Put in front of every descriptor: the XML declaration and a document type
// definition that documents the format (nothing enforces it). Eleven lines,
// each ending in a line feed followed by a carriage return; 450 characters.
extern const std::string_view DescriptorProlog;
// Put behind every descriptor.
extern const std::string_view DescriptorEpilog;

// Where ParseDescriptor files what it reads: the effect's type, its inputs
// and outputs, the effect that owns the new properties, and the owner's two
// calls that announce a new property to the plug-in. Either call may be
// empty, in which case nothing is announced.
struct TDescriptorTarget {
    std::string& EffectType;
    TPropertyInfoList& Properties;
    TPropertyInfoList& Outputs;
    TInternalEffect* Owner = nullptr;
    TPropertyRegister AddProperty;
    TPropertyRegister AddOutput;
};

// The document that is scanned: prolog, text up to its zero byte, epilog.
// A null text counts as empty.
std::string BuildDescriptorDocument(const char* text);

// Scans a zero-terminated descriptor text (null counts as empty) and files
// its properties into target, in document order, announcing each one right
// after it is filed. EFFECT's TYPE, when present, replaces target.EffectType.
// A MIN or MAX that does not convert raises EConvertError; the properties
// filed before that one stay filed.
void ParseDescriptor(const char* text, const TDescriptorTarget& target);

// The number conversions for MIN and MAX; both raise EConvertError with the
// offending text in the message. They do not depend on the C locale.
//
// Integers: leading spaces, an optional sign, then decimal digits, or
// hexadecimal digits after "$" or "0x". Decimal values must lie in the 32-bit
// signed range; hexadecimal ones may use all 32 bits ("$FFFFFFFF" is -1).
// Nothing may follow the digits.
std::int32_t TextToInt32(std::string_view text);
// Floats: leading and trailing spaces, an optional sign, digits with an
// optional "." as the decimal separator (at least one digit in all), and an
// optional exponent ("e" or "E", optional sign, digits). No hexadecimal, no
// infinities or NaNs. Rounded to the nearest 32-bit float; a value too large
// for one is rejected, one too small becomes zero.
float TextToFloat32(std::string_view text);

} // namespace vendrake
