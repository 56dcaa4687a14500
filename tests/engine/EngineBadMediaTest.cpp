// Media as users bring it, broken or unusual, through the real kvengine: every job
// ends, either finished with the sound the source really holds (never padded past
// its end, and told when that is short of what its header says), or failed with a
// reason in the log and nothing under the output's name.

#include "EngineTestHelper.h"

#include "common/KvOutputFile.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

constexpr double kSeconds = 4.0;

struct BadMediaCase
{
    const char* name;
    const char* file;   // in the media folder
    const char* reason; // nullptr: the job finishes; else what the log must say
    double declared = kSeconds; // the length the row was given (the file's header)
};

void PrintTo(const BadMediaCase& c, std::ostream* os)
{
    *os << c.name;
}

bool Make(const std::string& args, const std::string& path)
{
    return RunCommand("ffmpeg -v error -y " + args + " " + ShellQuote(path)) == 0;
}

void WriteCut(const std::string& from, const std::string& to, double share)
{
    const std::string bytes = ReadFileBytes(from);
    WriteFileBytes(to, bytes.substr(0, static_cast<std::size_t>(static_cast<double>(bytes.size()) * share)));
}

// An ID3v2.3 tag of about bytes, one large text frame, in front of an MP3.
void WriteWithLargeTag(const std::string& mp3, const std::string& to, std::size_t bytes)
{
    const std::string text = std::string(1, '\0') + "big" + std::string(1, '\0') + std::string(bytes, 'a');
    auto be32 = [](std::size_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    auto syncSafe = [](std::size_t v) {
        return std::string{static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
                           static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
    };
    const std::string frame = "TXXX" + be32(text.size()) + std::string(2, '\0') + text;
    WriteFileBytes(to, "ID3" + std::string{3, 0, 0} + syncSafe(frame.size()) + frame + ReadFileBytes(mp3));
}

// Makes the case's source in dir (only what it needs: ctest runs every case in a
// process of its own).
bool MakeInput(const std::string& file, const std::string& dir)
{
    const std::string tone = "-f lavfi -i " + ShellQuote(SignalExpression() + ":s=44100:d=4");
    const std::string path = dir + file;
    if (file.rfind("cut", 0) == 0) {
        // "cut<percent>[-faststart].<ext>"
        const double share = std::stoi(file.substr(3)) / 100.0;
        const bool mp3 = file.size() > 4 && file.substr(file.size() - 4) == ".mp3";
        const bool faststart = file.find("faststart") != std::string::npos;
        const std::string whole = dir + (mp3 ? "whole.mp3" : "whole.mp4");
        if (!Make(tone + (mp3 ? " -c:a libmp3lame" : " -c:a aac") + (faststart ? " -movflags +faststart" : ""), whole))
            return false;
        WriteCut(whole, path, share);
        return true;
    }
    if (file == "truncated.flac" || file == "hours.flac" || file == "noise.flac") {
        if (!Make(tone + " -c:a flac", dir + "whole.flac"))
            return false;
        std::string bytes = ReadFileBytes(dir + "whole.flac");
        if (file == "truncated.flac") {
            bytes.resize(bytes.size() / 10);
        } else if (file == "hours.flac") {
            // STREAMINFO's 36-bit sample count (bytes 18..25, big-endian, low bits)
            // now says five hours.
            std::uint64_t v = 0;
            for (int i = 18; i < 26; ++i)
                v = v << 8 | static_cast<unsigned char>(bytes[i]);
            v = (v & ~((std::uint64_t{1} << 36) - 1)) | (std::uint64_t{44100} * 18000);
            for (int i = 25; i >= 18; --i, v >>= 8)
                bytes[i] = static_cast<char>(v & 0xFF);
        } else {
            // The header alone (its block marked the last), then noise where the frames were.
            bytes.resize(42);
            bytes[4] = static_cast<char>(bytes[4] | 0x80);
            unsigned state = 777;
            for (int i = 0; i < 100000; ++i)
                bytes += static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
        }
        WriteFileBytes(path, bytes);
        return true;
    }
    if (file == "stub.m4a") {
        // An index of three hours (ten seconds, copied over and over) ahead of the data,
        // cut 100 kB into the data: the stub a broken download of an audiobook leaves.
        if (!Make("-f lavfi -i sine=f=440:r=8000:d=10 -ac 1 -c:a aac -b:a 12k", dir + "ten.m4a") ||
            !Make("-stream_loop 1079 -i " + ShellQuote(dir + "ten.m4a") + " -c copy -movflags +faststart",
                  dir + "hours.m4a"))
            return false;
        std::string bytes = ReadFileBytes(dir + "hours.m4a");
        const std::size_t data = bytes.find("mdat");
        if (data == std::string::npos)
            return false;
        bytes.resize(data + 100000);
        WriteFileBytes(path, bytes);
        return true;
    }
    if (file == "hours.wav") {
        // A WAV whose data chunk claims 3.4 hours and holds 4 s.
        if (!Make(tone + " -c:a pcm_s16le", dir + "whole.wav"))
            return false;
        std::string bytes = ReadFileBytes(dir + "whole.wav");
        const std::size_t data = bytes.find("data");
        if (data == std::string::npos)
            return false;
        for (int i = 0; i < 4; ++i)
            bytes[data + 4 + i] = static_cast<char>(i < 3 ? 0xF0 : 0x7F);
        WriteFileBytes(path, bytes);
        return true;
    }
    if (file == "noise.mp4") {
        std::string noise(200000, '\0');
        unsigned state = 12345;
        for (char& c : noise)
            c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
        WriteFileBytes(path, noise);
        return true;
    }
    if (file == "empty.mp3") {
        WriteFileBytes(path, "");
        return true;
    }
    if (file == "video-only.mp4")
        return Make("-f lavfi -i testsrc2=s=160x120:r=25:d=4 -c:v mpeg4", path);
    if (file == "large-tag.mp3" || file == "gone.mp3") {
        if (!Make(tone + " -c:a libmp3lame", dir + "whole.mp3"))
            return false;
        if (file == "large-tag.mp3")
            WriteWithLargeTag(dir + "whole.mp3", path, 5 * 1024 * 1024);
        else
            fs::copy_file(dir + "whole.mp3", path);
        return true;
    }
    if (file == "surround.ac3")
        return Make("-f lavfi -i sine=f=440:d=4 -filter_complex "
                    "'[0]asplit=6[a][b][c][d][e][f];[a][b][c][d][e][f]join=inputs=6:channel_layout=5.1' -c:a ac3",
                    path);
    if (file == "mono8k.wav")
        return Make("-f lavfi -i sine=f=440:r=8000:d=4 -c:a pcm_s16le", path);
    if (file == "hires192k.wav")
        return Make(tone + " -af aresample=192000 -c:a pcm_s16le", path);
    if (file == "late-clock.ts")
        return Make("-f lavfi -i testsrc2=s=160x120:r=25:d=4 " + tone + " -c:v mpeg2video -c:a mp2 -output_ts_offset 10",
                    path) &&
               ProbeStartTime(path) > 9.0;
    return false;
}

class EngineBadMedia : public ::testing::TestWithParam<BadMediaCase>
{
};



double Rms(const std::vector<std::int16_t>& pcm, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to && i < pcm.size(); ++i)
        sum += static_cast<double>(pcm[i]) * pcm[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

} // namespace

TEST_P(EngineBadMedia, FinishesWithTheRightLengthOrFailsWithAReason)
{
    const BadMediaCase& c = GetParam();
    TempFolder media("velmora-bad-media");
    ASSERT_TRUE(MakeInput(c.file, media.Path())) << c.file;
    const std::string source = media.Path() + c.file;
    EngineJob job;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, 44100, 1)));
    ASSERT_TRUE(job.WriteProject({{source, c.declared, 0.0, c.declared, 1.0, 0.0}}));
    if (std::string(c.file) == "gone.mp3")
        fs::remove(source); // added while it was there, gone by the time the job runs
    const std::string output = job.Folder() + "out.mp3";
    job.FillConversion(output);

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(job.Run(60000), 0) << "the engine crashed or hung";
    // Hours of header are not hours of work: nothing is rendered past the source's end.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 20.0);
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bEngineClosed, 1);
    EXPECT_FALSE(fs::exists(PartialOutputPath(output)));
    if (c.reason != nullptr) {
        EXPECT_EQ(job.Block().bConvertFailed, 1);
        EXPECT_FALSE(fs::exists(output));
        EXPECT_NE(job.LogText().find(c.reason), std::string::npos) << job.LogText();
        return;
    }
    EXPECT_EQ(job.Block().bConvertFailed, 0) << job.LogText();
    ASSERT_TRUE(fs::exists(output));
    // As long as what the tool decodes of the source (the row's length at most), and
    // said to be short where that is less than the header promised.
    const double holds = static_cast<double>(DecodeChannel(source, 8000, 0).size()) / 8000;
    const double expected = std::min(holds, c.declared);
    EXPECT_NEAR(static_cast<double>(DecodeChannel(output, 8000, 0).size()) / 8000, expected, 0.08);
    if (holds < c.declared - 0.3) {
        EXPECT_NEAR(job.Block().dSoundEnd, holds, 0.08);
        EXPECT_NEAR(job.Block().dPosition, job.Block().dSoundEnd, 1e-9);
    } else {
        EXPECT_EQ(job.Block().dSoundEnd, 0.0);
    }
    EXPECT_EQ(ProbeStream(output, "sample_rate"), "44100");
    // Sound where the source has it: the start of every usable source.
    const auto left = DecodeChannel(output, 8000, 0);
    EXPECT_GT(Rms(left, 800, 2400), 1000.0) << "silent where the source sounds";
}

INSTANTIATE_TEST_SUITE_P(
    Files, EngineBadMedia,
    ::testing::Values(BadMediaCase{"Mp4CutBeforeItsIndexAt10", "cut10.mp4", "cannot be opened as media"},
                      BadMediaCase{"Mp4CutBeforeItsIndexAt50", "cut50.mp4", "cannot be opened as media"},
                      BadMediaCase{"StreamableMp4CutAt10", "cut10-faststart.mp4", nullptr},
                      BadMediaCase{"StreamableMp4CutAt50", "cut50-faststart.mp4", nullptr},
                      BadMediaCase{"Mp3CutAt10", "cut10.mp3", nullptr},
                      BadMediaCase{"Mp3CutAt50", "cut50.mp3", nullptr},
                      BadMediaCase{"FlacCutAt10", "truncated.flac", nullptr},
                      BadMediaCase{"FlacDeclaringFiveHours", "hours.flac", nullptr, 18000.0},
                      BadMediaCase{"WavDeclaringHours", "hours.wav", nullptr, 12173.0},
                      BadMediaCase{"M4aStubWhoseIndexClaimsThreeHours", "stub.m4a", nullptr, 10921.0},
                      BadMediaCase{"FlacFramesOverwrittenWithNoise", "noise.flac", "cannot be decoded"},
                      BadMediaCase{"RandomBytesNamedMp4", "noise.mp4", "cannot be opened as media"},
                      BadMediaCase{"ZeroByteFile", "empty.mp3", "cannot be opened as media"},
                      BadMediaCase{"VideoOnly", "video-only.mp4", "has no sound track"},
                      BadMediaCase{"Mp3WithA5MBTag", "large-tag.mp3", nullptr},
                      BadMediaCase{"Surround51", "surround.ac3", nullptr},
                      BadMediaCase{"Mono8kHz", "mono8k.wav", nullptr},
                      BadMediaCase{"Rate192kHz", "hires192k.wav", nullptr},
                      BadMediaCase{"TransportStreamClockAt10s", "late-clock.ts", nullptr},
                      BadMediaCase{"DeletedAfterAdding", "gone.mp3", "cannot read the source"}),
    [](const ::testing::TestParamInfo<BadMediaCase>& info) { return std::string(info.param.name); });
