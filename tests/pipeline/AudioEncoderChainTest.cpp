#include "pipeline/AudioEncoderChain.h"
#include "common/KvOutputFile.h"
#include "pipeline/KvOutputCheck.h"
#include "support/TempFolder.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

// A test signal whose channels differ: a swept tone on the left, a steady 440 Hz on
// the right, so a lag or a channel swap shows in the correlation.
std::vector<int16_t> MakeSignal(int rate, double seconds)
{
    const int frames = static_cast<int>(rate * seconds);
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        pcm[2 * i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * (200 + 300 * t) * t));
        pcm[2 * i + 1] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t));
    }
    return pcm;
}

std::string Probe(const std::string& path, const std::string& entries)
{
    std::string out;
    test::RunCommand("ffprobe -v error -select_streams a:0 -show_entries " + entries + " -of default=nw=1:nk=1 "
            + test::ShellQuote(path),
        &out);
    return out;
}

// Decodes the file's first channel (or the given one) to s16 at rate with the ffmpeg tool.
std::vector<int16_t> DecodeChannel(const std::string& path, int rate, int channel)
{
    std::string raw;
    test::RunCommand("ffmpeg -v error -i " + test::ShellQuote(path) + " -af " + test::ShellQuote("pan=mono|c0=c" + std::to_string(channel))
            + " -ar " + std::to_string(rate) + " -f s16le -",
        &raw);
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

// The lag (within ±maxLag) at which decoded best matches the reference, and the
// normalised correlation there.
std::pair<int, double> BestLag(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded, int maxLag)
{
    int bestLag = 0;
    double best = -2;
    const size_t n = std::min(reference.size(), decoded.size());
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 2000; i + 2000 < n; ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || static_cast<size_t>(j) >= decoded.size())
                continue;
            xy += reference[i] * static_cast<double>(decoded[j]);
            xx += reference[i] * static_cast<double>(reference[i]);
            yy += decoded[j] * static_cast<double>(decoded[j]);
        }
        const double c = xy / std::sqrt(xx * yy + 1e-9);
        if (c > best) {
            best = c;
            bestLag = lag;
        }
    }
    return {bestLag, best};
}

std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, int channel)
{
    std::vector<int16_t> out(interleaved.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = interleaved[2 * i + channel];
    return out;
}

int Encode(const std::string& path, const AudioOutputSettings& settings, const std::vector<int16_t>& pcm, std::string* error = nullptr)
{
    AudioEncoderChain chain;
    int ret = chain.Open(path, settings);
    // Feed in time-line frames of 1470 stereo frames, as the engine does.
    for (size_t offset = 0; ret == 0 && offset < pcm.size(); offset += 1470 * 2) {
        const int frames = static_cast<int>(std::min<size_t>(1470, (pcm.size() - offset) / 2));
        ret = chain.Write(pcm.data() + offset, frames);
    }
    if (ret == 0)
        ret = chain.Finish();
    if (error)
        *error = chain.LastError();
    return ret;
}

struct ChainCase
{
    const char* name;
    AudioOutputSettings settings;
    const char* codec;
    const char* extension;
};

class EncoderChainOutput : public ::testing::TestWithParam<ChainCase>
{
};

} // namespace

TEST_P(EncoderChainOutput, WritesTheAskedFormatAlignedWithTheSource)
{
    const ChainCase& c = GetParam();
    test::TempFolder folder;
    const std::string path = folder.Path() + "out put é" + c.extension;
    const double seconds = 3.0;
    const auto pcm = MakeSignal(44100, seconds);
    std::string error;
    ASSERT_EQ(Encode(path, c.settings, pcm, &error), 0) << error;
    ASSERT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(path + ".part"));

    EXPECT_EQ(Probe(path, "stream=codec_name"), std::string(c.codec) + "\n");
    EXPECT_EQ(Probe(path, "stream=sample_rate"), std::to_string(c.settings.nSampleRate) + "\n");
    EXPECT_EQ(Probe(path, "stream=channels"), std::to_string(c.settings.nChannels) + "\n");
    const double duration = std::atof(Probe(path, "format=duration").c_str());
    EXPECT_NEAR(duration, seconds, 2048.0 / c.settings.nSampleRate + 0.03);

    // Decoded sound matches the source at lag 0 on each channel.
    const int rate = c.settings.nSampleRate;
    for (int channel = 0; channel < c.settings.nChannels; ++channel) {
        SCOPED_TRACE(channel);
        const auto source = MakeSignal(rate, seconds);
        auto reference = Channel(source, channel);
        if (c.settings.nChannels == 1) {
            // A mono output carries the mean of both channels.
            for (size_t i = 0; i < reference.size(); ++i)
                reference[i] = static_cast<int16_t>((source[2 * i] + source[2 * i + 1]) / 2);
        }
        const auto [lag, correlation] = BestLag(reference, DecodeChannel(path, rate, channel), 300);
        EXPECT_EQ(lag, 0);
        EXPECT_GT(correlation, 0.9);
    }
}

// The chain cuts the sound into encoder frames itself, holding back what the
// resampler keeps: how the caller cuts it into buffers must not change one byte.
TEST_P(EncoderChainOutput, TheFileDoesNotDependOnHowTheSoundIsCut)
{
    const ChainCase& c = GetParam();
    test::TempFolder folder;
    const auto pcm = MakeSignal(44100, 2.0);
    const std::string even = folder.Path() + "even" + c.extension;
    ASSERT_EQ(Encode(even, c.settings, pcm), 0);

    const std::string uneven = folder.Path() + "uneven" + c.extension;
    AudioEncoderChain chain;
    ASSERT_EQ(chain.Open(uneven, c.settings), 0) << chain.LastError();
    const int sizes[] = {1, 7, 1153, 4000, 2, 1470, 577};
    std::size_t offset = 0;
    for (int i = 0; offset < pcm.size(); ++i) {
        const int frames = static_cast<int>(std::min<std::size_t>(sizes[i % 7], (pcm.size() - offset) / 2));
        ASSERT_EQ(chain.Write(pcm.data() + offset, frames), 0) << chain.LastError();
        offset += 2 * static_cast<std::size_t>(frames);
    }
    ASSERT_EQ(chain.Finish(), 0) << chain.LastError();
    EXPECT_TRUE(test::ReadFileBytes(even) == test::ReadFileBytes(uneven));
}

INSTANTIATE_TEST_SUITE_P(Formats, EncoderChainOutput,
    ::testing::Values(
        ChainCase{"Mp3Stereo", {AudioOutputCodec::Mp3, 128000, 44100, 2}, "mp3", ".mp3"},
        ChainCase{"Mp3Mono22k", {AudioOutputCodec::Mp3, 64000, 22050, 1}, "mp3", ".mp3"},
        ChainCase{"WmaStereo", {AudioOutputCodec::WmaStandard, 128000, 44100, 2}, "wmav2", ".wma"},
        ChainCase{"WmaMono32k", {AudioOutputCodec::WmaStandard, 48000, 32000, 1}, "wmav2", ".wma"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncoderChain, Mp3SettingsTakeTheNearestLegalValues)
{
    std::string note;
    auto s = LegaliseMp3Settings(128, 44100, 1, &note);
    EXPECT_EQ(s.nBitrate, 128000);
    EXPECT_EQ(s.nSampleRate, 44100);
    EXPECT_EQ(s.nChannels, 2);
    EXPECT_TRUE(note.empty());

    s = LegaliseMp3Settings(640, 96000, 2, &note);
    EXPECT_EQ(s.nSampleRate, 48000);
    EXPECT_EQ(s.nBitrate, 320000);
    EXPECT_EQ(s.nChannels, 2);
    EXPECT_NE(note.find("96000"), std::string::npos);

    s = LegaliseMp3Settings(320, 22050, 0, &note);
    EXPECT_EQ(s.nBitrate, 160000);
    EXPECT_EQ(s.nChannels, 1);

    s = LegaliseMp3Settings(128, 8000, 0, &note);
    EXPECT_EQ(s.nBitrate, 64000);
    s = LegaliseMp3Settings(128, 64000, 0, &note);
    EXPECT_EQ(s.nSampleRate, 48000);
}

TEST(EncoderChain, WmaSettingsTakeTheNearestLegalValues)
{
    std::string note;
    auto s = LegaliseWmaSettings(0x0162, 192000, 96000, 6, &note); // a WMA Pro 5.1 profile
    EXPECT_EQ(s.codec, AudioOutputCodec::WmaStandard);
    EXPECT_EQ(s.nChannels, 2);
    EXPECT_EQ(s.nSampleRate, 48000);
    EXPECT_EQ(s.nBitrate, 192000);
    EXPECT_NE(note.find("0x0162"), std::string::npos);

    s = LegaliseWmaSettings(0x0161, 16000, 44100, 2, &note);
    EXPECT_EQ(s.nBitrate, 24000);
    s = LegaliseWmaSettings(0x0161, 128000, 44100, 2, &note);
    EXPECT_TRUE(note.empty());
}

// An option file or a profile may hold any int; the nearest legal value is found
// without an overflow at either end of the range. An MP3 rate of 0 or less is the
// rate of the mix, never the lowest MPEG-2.5 rate.
TEST(EncoderChain, ValuesAtTheEndsOfTheIntRangeTakeTheNearestLegalValues)
{
    auto s = LegaliseMp3Settings(INT_MIN, INT_MIN, 0, nullptr);
    EXPECT_EQ(s.nSampleRate, 44100);
    EXPECT_EQ(s.nBitrate, 32000);
    EXPECT_EQ(LegaliseMp3Settings(128, 0, 1, nullptr).nSampleRate, 44100);
    s = LegaliseMp3Settings(INT_MAX, INT_MAX, 1, nullptr);
    EXPECT_EQ(s.nSampleRate, 48000);
    EXPECT_EQ(s.nBitrate, 320000);
    s = LegaliseWmaSettings(0x0161, INT_MIN, INT_MIN, INT_MIN, nullptr);
    EXPECT_EQ(s.nSampleRate, 8000);
    EXPECT_EQ(s.nChannels, 1);
    EXPECT_EQ(s.nBitrate, 24000);
    s = LegaliseWmaSettings(0x0161, INT_MAX, INT_MAX, INT_MAX, nullptr);
    EXPECT_EQ(s.nSampleRate, 48000);
    EXPECT_EQ(s.nBitrate, 48000 * 2 * 8 / 2);
}

TEST(EncoderChain, EveryLegalisedCombinationIsAcceptedByTheEncoder)
{
    test::TempFolder folder;
    const auto pcm = MakeSignal(44100, 0.2);
    for (int rate : {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000}) {
        for (int kbps : {32, 64, 128, 320, 640}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(kbps) + " kbit/s");
            std::string error;
            EXPECT_EQ(Encode(folder.Path() + "a.mp3", LegaliseMp3Settings(kbps, rate, 1, nullptr), pcm, &error), 0) << error;
            EXPECT_EQ(Encode(folder.Path() + "a.wma", LegaliseWmaSettings(0x0161, kbps * 1000, rate, 2, nullptr), pcm, &error), 0) << error;
            // An output never replaces a file: make room for the next one.
            fs::remove(folder.Path() + "a.mp3");
            fs::remove(folder.Path() + "a.wma");
        }
    }
}

// The check a finished file passes before it gets its name: it must play back, to
// within one codec frame, as long as what was written into it.
TEST(EncoderChain, TheOutputCheckPassesAWholeFileAndCatchesOneThatStopsEarly)
{
    test::TempFolder folder;
    const auto pcm = MakeSignal(44100, 3.0);
    for (const auto& [name, settings, frameSize] :
         {std::tuple{"whole.mp3", AudioOutputSettings{AudioOutputCodec::Mp3, 128000, 44100, 2}, 1152},
          std::tuple{"whole.wma", AudioOutputSettings{AudioOutputCodec::WmaStandard, 128000, 44100, 2}, 2048}}) {
        SCOPED_TRACE(name);
        const std::string path = folder.Path() + name;
        std::string error;
        ASSERT_EQ(Encode(path, settings, pcm, &error), 0) << error;
        const int64_t written = 3 * 44100;
        EXPECT_EQ(CheckWrittenLength(path, written, 44100, frameSize), "");
        const std::string bytes = test::ReadFileBytes(path);
        const std::string cut = folder.Path() + "cut-" + name;
        test::WriteFileBytes(cut, bytes.substr(0, bytes.size() / 2));
        const std::string why = CheckWrittenLength(cut, written, 44100, frameSize);
        EXPECT_EQ(why.rfind("the written file plays back only 1.", 0), 0u) << why;
        EXPECT_NE(why.find(" s of 3.0 s"), std::string::npos) << why;
        test::WriteFileBytes(cut, std::string(4000, 'x'));
        EXPECT_EQ(CheckWrittenLength(cut, written, 44100, frameSize).rfind("the written file cannot be played back", 0),
                  0u);
    }
}

// The check reads the file as it grows, waits where the writer has not got to yet, and
// gives what the whole file decodes to once the writer is done: the same length as a
// decode of the finished file, or of only what was written when the writer stopped.
TEST(EncoderChain, TheOutputCheckPlaysAFileBackAsItIsWritten)
{
    test::TempFolder folder;
    const std::string source = folder.Path() + "source.mp3";
    std::string error;
    ASSERT_EQ(Encode(source, {AudioOutputCodec::Mp3, 128000, 44100, 2}, MakeSignal(44100, 3.0), &error), 0) << error;
    const std::string bytes = test::ReadFileBytes(source);
    for (const std::size_t stop : {bytes.size(), bytes.size() / 3}) {
        SCOPED_TRACE(stop);
        const std::string path = folder.Path() + "growing.mp3";
        test::WriteFileBytes(path, "");
        CKvOutputCheck check;
        ASSERT_TRUE(check.Start(path));
        for (std::size_t at = 0; at < stop; at += 4096) {
            const std::string part = bytes.substr(at, std::min<std::size_t>(4096, stop - at));
            std::FILE* out = std::fopen(path.c_str(), "ab");
            ASSERT_NE(out, nullptr);
            std::fwrite(part.data(), 1, part.size(), out);
            std::fclose(out);
            check.Grow(static_cast<std::int64_t>(at + part.size()));
        }
        const DecodedLength grown = check.Finish();
        DecodedLength whole;
        ASSERT_TRUE(MeasureDecodedLength(path, whole));
        EXPECT_GT(grown.nFrames, 0);
        EXPECT_NEAR(static_cast<double>(grown.nFrames), static_cast<double>(whole.nFrames), 2.0 * 1152);
    }
    // Given up before the file is done, it ends at once.
    CKvOutputCheck abandoned;
    ASSERT_TRUE(abandoned.Start(source));
    abandoned.Stop();
    EXPECT_FALSE(abandoned.IsRunning());
}

TEST(EncoderChain, FailureLeavesNoFileBehind)
{
    test::TempFolder folder;
    const auto pcm = MakeSignal(44100, 0.5);
    std::string error;
    EXPECT_LT(Encode(folder.Path() + "missing/out.mp3", {AudioOutputCodec::Mp3, 128000, 44100, 2}, pcm, &error), 0);
    EXPECT_FALSE(error.empty());

    const std::string path = folder.Path() + "aborted.mp3";
    {
        AudioEncoderChain chain;
        ASSERT_EQ(chain.Open(path, {AudioOutputCodec::Mp3, 128000, 44100, 2}), 0);
        ASSERT_EQ(chain.Write(pcm.data(), 1470), 0);
        EXPECT_TRUE(fs::exists(PartialOutputPath(path)));
        // Dropped without Finish: the partial file goes with it.
    }
    EXPECT_FALSE(fs::exists(PartialOutputPath(path)));
    EXPECT_FALSE(fs::exists(path));
}

TEST(EncoderChain, ALinkPlantedAtTheTemporaryNameIsNeverFollowed)
{
    test::TempFolder folder;
    const std::string path = folder.Path() + "out.mp3";
    const std::string victim = folder.Path() + "victim.txt";
    test::WriteFileBytes(victim, "keep me");
    ASSERT_EQ(symlink(victim.c_str(), PartialOutputPath(path).c_str()), 0);

    AudioEncoderChain chain;
    EXPECT_LT(chain.Open(path, {AudioOutputCodec::Mp3, 128000, 44100, 2}), 0);
    EXPECT_NE(chain.LastError().find("already there"), std::string::npos) << chain.LastError();
    chain.Abort();
    EXPECT_EQ(test::ReadFileBytes(victim), "keep me");
    EXPECT_TRUE(fs::is_symlink(PartialOutputPath(path))) << "not ours to remove";
    EXPECT_FALSE(fs::exists(path));
}

TEST(EncoderChain, AFinalNameTakenWhileWritingIsKeptAndTheJobFails)
{
    test::TempFolder folder;
    const std::string path = folder.Path() + "out.mp3";
    const auto pcm = MakeSignal(44100, 0.5);
    AudioEncoderChain chain;
    ASSERT_EQ(chain.Open(path, {AudioOutputCodec::Mp3, 128000, 44100, 2}), 0);
    ASSERT_EQ(chain.Write(pcm.data(), static_cast<int>(pcm.size() / 2)), 0);
    test::WriteFileBytes(path, "someone else's");

    EXPECT_EQ(chain.Finish(), -EEXIST); // AVERROR(EEXIST)
    EXPECT_NE(chain.LastError().find("was taken"), std::string::npos) << chain.LastError();
    EXPECT_EQ(test::ReadFileBytes(path), "someone else's");
    EXPECT_FALSE(fs::exists(PartialOutputPath(path)));
}

// Names up to the file-system limit are written, whatever room the temporary's
// suffix would need; no temporary is left.
class EncoderChainLongName : public ::testing::TestWithParam<int>
{
};

TEST_P(EncoderChainLongName, IsWritten)
{
    test::TempFolder folder;
    std::string name = "(output001)";
    while (name.size() + 4 < static_cast<size_t>(GetParam()))
        name += name.size() % 3 ? "\xC3\xA9" : "a";  // two-byte characters cross every boundary
    name.resize(static_cast<size_t>(GetParam()) - 4);
    if ((static_cast<unsigned char>(name.back()) & 0xE0) == 0xC0)
        name.back() = 'b';
    name += ".mp3";
    ASSERT_EQ(name.size(), static_cast<size_t>(GetParam()));
    const std::string path = folder.Path() + name;
    std::string error;
    ASSERT_EQ(Encode(path, {AudioOutputCodec::Mp3, 128000, 44100, 2}, MakeSignal(44100, 0.2), &error), 0) << error;
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Bytes, EncoderChainLongName, ::testing::Values(250, 251, 253, 255));
