// The tags and cover written into each output container, read back the way the
// program and the ffmpeg tools read them: text in several scripts, the cover fitted
// to what the container holds, and a file that plays back as long as before.

#include "media/KvTagWriter.h"

#include "media/KvCoverPicture.h"
#include "media/KvDecodedLength.h"
#include "media/KvMediaTags.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include <flacfile.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <textidentificationframe.h>
#include <wavfile.h>

#include "media/MediaTestHelper.h"
#include "support/MediaProbe.h"
#include "support/TempFolder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string Probe(const std::string& arguments, const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error " + arguments + " -of default=nw=1:nk=1 " + ShellQuote(path), &out);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// A tag of the file or of its sound track (where Ogg keeps them).
std::string ProbeAnyTag(const std::string& path, const std::string& key)
{
    return Probe("-show_entries format_tags=" + key + ":stream_tags=" + key, path);
}

struct ContainerCase
{
    const char* name;
    const char* encoder; // ffmpeg output options of the untagged file
    KvTagContainer container;
    const char* date;  // the date as the container keeps it
    const char* track; // the track as FFmpeg reads it back
};

std::ostream& operator<<(std::ostream& out, const ContainerCase& c)
{
    return out << c.name;
}

MediaTags Song(const std::string& cover)
{
    MediaTags tags;
    tags.title = "Заголовок — 标题";
    tags.artist = "Ярослав & Σοφία";
    tags.album = "アルバム 🎵";
    tags.albumArtist = "Various 様々";
    tags.date = "2021-05-03";
    tags.track = "3/12";
    tags.genre = "Jazz";
    tags.comment = "line one ✓";
    tags.cover = Bytes(cover);
    tags.coverMime = "image/png";
    return tags;
}

class TagWriterTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (s_folder)
            return;
        s_folder = std::make_unique<TempFolder>("velmora-write-tags");
        // Noise does not compress: a PNG of some 270 KB, more than a Windows Media
        // attribute holds and well within what the other containers take.
        ASSERT_TRUE(MakeMedia("-f lavfi -i color=s=300x300,noise=alls=100:allf=t -frames:v 1", Path("cover.png")));
    }
    static std::string Path(const std::string& name) { return s_folder->Path() + name; }

    static std::unique_ptr<TempFolder> s_folder;
};

std::unique_ptr<TempFolder> TagWriterTest::s_folder;

class TagWriterContainerTest : public TagWriterTest, public ::testing::WithParamInterface<ContainerCase>
{
};

} // namespace

TEST_P(TagWriterContainerTest, TagsAndCoverAreReadBackAndTheSoundIsUntouched)
{
    const ContainerCase& c = GetParam();
    const std::string plain = Path(std::string("plain.") + c.name);
    const std::string path = Path(std::string("song.") + c.name);
    ASSERT_TRUE(MakeMedia("-f lavfi -i sine=d=1:r=44100 -ac 2 " + std::string(c.encoder), plain));
    std::filesystem::copy_file(plain, path, std::filesystem::copy_options::overwrite_existing);

    std::string why;
    std::string note = "stale";
    // Nothing to write: the file stays as the muxer wrote it.
    MediaTags empty;
    empty.extra = {{"EMPTY", ""}};
    ASSERT_TRUE(WriteMediaTags(path, c.container, empty, &why, &note)) << why;
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(plain));
    EXPECT_EQ(note, "");

    const std::string png = ReadFileBytes(Path("cover.png"));
    MediaTags song = Song(png);
    song.extra = {{"REPLAYGAIN_TRACK_GAIN", "-3.21 dB"}};
    ASSERT_TRUE(WriteMediaTags(path, c.container, song, &why, &note)) << why;
    EXPECT_EQ(note, "");

    MediaTags read;
    ASSERT_TRUE(ReadMediaTags(path, -1, read));
    EXPECT_EQ(read.title, song.title);
    EXPECT_EQ(read.artist, song.artist);
    EXPECT_EQ(read.album, song.album);
    EXPECT_EQ(read.date, c.date);
    EXPECT_EQ(read.track, c.track);
    EXPECT_EQ(read.genre, song.genre);
    EXPECT_EQ(read.comment, song.comment);
    if (c.container != KvTagContainer::Wav) {
        EXPECT_EQ(read.albumArtist, song.albumArtist);
        EXPECT_EQ(ProbeAnyTag(path, "REPLAYGAIN_TRACK_GAIN"), "-3.21 dB");
    } else {
        // FFmpeg takes a WAV file's texts from its INFO chunk and drops those of the ID3
        // chunk (all but the picture); the album artist and the extra field are in the
        // ID3 chunk only.
        TagLib::RIFF::WAV::File file(path.c_str(), false);
        ASSERT_TRUE(file.hasID3v2Tag());
        TagLib::ID3v2::Tag& id3 = *file.ID3v2Tag();
        ASSERT_FALSE(id3.frameList("TPE2").isEmpty());
        EXPECT_EQ(id3.frameList("TPE2").front()->toString().to8Bit(true), song.albumArtist);
        const auto* gain = TagLib::ID3v2::UserTextIdentificationFrame::find(&id3, "REPLAYGAIN_TRACK_GAIN");
        ASSERT_NE(gain, nullptr);
        EXPECT_EQ(gain->fieldList().back().to8Bit(true), "-3.21 dB");
    }

    // The cover is seen as an attached picture: as it was where it fits, as a JPEG
    // within a Windows Media attribute's room and side otherwise.
    EXPECT_EQ(Probe("-select_streams v -show_entries stream_disposition=attached_pic", path), "1");
    EXPECT_EQ(Bytes(ExtractCover(path)), read.cover);
    if (c.container == KvTagContainer::Asf) {
        EXPECT_EQ(read.coverMime, "image/jpeg");
        EXPECT_LE(read.cover.size(), kMaxAsfTagCoverBytes);
        const CoverPictureSize size = MeasureCoverPicture(read.cover, read.coverMime);
        EXPECT_GT(size.width, 0);
        EXPECT_LE(std::max(size.width, size.height), kAsfTagCoverSide);
    } else {
        EXPECT_EQ(read.coverMime, "image/png");
        EXPECT_EQ(read.cover, song.cover);
    }

    // The sound plays back sample for sample as long as before (an MP3's Xing/LAME
    // frame still gives the encoder delay and padding), and the duration FFmpeg
    // reports from the header is unchanged.
    DecodedLength before;
    DecodedLength after;
    ASSERT_TRUE(MeasureDecodedLength(plain, before)) << before.error;
    ASSERT_TRUE(MeasureDecodedLength(path, after)) << after.error;
    EXPECT_GT(before.nFrames, 0);
    EXPECT_EQ(after.nFrames, before.nFrames);
    EXPECT_EQ(after.nSampleRate, before.nSampleRate);
    EXPECT_EQ(after.nBadPackets, 0);
    EXPECT_EQ(Probe("-show_entries format=duration", path), Probe("-show_entries format=duration", plain));
}

INSTANTIATE_TEST_SUITE_P(
    Containers, TagWriterContainerTest,
    ::testing::Values(ContainerCase{"mp3", "-c:a libmp3lame -id3v2_version 0", KvTagContainer::Mp3, "2021-05-03", "3/12"},
                      ContainerCase{"wma", "-c:a wmav2 -f asf", KvTagContainer::Asf, "2021", "3"},
                      ContainerCase{"m4a", "-c:a aac", KvTagContainer::Mp4, "2021-05-03", "3/12"},
                      ContainerCase{"flac", "-c:a flac", KvTagContainer::Flac, "2021-05-03", "3"},
                      ContainerCase{"ogg", "-c:a libvorbis", KvTagContainer::OggVorbis, "2021-05-03", "3"},
                      ContainerCase{"opus", "-c:a libopus", KvTagContainer::OggOpus, "2021-05-03", "3"},
                      ContainerCase{"wav", "-c:a pcm_s16le", KvTagContainer::Wav, "2021-05-03", "3/12"}),
    [](const ::testing::TestParamInfo<ContainerCase>& info) { return std::string(info.param.name); });

// A FLAC picture block says what the picture is and how large, as players show it
// before decoding it.
TEST_F(TagWriterTest, FlacPictureBlockDescribesThePicture)
{
    const std::string path = Path("picture.flac");
    ASSERT_TRUE(MakeMedia("-f lavfi -i sine=d=0.2 -c:a flac", path));
    std::string why;
    ASSERT_TRUE(WriteMediaTags(path, KvTagContainer::Flac, Song(ReadFileBytes(Path("cover.png"))), &why)) << why;

    TagLib::FLAC::File file(path.c_str(), false);
    ASSERT_TRUE(file.isValid());
    const TagLib::List<TagLib::FLAC::Picture*> pictures = file.pictureList();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0]->type(), TagLib::FLAC::Picture::FrontCover);
    EXPECT_EQ(pictures[0]->mimeType(), "image/png");
    EXPECT_EQ(pictures[0]->width(), 300);
    EXPECT_EQ(pictures[0]->height(), 300);
    EXPECT_EQ(pictures[0]->colorDepth(), 24);
}

// A cover that cannot be made to fit is left out and said so; the texts still go in.
TEST_F(TagWriterTest, ACoverThatCannotBeFittedIsLeftOut)
{
    const std::string path = Path("no cover.m4a");
    ASSERT_TRUE(MakeMedia("-f lavfi -i sine=d=0.2 -c:a aac", path));
    MediaTags tags;
    tags.title = "タイトル";
    tags.cover = Bytes(std::string(3000, 'x'));
    tags.coverMime = "image/bmp";
    std::string why;
    std::string note;
    ASSERT_TRUE(WriteMediaTags(path, KvTagContainer::Mp4, tags, &why, &note)) << why;
    EXPECT_NE(note.find("image/bmp, 3000 bytes"), std::string::npos) << note;

    MediaTags read;
    ASSERT_TRUE(ReadMediaTags(path, -1, read));
    EXPECT_EQ(read.title, tags.title);
    EXPECT_TRUE(read.cover.empty());
    EXPECT_EQ(Probe("-select_streams v -show_entries stream=index", path), "");
}

TEST_F(TagWriterTest, AFileTagLibCannotTakeFails)
{
    MediaTags tags;
    tags.title = "t";
    std::string why;
    EXPECT_FALSE(WriteMediaTags(Path("missing.mp3"), KvTagContainer::Mp3, tags, &why));
    EXPECT_NE(why, "");

    const std::string wav = Path("not flac.wav");
    ASSERT_TRUE(MakeMedia("-f lavfi -i sine=d=0.2 -c:a pcm_s16le", wav));
    why.clear();
    EXPECT_FALSE(WriteMediaTags(wav, KvTagContainer::Flac, tags, &why));
    EXPECT_NE(why, "");
    // The container that carries nothing of ours takes any file.
    EXPECT_TRUE(WriteMediaTags(Path("missing.mka"), KvTagContainer::None, tags, &why));
}
