#pragma once
// TXmlParser: a small non-validating XML scanner. It steps through a text one
// part at a time (XML declaration, processing instruction, comment, document
// type declaration, CDATA section, text, start, end or empty-element tag) and
// reports each part's kind, name, attributes and content.
//
// It checks nothing that could stop the scan: an end tag without a start tag
// is reported like any other, declarations are stepped over without being
// enforced, and entity references stay as written. Input is untrusted: the
// scanner never reads past the text, never recurses, and always moves
// forward. A construct that is never closed (comment, CDATA section, tag,
// quoted value, declaration) ends the scan there; its partial contents are
// not reported.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vendrake {

enum class TXmlPartType {
    None,          // before the first part and after the end
    XmlDecl,       // <?xml ...?>
    PI,            // <?target ...?>
    Comment,       // <!-- ... -->
    DocType,       // <!DOCTYPE name ... [internal subset]>
    CData,         // <![CDATA[ ... ]]>
    Text,          // character data between markup, white space included
    StartTag,      // <name ...>
    EmptyTag,      // <name .../>
    EndTag,        // </name>
    OtherMarkup,   // any other <!...> outside a document type declaration
};

struct TXmlAttribute {
    std::string Name;
    std::string Value;
};

class TXmlAttributeList {
public:
    // The value of the first attribute whose name matches, ignoring ASCII
    // letter case; an empty text when there is none.
    const std::string& Value(std::string_view name) const;
    bool Has(std::string_view name) const;
    std::size_t Count() const { return FItems.size(); }
    const TXmlAttribute& operator[](std::size_t index) const { return FItems.at(index); }

    void Add(std::string_view name, std::string_view value);
    void Clear() { FItems.clear(); }

private:
    const TXmlAttribute* Find(std::string_view name) const;

    std::vector<TXmlAttribute> FItems;
};

class TXmlParser {
public:
    TXmlParser() = default;
    // The text is scanned up to its end or its first zero byte, whichever
    // comes first. It is not copied: the caller keeps it alive while scanning.
    explicit TXmlParser(std::string_view text) { SetText(text); }
    // A zero-terminated text; null scans as empty.
    explicit TXmlParser(const char* text);

    void SetText(std::string_view text);
    // Goes back to the beginning of the text.
    void StartScan();
    // Steps to the next part. False at the end of the text, or where an
    // unterminated construct ends it early; the part is then None.
    bool Next();

    TXmlPartType PartType() const { return FPartType; }
    // Tag name, processing-instruction target, or document type name.
    const std::string& Name() const { return FName; }
    // Text of a Text or CData part, body of a comment, processing
    // instruction, declaration or document type declaration. Empty for tags.
    const std::string& Content() const { return FContent; }
    // Attributes of a start or empty-element tag.
    const TXmlAttributeList& Attributes() const { return FAttributes; }
    // Byte offset of the current part in the text.
    std::size_t PartOffset() const { return FPartOffset; }

private:
    bool ScanText(std::size_t searchFrom);
    bool ScanProcessing();
    bool ScanDelimited(std::size_t openLength, std::string_view close, TXmlPartType type);
    bool ScanDocType();
    bool ScanOtherMarkup();
    bool ScanEndTag();
    bool ScanTag();

    bool At(std::size_t pos, std::string_view what) const;
    std::size_t SkipSpace(std::size_t pos) const;
    std::size_t NameEnd(std::size_t pos) const;
    std::size_t MarkupEnd(std::size_t pos) const;
    std::size_t InternalSubsetEnd(std::size_t pos) const;
    void ClearPart();

    std::string_view FText;
    std::size_t FPos = 0;
    std::size_t FPartOffset = 0;
    TXmlPartType FPartType = TXmlPartType::None;
    std::string FName;
    std::string FContent;
    TXmlAttributeList FAttributes;
};

} // namespace vendrake
