// What users keep: the files the real kvengine writes. Codec, rate, channels and bit
// rate as asked (or the nearest legal ones), the project's length, and the source's
// sound trimmed, sped up and delayed as the project says, at the right sample.

#include "EngineTestHelper.h"

#include "common/KvText.h"
#include "common/KvWmProfile.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

constexpr int kCompareRate = 44100;

// The front end's profile text for the WMA format of bitrate, rate and channels.
bool WriteProfile(const std::string& path, int bitrate, int rate, int channels)
{
    const std::vector<WmAudioFormat> formats = WmAudioFormats(0, 0);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (formats[i].nBitrate == bitrate && formats[i].nSampleRate == rate && formats[i].nChannels == channels)
            return WriteWmProfile(path, 0, static_cast<int>(i));
    }
    return false;
}

// A profile as another tool saves it: a byte-order mark, a stream our encoder cannot
// write (WMA Pro, 96 kHz) and a trailing U+0000.
void WriteForeignProfile(const std::string& path)
{
    WmAudioFormat format;
    format.nBitrate = 192000;
    format.nSampleRate = 96000;
    format.nChannels = 2;
    std::u16string text = u"\uFEFF" + BuildWmAudioProfileText(format, kWaveFormatWmaPro, "en-us") + u'\0';
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    WriteFileBytes(path, bytes);
}

enum class Profile { None, Standard, Foreign };

struct OutputCase
{
    const char* name;
    int outputType;
    int kbps;
    int sampleRate;
    int channels;  // the option record's field: 0 mono, 1 stereo
    Profile profile;
    double start, end, speed, syncAudio;
    // Expected
    const char* codec;
    int rate;
    int outChannels;
    int bitrate;
    const char* logText; // nullptr: nothing logged
    bool aacSource = false; // a 48 kHz AAC source instead of the 44100 Hz WAV
};

void PrintTo(const OutputCase& c, std::ostream* os)
{
    *os << c.name;
}

class EngineOutput : public ::testing::TestWithParam<OutputCase>
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-engine-out");
        s_source = s_media->Path() + "source.wav";
        ASSERT_TRUE(MakeSource(s_source, 4.0, 44100));
        s_aacSource = s_media->Path() + "source.m4a";
        ASSERT_TRUE(MakeSource(s_aacSource, 4.0, 48000));
    }
    static void TearDownTestSuite() { s_media.reset(); }

    static std::unique_ptr<TempFolder> s_media;
    static std::string s_source;
    static std::string s_aacSource;
};

std::unique_ptr<TempFolder> EngineOutput::s_media;
std::string EngineOutput::s_source;
std::string EngineOutput::s_aacSource;

// Source channel c as the output should sound from its first sample: the item's
// source time at output sample i is in + speed·i/rate, with a positive sync value
// starting the source that much earlier.
std::vector<std::int16_t> Expected(const std::string& source, const OutputCase& c, int channel, double duration)
{
    const int sourceRate = static_cast<int>(std::lround(kCompareRate / c.speed));
    std::vector<std::int16_t> all = channel < 0 ? std::vector<std::int16_t>() : DecodeChannel(source, sourceRate, channel);
    if (channel < 0) { // mono: the mean of both channels
        const auto left = DecodeChannel(source, sourceRate, 0);
        const auto right = DecodeChannel(source, sourceRate, 1);
        all.resize(std::min(left.size(), right.size()));
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<std::int16_t>((left[i] + right[i]) / 2);
    }
    const auto first = static_cast<std::size_t>(std::lround((c.start - c.syncAudio) * sourceRate));
    const auto count = static_cast<std::size_t>(std::lround(duration * kCompareRate));
    if (first >= all.size())
        return {};
    return std::vector<std::int16_t>(all.begin() + static_cast<long>(first),
                                     all.begin() + static_cast<long>(std::min(all.size(), first + count)));
}

} // namespace

TEST_P(EngineOutput, MatchesSettingsLengthAndSound)
{
    const OutputCase& c = GetParam();
    const std::string& source = c.aacSource ? s_aacSource : s_source;
    EngineJob job;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(c.outputType, c.kbps, c.sampleRate, c.channels)));
    if (c.profile == Profile::Standard)
        ASSERT_TRUE(WriteProfile(job.JobFile("wmv.prx"), 128000, 44100, 2));
    else if (c.profile == Profile::Foreign)
        WriteForeignProfile(job.JobFile("wmv.prx"));
    ASSERT_TRUE(job.WriteProject({{source, 4.0, c.start, c.end, c.speed, c.syncAudio}}));
    const std::string output = job.Folder() + "out" + OutputExtension(c.outputType);
    job.FillConversion(output);

    ASSERT_EQ(job.Run(60000), 0);
    const double duration = (c.end - c.start) / c.speed;
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bConvertFailed, 0) << job.LogText();
    EXPECT_EQ(job.Block().bEngineClosed, 1);
    EXPECT_EQ(job.Block().bGraphRunning, 1);
    EXPECT_DOUBLE_EQ(job.Block().dPosition, duration);
    ASSERT_TRUE(fs::exists(output)) << job.LogText();
    EXPECT_FALSE(fs::exists(output + ".part"));
    if (c.logText)
        EXPECT_NE(job.LogText().find(c.logText), std::string::npos) << job.LogText();
    else
        EXPECT_EQ(job.LogText(), "");

    EXPECT_EQ(ProbeStream(output, "codec_name"), c.codec);
    EXPECT_EQ(ProbeStream(output, "sample_rate"), std::to_string(c.rate));
    EXPECT_EQ(ProbeStream(output, "channels"), std::to_string(c.outChannels));
    EXPECT_EQ(ProbeStream(output, "bit_rate"), std::to_string(c.bitrate));

    // Length: what a player decodes, within one encoder frame of the time line.
    const double frame = (std::string(c.codec) == "mp3" ? 1152.0 : 2048.0) / c.rate;
    const std::vector<std::int16_t> left = DecodeChannel(output, kCompareRate, 0);
    EXPECT_NEAR(static_cast<double>(left.size()) / kCompareRate, duration, frame);
    // The container's own length runs from its start time; an ASF header also counts
    // the lead-in frame that WMA decoders consume without output.
    const double containerSlack = std::string(c.codec) == "mp3" ? frame : 2 * frame;
    EXPECT_NEAR(ProbeDuration(output) - ProbeStartTime(output), duration, containerSlack);

    // Sound: the right part of the source, at lag 0.
    const std::vector<std::int16_t> reference = Expected(source, c, c.outChannels == 1 ? -1 : 0, duration);
    const LagMatch match = BestLag(reference, left, 400);
    EXPECT_EQ(match.lag, 0);
    EXPECT_GT(match.correlation, 0.9);
    if (c.outChannels == 2) {
        const LagMatch right = BestLag(Expected(source, c, 1, duration), DecodeChannel(output, kCompareRate, 1), 400);
        EXPECT_EQ(right.lag, 0);
        EXPECT_GT(right.correlation, 0.9);
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, EngineOutput,
    ::testing::Values(
        OutputCase{"Mp3Trimmed", 0, 128, 44100, 1, Profile::None, 0.5, 2.5, 1.0, 0.0,
                   "mp3", 44100, 2, 128000, nullptr},
        OutputCase{"Mp3MonoLowRate", 0, 64, 22050, 0, Profile::None, 1.0, 3.0, 1.0, 0.0,
                   "mp3", 22050, 1, 64000, nullptr},
        OutputCase{"Mp3SpedUp", 1, 192, 48000, 2, Profile::None, 0.5, 2.5, 2.0, 0.0,
                   "mp3", 48000, 2, 192000, nullptr},
        OutputCase{"Mp3FromAac48k", 0, 128, 44100, 1, Profile::None, 0.5, 2.5, 1.0, 0.0,
                   "mp3", 44100, 2, 128000, nullptr, true},
        OutputCase{"Mp3Delayed", 0, 128, 44100, 1, Profile::None, 1.0, 3.0, 1.0, 0.25,
                   "mp3", 44100, 2, 128000, nullptr},
        OutputCase{"Mp3IllegalSettings", 0, 400, 96000, 1, Profile::None, 0.0, 2.0, 1.0, 0.0,
                   "mp3", 48000, 2, 320000, "96000 Hz"},
        OutputCase{"Wma", 7, 0, 0, 0, Profile::Standard, 0.5, 2.5, 1.0, 0.0,
                   "wmav2", 44100, 2, 128000, nullptr},
        OutputCase{"AsfCode8", 8, 0, 0, 0, Profile::Standard, 1.0, 3.0, 1.0, 0.0,
                   "wmav2", 44100, 2, 128000, nullptr},
        OutputCase{"WmaForeignProfile", 7, 0, 0, 0, Profile::Foreign, 0.5, 2.5, 1.0, 0.0,
                   "wmav2", 48000, 2, 192000, "cannot be written"}),
    [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });
