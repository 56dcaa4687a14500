#include "media/KvFFMpegAudioReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "media/MediaTestHelper.h"
#include "support/TempFolder.h"

using velmora::test::MakeMedia;
using velmora::test::RampInput;
using velmora::test::RampLeft;
using velmora::test::RampRight;

namespace {

constexpr int kRate = 44100;
constexpr int kBuffer = 1470; // one 30 fps time-line frame at 44.1 kHz

// Reads count frames through GetBuffer in mixer-sized requests; a null answer
// counts as silence, as the mixer treats it.
std::vector<int16_t> ReadFrames(CKvFFMpegAudioReader& reader, int64_t count, int rate = kRate,
                                int request = kBuffer)
{
    std::vector<int16_t> out;
    out.reserve(static_cast<size_t>(count) * 2);
    for (int64_t done = 0; done < count; done += request) {
        const int16_t* pcm = reader.GetBuffer(request, rate);
        for (int i = 0; i < request * 2; ++i)
            out.push_back(pcm ? pcm[i] : 0);
    }
    out.resize(static_cast<size_t>(count) * 2);
    return out;
}

// Whole stream, without padding.
std::vector<int16_t> ReadAll(CKvFFMpegAudioReader& reader, int rate = kRate)
{
    std::vector<int16_t> out;
    std::vector<int16_t> chunk(4096 * 2);
    for (;;) {
        const int got = reader.ReadDecoded(chunk.data(), 4096, rate);
        if (got <= 0)
            break;
        out.insert(out.end(), chunk.begin(), chunk.begin() + got * 2);
    }
    return out;
}

// Index of the first frame that differs from the ramp starting at source frame
// first; -1 when all match.
int64_t FirstRampMismatch(const std::vector<int16_t>& pcm, int64_t first, int64_t offsetInPcm = 0)
{
    for (size_t i = static_cast<size_t>(offsetInPcm) * 2; i + 1 < pcm.size(); i += 2) {
        const int64_t n = first + static_cast<int64_t>(i / 2) - offsetInPcm;
        if (pcm[i] != RampLeft(n) || pcm[i + 1] != RampRight(n))
            return static_cast<int64_t>(i / 2);
    }
    return -1;
}

bool AllZero(const std::vector<int16_t>& pcm, size_t fromFrame, size_t toFrame)
{
    for (size_t i = fromFrame * 2; i < toFrame * 2 && i < pcm.size(); ++i) {
        if (pcm[i] != 0)
            return false;
    }
    return true;
}

double Rms(const std::vector<int16_t>& pcm, size_t fromFrame, size_t toFrame)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = fromFrame * 2; i < toFrame * 2 && i < pcm.size(); ++i, ++n)
        sum += double(pcm[i]) * pcm[i];
    return n ? std::sqrt(sum / n) : 0.0;
}

class AudioReaderTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Shared by every suite derived from this fixture: made once, removed at exit.
        if (s_folder)
            return;
        s_folder = std::make_unique<velmora::test::TempFolder>("velmora-audio");
        const std::string& dir = s_folder->Path();
        const std::string ramp = RampInput(kRate, 3.0);
        ASSERT_TRUE(MakeMedia(ramp + " -c:a pcm_s16le", dir + "ramp.wav"));
        ASSERT_TRUE(MakeMedia(ramp + " -c:a flac", dir + "ramp.flac"));
        ASSERT_TRUE(MakeMedia(ramp + " -c:a flac", dir + "ramp.mkv"));
        // Audio that starts 1.5 s after the picture.
        ASSERT_TRUE(MakeMedia("-f lavfi -i color=c=gray:s=64x48:r=25:d=4 -itsoffset 1.5 " + ramp +
                                  " -map 0:v -map 1:a -c:v mpeg4 -c:a flac",
                              dir + "late.mkv"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:d=3 -ac 2 -c:a libopus", dir + "tone-opus.mkv"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:r=8000:d=2 -c:a pcm_s16le", dir + "mono8k.wav"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:r=48000:d=2 -filter_complex "
                              "'[0]asplit=6[a][b][c][d][e][f];[a][b][c][d][e][f]join=inputs=6:channel_layout=5.1'"
                              " -c:a pcm_s16le",
                              dir + "surround.wav"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=s=160x120:r=25:d=3 -f lavfi -i sine=f=330:d=3 "
                              "-c:v mpeg2video -c:a mp2 -ar 48000",
                              dir + "clip.ts"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc2=s=160x120:r=25:d=2 -c:v mpeg4", dir + "video-only.mp4"));
        // Long enough that decoding everything up front would show in the queue.
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:d=60 -ac 2 -c:a libmp3lame -b:a 64k", dir + "long.mp3"));
        // AC-3 that switches from 5.1 to stereo half-way, as broadcasts do.
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:d=1 -ac 6 -c:a ac3", dir + "part1.ts"));
        ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=660:d=1 -ac 2 -c:a ac3", dir + "part2.ts"));
        velmora::test::WriteFileBytes(dir + "switch.ts", velmora::test::ReadFileBytes(dir + "part1.ts") +
                                                            velmora::test::ReadFileBytes(dir + "part2.ts"));
        const std::string wav = velmora::test::ReadFileBytes(dir + "ramp.wav");
        velmora::test::WriteFileBytes(dir + "truncated.wav", wav.substr(0, wav.size() / 3));
        const std::string flac = velmora::test::ReadFileBytes(dir + "ramp.flac");
        velmora::test::WriteFileBytes(dir + "truncated.flac", flac.substr(0, flac.size() / 2 + 333));
        velmora::test::WriteFileBytes(dir + "notes.dat", std::string(5000, 'x') + "not a media file\n");
        // A FLAC header (its one block marked the last) whose frames are gone: a sound
        // track of which not one frame decodes.
        std::string header = flac.substr(0, 42);
        header[4] = static_cast<char>(header[4] | 0x80);
        velmora::test::WriteFileBytes(dir + "no-frames.flac", header + std::string(20000, '\x5a'));
        // A WAV header that claims a billion samples a second: a resampler built for it
        // would take gigabytes.
        const auto le32 = [](uint32_t v) {
            return std::string{char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24 & 0xFF)};
        };
        const std::string wavHeader = "RIFF" + le32(36 + 40000) + "WAVEfmt " + le32(16) + std::string("\x01\x00\x02\x00", 4) +
                                      le32(0x40000000) + le32(0x40000000u * 4) + std::string("\x04\x00\x10\x00", 4) +
                                      "data" + le32(40000);
        velmora::test::WriteFileBytes(dir + "absurd-rate.wav", wavHeader + std::string(40000, '\x11'));
        std::filesystem::create_directories(dir + "a folder with spaces");
        std::filesystem::copy_file(dir + "ramp.wav", dir + "a folder with spaces/Ünïcødé 音 file.wav");
    }

    static std::string Path(const std::string& name) { return s_folder->Path() + name; }

    static std::unique_ptr<velmora::test::TempFolder> s_folder;
};

std::unique_ptr<velmora::test::TempFolder> AudioReaderTest::s_folder;

// GIVEN a lossless stereo source whose channels differ
// WHEN it is read from the start in mixer-sized requests
// THEN every output frame is the source frame, left and right in place.
class AudioReaderLosslessTest : public AudioReaderTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(AudioReaderLosslessTest, ReadsTheSourceSampleForSample)
{
    CKvFFMpegAudioReader reader(Path(GetParam()));
    ASSERT_FALSE(reader.IsFailed());
    EXPECT_DOUBLE_EQ(reader.ProbeFirstAudioTime(), 0.0);
    reader.Seek(0.0);
    const int64_t frames = 3 * kRate - kBuffer;
    const auto pcm = ReadFrames(reader, frames);
    EXPECT_EQ(FirstRampMismatch(pcm, 0), -1);
}

INSTANTIATE_TEST_SUITE_P(Containers, AudioReaderLosslessTest,
                         ::testing::Values("ramp.wav", "ramp.flac", "ramp.mkv",
                                           "a folder with spaces/Ünïcødé 音 file.wav"));

// GIVEN a seek to t (with and without a file seek, inside FLAC frames that
// straddle t) THEN the first output frame is source frame round(t × rate).
struct SeekCase
{
    const char* file;
    double seconds;
    bool seeksFile;
};

class AudioReaderSeekTest : public AudioReaderTest, public ::testing::WithParamInterface<SeekCase>
{
};

TEST_P(AudioReaderSeekTest, OutputStartsAtTheRequestedSample)
{
    const SeekCase c = GetParam();
    CKvFFMpegAudioReader reader(Path(c.file));
    ASSERT_FALSE(reader.IsFailed());
    reader.Seek(c.seconds);
    EXPECT_EQ(reader.GetFileSeekCount() > 0, c.seeksFile);
    const auto pcm = ReadFrames(reader, kBuffer * 20);
    const int64_t first = std::llround(c.seconds * kRate);
    EXPECT_EQ(pcm[0], RampLeft(first));
    EXPECT_EQ(pcm[1], RampRight(first));
    EXPECT_EQ(FirstRampMismatch(pcm, first), -1);
}

INSTANTIATE_TEST_SUITE_P(Times, AudioReaderSeekTest,
                         ::testing::Values(SeekCase{"ramp.flac", 0.05, false}, SeekCase{"ramp.flac", 0.6, true},
                                           SeekCase{"ramp.flac", 1.23456, true}, SeekCase{"ramp.flac", 2.0, true},
                                           SeekCase{"ramp.wav", 0.6, true}, SeekCase{"ramp.wav", 1.7777, true},
                                           SeekCase{"ramp.mkv", 1.1, true}, SeekCase{"ramp.mkv", 0.3, false}));

TEST_F(AudioReaderTest, NegativeSeekQueuesSilenceAndLeavesTheFileAlone)
{
    CKvFFMpegAudioReader reader(Path("ramp.flac"));
    reader.Seek(-2.0);
    EXPECT_EQ(reader.GetFileSeekCount(), 0);
    const auto pcm = ReadFrames(reader, 2 * kRate + kBuffer * 4);
    EXPECT_TRUE(AllZero(pcm, 0, 2 * kRate));
    EXPECT_EQ(FirstRampMismatch(pcm, 0, 2 * kRate), -1);
}

// GIVEN a reader that has already read WHEN it is sought back near the start
// THEN it gives what a fresh reader gives (decoder start-up trimming included).
class AudioReaderReseekTest : public AudioReaderTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(AudioReaderReseekTest, SeekingAgainAfterReadingStartsOver)
{
    CKvFFMpegAudioReader fresh(Path(GetParam()));
    fresh.Seek(0.02);
    const auto expected = ReadFrames(fresh, kBuffer * 4);

    CKvFFMpegAudioReader reader(Path(GetParam()));
    reader.Seek(1.0);
    ReadFrames(reader, kBuffer * 10);
    reader.Seek(0.02);
    EXPECT_EQ(ReadFrames(reader, kBuffer * 4), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioReaderReseekTest, ::testing::Values("ramp.flac", "tone-opus.mkv"));

TEST_F(AudioReaderTest, ReseekedLosslessSourceIsExact)
{
    CKvFFMpegAudioReader reader(Path("ramp.flac"));
    reader.Seek(1.0);
    ReadFrames(reader, kBuffer * 10);
    reader.Seek(0.02);
    EXPECT_EQ(FirstRampMismatch(ReadFrames(reader, kBuffer * 4), std::llround(0.02 * kRate)), -1);
}

TEST_F(AudioReaderTest, LateAudioIsProbedAndPlacedByTheLeadIn)
{
    double first = 0;
    {
        CKvFFMpegAudioReader probe(Path("late.mkv"));
        first = probe.ProbeFirstAudioTime();
    }
    EXPECT_NEAR(first, 1.5, 0.0015);

    CKvFFMpegAudioReader reader(Path("late.mkv"));
    reader.SetLeadIn(first);
    reader.Seek(0.0);
    const auto pcm = ReadFrames(reader, 2 * kRate);
    const auto silent = static_cast<int64_t>(std::floor(first * kRate));
    EXPECT_TRUE(AllZero(pcm, 0, silent));
    EXPECT_EQ(FirstRampMismatch(pcm, 0, silent), -1);
}

TEST_F(AudioReaderTest, LeadInShrinksByASeekInsideIt)
{
    CKvFFMpegAudioReader reader(Path("late.mkv"));
    reader.SetLeadIn(1.5);
    reader.Seek(0.7);
    EXPECT_EQ(reader.GetFileSeekCount(), 0);
    const auto pcm = ReadFrames(reader, kRate * 2);
    const int64_t silent = std::llround(0.8 * kRate);
    EXPECT_TRUE(AllZero(pcm, 0, silent - 1));
    EXPECT_EQ(FirstRampMismatch(pcm, 0, silent), -1);
}

TEST_F(AudioReaderTest, SeekPastTheLeadInReadsTheSourceAtThatTime)
{
    CKvFFMpegAudioReader reader(Path("late.mkv"));
    reader.SetLeadIn(1.5);
    reader.Seek(2.25);
    EXPECT_EQ(reader.GetFileSeekCount(), 1);
    const auto pcm = ReadFrames(reader, kBuffer * 8);
    EXPECT_EQ(FirstRampMismatch(pcm, std::llround(0.75 * kRate)), -1);
}

TEST_F(AudioReaderTest, HoldsBackAudioThatLiesAheadOfTheReadPosition)
{
    // No lead-in: the reader waits until the read position nears the audio.
    CKvFFMpegAudioReader reader(Path("late.mkv"));
    reader.Seek(0.0);
    int held = 0;
    const int16_t* pcm = nullptr;
    while ((pcm = reader.GetBuffer(kBuffer, kRate)) == nullptr && held < 200) {
        ++held;
        EXPECT_GT(reader.GetQueuedFrameCount(), 0);
    }
    ASSERT_NE(pcm, nullptr);
    // Released once the first chunk (stamped one codec frame before its audio)
    // is within 2/30 s of the read position.
    EXPECT_GT(held, 30);
    EXPECT_GE(reader.GetReadPos() + 2.0 / 30.0, 1.5 - 4608.0 / kRate);
    EXPECT_LE(reader.GetReadPos(), 1.5);
    EXPECT_EQ(pcm[0], RampLeft(0));
}

TEST_F(AudioReaderTest, TransportStreamAudioIsTimedFromTheContainerStart)
{
    CKvFFMpegAudioReader probe(Path("clip.ts"));
    ASSERT_FALSE(probe.IsFailed());
    // The stream clock starts near 1.4 s; the sound starts with the picture.
    EXPECT_LT(probe.ProbeFirstAudioTime(), 0.05);

    CKvFFMpegAudioReader reader(Path("clip.ts"));
    reader.Seek(1.0);
    const auto pcm = ReadFrames(reader, kBuffer * 10);
    EXPECT_GT(Rms(pcm, 0, kBuffer), 1000.0);
}

struct CodecCase
{
    const char* name;
    const char* arguments;
};

class AudioReaderCodecTest : public AudioReaderTest, public ::testing::WithParamInterface<CodecCase>
{
};

// GIVEN a common lossy container/codec pair whose sound starts with the file
// THEN the probe gives no lead-in, and the reader gives what the ffmpeg tool
// decodes, frame for frame (so output sample k is source sample k).
TEST_P(AudioReaderCodecTest, MatchesTheToolsDecodeFromTheFirstSample)
{
    const CodecCase c = GetParam();
    const std::string path = Path(c.name);
    ASSERT_TRUE(MakeMedia(std::string("-f lavfi -i sine=f=440:d=2 -f lavfi -i sine=f=660:d=2 "
                                      "-filter_complex '[0][1]join=inputs=2:channel_layout=stereo' ") +
                              c.arguments,
                          path));
    {
        CKvFFMpegAudioReader probe(path);
        ASSERT_FALSE(probe.IsFailed());
        EXPECT_DOUBLE_EQ(probe.ProbeFirstAudioTime(), 0.0);
    }
    CKvFFMpegAudioReader reader(path);
    reader.Seek(0.0);
    const auto ours = ReadAll(reader);
    const auto tool = velmora::test::DecodeWithTool(path, kRate);
    ASSERT_GT(tool.size(), size_t(kRate));
    EXPECT_NEAR(double(ours.size()), double(tool.size()), 2.0 * 2048);
    size_t differ = 0;
    const size_t n = std::min(ours.size(), tool.size());
    for (size_t i = 0; i < n; ++i) {
        if (std::abs(ours[i] - tool[i]) > 1)
            ++differ;
    }
    EXPECT_EQ(differ, 0u) << "of " << n;
    // The channels stay apart.
    EXPECT_GT(std::abs(Rms(ours, 0, n / 2) - 0), 1000.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AudioReaderCodecTest,
                         ::testing::Values(CodecCase{"aac.mp4", "-c:a aac -b:a 128k"},
                                           CodecCase{"wma.wmv", "-c:a wmav2 -b:a 128k"},
                                           CodecCase{"opus.mkv", "-c:a libopus -b:a 96k"},
                                           CodecCase{"vorbis.mkv", "-c:a libvorbis"},
                                           CodecCase{"mp3.mp3", "-c:a libmp3lame -b:a 128k"},
                                           CodecCase{"opus.opus", "-c:a libopus -b:a 96k"},
                                           CodecCase{"aac.m4a", "-c:a aac -b:a 128k -movflags +faststart"},
                                           CodecCase{"mp2.ts", "-c:a mp2 -b:a 192k"}));

TEST_F(AudioReaderTest, MonoSoundsOnBothSidesAtItsOwnLevel)
{
    CKvFFMpegAudioReader reader(Path("mono8k.wav"));
    ASSERT_FALSE(reader.IsFailed());
    const auto same = ReadAll(reader, 8000);
    const auto tool = velmora::test::DecodeWithTool(Path("mono8k.wav"), 8000);
    ASSERT_EQ(same.size(), size_t(2 * 8000 * 2));
    for (size_t i = 0; i < same.size(); i += 2) {
        ASSERT_EQ(same[i], same[i + 1]) << i;
    }
    // The tool's own mono-to-stereo mix is 3 dB lower; ours keeps the level.
    EXPECT_NEAR(Rms(same, 0, 16000) / Rms(tool, 0, 16000), std::sqrt(2.0), 0.01);

    CKvFFMpegAudioReader upsampled(Path("mono8k.wav"));
    const auto high = ReadAll(upsampled, kRate);
    EXPECT_NEAR(double(high.size()) / 2, 2.0 * kRate, 64);
    EXPECT_NEAR(Rms(high, 1000, 80000), Rms(same, 200, 15000), 50.0);
}

TEST_F(AudioReaderTest, SurroundIsMixedDownToStereo)
{
    CKvFFMpegAudioReader reader(Path("surround.wav"));
    ASSERT_FALSE(reader.IsFailed());
    EXPECT_EQ(reader.GetSourceChannels(), 6);
    const auto ours = ReadFrames(reader, kRate);
    const auto tool = velmora::test::DecodeWithTool(Path("surround.wav"), kRate);
    ASSERT_GE(tool.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i)
        ASSERT_LE(std::abs(ours[i] - tool[i]), 1) << i;
    EXPECT_GT(Rms(ours, 0, kRate), 1000.0);
}

TEST_F(AudioReaderTest, ResamplerFollowsAChannelLayoutChange)
{
    CKvFFMpegAudioReader reader(Path("switch.ts"));
    ASSERT_FALSE(reader.IsFailed());
    const auto pcm = ReadAll(reader);
    // Both halves sound: the stereo half is not fed to the 5.1 resampler.
    EXPECT_GT(pcm.size() / 2, size_t(kRate * 19 / 10));
    EXPECT_GT(Rms(pcm, kRate / 4, kRate * 3 / 4), 500.0);
    EXPECT_GT(Rms(pcm, kRate * 5 / 4, kRate * 7 / 4), 500.0);
}

TEST_F(AudioReaderTest, QueueStaysNearOneRequestOverALongSource)
{
    CKvFFMpegAudioReader reader(Path("long.mp3"));
    ASSERT_FALSE(reader.IsFailed());
    reader.Seek(0.0);
    int64_t most = 0;
    for (int i = 0; i < 60 * 30 - 10; ++i) {
        ASSERT_NE(reader.GetBuffer(kBuffer, kRate), nullptr) << i;
        most = std::max(most, reader.GetQueuedFrameCount());
    }
    // Never more than one decoded MP3 frame beyond what was asked for.
    EXPECT_LT(most, 1152 * 2);
}

TEST_F(AudioReaderTest, LargeRequestsAreServedWhole)
{
    // A slow speed asks for more frames per buffer than one second holds.
    CKvFFMpegAudioReader reader(Path("ramp.flac"));
    const auto pcm = ReadFrames(reader, 120000, kRate, 60000);
    EXPECT_EQ(FirstRampMismatch(pcm, 0), -1);
}

TEST_F(AudioReaderTest, LeadInHoursAheadCostsNoMemory)
{
    // An item three hours into the time line: its reader is positioned at -3 h.
    CKvFFMpegAudioReader reader(Path("late.mkv"));
    reader.SetLeadIn(1.5);
    reader.Seek(-10800.0);
    ASSERT_NE(reader.GetBuffer(kBuffer, kRate), nullptr);
    EXPECT_EQ(reader.GetPendingSilenceFrames(), std::llround(10801.5 * kRate) - kBuffer);
    EXPECT_EQ(reader.GetQueuedFrameCount(), 0); // nothing decoded while silence lasts

    // Large requests run through the silence to the first source sample, on time.
    std::vector<int16_t> pcm(static_cast<size_t>(kRate) * 60 * 2);
    int64_t served = kBuffer;
    while (reader.GetPendingSilenceFrames() > kRate * 60)
        served += reader.ReadDecoded(pcm.data(), kRate * 60, kRate);
    const int64_t silentLeft = reader.GetPendingSilenceFrames();
    const auto tail = ReadFrames(reader, silentLeft + kRate / 2);
    EXPECT_EQ(served + silentLeft, std::llround(10801.5 * kRate));
    EXPECT_TRUE(AllZero(tail, 0, static_cast<size_t>(silentLeft)));
    EXPECT_EQ(FirstRampMismatch(tail, 0, silentLeft), -1);
}

// GIVEN a time that is not finite or beyond any media WHEN it reaches the reader
// THEN it is refused, never converted: the reader fails and says why.
class AudioReaderAbsurdTimeTest : public AudioReaderTest, public ::testing::WithParamInterface<double>
{
};

TEST_P(AudioReaderAbsurdTimeTest, IsRefused)
{
    for (const bool asLeadIn : {false, true}) {
        CKvFFMpegAudioReader reader(Path("ramp.flac"));
        if (asLeadIn)
            reader.SetLeadIn(GetParam());
        else
            reader.Seek(GetParam());
        EXPECT_TRUE(reader.IsFailed());
        EXPECT_NE(reader.OpenError().find("refused"), std::string::npos) << reader.OpenError();
        EXPECT_EQ(reader.GetBuffer(kBuffer, kRate), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, AudioReaderAbsurdTimeTest,
                         ::testing::Values(std::nan(""), HUGE_VAL, -HUGE_VAL, 1e20, -5e9));

// GIVEN something that cannot be read THEN nothing crashes, the reader answers
// with nothing (the item plays as silence) and says why.
struct UnreadableCase
{
    const char* file;
    const char* reason;
};

void PrintTo(const UnreadableCase& c, std::ostream* os)
{
    *os << c.file;
}

class AudioReaderUnreadableTest : public AudioReaderTest, public ::testing::WithParamInterface<UnreadableCase>
{
};

TEST_P(AudioReaderUnreadableTest, FailsQuietly)
{
    CKvFFMpegAudioReader reader(Path(GetParam().file));
    EXPECT_TRUE(reader.IsFailed());
    EXPECT_EQ(reader.OpenError(), GetParam().reason);
    EXPECT_DOUBLE_EQ(reader.ProbeFirstAudioTime(), 0.0);
    reader.SetLeadIn(1.0);
    reader.Seek(0.5);
    EXPECT_EQ(reader.GetBuffer(kBuffer, kRate), nullptr);
    std::vector<int16_t> dest(kBuffer * 2, 7);
    EXPECT_EQ(reader.Read(dest.data(), kBuffer, kRate), 0);
    EXPECT_EQ(dest[0], 7);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioReaderUnreadableTest,
                         ::testing::Values(UnreadableCase{"missing.wav", "cannot be opened as media"},
                                           UnreadableCase{"notes.dat", "cannot be opened as media"},
                                           UnreadableCase{"video-only.mp4", "has no sound track"},
                                           UnreadableCase{"no-frames.flac", "has a sound track that cannot be "
                                                                            "decoded (it holds no audio data)"},
                                           UnreadableCase{"absurd-rate.wav", "has a sound track that cannot be decoded "
                                                                             "(its header claims 1073741824 Hz, 2 "
                                                                             "channels)"}));

class AudioReaderTruncatedTest : public AudioReaderTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(AudioReaderTruncatedTest, ServesWhatIsThereThenNothing)
{
    CKvFFMpegAudioReader reader(Path(GetParam()));
    ASSERT_FALSE(reader.IsFailed());
    reader.Seek(0.0);
    int served = 0;
    while (reader.GetBuffer(kBuffer, kRate) != nullptr && served < 1000)
        ++served;
    EXPECT_GT(served, 10);
    EXPECT_LT(served, 90);
    EXPECT_TRUE(reader.IsEnd());
    // The last buffer says how much of it the source filled; then nothing is left.
    EXPECT_TRUE(reader.IsExhausted());
    EXPECT_EQ(reader.GetBuffer(kBuffer, kRate), nullptr);
    EXPECT_EQ(reader.LastDeliveredFrames(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioReaderTruncatedTest, ::testing::Values("truncated.wav", "truncated.flac"));

TEST_F(AudioReaderTest, EndOfStreamPadsTheLastRequestWithSilence)
{
    CKvFFMpegAudioReader reader(Path("ramp.wav"));
    const auto pcm = ReadFrames(reader, 3 * kRate + kBuffer);
    EXPECT_EQ(FirstRampMismatch(std::vector<int16_t>(pcm.begin(), pcm.begin() + 3 * kRate * 2), 0), -1);
    EXPECT_TRUE(AllZero(pcm, 3 * kRate, 3 * kRate + kBuffer));
}

} // namespace
