// The guard in front of TinyXML: it refuses exactly what would take the library too
// deep or too long, and lets every ordinary file through unchanged.

#include "xml/KvTinyXmlLoader.h"

#include <gtest/gtest.h>

#include <tinyxml.h>

#include <cctype>
#include <string>

using namespace velmora;

namespace {

std::string Repeat(const std::string& text, std::size_t count)
{
    std::string result;
    for (std::size_t i = 0; i < count; ++i)
        result += text;
    return result;
}

std::string Nested(std::size_t levels)
{
    return Repeat("<a>", levels) + Repeat("</a>", levels);
}

std::string WithAttributes(std::size_t count)
{
    std::string text = "<e";
    for (std::size_t i = 0; i < count; ++i)
        text += " a" + std::to_string(i) + "=\"1\"";
    return text + "/>";
}

struct GuardCase
{
    const char* label;
    std::string text;
    bool loads;
};

class TinyXmlGuard : public ::testing::TestWithParam<GuardCase>
{
};

} // namespace

TEST_P(TinyXmlGuard, LoadsOrRefuses)
{
    TiXmlDocument document;
    EXPECT_EQ(LoadTinyXml(document, GetParam().text), GetParam().loads);
}

// Each refused case stopped the process or took minutes before: TinyXML recursed once
// per level (100,000 levels overflow the stack, also when the elements are never
// closed), and compared every attribute with all earlier ones of its element.
INSTANTIATE_TEST_SUITE_P(
    Inputs, TinyXmlGuard,
    ::testing::Values(
        GuardCase{"nested to the limit", Nested(kMaxTinyXmlDepth), true},
        GuardCase{"nested one deeper", Nested(kMaxTinyXmlDepth + 1), false},
        GuardCase{"nested a hundred thousand deep", Nested(100000), false},
        GuardCase{"left open a hundred thousand deep", "<r>" + Repeat("<a x='1'>", 100000), false},
        GuardCase{"attributes to the limit", WithAttributes(kMaxTinyXmlAttributes), true},
        GuardCase{"one attribute more", WithAttributes(kMaxTinyXmlAttributes + 1), false},
        GuardCase{"declaration to the end", "<r/><?xml ", false},
        // Markup inside comments, sections and values nests nothing.
        GuardCase{"tags in a comment", "<r><!--" + Repeat("<a>", 5000) + "--></r>", true},
        GuardCase{"tags in a section", "<r><![CDATA[" + Repeat("<a>", 5000) + "]]></r>", true},
        GuardCase{"tags in a value", "<r v='" + Repeat("<a>", 5000) + "'/>", true},
        GuardCase{"tags in a declaration and a doctype", "<?xml version='1.0' encoding='x'?><!DOCTYPE " + Repeat("<a", 5000) + "><r/>", true},
        GuardCase{"empty", "", false},
        GuardCase{"not xml", "plain words", false}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.label))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(TinyXmlLoader, TextIsPreparedAsTinyXmlsOwnFileLoaderDoes)
{
    // Line ends become LF, the text ends at its first U+0000, a UTF-8 mark goes.
    std::string text = "\xEF\xBB\xBF<r>a\r\nb\rc</r>";
    text += '\0';
    text += "<broken";
    TiXmlBase::SetCondenseWhiteSpace(false);
    TiXmlDocument document;
    const bool loaded = LoadTinyXml(document, text);
    TiXmlBase::SetCondenseWhiteSpace(true);
    ASSERT_TRUE(loaded);
    EXPECT_STREQ(document.RootElement()->GetText(), "a\nb\nc");

    // An 8-bit text that is not UTF-8 is read byte by byte: 0xE9 does not swallow
    // the "<" after it.
    ASSERT_TRUE(LoadTinyXml(document, "<r a='caf\xE9'><b>\xE9</b></r>"));
    EXPECT_FALSE(PrepareTinyXmlText("<r a='caf\xE9'/>").bUtf8);
    EXPECT_STREQ(document.RootElement()->Attribute("a"), "caf\xE9");
    ASSERT_NE(document.RootElement()->FirstChildElement("b"), nullptr);
    EXPECT_TRUE(PrepareTinyXmlText("<r a='caf\xC3\xA9'/>").bUtf8);
}

TEST(TinyXmlLoader, WalkReportsTheDepthAndAttributesTinyXmlWillReach)
{
    const TinyXmlTextShape shape = WalkTinyXmlText(PrepareTinyXmlText("<r x='1'><a><b y='1' z='2' w='3'/></a><c/></r>"));
    EXPECT_TRUE(shape.bAccepted);
    EXPECT_EQ(shape.nDepth, 3u);
    EXPECT_EQ(shape.nAttributes, 3u);
}
