#include "engine/xml_parser.h"

#include <algorithm>

namespace vendrake {

namespace {

constexpr std::size_t NoPos = std::string_view::npos;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Names stop at white space and at the characters that delimit markup.
// Anything else counts, so names in any encoding pass through unchanged.
bool IsNameChar(char c)
{
    switch (c) {
    case '<': case '>': case '/': case '=': case '?': case '"': case '\'':
        return false;
    default:
        return !IsSpace(c);
    }
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTextAscii(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string_view TrimSpace(std::string_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

// --- TXmlAttributeList -------------------------------------------------------

const TXmlAttribute* TXmlAttributeList::Find(std::string_view name) const
{
    for (const TXmlAttribute& a : FItems)
        if (SameTextAscii(a.Name, name))
            return &a;
    return nullptr;
}

const std::string& TXmlAttributeList::Value(std::string_view name) const
{
    static const std::string Empty;
    const TXmlAttribute* a = Find(name);
    return a ? a->Value : Empty;
}

bool TXmlAttributeList::Has(std::string_view name) const
{
    return Find(name) != nullptr;
}

void TXmlAttributeList::Add(std::string_view name, std::string_view value)
{
    FItems.push_back(TXmlAttribute{std::string(name), std::string(value)});
}

// --- TXmlParser --------------------------------------------------------------

TXmlParser::TXmlParser(const char* text)
{
    SetText(text ? std::string_view(text) : std::string_view());
}

void TXmlParser::SetText(std::string_view text)
{
    // The text is zero-terminated by contract; a zero byte inside a buffer
    // ends it just the same.
    const std::size_t zero = text.find('\0');
    FText = zero == NoPos ? text : text.substr(0, zero);
    StartScan();
}

void TXmlParser::StartScan()
{
    FPos = 0;
    FPartOffset = 0;
    ClearPart();
}

void TXmlParser::ClearPart()
{
    FPartType = TXmlPartType::None;
    FName.clear();
    FContent.clear();
    FAttributes.Clear();
}

bool TXmlParser::Next()
{
    ClearPart();
    if (FPos >= FText.size())
        return false;
    FPartOffset = FPos;

    bool found;
    if (FText[FPos] != '<')
        found = ScanText(FPos);
    else if (At(FPos, "<?"))
        found = ScanProcessing();
    else if (At(FPos, "<!--"))
        found = ScanDelimited(4, "-->", TXmlPartType::Comment);
    else if (At(FPos, "<![CDATA["))
        found = ScanDelimited(9, "]]>", TXmlPartType::CData);
    else if (At(FPos, "<!DOCTYPE"))
        found = ScanDocType();
    else if (At(FPos, "<!"))
        found = ScanOtherMarkup();
    else if (At(FPos, "</"))
        found = ScanEndTag();
    else
        found = ScanTag();

    if (!found) {
        // Unterminated: nothing after this point can be trusted to be markup.
        FPos = FText.size();
        ClearPart();
    }
    return found;
}

bool TXmlParser::At(std::size_t pos, std::string_view what) const
{
    return pos <= FText.size() && FText.substr(pos).starts_with(what);
}

std::size_t TXmlParser::SkipSpace(std::size_t pos) const
{
    while (pos < FText.size() && IsSpace(FText[pos]))
        ++pos;
    return pos;
}

std::size_t TXmlParser::NameEnd(std::size_t pos) const
{
    while (pos < FText.size() && IsNameChar(FText[pos]))
        ++pos;
    return pos;
}

// From inside a markup declaration to just past its closing '>', stepping
// over quoted literals (which may hold '>'). NoPos when it never closes.
std::size_t TXmlParser::MarkupEnd(std::size_t pos) const
{
    while (pos < FText.size()) {
        const char c = FText[pos];
        if (c == '>')
            return pos + 1;
        if (c == '"' || c == '\'') {
            const std::size_t close = FText.find(c, pos + 1);
            if (close == NoPos)
                return NoPos;
            pos = close + 1;
        } else {
            ++pos;
        }
    }
    return NoPos;
}

// From just after the '[' of a document type declaration to just past the
// ']' that closes its internal subset. Comments, processing instructions and
// markup declarations inside are stepped over whole, so a ']' or '>' within
// them does not end the subset early.
std::size_t TXmlParser::InternalSubsetEnd(std::size_t pos) const
{
    while (pos < FText.size()) {
        if (FText[pos] == ']')
            return pos + 1;
        if (At(pos, "<!--")) {
            const std::size_t close = FText.find("-->", pos + 4);
            pos = close == NoPos ? NoPos : close + 3;
        } else if (At(pos, "<?")) {
            const std::size_t close = FText.find("?>", pos + 2);
            pos = close == NoPos ? NoPos : close + 2;
        } else if (FText[pos] == '<') {
            pos = MarkupEnd(pos + 1);
        } else {
            ++pos;
        }
        if (pos == NoPos)
            return NoPos;
    }
    return NoPos;
}

bool TXmlParser::ScanText(std::size_t searchFrom)
{
    std::size_t end = FText.find('<', searchFrom);
    if (end == NoPos)
        end = FText.size();
    FPartType = TXmlPartType::Text;
    FContent.assign(FText.substr(FPos, end - FPos));
    FPos = end;
    return true;
}

bool TXmlParser::ScanProcessing()
{
    const std::size_t close = FText.find("?>", FPos + 2);
    if (close == NoPos)
        return false;
    const std::size_t nameEnd = std::min(NameEnd(FPos + 2), close);
    FName.assign(FText.substr(FPos + 2, nameEnd - (FPos + 2)));
    FPartType = FName == "xml" ? TXmlPartType::XmlDecl : TXmlPartType::PI;
    FContent.assign(TrimSpace(FText.substr(nameEnd, close - nameEnd)));
    FPos = close + 2;
    return true;
}

bool TXmlParser::ScanDelimited(std::size_t openLength, std::string_view close, TXmlPartType type)
{
    const std::size_t start = FPos + openLength;
    const std::size_t end = FText.find(close, start);
    if (end == NoPos)
        return false;
    FPartType = type;
    FContent.assign(FText.substr(start, end - start));
    FPos = end + close.size();
    return true;
}

bool TXmlParser::ScanDocType()
{
    const std::size_t nameStart = SkipSpace(FPos + 9);
    const std::size_t nameEnd = NameEnd(nameStart);
    std::size_t pos = nameEnd;
    while (pos < FText.size()) {
        const char c = FText[pos];
        if (c == '>') {
            FPartType = TXmlPartType::DocType;
            FName.assign(FText.substr(nameStart, nameEnd - nameStart));
            FContent.assign(TrimSpace(FText.substr(nameEnd, pos - nameEnd)));
            FPos = pos + 1;
            return true;
        }
        if (c == '"' || c == '\'') {
            const std::size_t close = FText.find(c, pos + 1);
            pos = close == NoPos ? NoPos : close + 1;
        } else if (c == '[') {
            pos = InternalSubsetEnd(pos + 1);
        } else {
            ++pos;
        }
    }
    return false;
}

bool TXmlParser::ScanOtherMarkup()
{
    const std::size_t end = MarkupEnd(FPos + 2);
    if (end == NoPos)
        return false;
    const std::size_t nameEnd = NameEnd(FPos + 2);
    FPartType = TXmlPartType::OtherMarkup;
    FName.assign(FText.substr(FPos + 2, std::min(nameEnd, end - 1) - (FPos + 2)));
    FContent.assign(TrimSpace(FText.substr(FPos + 2, end - 1 - (FPos + 2))));
    FPos = end;
    return true;
}

bool TXmlParser::ScanEndTag()
{
    const std::size_t nameEnd = NameEnd(FPos + 2);
    const std::size_t close = FText.find('>', nameEnd);
    if (close == NoPos)
        return false;
    FPartType = TXmlPartType::EndTag;
    FName.assign(FText.substr(FPos + 2, nameEnd - (FPos + 2)));
    FPos = close + 1;
    return true;
}

bool TXmlParser::ScanTag()
{
    const std::size_t nameStart = FPos + 1;
    std::size_t pos = NameEnd(nameStart);
    if (pos == nameStart) // "<" not followed by a name: plain text
        return ScanText(FPos + 1);

    const std::string_view name = FText.substr(nameStart, pos - nameStart);
    TXmlAttributeList attributes;
    for (;;) {
        pos = SkipSpace(pos);
        if (pos >= FText.size())
            return false;
        const char c = FText[pos];
        if (c == '>') {
            FPartType = TXmlPartType::StartTag;
            FPos = pos + 1;
            break;
        }
        if (c == '/' && At(pos, "/>")) {
            FPartType = TXmlPartType::EmptyTag;
            FPos = pos + 2;
            break;
        }
        const std::size_t attrStart = pos;
        pos = NameEnd(pos);
        if (pos == attrStart) { // a stray delimiter: step over it
            ++pos;
            continue;
        }
        const std::string_view attrName = FText.substr(attrStart, pos - attrStart);
        std::string_view value;
        pos = SkipSpace(pos);
        if (pos < FText.size() && FText[pos] == '=') {
            pos = SkipSpace(pos + 1);
            if (pos >= FText.size())
                return false;
            const char quote = FText[pos];
            if (quote == '"' || quote == '\'') {
                const std::size_t close = FText.find(quote, pos + 1);
                if (close == NoPos)
                    return false;
                value = FText.substr(pos + 1, close - pos - 1);
                pos = close + 1;
            } else {
                // Unquoted value, tolerated: runs to white space or the tag's end.
                const std::size_t valueStart = pos;
                while (pos < FText.size() && !IsSpace(FText[pos]) && FText[pos] != '>' &&
                       !At(pos, "/>"))
                    ++pos;
                value = FText.substr(valueStart, pos - valueStart);
            }
        }
        attributes.Add(attrName, value);
    }
    FName.assign(name);
    FAttributes = std::move(attributes);
    return true;
}

} // namespace vendrake
