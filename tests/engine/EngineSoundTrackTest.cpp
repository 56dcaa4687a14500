// A film with an English and a German sound track: the engine converts and previews
// the track the project names (the first when it names none), heard by the pitch of
// the output, and a track that is not there fails the job with a reason instead of
// playing another.

#include "EngineTestHelper.h"

#include "support/ScopedEnv.h"
#include "support/SoundTracks.h"

#include <cstring>

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

class EngineSoundTrack : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-engine-tracks");
        ASSERT_TRUE(MakeTwoTrackFilm(Film(), "-c:v mpeg4 -c:a:0 aac -c:a:1 ac3"));
    }
    static void TearDownTestSuite() { s_media.reset(); }
    static std::string Film() { return s_media->Path() + "film.mkv"; }

    static std::unique_ptr<TempFolder> s_media;
};

std::unique_ptr<TempFolder> EngineSoundTrack::s_media;

struct TrackJob
{
    int audioStream;
    double tone;
};

void PrintTo(const TrackJob& c, std::ostream* os)
{
    *os << "stream " << c.audioStream;
}

class EngineSoundTrackJob : public EngineSoundTrack, public ::testing::WithParamInterface<TrackJob>
{
};

} // namespace

TEST_P(EngineSoundTrackJob, ConvertsTheChosenTrack)
{
    const TrackJob& c = GetParam();
    EngineJob job;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(0, 128, 44100, 1)));
    JobRow row{Film(), 3.0, 0.0, 3.0};
    row.audioStream = c.audioStream;
    ASSERT_TRUE(job.WriteProject({row}));
    const std::string output = job.Folder() + "out.mp3";
    job.FillConversion(output);

    ASSERT_EQ(job.Run(60000), 0);
    EXPECT_EQ(job.Block().bConvertFailed, 0) << job.LogText();
    EXPECT_NEAR(FileToneFrequency(output), c.tone, 5.0);
}

INSTANTIATE_TEST_SUITE_P(Tracks, EngineSoundTrackJob,
                         ::testing::Values(TrackJob{-1, kEnglishTone}, TrackJob{2, kGermanTone}));

TEST_F(EngineSoundTrack, ATrackThatIsNotThereFailsTheJobWithAReason)
{
    EngineJob job;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(0, 128, 44100, 1)));
    JobRow row{Film(), 3.0, 0.0, 3.0};
    row.audioStream = 0; // the picture
    ASSERT_TRUE(job.WriteProject({row}));
    const std::string output = job.Folder() + "out.mp3";
    job.FillConversion(output);

    ASSERT_EQ(job.Run(60000), 0);
    EXPECT_EQ(job.Block().bConvertFailed, 1);
    EXPECT_NE(job.LogText().find("has no sound track at stream 0"), std::string::npos) << job.LogText();
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(EngineSoundTrack, PreviewPlaysTheChosenTrackToo)
{
    EngineJob job;
    const std::string played = job.Folder() + "played.raw";
    ScopedEnv file("SDL_DISKAUDIOFILE", played);
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(0, 128, 44100, 1)));
    JobRow row{Film(), 3.0, 0.0, 3.0};
    row.audioStream = 2;
    ASSERT_TRUE(job.WriteProject({row}));
    job.FillPreview(3.0);

    ASSERT_EQ(EngineJob::Wait(job.Start(), 30000), 0) << job.LogText();
    EXPECT_EQ(job.Block().bPlayFailed, 0) << job.LogText();
    const std::string bytes = ReadFileBytes(played);
    std::vector<std::int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    // The device's silence before the first mixed buffer is no part of the sound.
    std::size_t lead = 0;
    while (lead + 1 < pcm.size() && pcm[lead] == 0 && pcm[lead + 1] == 0)
        lead += 2;
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<long>(lead));
    EXPECT_NEAR(ToneFrequency(pcm, 2, 44100), kGermanTone, 5.0);
}
