// The real kvengine in play mode, heard through SDL's disk driver: what it plays must
// be what a conversion of the same row mixes, at the pace of the device, and every
// way a preview cannot play must end it at once with the reason in the log.

#include "EngineTestHelper.h"
#include "support/ScopedEnv.h"

#include "common/KvProgramFolder.h"
#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "pipeline/AudioMixerUserCallback.h"
#include "pipeline/KvAudioMixerStage.h"
#include "pipeline/KvTimeLineSource.h"
#include "pipeline/KvVideoConverter.h"
#include "project/KvEngineProject.h"
#include "project/KvJobProject.h"
#include "project/KvProjectReader.h"
#include "project/KvProjectWriter.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>
#include <thread>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int kRate = 44100;
constexpr int kPreviewBuffer = 2940;

std::vector<std::int16_t> ReadPcm(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& stereo, int channel)
{
    std::vector<std::int16_t> out(stereo.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = stereo[2 * i + static_cast<std::size_t>(channel)];
    return out;
}

// The conversion's mix of the job folder's project: the engine's project reader, the
// time-line source at the conversion's 30 frames per second and the same mixer stage
// and callback as the converter, without the encoder behind them.
std::vector<std::int16_t> ConversionMix(const std::string& folder)
{
    tagKvEngineOptions options;
    EXPECT_TRUE(LoadOptions(4, options, folder));
    CKvEngineProject project;
    tagKvProjectReadOptions read;
    read.programFolder = folder;
    read.pPresetTable = options.table.data();
    EXPECT_TRUE(ReadProject(velmora::ProgramPath(folder, "tmp/kvengine.kvmmpj"), project, read));

    KvAudioMixerSetup setup;
    setup.project = &project;
    setup.programFolder = folder;
    CAudioMixerUserCallback callback(setup);
    CKvAudioMixerStage stage(kRate, 2);
    stage.SetUserCallback(&callback);

    std::vector<std::int16_t> mix;
    bool ended = false;
    CKvTimeLineSource source;
    source.Start(
        GetProjectDuration(&project), 30.0, kRate,
        [&](std::int16_t* pcm, int frames, int capacity) {
            stage.Process(pcm, frames, capacity);
            mix.insert(mix.end(), pcm, pcm + 2 * frames);
            return 0;
        },
        [&](int) { ended = true; });
    while (!ended && source.IsStarted() && !source.HasEnded())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    source.Stop();
    return mix;
}

// Signal-to-noise ratio of played against reference once played is shifted by lag
// frames, over the reference's length, both channels (infinite when they are equal).
double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& played, int lag)
{
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const long j = static_cast<long>(i) + 2L * lag;
        const double p = (j >= 0 && static_cast<std::size_t>(j) < played.size()) ? played[static_cast<std::size_t>(j)] : 0.0;
        signal += static_cast<double>(reference[i]) * reference[i];
        noise += (reference[i] - p) * (reference[i] - p);
    }
    return noise <= 0.0 ? HUGE_VAL : 10.0 * std::log10(signal / noise);
}

class EnginePreview : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-preview-media");
        s_source = s_media->Path() + "source.wav";
        ASSERT_TRUE(MakeSource(s_source, 3.0, kRate));
    }
    static void TearDownTestSuite() { s_media.reset(); }

    // A preview of row, ready to start; returns the time-line length.
    double Prepare(EngineJob& job, const JobRow& row)
    {
        EXPECT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, kRate, 1)));
        EXPECT_TRUE(job.WriteProject({row}));
        const double length = (row.end - row.start) / row.speed;
        job.FillPreview(length);
        return length;
    }

    static std::unique_ptr<TempFolder> s_media;
    static std::string s_source;
};

std::unique_ptr<TempFolder> EnginePreview::s_media;
std::string EnginePreview::s_source;

} // namespace

TEST_F(EnginePreview, PlaysWhatTheConversionMixesAtTheDevicePace)
{
    EngineJob job;
    const std::string played = job.Folder() + "played.raw";
    ScopedEnv file("SDL_DISKAUDIOFILE", played);
    // Trimmed, quieter and faster: everything the row can change in the mix.
    const JobRow row{s_source, 3.0, 0.4, 2.6, 1.25, 0.0, 0.7};
    const double length = Prepare(job, row);

    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = job.Start();
    ASSERT_GT(pid, 0);
    bool sawPlaying = false;
    double aheadOfClock = -1.0;
    int status = -1;
    for (;;) {
        int wstatus = 0;
        if (waitpid(pid, &wstatus, WNOHANG) == pid) {
            status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(30)) {
            EngineJob::Kill(pid);
            break;
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double position = LoadAcquire(job.Block().dPosition);
        if (LoadAcquire(job.Block().nState) == kKvJobRunning)
            sawPlaying = true;
        aheadOfClock = std::max(aheadOfClock, position - elapsed);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(status, 0) << job.LogText();

    EXPECT_TRUE(sawPlaying);
    // The position follows what the device played: the whole row is mixed long before
    // it is heard, so a position taken from the mix would run far ahead of the clock.
    EXPECT_LT(aheadOfClock, 0.1);
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().bPlayFailed, 0) << job.LogText();
    EXPECT_EQ(job.Block().bGraphRunning, 1);
    EXPECT_NEAR(job.Block().dPosition, length, 1e-3);

    const std::vector<std::int16_t> reference = ConversionMix(job.Folder());
    // The disk driver records the device's silence from the moment it is opened until
    // the first buffers are mixed; the row's sound starts after it.
    std::vector<std::int16_t> heard = ReadPcm(played);
    std::size_t lead = 0;
    while (lead + 1 < heard.size() && heard[lead] == 0 && heard[lead + 1] == 0)
        lead += 2;
    heard.erase(heard.begin(), heard.begin() + static_cast<long>(lead));
    ASSERT_EQ(reference.size(), 2 * static_cast<std::size_t>(std::llround(length * kRate)));
    ASSERT_GE(heard.size(), reference.size() - 2 * kPreviewBuffer);
    const LagMatch match = BestLag(Channel(reference, 0), Channel(heard, 0), kPreviewBuffer);
    EXPECT_LE(std::abs(match.lag), kPreviewBuffer);
    const double snr = SnrDb(reference, heard, match.lag);
    RecordProperty("snr_db", std::to_string(snr));
    std::printf("preview against conversion: %zu frames of device silence first, then lag %d frames, SNR %.1f dB\n",
                lead / 2, match.lag, snr);
    EXPECT_GE(snr, 40.0);
}

enum class ProjectKind { Row, EmptyLine, None, GoneSource, VideoOnly };

struct FailureCase
{
    const char* name;
    const char* driver;  // SDL_AUDIODRIVER for the engine
    ProjectKind project;
    const char* logged;  // what the log must say
};

// A job project whose audio line holds no item: a time line of length 0.
bool WriteEmptyProject(const std::string& folder)
{
    tagKvJobRow row;
    row.file = L"/nowhere.wav";
    row.duration = 1;
    row.end = 1;
    auto project = BuildJobProject({row});
    for (auto& line : project->lines)
        line->items.clear();
    tagKvProjectWriteOptions options;
    options.programFolder = folder;
    options.vensettingIndex = 4;
    return WriteProject(project.get(), velmora::ProgramPath(folder, "tmp/kvengine.kvmmpj"), options);
}

class EnginePreviewFailure : public EnginePreview, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(EnginePreviewFailure, EndsAtOnceWithTheReasonLogged)
{
    const FailureCase& c = GetParam();
    EngineJob job;
    ScopedEnv driver("SDL_AUDIODRIVER", c.driver);
    ScopedEnv file("SDL_DISKAUDIOFILE", job.Folder() + "played.raw");
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputMp3, 128, kRate, 1)));
    if (c.project == ProjectKind::Row) {
        ASSERT_TRUE(job.WriteProject({{s_source, 3.0, 1.0, 2.0}}));
    } else if (c.project == ProjectKind::GoneSource) {
        ASSERT_TRUE(job.WriteProject({{job.Folder() + "gone.wav", 3.0, 1.0, 2.0}}));
    } else if (c.project == ProjectKind::VideoOnly) {
        // A row that says it has sound, over a file that has none: silence is not
        // what the user asked to hear.
        const std::string video = job.Folder() + "video-only.mp4";
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=160x120:r=25:d=3 -c:v mpeg4 " +
                             ShellQuote(video)), 0);
        ASSERT_TRUE(job.WriteProject({{video, 3.0, 1.0, 2.0}}));
    } else if (c.project == ProjectKind::EmptyLine) {
        ASSERT_TRUE(WriteEmptyProject(job.Folder()));
    }
    job.FillPreview(1.0);

    const auto started = std::chrono::steady_clock::now();
    const int status = job.Run(10000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(job.Block().bPlayFailed, 1);
    EXPECT_EQ(job.Block().nState, kKvJobIdle);
    EXPECT_EQ(job.Block().dPosition, 0.0);
    EXPECT_NE(job.LogText().find(c.logged), std::string::npos) << job.LogText();
    // Nothing to wait for: a failed start must not keep the front end's spinner up
    // (generous for a loaded machine; the start itself takes a fraction of this).
    EXPECT_LT(seconds, 3.0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, EnginePreviewFailure,
    ::testing::Values(FailureCase{"NoSoundDevice", "no-such-driver", ProjectKind::Row, "no sound device"},
                      FailureCase{"EmptyTimeLine", "disk", ProjectKind::EmptyLine, "time line is empty"},
                      FailureCase{"NoProject", "disk", ProjectKind::None, "cannot load the project"},
                      FailureCase{"SourceGone", "disk", ProjectKind::GoneSource, "cannot read the source"},
                      FailureCase{"SourceWithoutSound", "disk", ProjectKind::VideoOnly, "has no sound track"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });
