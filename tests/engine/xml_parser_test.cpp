#include "engine/xml_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace vendrake;

namespace {

std::string Describe(const TXmlParser& p)
{
    switch (p.PartType()) {
    case TXmlPartType::XmlDecl: return "decl:" + p.Content();
    case TXmlPartType::PI: return "pi:" + p.Name() + ":" + p.Content();
    case TXmlPartType::Comment: return "comment:" + p.Content();
    case TXmlPartType::DocType: return "doctype:" + p.Name();
    case TXmlPartType::CData: return "cdata:" + p.Content();
    case TXmlPartType::Text: return "text:" + p.Content();
    case TXmlPartType::EndTag: return "end:" + p.Name();
    case TXmlPartType::OtherMarkup: return "other:" + p.Name();
    case TXmlPartType::StartTag:
    case TXmlPartType::EmptyTag: {
        std::string s = (p.PartType() == TXmlPartType::StartTag ? "start:" : "empty:") + p.Name();
        for (std::size_t i = 0; i < p.Attributes().Count(); ++i)
            s += " " + p.Attributes()[i].Name + "=" + p.Attributes()[i].Value;
        return s;
    }
    case TXmlPartType::None: break;
    }
    return "none";
}

std::vector<std::string> Parts(std::string_view text)
{
    TXmlParser p(text);
    std::vector<std::string> parts;
    while (p.Next())
        parts.push_back(Describe(p));
    EXPECT_EQ(p.PartType(), TXmlPartType::None);
    EXPECT_FALSE(p.Next()); // stays at the end
    return parts;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(XmlParser, RecognisesEveryKindOfPart)
{
    EXPECT_EQ(Parts("<?xml version=\"1.0\"?><?style a > b?><!-- x < y --><a>"
                    "<![CDATA[<b>]]>t &amp; u<c/></a><!ELEMENT q (#PCDATA)>"),
              (Strings{"decl:version=\"1.0\"", "pi:style:a > b", "comment: x < y ", "start:a",
                       "cdata:<b>", "text:t &amp; u", "empty:c", "end:a", "other:ELEMENT"}));
    // An end tag with nothing to match is reported all the same.
    EXPECT_EQ(Parts("<x></y></XML>"), (Strings{"start:x", "end:y", "end:XML"}));
    EXPECT_TRUE(Parts("").empty());
}

TEST(XmlParser, DocTypeInternalSubsetIsOnePart)
{
    // Brackets and '>' inside literals, comments and processing instructions
    // of the subset must not end it; nothing inside comes out as a tag.
    const std::string text = "<!DOCTYPE R [\n\r<!ELEMENT R (A)? >\n\r"
                             "<!ATTLIST R N CDATA \"a]>b\">\n\r<!-- ]> -->"
                             "<?pi ]>?>\n\r<!ENTITY e '>'>\n\r]>\n\r<R N='1'/>";
    EXPECT_EQ(Parts(text), (Strings{"doctype:R", "text:\n\r", "empty:R N=1"}));
    EXPECT_EQ(Parts("<!DOCTYPE R SYSTEM \"r>.dtd\"><R>"), (Strings{"doctype:R", "start:R"}));
}

TEST(XmlParser, AttributesQuotingSpacingAndLookup)
{
    TXmlParser p("<P  name = \"a 'b'\"\tTYPE='x \"y\"'\r\nMin=\"\" bare Max=7 / >");
    ASSERT_TRUE(p.Next());
    EXPECT_EQ(p.PartType(), TXmlPartType::StartTag); // "/ >" is not "/>"
    const TXmlAttributeList& a = p.Attributes();
    EXPECT_EQ(a.Count(), 5u);
    EXPECT_EQ(a.Value("NAME"), "a 'b'");
    EXPECT_EQ(a.Value("type"), "x \"y\"");
    EXPECT_EQ(a.Value("mIn"), "");
    EXPECT_TRUE(a.Has("MIN"));
    EXPECT_EQ(a.Value("bare"), "");
    EXPECT_EQ(a.Value("MAX"), "7");
    EXPECT_EQ(a.Value("absent"), "");
    EXPECT_FALSE(a.Has("absent"));
    EXPECT_FALSE(p.Next());

    // The first of two like-named attributes wins; '>' inside quotes is data.
    TXmlParser twice("<a x=\"1>\" X='2'/>");
    ASSERT_TRUE(twice.Next());
    EXPECT_EQ(twice.PartType(), TXmlPartType::EmptyTag);
    EXPECT_EQ(twice.Attributes().Value("X"), "1>");
    // Attributes of one tag never leak into the next part.
    TXmlParser q("<a x='1'></a>");
    ASSERT_TRUE(q.Next());
    ASSERT_TRUE(q.Next());
    EXPECT_EQ(q.Attributes().Count(), 0u);
    EXPECT_EQ(q.Attributes().Value("x"), "");
}

TEST(XmlParser, StrayCharactersAreTextOrSkipped)
{
    EXPECT_EQ(Parts("a < b <c d=\"1\" \"e\"=f>"),
              (Strings{"text:a ", "text:< b ", "start:c d=1 e= f="}));
    EXPECT_EQ(Parts("<</>"), (Strings{"text:<", "end:"}));
    EXPECT_EQ(Parts("x<!>y"), (Strings{"text:x", "other:", "text:y"}));
}

TEST(XmlParser, UnterminatedConstructsEndTheScan)
{
    // Each of these is reported up to the construct that never closes, and
    // not a part further: the partial construct is not reported either.
    const struct {
        const char* Text;
        Strings Expected;
    } cases[] = {
        {"<a><!-- never closed <b>", {"start:a"}},
        {"<a><![CDATA[ never closed ]]", {"start:a"}},
        {"<a><b x='1'", {"start:a"}},
        {"<a><b x=\"1/></c></XML>", {"start:a"}},
        {"<a><b x=", {"start:a"}},
        {"<a></b", {"start:a"}},
        {"<a><?pi never closed", {"start:a"}},
        {"<a><!DOCTYPE r [ <!ELEMENT r (#PCDATA)>", {"start:a"}},
        {"<a><!DOCTYPE r [ <!ATTLIST r n CDATA \"]>", {"start:a"}},
        {"<a><!ELEMENT r '>", {"start:a"}},
        {"<a>text", {"start:a", "text:text"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parts(c.Text), c.Expected) << c.Text;
}

TEST(XmlParser, ZeroByteEndsTheTextAndScanRestarts)
{
    const std::string text("<a/>\0<b/>", 9);
    EXPECT_EQ(Parts(text), (Strings{"empty:a"}));
    TXmlParser none(static_cast<const char*>(nullptr));
    EXPECT_FALSE(none.Next());

    TXmlParser p("<a/><b/>");
    ASSERT_TRUE(p.Next());
    ASSERT_TRUE(p.Next());
    EXPECT_EQ(p.Name(), "b");
    EXPECT_EQ(p.PartOffset(), 4u);
    p.StartScan();
    ASSERT_TRUE(p.Next());
    EXPECT_EQ(p.Name(), "a");
}

// Every prefix and a few thousand mutations of a document that uses every
// construct: the scan must end, never read outside the text (the sanitizer
// build checks that; each input is its own heap block of exact size), and
// report fewer parts than it has bytes.
TEST(XmlParser, TruncatedAndMutatedInputAlwaysEnds)
{
    const std::string seed =
        "<?xml version=\"1.0\"?>\n\r<!DOCTYPE EFFECT [\n\r<!ELEMENT EFFECT (A)? >\n\r"
        "<!ATTLIST EFFECT NAME CDATA #REQUIRED>\n\r<!-- c ]> -->]>\n\r"
        "<EFFECT NAME='e' TYPE = \"Painter\"><![CDATA[x]]><INIT><PROPERTY NAME=\"a\" "
        "TYPE='FLOAT' MIN=\"-1\"/></INIT><?pi z?><!-- c --></XML>";
    auto check = [](const std::string& text) {
        const std::vector<char> exact(text.begin(), text.end());
        TXmlParser p(std::string_view(exact.data(), exact.size()));
        std::size_t parts = 0;
        while (p.Next()) {
            ++parts;
            ASSERT_LE(parts, exact.size()) << text;
            ASSERT_LT(p.PartOffset(), exact.size());
        }
    };
    for (std::size_t n = 0; n <= seed.size(); ++n)
        check(seed.substr(0, n));

    std::mt19937 random(12345);
    const char alphabet[] = "<>/?!-[]='\" \n\rCDATAxml";
    for (int round = 0; round < 5000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = random() % text.size();
            const char c = alphabet[random() % (sizeof(alphabet) - 1)];
            switch (random() % 3) {
            case 0: text[at] = c; break;
            case 1: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c); break;
            default: text.erase(at, 1 + random() % 4); break;
            }
        }
        check(text);
    }
}
