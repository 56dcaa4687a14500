#include "project/KvDecoderSettings.h"
#include "project/KvSideFiles.h"
#include "project/KvUiColors.h"

#include "common/KvText.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <string>

using namespace velmora;
using velmora::test::ReadFileBytes;
using velmora::test::TempProgramFolder;
using velmora::test::WriteFileBytes;

namespace {

// UTF-16 LE with its mark, as the document layer saves with code 3.
std::string Utf16File(const std::string& body)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : Utf8ToUtf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n" + body)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

class SideFilesTest : public ::testing::Test
{
protected:
    std::string Skin(const std::string& name) const { return folder.Work() + "skin/" + name; }
    const std::string& dir() const { return folder.Path(); }

    TempProgramFolder folder;
};

// ---- skin/h264.dat -------------------------------------------------------------

TEST_F(SideFilesTest, H264MissingFileKeepsValuesAndSaveWritesThemInOrder)
{
    tagKvH264Settings settings;
    EXPECT_FALSE(LoadH264Settings(dir(), settings));
    EXPECT_EQ(settings.nProfileIndex, 0);
    EXPECT_EQ(settings.nPFrameIndex, 6);
    EXPECT_EQ(settings.nBFrameIndex, 1);

    ASSERT_TRUE(SaveH264Settings(dir(), settings));
    EXPECT_EQ(ReadFileBytes(Skin("h264.dat")),
              Utf16File("<Settings nProfileIndex=\"0\" nPFrameIndex=\"6\" nBFrameIndex=\"1\"/>\r\n"));
}

TEST_F(SideFilesTest, H264RoundTripAndPartialFile)
{
    ASSERT_TRUE(SaveH264Settings(dir(), tagKvH264Settings{2, 3, 0}));
    tagKvH264Settings read;
    ASSERT_TRUE(LoadH264Settings(dir(), read));
    EXPECT_EQ(read.nProfileIndex, 2);
    EXPECT_EQ(read.nPFrameIndex, 3);
    EXPECT_EQ(read.nBFrameIndex, 0);

    // Missing attributes keep the program's current values.
    WriteFileBytes(Skin("h264.dat"), "<Settings nPFrameIndex=\"9\"/>");
    tagKvH264Settings partial{4, 5, 7};
    ASSERT_TRUE(LoadH264Settings(dir(), partial));
    EXPECT_EQ(partial.nProfileIndex, 4);
    EXPECT_EQ(partial.nPFrameIndex, 9);
    EXPECT_EQ(partial.nBFrameIndex, 7);

    // A document without "Settings" changes nothing.
    WriteFileBytes(Skin("h264.dat"), "<Other nProfileIndex=\"1\"/>");
    tagKvH264Settings untouched{4, 5, 7};
    EXPECT_FALSE(LoadH264Settings(dir(), untouched));
    EXPECT_EQ(untouched.nProfileIndex, 4);
}

// ---- skin/3dsmoothing.xml ------------------------------------------------------

TEST_F(SideFilesTest, SmoothingSwitch)
{
    int enable = 7;
    EXPECT_FALSE(LoadSmoothing(dir(), enable));
    EXPECT_EQ(enable, 7);

    ASSERT_TRUE(SaveSmoothing(dir(), 1));
    EXPECT_EQ(ReadFileBytes(Skin("3dsmoothing.xml")), Utf16File("<_3DSmoothing Enable=\"1\"/>\r\n"));
    EXPECT_TRUE(LoadSmoothing(dir(), enable));
    EXPECT_EQ(enable, 1);

    // The element without its attribute means off.
    WriteFileBytes(Skin("3dsmoothing.xml"), "<_3DSmoothing/>");
    EXPECT_TRUE(LoadSmoothing(dir(), enable));
    EXPECT_EQ(enable, 0);
}

// ---- skin/GL.dat ---------------------------------------------------------------

TEST_F(SideFilesTest, GLCapsAreReadAndTheFileRewrittenAsUtf16)
{
    WriteFileBytes(Skin("GL.dat"), "<?xml version=\"1.0\"?>\n<GL GLExtensionSupported=\"1\" GLMultiSampleFormat=\"4\"/>\n");
    tagKvGLCaps caps;
    EXPECT_EQ(LoadGLCaps(dir(), caps), 1);
    EXPECT_EQ(caps.GLExtensionSupported, 1);
    EXPECT_EQ(caps.GLMultiSampleFormat, 4);
    EXPECT_EQ(ReadFileBytes(Skin("GL.dat")),
              Utf16File("<GL GLExtensionSupported=\"1\" GLMultiSampleFormat=\"4\"/>\r\n"));
}

TEST_F(SideFilesTest, GLCapsMissingFileOrElement)
{
    tagKvGLCaps caps{3, 8};
    EXPECT_EQ(LoadGLCaps(dir(), caps), 0);
    EXPECT_EQ(caps.GLExtensionSupported, 3); // nothing loaded: stored values stay
    EXPECT_EQ(caps.GLMultiSampleFormat, 8);
    EXPECT_FALSE(std::filesystem::exists(Skin("GL.dat")));

    WriteFileBytes(Skin("GL.dat"), "<Graphics GLExtensionSupported=\"1\"/>");
    EXPECT_EQ(LoadGLCaps(dir(), caps), 0); // a file without "GL" holds no values
    EXPECT_EQ(caps.GLExtensionSupported, 0);
    EXPECT_EQ(caps.GLMultiSampleFormat, 0);
}

// ---- WAV delay files -----------------------------------------------------------

struct DelayCase
{
    const char* name;
    const char* content; // nullptr: no delay file
    double expected;
};

class WavDelayTest : public ::testing::TestWithParam<DelayCase>
{
};

TEST_P(WavDelayTest, ReadsDDelayOrZero)
{
    TempProgramFolder folder;
    const std::string wav = folder.Work() + "tmp/0812101010123.wav";
    if (GetParam().content)
        WriteFileBytes(wav + ".xml", GetParam().content);
    EXPECT_DOUBLE_EQ(GetWavDelay(Utf8ToWide(wav)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    SideFiles, WavDelayTest,
    ::testing::Values(DelayCase{"NoFile", nullptr, 0.0},
                      DelayCase{"Present", "<AudioData dDelay=\"0.25\"/>", 0.25},
                      DelayCase{"Negative", "<AudioData dDelay=\"-1.5\"/>", -1.5},
                      DelayCase{"NoAttribute", "<AudioData other=\"3\"/>", 0.0},
                      DelayCase{"OtherRoot", "<Audio dDelay=\"3\"/>", 0.0},
                      DelayCase{"NotFinite", "<AudioData dDelay=\"nan\"/>", 0.0},
                      DelayCase{"Unreadable", "\xC3\x28\xC3\x28 broken", 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SideFiles, WavDelayOfEmptyPathIsZero)
{
    EXPECT_EQ(GetWavDelay(L""), 0.0);
}

TEST(SideFiles, WavDelayIsReadInTheCLocaleUnderACommaLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    TempProgramFolder folder;
    const std::string wav = folder.Work() + "tmp/1.wav";
    WriteFileBytes(wav + ".xml", "<AudioData dDelay=\"0.25\"/>");
    const double delay = GetWavDelay(Utf8ToWide(wav));
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_DOUBLE_EQ(delay, 0.25);
}

// ---- skin/uicolors/UIColors.uic -------------------------------------------------

class UiColorsTest : public ::testing::Test
{
protected:
    bool Load(const std::string& text)
    {
        std::filesystem::create_directories(folder.Path() + "skin/uicolors");
        WriteFileBytes(Path(), text);
        return LoadUiColors(Path(), colors);
    }
    std::string Path() const { return folder.Path() + "skin/uicolors/UIColors.uic"; }

    TempProgramFolder folder;
    tagKvUiColors colors;
};

TEST_F(UiColorsTest, MissingOrBrokenFileKeepsDefaults)
{
    EXPECT_FALSE(LoadUiColors(Path(), colors));
    EXPECT_FALSE(Load("<colors selID=\"1\"><entry nID=\"1\" clrText=\"5\"></colors>"));
    // Nested deeper than TinyXML's recursion can take: refused before it parses.
    std::string deep = "<colors selID=\"1\">";
    for (int i = 0; i < 100000; ++i)
        deep += "<entry nID=\"1\" clrText=\"5\">";
    EXPECT_FALSE(Load(deep));
    EXPECT_EQ(colors.clrDlgBK, 3947580u);
    EXPECT_EQ(colors.clrDlgEdge, 10526880u);
    EXPECT_EQ(colors.clrCtrlBK, 6579300u);
    EXPECT_EQ(colors.clrText, 200u);
}

TEST_F(UiColorsTest, LaterMatchingEntryWinsAndOthersAreIgnored)
{
    ASSERT_TRUE(Load("<?xml version=\"1.0\"?>\n"
                     "<UIColors selID=\"2\">\n"
                     " <c nID=\"2\" clrDlgBK=\"1\" clrDlgEdge=\"2\" clrCtrlBK=\"3\" clrText=\"4\"/>\n"
                     " <c nID=\"1\" clrDlgBK=\"9\" clrDlgEdge=\"9\" clrCtrlBK=\"9\" clrText=\"9\"/>\n"
                     " <c nID=\"2\" clrDlgBK=\"11\" clrDlgEdge=\"12\" clrCtrlBK=\"13\" clrText=\"16777215\"/>\n"
                     "</UIColors>\n"));
    EXPECT_EQ(colors.clrDlgBK, 11u);
    EXPECT_EQ(colors.clrDlgEdge, 12u);
    EXPECT_EQ(colors.clrCtrlBK, 13u);
    EXPECT_EQ(colors.clrText, 16777215u);
}

TEST_F(UiColorsTest, EntryLackingAColourKeepsTheCurrentOne)
{
    ASSERT_TRUE(Load("<UIColors selID=\"3\">"
                     "<c nID=\"3\" clrDlgBK=\"1\" clrDlgEdge=\"2\" clrCtrlBK=\"3\" clrText=\"4\"/>"
                     "<c nID=\"3\" clrDlgBK=\"21\" clrText=\"x\"/>"
                     "</UIColors>"));
    EXPECT_EQ(colors.clrDlgBK, 21u);
    EXPECT_EQ(colors.clrDlgEdge, 2u);
    EXPECT_EQ(colors.clrCtrlBK, 3u);
    EXPECT_EQ(colors.clrText, 4u);
}

// ---- skin/decoder.xml ----------------------------------------------------------

TEST_F(SideFilesTest, DecoderStoreKeepsEachWritersValuesInFixedOrder)
{
    EXPECT_FALSE(ReadDecoderSettings(dir()).flip.has_value());

    ASSERT_TRUE(WriteDecoderResize(dir(), 0, 1, 864, 480));
    EXPECT_EQ(ReadFileBytes(DecoderSettingsPath(dir())),
              Utf16File("<default flip=\"0\" isResize=\"1\" resizeAscpect=\"0\" resizeDx=\"864\" resizeDy=\"480\"/>\r\n"));

    ASSERT_TRUE(WriteDecoderDeinterlace(dir(), 1));
    // A later resize write keeps the dialog's value, and its place at the end.
    ASSERT_TRUE(WriteDecoderResize(dir(), 1, 0, 640, 360));
    EXPECT_EQ(ReadFileBytes(DecoderSettingsPath(dir())),
              Utf16File("<default flip=\"1\" isResize=\"0\" resizeAscpect=\"0\" resizeDx=\"640\" resizeDy=\"360\" isDeinterlace=\"1\"/>\r\n"));

    const DecoderSettings read = ReadDecoderSettings(dir());
    EXPECT_EQ(read.flip, 1);
    EXPECT_EQ(read.resizeDx, 640);
    EXPECT_EQ(read.resizeDy, 360);
    EXPECT_EQ(read.isDeinterlace, 1);

    // The engine's write from its option record: flip from bFlipVideo, resize from bForceResize.
    tagKvOptionRecord record{};
    record.bFlipVideo = 1;
    record.bForceResize = 0;
    record.nWidth = 864;
    record.nHeight = 480;
    ASSERT_TRUE(WriteDecoderSettings(dir(), record));
    EXPECT_EQ(ReadFileBytes(DecoderSettingsPath(dir())),
              Utf16File("<default flip=\"1\" isResize=\"0\" resizeAscpect=\"0\" resizeDx=\"864\" resizeDy=\"480\" isDeinterlace=\"1\"/>\r\n"));
}

} // namespace
