// The mixer over the real FFmpeg reader, with sources made by the ffmpeg tool: what
// ends up in the output must be the source, sample for sample, where the item says.

#include "pipeline/AudioMixerUserCallback.h"

#include "common/KvText.h"
#include "project/KvEngineProject.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace velmora;
using velmora::test::RunCommand;
using velmora::test::ShellQuote;

namespace {

constexpr int kRate = 44100;
constexpr int kFramesPerBuffer = 1470;

// An 8-second stereo source whose channels differ and which is never zero, as WAV
// and as FLAC (lossless, decoded in frames of 4096 samples), plus its PCM as the
// reference.
class GeneratedSource
{
public:
    GeneratedSource()
    {
        const std::string wav = folder.Path() + "source with spaces é.wav";
        const std::string flac = folder.Path() + "source.flac";
        const std::string raw = folder.Path() + "reference.raw";
        const std::string late = folder.Path() + "late audio.mkv";
        const std::string make =
            "ffmpeg -nostdin -v error -y -f lavfi -i "
            "\"aevalsrc=exprs='0.4+0.3*sin(2*PI*440*t)|-0.4+0.2*sin(2*PI*660*t)':s=44100:d=8\" "
            "-c:a pcm_s16le " + ShellQuote(wav) +
            " && ffmpeg -nostdin -v error -y -i " + ShellQuote(wav) + " -c:a flac " + ShellQuote(flac) +
            " && ffmpeg -nostdin -v error -y -i " + ShellQuote(wav) + " -f s16le -c:a pcm_s16le " + ShellQuote(raw) +
            // Picture from 0, sound (lossless) from 1.5 s.
            " && ffmpeg -nostdin -v error -y -f lavfi -i testsrc=d=10:s=64x48:r=25 -itsoffset 1.5 -i " +
            ShellQuote(wav) + " -map 0:v -map 1:a -c:v mpeg4 -c:a flac " + ShellQuote(late);
        ok = RunCommand(make) == 0;
        if (!ok)
            return;
        const std::string bytes = velmora::test::ReadFileBytes(raw);
        reference.resize(bytes.size() / 2);
        std::memcpy(reference.data(), bytes.data(), reference.size() * 2);
        paths = {wav, flac, late};
    }

    velmora::test::TempFolder folder{"velmora-align"};
    bool ok = false;
    std::vector<std::string> paths;
    std::vector<std::int16_t> reference;
};

GeneratedSource& Source()
{
    static GeneratedSource source;
    return source;
}

struct AlignCase
{
    const char* name;
    int container;      // index into the generated paths
    double start;       // dEditorStartTime
    double trim;        // dASelfStartTime
    double leadIn = 0.0; // where the source's sound starts after its picture
};

class MixerAlignment : public ::testing::TestWithParam<AlignCase> {};

TEST_P(MixerAlignment, OutputIsTheSourceToTheSample)
{
    GeneratedSource& src = Source();
    ASSERT_TRUE(src.ok) << "the ffmpeg tool could not make the test source";
    const AlignCase& c = GetParam();

    CKvEngineProject project;
    auto owned = std::make_unique<CKvEngineItem>();
    owned->bHadAudio = 1;
    owned->dPlaybackRate = 1.0;
    owned->dVoiceScale = 1.0;
    owned->eMediaTypeLine = kLineAudio;
    owned->dEditorStartTime = c.start;
    owned->dEditorEndTime = c.start + 8.0 - c.trim;
    owned->dAudioTimelineStart = c.start;
    owned->dASelfStartTime = c.trim;
    const std::string& path = src.paths[c.container];
    owned->source = Utf8ToWide(path);
    project.FindLine(kLineAudio)->AppendItem(std::move(owned));

    KvAudioMixerSetup setup;
    setup.project = &project;
    setup.programFolder = src.folder.Path();
    CAudioMixerUserCallback callback(setup);

    const int buffers = static_cast<int>((c.start + 8.0 - c.trim) * 30);
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> buffer(2 * kFramesPerBuffer);
    const KvWaveFormat format{1, 2, kRate, kRate * 4, 4, 16};
    for (int i = 0; i < buffers; ++i) {
        const std::int32_t bytes = kFramesPerBuffer * 4;
        callback.MixAudioBuffer(0, bytes, 0, buffer.data(), &format, bytes);
        out.insert(out.end(), buffer.begin(), buffer.end());
    }

    const auto startFrame = static_cast<std::int64_t>((c.start + c.leadIn) * kRate);
    const auto trimFrame = static_cast<std::int64_t>(c.trim * kRate);
    for (std::int64_t n = 0; n < startFrame; ++n)
        ASSERT_TRUE(out[2 * n] == 0 && out[2 * n + 1] == 0) << "sound before the item, frame " << n;
    const std::int64_t frames = static_cast<std::int64_t>(out.size() / 2);
    std::int64_t compared = 0;
    for (std::int64_t n = startFrame; n < frames; ++n, ++compared) {
        const std::int64_t k = n - startFrame + trimFrame;
        ASSERT_EQ(out[2 * n], src.reference[2 * k]) << "output frame " << n << ", source frame " << k;
        ASSERT_EQ(out[2 * n + 1], src.reference[2 * k + 1]) << "output frame " << n << ", source frame " << k;
    }
    EXPECT_GT(compared, 4 * kRate);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, MixerAlignment,
    ::testing::Values(AlignCase{"WavAtZero", 0, 0.0, 0.0}, AlignCase{"FlacAtZero", 1, 0.0, 0.0},
                      AlignCase{"WavAtFive", 0, 5.0, 0.0}, AlignCase{"FlacAtFive", 1, 5.0, 0.0},
                      AlignCase{"WavTrimmed", 0, 0.0, 2.0}, AlignCase{"FlacTrimmedMidFrame", 1, 0.0, 1.5},
                      AlignCase{"FlacLaterAndTrimmed", 1, 3.0, 0.75},
                      // The probe's first audio time keeps the sound in its place against the picture.
                      AlignCase{"SoundStartsAfterPicture", 2, 0.0, 0.0, 1.5},
                      AlignCase{"SoundStartsAfterPictureLaterItem", 2, 2.0, 0.0, 1.5}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
