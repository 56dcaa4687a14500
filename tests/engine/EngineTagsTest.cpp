// What a rip keeps of its source: the real kvengine writes the first item's tags and
// cover into the output (read back with ffprobe), titles it after the file when the
// source has no title, and takes the tags of a Windows Media source from the source
// itself when its sound comes from an extracted WAV.

#include "EngineTestHelper.h"

#include "common/KvText.h"
#include "media/ExtractAudioToWav.h"
#include "project/KvWavIndex.h"
#include "support/MediaProbe.h"
#include "support/SoundTracks.h"

#include <gtest/gtest.h>
#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

class EngineTags : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_media = std::make_unique<TempFolder>("velmora-engine-tags");
        const std::string& dir = s_media->Path();
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=s=96x96 -frames:v 1 " + ShellQuote(dir + "cover.jpg")), 0);
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=d=2 -i " + ShellQuote(dir + "cover.jpg") +
                             " -map 0 -map 1 -c:v copy -disposition:v attached_pic -metadata title='Зимний вечер'"
                             " -metadata artist='Пушкин' -metadata album=Poems -metadata genre=Spoken -c:a aac " +
                             ShellQuote(dir + "song.m4a")),
                  0);
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=d=2 -c:a pcm_s16le " +
                             ShellQuote(dir + "Ünïcødé 音 clip.wav")),
                  0);
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i color=s=64x48:d=2 -f lavfi -i sine=d=2"
                             " -metadata title='From the WMV' -c:v wmv2 -c:a wmav2 " + ShellQuote(dir + "clip.wmv")),
                  0);
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=f=" + std::to_string(kGermanTone) +
                             ":d=2 " + ShellQuote(dir + "german.wav")),
                  0);
    }
    static void TearDownTestSuite() { s_media.reset(); }
    static std::string Media(const std::string& name) { return s_media->Path() + name; }

    // Converts source to an MP3 and returns its path.
    static std::string Convert(EngineJob& job, const std::string& source)
    {
        EXPECT_TRUE(job.WriteOptions(EngineJob::AudioOptions(0, 128, 44100, 1)));
        EXPECT_TRUE(job.WriteProject({{source, 2.0, 0.0, 2.0}}));
        const std::string output = job.Folder() + "out.mp3";
        job.FillConversion(output);
        EXPECT_EQ(job.Run(60000), 0);
        EXPECT_EQ(job.Block().bConvertFailed, 0) << job.LogText();
        return output;
    }

    static std::unique_ptr<TempFolder> s_media;
};

std::unique_ptr<TempFolder> EngineTags::s_media;

} // namespace

// The formats' own writing is the output chain's test; this is the way there.
TEST_F(EngineTags, TheFirstItemsTagsAndCoverReachTheOutput)
{
    EngineJob job;
    const std::string output = Convert(job, Media("song.m4a"));
    EXPECT_EQ(ProbeFormatTag(output, "title"), "Зимний вечер");
    EXPECT_EQ(ProbeFormatTag(output, "artist"), "Пушкин");
    EXPECT_EQ(ProbeFormatTag(output, "album"), "Poems");
    EXPECT_EQ(ProbeFormatTag(output, "genre"), "Spoken");
    EXPECT_EQ(ExtractCover(output), ReadFileBytes(Media("cover.jpg")));
}

TEST_F(EngineTags, ASourceWithoutATitleNamesTheOutputAfterItsFile)
{
    EngineJob job;
    const std::string output = Convert(job, Media("Ünïcødé 音 clip.wav"));
    EXPECT_EQ(ProbeFormatTag(output, "title"), "Ünïcødé 音 clip");
}

TEST_F(EngineTags, AnExtractedWavGivesItsSoundTheSourceGivesItsTags)
{
    EngineJob job;
    // A WAV of another pitch than the source, to hear which one was read.
    const std::string wav = job.Work() + "tmp/extracted.wav";
    ASSERT_TRUE(ExtractAudioToWav(Media("german.wav"), wav));
    ASSERT_TRUE(RecordWavExtraction(job.Folder(), Utf8ToWide(Media("clip.wmv")), Utf8ToWide(wav)));
    const std::string output = Convert(job, Media("clip.wmv"));
    EXPECT_NEAR(FileToneFrequency(output), kGermanTone, 5.0);
    EXPECT_EQ(ProbeFormatTag(output, "title"), "From the WMV");
}
