#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <climits>

using namespace velmora;

namespace {

std::string Utf16LeBytes(const std::u16string& text, bool mark)
{
    std::string bytes = mark ? std::string("\xFF\xFE", 2) : std::string();
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

} // namespace

TEST(KvWmProfile, OffersOnlyConstantBitRateFormatsOfTheStandardCodec)
{
    ASSERT_EQ(WmAudioCodecs().size(), 1u);
    EXPECT_EQ(WmAudioCodecs()[0].name, L"Windows Media Audio 9.2");
    EXPECT_TRUE(WmAudioFormats(0, 1).empty());
    EXPECT_TRUE(WmAudioFormats(1, 0).empty());
    for (const auto& format : WmAudioFormats(0, 0)) {
        EXPECT_LE(format.nSampleRate, 48000);
        EXPECT_GE(format.nBitrate, 24000);
        EXPECT_EQ(format.description.find(L"VBR"), std::wstring::npos);
    }
    // The first "128 kbps" entry is what a new user gets.
    const auto formats = WmAudioFormats(0, 0);
    auto it = std::find_if(formats.begin(), formats.end(), [](const WmAudioFormat& f) { return f.description.find(L"128 kbps") != std::wstring::npos; });
    ASSERT_NE(it, formats.end());
    EXPECT_EQ(it->description, L"128 kbps, 44 kHz, stereo CBR");

    WmAudioFormat format;
    EXPECT_FALSE(ResolveWmAudioFormat(0, 5003, format)); // variable bit rate is not on offer
    EXPECT_FALSE(ResolveWmAudioFormat(-1, 0, format));
    EXPECT_FALSE(ResolveWmAudioFormat(0, 999, format));
}

TEST(KvWmProfile, WrittenProfileIsUtf16WithoutMarkAndReadsBack)
{
    test::TempFolder folder;
    const std::string path = folder.Path() + "wmv.prx";
    const auto formats = WmAudioFormats(0, 0);
    const auto mono = std::find_if(formats.begin(), formats.end(), [](const WmAudioFormat& f) { return f.nBitrate == 64000 && f.nChannels == 1; });
    ASSERT_NE(mono, formats.end());
    const int value = static_cast<int>(mono - formats.begin());
    ASSERT_TRUE(WriteWmProfile(path, 0, value));
    const std::string bytes = test::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], '<');
    EXPECT_EQ(bytes[1], '\0');

    WmProfileStream stream;
    ASSERT_TRUE(ParseWmProfile(bytes, stream));
    EXPECT_EQ(stream.wFormatTag, kWaveFormatWmaStandard);
    EXPECT_EQ(stream.nBitrate, 64000);
    EXPECT_EQ(stream.nSampleRate, 44100);
    EXPECT_EQ(stream.nChannels, 1);

    EXPECT_FALSE(WriteWmProfile(path + "-missing/x.prx", 0, 0));
    EXPECT_FALSE(WriteWmProfile(folder.Path() + "other.prx", 3, 0));
}

TEST(KvWmProfile, ReadsProfilesSavedByOtherTools)
{
    const std::string spread =
        "<profile version=\"589824\"\r\n   name=\"x\">\r\n"
        "  <streamconfig majortype = \"{73647561-0000-0010-8000-00AA00389B71}\"\r\n"
        "      streamnumber=\"1\" bitrate = \" 96000 \" >\r\n"
        "   <wmmediatype subtype=\"{00000162-0000-0010-8000-00AA00389B71}\">\r\n"
        "     <WAVEFORMATEX wFormatTag=\"354\"\r\n nChannels=\"6\" nSamplesPerSec=\"96000\"\r\n"
        "       nAvgBytesPerSec=\"12000\" nBlockAlign=\"4459\" wBitsPerSample=\"24\"/>\r\n"
        "   </wmmediatype>\r\n  </streamconfig>\r\n</profile>\r\n";
    const std::u16string wide = Utf8ToUtf16(spread) + u'\0';
    const struct {
        const char* name;
        std::string bytes;
    } forms[] = {
        {"8-bit", spread},
        {"utf-16 with mark and terminator", Utf16LeBytes(wide, true)},
        {"utf-16 without mark", Utf16LeBytes(wide, false)},
        {"utf-8 with mark", "\xEF\xBB\xBF" + spread},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.name);
        WmProfileStream stream;
        ASSERT_TRUE(ParseWmProfile(form.bytes, stream));
        EXPECT_EQ(stream.wFormatTag, kWaveFormatWmaPro);
        EXPECT_EQ(stream.nBitrate, 96000);
        EXPECT_EQ(stream.nSampleRate, 96000);
        EXPECT_EQ(stream.nChannels, 6);
    }
}

TEST(KvWmProfile, RejectsTextWithoutAnAudioStream)
{
    WmProfileStream stream;
    EXPECT_FALSE(ParseWmProfile("", stream));
    EXPECT_FALSE(ParseWmProfile("not a profile at all", stream));
    EXPECT_FALSE(ParseWmProfile("<profile><streamconfig majortype=\"{73646976-0000-0010-8000-00AA00389B71}\">"
                                "<waveformatex wFormatTag=\"353\" nChannels=\"2\" nSamplesPerSec=\"44100\"/></streamconfig></profile>",
        stream)); // a video stream's major type
}

TEST(KvWmProfile, ReadsTagsAsWritten)
{
    // A stream in a comment is no stream; a ">" inside quotes does not end a tag; of
    // an attribute given twice, the first counts.
    const std::string text =
        "<profile><!-- <streamconfig><waveformatex wFormatTag=\"1\" nChannels=\"1\" nSamplesPerSec=\"8000\"/> -->"
        "<streamconfig name=\"a > b\" bitrate=\"96000\" bitrate=\"1\">"
        "<waveformatex wFormatTag='353' nChannels='2' nSamplesPerSec='32000'/></streamconfig></profile>";
    WmProfileStream stream;
    ASSERT_TRUE(ParseWmProfile(text, stream));
    EXPECT_EQ(stream.wFormatTag, kWaveFormatWmaStandard);
    EXPECT_EQ(stream.nBitrate, 96000);
    EXPECT_EQ(stream.nSampleRate, 32000);
}

// Without a bit rate the stream's bytes per second are taken times eight; a value
// beyond the int range used to overflow there.
TEST(KvWmProfile, BytesPerSecondBeyondTheIntRangeStopAtItsEdge)
{
    const auto bitrate = [](const std::string& avgBytes) {
        WmProfileStream stream;
        EXPECT_TRUE(ParseWmProfile("<streamconfig><waveformatex wFormatTag=\"353\" nChannels=\"2\" nSamplesPerSec=\"44100\" "
                                   "nAvgBytesPerSec=\"" + avgBytes + "\"/></streamconfig>",
                                   stream));
        return stream.nBitrate;
    };
    EXPECT_EQ(bitrate("16000"), 128000);
    EXPECT_EQ(bitrate("2147483647"), INT_MAX);
    EXPECT_EQ(bitrate("-2147483648"), INT_MIN);
}

// Each stream description used to be searched to the end of the file for its wave
// format and attributes: 3 MB kept the engine busy for minutes, this would take far
// longer. Now the file is read in one pass.
TEST(KvWmProfile, ManyStreamDescriptionsAreReadInOnePass)
{
    std::string text = "<profile>";
    for (int i = 0; i < 400000; ++i)
        text += "<streamconfig>";
    for (int i = 0; i < 100000; ++i)
        text += "<streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\" ";
    text += "<streamconfig bitrate=\"64000\"><waveformatex wFormatTag=\"353\" nChannels=\"1\" nSamplesPerSec=\"22050\"/>";
    WmProfileStream stream;
    ASSERT_TRUE(ParseWmProfile(text, stream));
    EXPECT_EQ(stream.nBitrate, 64000);
    EXPECT_EQ(stream.nSampleRate, 22050);
}
