// A film with an English and a German sound track: the media information lists both,
// and the reader and the WAV extraction take the track they are given, told apart by
// the pitch of each track.

#include "media/ExtractAudioToWav.h"
#include "media/KvFFMpegAudioReader.h"
#include "media/KvMediaInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "support/SoundTracks.h"
#include "support/TempFolder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int kRate = 44100;

class SoundTrackChoiceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (s_folder)
            return;
        s_folder = std::make_unique<TempFolder>("velmora-tracks");
        ASSERT_TRUE(MakeTwoTrackFilm(Film(), "-c:v mpeg4 -c:a:0 aac -c:a:1 ac3"));
    }
    static std::string Film() { return s_folder->Path() + "film.mkv"; }

    static std::unique_ptr<TempFolder> s_folder;
};

std::unique_ptr<TempFolder> SoundTrackChoiceTest::s_folder;

double ReaderTone(CKvFFMpegAudioReader& reader)
{
    std::vector<int16_t> pcm;
    std::vector<int16_t> chunk(4096 * 2);
    for (int got; (got = reader.ReadDecoded(chunk.data(), 4096, kRate)) > 0;)
        pcm.insert(pcm.end(), chunk.begin(), chunk.begin() + got * 2);
    return ToneFrequency(pcm, 2, kRate);
}

} // namespace

TEST_F(SoundTrackChoiceTest, MediaInformationListsEveryTrackWithItsLanguageCodecAndChannels)
{
    MediaInfo info;
    ASSERT_TRUE(GetMediaInfo(Film(), info));
    ASSERT_EQ(info.audioTracks.size(), 2u);
    EXPECT_EQ(AudioTrackLabel(info.audioTracks[0]), "1: eng, AAC stereo");
    EXPECT_EQ(AudioTrackLabel(info.audioTracks[1]), "2: deu, AC-3 5.1");

    AudioTrackInfo unnamed;
    unnamed.nStreamIndex = 0;
    unnamed.codec = "MP3";
    unnamed.nChannels = 1;
    unnamed.title = std::string(30, 'x') + "\xC3\xBC" + std::string(30, 'y'); // "ü" across the cut
    EXPECT_EQ(AudioTrackLabel(unnamed), "0: MP3 mono (" + std::string(30, 'x') + "\xC3\xBC" +
                                            std::string(8, 'y') + "...)");
}

struct TrackCase
{
    int stream;
    double tone;
};

void PrintTo(const TrackCase& c, std::ostream* os)
{
    *os << "stream " << c.stream;
}

class SoundTrackReadTest : public SoundTrackChoiceTest, public ::testing::WithParamInterface<TrackCase>
{
};

TEST_P(SoundTrackReadTest, ReaderAndExtractionTakeTheNamedTrack)
{
    const TrackCase c = GetParam();
    CKvFFMpegAudioReader reader(Film(), c.stream);
    ASSERT_FALSE(reader.IsFailed()) << reader.OpenError();
    EXPECT_NEAR(ReaderTone(reader), c.tone, 5.0);
    // Back to the start opens the file afresh: the same track again.
    reader.Seek(0.0);
    EXPECT_NEAR(ReaderTone(reader), c.tone, 5.0);

    const std::string wav = s_folder->Path() + "track" + std::to_string(c.stream) + ".wav";
    ASSERT_TRUE(ExtractAudioToWav(Film(), wav, c.stream));
    EXPECT_NEAR(FileToneFrequency(wav), c.tone, 5.0);
}

INSTANTIATE_TEST_SUITE_P(Tracks, SoundTrackReadTest,
                         ::testing::Values(TrackCase{-1, kEnglishTone}, TrackCase{1, kEnglishTone},
                                           TrackCase{2, kGermanTone}));

// A project naming a stream that is no sound track (the picture, one past the end)
// must fail with a reason, never play another track in its place.
TEST_F(SoundTrackChoiceTest, AStreamThatIsNoSoundTrackIsRefused)
{
    for (int stream : {0, 3, 1000}) {
        CKvFFMpegAudioReader reader(Film(), stream);
        EXPECT_TRUE(reader.IsFailed()) << stream;
        EXPECT_EQ(reader.OpenError(), "has no sound track at stream " + std::to_string(stream));
        EXPECT_FALSE(ExtractAudioToWav(Film(), s_folder->Path() + "none.wav", stream));
    }
}
