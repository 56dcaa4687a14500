#include "xml/KvXmlNode.h"

#include "common/KvText.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using velmora::XmlEscape;
using velmora::XmlUnescape;

namespace {

// ASCII text as UTF-16 little-endian bytes, written out by hand so the expectation
// does not go through the conversions under test.
std::string AsciiToUtf16Le(const std::string& ascii)
{
    std::string bytes;
    for (char ch : ascii) {
        bytes += ch;
        bytes += '\0';
    }
    return bytes;
}

std::string Save(const CKvXmlNode& node, int code)
{
    std::string bytes;
    EXPECT_TRUE(node.SaveToBuffer(code, bytes));
    return bytes;
}

} // namespace

TEST(KvXmlNodeTextForm, SmallProjectIsWrittenByteForByte)
{
    CKvXmlNode doc;
    CKvXmlNode* project = doc.AddChild(L"project");
    project->SetDoubleAttribute(L"dScaleFactorForPlay", 1.0);
    project->SetIntAttribute(L"vensettingIndex", 3);
    CKvXmlNode* line = project->AddChild(L"line");
    line->SetDoubleAttribute(L"z3DGroup", 40.0);
    CKvXmlNode* item = line->AddChild(L"item");
    item->SetDoubleAttribute(L"dEditorEndTime", 3723.456);
    item->SetDoubleAttribute(L"dVSelfEndTime", 59.9999999);
    item->SetDoubleAttribute(L"dAudioDelay", 0.0005);
    item->SetIntAttribute(L"clr", -1);
    item->AddChild(L"colorblk");
    item->AddChild(L"source")->SetText(L"/home/a/b.mkv");
    item->AddChild(L"", CKvXmlNode::kComment)->SetText(L" note ");
    project->SetIntAttribute(L"count", 2);

    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
        "<project dScaleFactorForPlay=\"1\" vensettingIndex=\"3\" count=\"2\">\r\n"
        "\t<line z3DGroup=\"40\">\r\n"
        "\t\t<item dEditorEndTime=\"3723.46\" dVSelfEndTime=\"60\" dAudioDelay=\"0.0005\" clr=\"-1\">\r\n"
        "\t\t\t<colorblk/>\r\n"
        "\t\t\t<source>/home/a/b.mkv</source>\r\n"
        "\t\t\t<!-- note -->\r\n"
        "\t\t</item>\r\n"
        "\t</line>\r\n"
        "</project>\r\n";
    EXPECT_EQ(Save(doc, CKvXmlNode::kUtf16Le), std::string("\xFF\xFE", 2) + AsciiToUtf16Le(expected));
    EXPECT_EQ(Save(doc, CKvXmlNode::kUtf8), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + expected.substr(41));
}

struct SaveCodeCase
{
    int code;
    std::string expected; // bytes for <a>é😀</a>
};

class KvXmlNodeSaveCode : public ::testing::TestWithParam<SaveCodeCase> {};

TEST_P(KvXmlNodeSaveCode, WritesMarkDeclarationAndBodyEncoding)
{
    CKvXmlNode doc;
    doc.AddChild(L"a")->SetText(L"\u00E9\U0001F600");
    EXPECT_EQ(Save(doc, GetParam().code), GetParam().expected);

    // Whatever was written loads back to the same text.
    CKvXmlNode loaded;
    ASSERT_TRUE(loaded.LoadFromBuffer(GetParam().expected));
    ASSERT_NE(loaded.FirstChild(L"a"), nullptr);
    EXPECT_EQ(loaded.FirstChild(L"a")->GetText(), L"\u00E9\U0001F600");
}

const std::string kDecl8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
const std::string kDecl16 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";

std::string SwapPairs(std::string bytes)
{
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

const std::string kBody16Le = AsciiToUtf16Le(kDecl16 + "<a>") + std::string("\xE9\x00\x3D\xD8\x00\xDE", 6) +
                              AsciiToUtf16Le("</a>\r\n");

INSTANTIATE_TEST_SUITE_P(
    AllCodes, KvXmlNodeSaveCode,
    ::testing::Values(
        SaveCodeCase{1, "\xEF\xBB\xBF" + kDecl8 + "<a>\xC3\xA9\xF0\x9F\x98\x80</a>\r\n"},
        SaveCodeCase{2, kDecl8 + "<a>\xC3\xA9\xF0\x9F\x98\x80</a>\r\n"},
        SaveCodeCase{3, std::string("\xFF\xFE", 2) + kBody16Le},
        SaveCodeCase{4, std::string("\xFE\xFF", 2) + SwapPairs(kBody16Le)}));

TEST(KvXmlNodeSave, UnknownCodesFailAndCreateNoFile)
{
    velmora::test::TempFolder folder;
    CKvXmlNode doc;
    doc.AddChild(L"a");
    for (int code : {0, 5, -1}) {
        std::string bytes = "old";
        EXPECT_FALSE(doc.SaveToBuffer(code, bytes)) << code;
        EXPECT_TRUE(bytes.empty());
        const std::string path = folder.Path() + "x" + std::to_string(code) + ".xml";
        EXPECT_FALSE(doc.Save(path, code));
        EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
    }
    EXPECT_FALSE(doc.Save(folder.Path() + "missing/dir.xml", CKvXmlNode::kUtf16Le));
}

TEST(KvXmlNodeSave, FileIsTruncatedAndLoadsBackThroughUtf8Path)
{
    velmora::test::TempFolder folder;
    const std::string path = folder.Path() + "Projekt \xC3\xA4 <1>.kvmmpj";
    CKvXmlNode big;
    for (int i = 0; i < 50; ++i)
        big.AddChild(L"item")->SetIntAttribute(L"n", i);
    ASSERT_TRUE(big.Save(path, CKvXmlNode::kUtf16Le));
    CKvXmlNode small;
    small.AddChild(L"project")->SetIntAttribute(L"count", 7);
    ASSERT_TRUE(small.Save(path, CKvXmlNode::kUtf16Le));

    CKvXmlNode loaded;
    ASSERT_TRUE(loaded.Load(path));
    ASSERT_EQ(loaded.GetChildCount(), 1u);
    EXPECT_EQ(loaded.FirstElement()->GetIntAttribute(L"count"), 7);
    EXPECT_FALSE(loaded.Load(folder.Path() + "absent.kvmmpj"));
    EXPECT_EQ(loaded.GetChildCount(), 0u);
}

// Engines that run at once read and rewrite the same side files: a reader sees the
// old document or the new one whole, never one cut short, and no temporary file stays.
TEST(KvXmlNodeSave, AReaderNeverSeesAHalfWrittenFile)
{
    velmora::test::TempFolder folder;
    const std::string path = folder.Path() + "GL.dat";
    CKvXmlNode one;
    CKvXmlNode two;
    for (int i = 0; i < 400; ++i) {
        one.AddChild(L"item")->SetIntAttribute(L"n", i);
        two.AddChild(L"other")->SetIntAttribute(L"n", -i);
    }
    ASSERT_TRUE(one.Save(path, CKvXmlNode::kUtf16Le));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i)
            (i % 2 ? one : two).Save(path, CKvXmlNode::kUtf16Le);
        done = true;
    });
    int reads = 0;
    int torn = 0;
    while (!done) {
        CKvXmlNode loaded;
        ++reads;
        if (!loaded.Load(path) || loaded.GetChildCount() != 400)
            ++torn;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

struct LoadCase
{
    const char* label;
    std::string bytes;
    bool ok;
};

class KvXmlNodeLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(KvXmlNodeLoad, AcceptsOrRefuses)
{
    CKvXmlNode doc;
    EXPECT_EQ(doc.LoadFromBuffer(GetParam().bytes), GetParam().ok) << GetParam().label;
    if (!GetParam().ok) {
        EXPECT_EQ(doc.GetChildCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, KvXmlNodeLoad,
    ::testing::Values(
        LoadCase{"empty", "", false},
        LoadCase{"two bytes", "<a", false},
        LoadCase{"two bytes of a mark", "\xFF\xFE", false},
        LoadCase{"ascii without mark", "<a/>", true},
        LoadCase{"valid utf-8 without mark", "<a n=\"\xC3\xA4\"/>", true},
        LoadCase{"latin-1 byte without mark", "<a n=\"\xE4\"/>", false},
        LoadCase{"truncated sequence at end", "<a/>\xE2\x82", false},
        LoadCase{"five-byte lead", "<a/>\xF8\x88\x80\x80\x80", false},
        LoadCase{"utf-8 mark", "\xEF\xBB\xBF<a/>", true},
        LoadCase{"unclosed element", "<a><b></b>", false},
        LoadCase{"unclosed nested", "<a><b>", false},
        LoadCase{"stray end tag", "<a/></a>", false},
        LoadCase{"unterminated tag", "<a n=\"1\"", false},
        LoadCase{"unterminated value", "<a n=\"1/>", false},
        LoadCase{"single quotes", "<a n='1'/>", false},
        LoadCase{"declaration and comment only", "<?xml version=\"1.0\"?><!-- x -->", true},
        LoadCase{"lone less-than at end", "<a/><", false}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.label))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(KvXmlNodeLoad, BigEndianFileIsReadWithBytesSwapped)
{
    const std::string bytes = std::string("\xFE\xFF", 2) + SwapPairs(AsciiToUtf16Le("<r v=\"2\">x</r>"));
    CKvXmlNode doc;
    ASSERT_TRUE(doc.LoadFromBuffer(bytes));
    CKvXmlNode* root = doc.FirstElement();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), L"r");
    EXPECT_EQ(root->GetIntAttribute(L"v"), 2);
    EXPECT_EQ(root->GetText(), L"x");
}

TEST(KvXmlNodeParse, BuildsTheTreeTheWriterDescribes)
{
    const std::string text =
        "<?xml version=\"1.0\"?>\r\n"
        "<!--top-->\r\n"
        "<project a=\"1\" b=\"x y\">\r\n"
        "\t<line><item n=\"1\"/><!-- c --><item n=\"2\" / ></line>\r\n"
        "\t<source> /a &amp; b </source>\r\n"
        "\t<flag/>\r\n"
        "\t<odd x=\"1\" empty></odd>\r\n"
        "</project>\r\n";
    CKvXmlNode doc;
    ASSERT_TRUE(doc.LoadFromBuffer(text));
    ASSERT_EQ(doc.GetChildCount(), 2u);
    EXPECT_EQ(doc.GetChild(0)->GetKind(), CKvXmlNode::kComment);
    EXPECT_EQ(doc.GetChild(0)->GetText(), L"top");

    CKvXmlNode* project = doc.FirstElement();
    ASSERT_EQ(project->GetName(), L"project");
    EXPECT_EQ(project->GetParent(), &doc);
    EXPECT_EQ(project->GetStringAttribute(L"b"), L"x y");
    EXPECT_TRUE(project->GetRawText().empty()) << "an element with children keeps no text";

    CKvXmlNode* line = project->FirstChild(L"line");
    ASSERT_EQ(line->GetChildCount(), 3u);
    EXPECT_EQ(line->GetChild(1)->GetKind(), CKvXmlNode::kComment);
    EXPECT_EQ(line->GetChild(1)->GetText(), L" c ");
    EXPECT_EQ(line->GetChild(2)->GetIntAttribute(L"n"), 2);
    EXPECT_EQ(line->GetChild(2)->GetChildCount(), 0u);

    CKvXmlNode* source = project->FirstChild(L"source");
    EXPECT_EQ(source->GetRawText(), L" /a &amp; b ");
    EXPECT_EQ(source->GetText(), L" /a & b ");
    EXPECT_TRUE(project->FirstChild(L"flag")->GetRawText().empty());
    CKvXmlNode* odd = project->FirstChild(L"odd");
    EXPECT_TRUE(odd->HasAttribute(L"empty"));
    EXPECT_EQ(odd->GetAttributes().size(), 2u);
}

// A name given twice in a tag keeps its last value where its last occurrence stands,
// as if the pairs had been set one after another.
TEST(KvXmlNodeParse, RepeatedAttributeKeepsItsLastValueInItsLastPlace)
{
    CKvXmlNode doc;
    ASSERT_TRUE(doc.LoadFromBuffer("<e a=\"1\" b=\"2\" a=\"3\" c=\"4\" b=\"5\" b=\"6\"/>"));
    const std::vector<CKvXmlNode::Attribute> expected = {{L"a", L"3"}, {L"c", L"4"}, {L"b", L"6"}};
    EXPECT_EQ(doc.FirstElement()->GetAttributes(), expected);
}

// Each attribute used to be checked against all earlier ones of its tag (80,000 took
// 11 s; this many would take many minutes, past ctest's timeout). Now a fraction of a
// second.
TEST(KvXmlNodeParse, TagWithAGreatManyAttributesLoads)
{
    constexpr std::size_t kCount = 700000;
    std::wstring text = L"<e";
    for (std::size_t i = 0; i < kCount; ++i) {
        // Distinct two-letter names from a large alphabet keep the text small.
        text += L' ';
        text += static_cast<wchar_t>(0x4E00 + i / 1000);
        text += static_cast<wchar_t>(0x4E00 + i % 1000);
    }
    text += L"/>";
    CKvXmlNode doc;
    ASSERT_TRUE(doc.LoadFromBuffer(velmora::WideToUtf8(text)));
    EXPECT_EQ(doc.FirstElement()->GetAttributes().size(), kCount);
}

TEST(KvXmlNodeParse, NestingDeeperThanTheLimitIsRefused)
{
    const auto nested = [](std::size_t levels) {
        std::string text;
        for (std::size_t i = 0; i < levels; ++i)
            text += "<a>";
        for (std::size_t i = 0; i < levels; ++i)
            text += "</a>";
        return text;
    };
    CKvXmlNode doc;
    EXPECT_TRUE(doc.LoadFromBuffer(nested(CKvXmlNode::kMaxDepth)));
    EXPECT_FALSE(doc.LoadFromBuffer(nested(CKvXmlNode::kMaxDepth + 1)));
    EXPECT_FALSE(doc.LoadFromBuffer(nested(200000)));
}

TEST(KvXmlNodeAttributes, ReplacingMovesThePairToTheEnd)
{
    CKvXmlNode doc;
    CKvXmlNode* e = doc.AddChild(L"e");
    e->SetIntAttribute(L"a", 1);
    e->SetIntAttribute(L"b", 2);
    e->SetIntAttribute(L"c", 3);
    e->SetDoubleAttribute(L"a", 1.5);
    ASSERT_EQ(e->GetAttributes().size(), 3u);
    EXPECT_EQ(e->GetAttributes()[0].first, L"b");
    EXPECT_EQ(e->GetAttributes()[2], (CKvXmlNode::Attribute{L"a", L"1.5"}));
    EXPECT_EQ(Save(doc, CKvXmlNode::kUtf8), kDecl8 + "<e b=\"2\" c=\"3\" a=\"1.5\"/>\r\n");
}

TEST(KvXmlNodeAttributes, GettersConvertOrFallBackToTheDefault)
{
    CKvXmlNode doc;
    ASSERT_TRUE(doc.LoadFromBuffer("<e i=\"12abc\" n=\"abc\" m=\" -5\" d=\"3.5e2x\" f=\"0.25\" s=\"\"/>"));
    const CKvXmlNode* e = doc.FirstElement();
    EXPECT_EQ(e->GetIntAttribute(L"i", 9), 12);
    EXPECT_EQ(e->GetIntAttribute(L"n", 9), 0);
    EXPECT_EQ(e->GetIntAttribute(L"m", 9), -5);
    EXPECT_EQ(e->GetIntAttribute(L"missing", 9), 9);
    EXPECT_DOUBLE_EQ(e->GetDoubleAttribute(L"d", 1.0), 350.0);
    EXPECT_DOUBLE_EQ(e->GetDoubleAttribute(L"n", 1.0), 0.0);
    EXPECT_DOUBLE_EQ(e->GetDoubleAttribute(L"missing", 1.0), 1.0);
    EXPECT_EQ(e->GetStringAttribute(L"s", L"def"), L"");
    EXPECT_EQ(e->GetStringAttribute(L"missing", L"a&amp;b"), L"a&amp;b") << "the default is returned as given";
    // Names match exactly and whole.
    EXPECT_FALSE(e->HasAttribute(L"I"));
    EXPECT_FALSE(e->HasAttribute(L"f "));
    EXPECT_FALSE(e->HasAttribute(L""));
    EXPECT_TRUE(e->HasAttribute(L"f"));
}

TEST(KvXmlNodeChildren, LookupByNameAndIteration)
{
    CKvXmlNode doc;
    CKvXmlNode* root = doc.AddChild(L"line");
    CKvXmlNode* a = root->AddChild(L"item");
    root->AddChild(L"Item");
    root->AddChild(L"item", CKvXmlNode::kComment);
    CKvXmlNode* b = root->AddChild(L"item");
    EXPECT_EQ(root->AddChild(L"x", CKvXmlNode::kDocument), nullptr);
    EXPECT_EQ(root->AddChild(L"x", 3), nullptr);

    EXPECT_EQ(root->FirstChild(L"item"), a);
    EXPECT_EQ(root->NextChild(L"item", a), b);
    EXPECT_EQ(root->NextChild(L"item", b), nullptr);
    EXPECT_EQ(root->FirstChild(L"none"), nullptr);

    int count = 0;
    for (CKvXmlNode* c = root->FirstChild(); c; c = root->NextChild(c))
        ++count;
    EXPECT_EQ(count, 4);
    EXPECT_EQ(b->GetParent(), root);

    EXPECT_TRUE(root->RemoveChild(a));
    EXPECT_FALSE(root->RemoveChild(&doc));
    EXPECT_EQ(root->FirstChild(L"item"), b);
}

// Children know their place, so that walking them stays linear; removals move the
// places of the ones after.
TEST(KvXmlNodeChildren, IterationFollowsRemovals)
{
    CKvXmlNode doc;
    CKvXmlNode* root = doc.AddChild(L"r");
    std::vector<CKvXmlNode*> items;
    for (int i = 0; i < 5; ++i) {
        items.push_back(root->AddChild(L"item"));
        items.back()->SetIntAttribute(L"n", i);
    }
    ASSERT_TRUE(root->RemoveChild(items[1]));
    ASSERT_TRUE(root->RemoveChild(items[3]));
    std::vector<int> seen;
    for (CKvXmlNode* c = root->FirstChild(L"item"); c; c = root->NextChild(L"item", c))
        seen.push_back(c->GetIntAttribute(L"n"));
    EXPECT_EQ(seen, (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(root->NextChild(items[2]), items[4]);
    EXPECT_EQ(root->GetChild(2), items[4]);
    EXPECT_EQ(root->NextChild(root), nullptr) << "not a child of itself";
    EXPECT_FALSE(root->RemoveChild(root));
    CKvXmlNode* last = root->AddChild(L"last");
    EXPECT_EQ(root->NextChild(items[4]), last);
}

TEST(KvXmlEscape, EscapeAndUnescape)
{
    EXPECT_EQ(XmlEscape(L"a<b>&\"c'"), L"a&lt;b&gt;&amp;&quot;c'");
    EXPECT_EQ(XmlUnescape(L"a&lt;b&gt;&amp;&quot;c'"), L"a<b>&\"c'");
    // One left-to-right pass: a written "&lt;" must not turn into "<".
    EXPECT_EQ(XmlUnescape(L"&amp;lt;"), L"&lt;");
    EXPECT_EQ(XmlUnescape(XmlEscape(L"&amp;lt;&quot")), L"&amp;lt;&quot");
    // Anything else stays as it is.
    EXPECT_EQ(XmlUnescape(L"&apos; & &l &#60; &"), L"&apos; & &l &#60; &");
}

TEST(KvXmlEscape, FileNamesWithMarkupCharactersRoundTrip)
{
    const std::wstring name = L"/m/Live <2019> & \"x\" &lt;.mkv";
    CKvXmlNode doc;
    CKvXmlNode* item = doc.AddChild(L"item");
    item->SetAttribute(L"MaskszImageFill", name);
    item->AddChild(L"source")->SetText(name);
    item->AddChild(L"", CKvXmlNode::kComment)->SetText(L"a-->b");

    const std::string bytes = Save(doc, CKvXmlNode::kUtf8);
    EXPECT_NE(bytes.find("\"/m/Live &lt;2019&gt; &amp; &quot;x&quot; &amp;lt;.mkv\""), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("<source>/m/Live &lt;2019&gt; &amp; &quot;x&quot; &amp;lt;.mkv</source>"),
              std::string::npos);

    CKvXmlNode loaded;
    ASSERT_TRUE(loaded.LoadFromBuffer(bytes));
    const CKvXmlNode* back = loaded.FirstElement();
    EXPECT_EQ(back->GetStringAttribute(L"MaskszImageFill"), name);
    EXPECT_EQ(back->FirstChild(L"source")->GetText(), name);
    EXPECT_EQ(back->GetChild(1)->GetText(), L"a-->b");
}

TEST(KvXmlNodeLocale, NumbersUseTheCLocaleUnderACommaDecimalLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";

    CKvXmlNode doc;
    CKvXmlNode* e = doc.AddChild(L"e");
    e->SetDoubleAttribute(L"d", 3723.456);
    e->SetFloatAttribute(L"f", 0.5f);
    e->SetIntAttribute(L"i", 1234567);
    const std::string bytes = Save(doc, CKvXmlNode::kUtf8);
    CKvXmlNode loaded;
    const bool ok = loaded.LoadFromBuffer(bytes);
    const CKvXmlNode* back = loaded.FirstElement();
    const double d = back ? back->GetDoubleAttribute(L"d") : 0.0;
    std::setlocale(LC_ALL, previous.c_str());

    EXPECT_NE(bytes.find("<e d=\"3723.46\" f=\"0.5\" i=\"1234567\"/>"), std::string::npos) << bytes;
    ASSERT_TRUE(ok);
    EXPECT_DOUBLE_EQ(d, 3723.46);
}
