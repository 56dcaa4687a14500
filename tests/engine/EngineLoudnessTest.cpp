// A row normalised through the mix (its volume changed): measured as the mix will
// sound, one gain for all of it, and the album's loudness taken as given rather than
// measured again; the job's progress covers both passes.

#include "EngineTestHelper.h"

#include "common/KvAudioFormats.h"
#include "support/MediaProbe.h"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

TEST(EngineLoudness, AMixedRowIsNormalisedAsItSoundsOrByItsAlbum)
{
    EngineJob job;
    const std::string source = job.Folder() + "talk.wav";
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i anoisesrc=color=pink:seed=5:amplitude=0.05:d=6 "
                         "-ar 44100 -ac 2 -c:a pcm_s16le " + ShellQuote(source)),
              0);
    const double level = MeasureLoudness(source).integrated;
    ASSERT_TRUE(job.WriteOptions(EngineJob::AudioOptions(kKvOutputFlac, 0, 0, -1)));

    // Half the volume: the mix is 6 dB below the source, and the gain makes up for it.
    JobRow row{source, 6.0, 0.0, 6.0};
    row.volume = 0.5;
    row.loudness = tagKvItemLoudness{};
    row.loudness->mode = 1;
    row.loudness->target = -18.0;
    ASSERT_TRUE(job.WriteProject({row}));
    const std::string output = job.Folder() + "talk.flac";
    job.FillConversion(output);
    ASSERT_EQ(job.Run(60000), 0) << job.LogText();
    ASSERT_EQ(job.Block().bConvertFailed, 0) << job.LogText();
    EXPECT_NEAR(MeasureLoudness(output).integrated, -18.0, 0.3);
    EXPECT_DOUBLE_EQ(job.Block().dPosition, 6.0) << "the bar ends full after both passes";
    EXPECT_NE(job.LogText().find("loudness: a gain of"), std::string::npos) << job.LogText();

    // An album measured beforehand at 10 dB below the target: that gain, whatever this
    // row alone measures.
    row.loudness->albumIntegrated = -28.0;
    row.loudness->albumPeak = 0.05;
    ASSERT_TRUE(job.WriteProject({row}));
    const std::string album = job.Folder() + "album.flac";
    job.FillConversion(album);
    ASSERT_EQ(job.Run(60000), 0) << job.LogText();
    EXPECT_NEAR(MeasureLoudness(album).integrated, level - 6.0 + 10.0, 0.3);

    // A faint tone with 5 ms of another whose samples lie 3 dB under its true peak: the
    // gain the samples allow takes the mix's true peak over the ceiling, and the row is
    // converted again.
    const std::string tones = "if(between(t\\,3\\,3.005)\\,0.0063*sin(2*PI*11025*t+PI/4)\\,0.001*sin(2*PI*1000*t))";
    const std::string peaky = job.Folder() + "peaky.wav";
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + ShellQuote("aevalsrc=" + tones + "|" + tones + ":s=44100:d=6")
                         + " -c:a pcm_s16le " + ShellQuote(peaky)),
              0);
    JobRow peakRow{peaky, 6.0, 0.0, 6.0};
    peakRow.volume = 0.5;
    peakRow.loudness = tagKvItemLoudness{};
    peakRow.loudness->mode = 1;
    peakRow.loudness->target = -16.0;
    ASSERT_TRUE(job.WriteProject({peakRow}));
    const std::string held = job.Folder() + "held.flac";
    job.FillConversion(held);
    ASSERT_EQ(job.Run(60000), 0) << job.LogText();
    ASSERT_EQ(job.Block().bConvertFailed, 0) << job.LogText();
    EXPECT_NE(job.LogText().find("converted again"), std::string::npos) << job.LogText();
    EXPECT_LE(MeasureLoudness(held).truePeak, -1.0);
    EXPECT_DOUBLE_EQ(job.Block().dPosition, 6.0);
}
