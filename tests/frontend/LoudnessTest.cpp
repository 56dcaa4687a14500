// Even loudness by the built program, measured from outside with the ffmpeg tool's
// ebur128 filter: outputs normalised to a target under the true-peak ceiling, a
// peaky source whose ceiling wins and says so, and ReplayGain tags in every output
// format with the sound left as it is.

#include "MediaTestSupport.h"
#include "support/MediaProbe.h"
#include "support/TempFolder.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;
using velmora::fetest::Q;

namespace {

std::string Tag(const std::string& path, const std::string& name)
{
    std::string out;
    RunCommand("ffprobe -v error -show_entries format_tags=" + name + ":stream_tags=" + name
                   + " -of default=nw=1:nk=1 " + ShellQuote(path),
               &out);
    return out.substr(0, out.find('\n'));
}

// A 44.1 kHz stereo FLAC of the sound made by lavfi, brought to about lufs.
std::string MakeAt(const std::string& folder, const std::string& name, const std::string& lavfi, double lufs)
{
    const std::string raw = folder + name + ".raw.wav";
    const std::string path = folder + name + ".flac";
    if (!fetest::MakeMedia("-f lavfi -i " + ShellQuote(lavfi) + " -ar 44100 -ac 2 -c:a pcm_f32le", raw))
        return std::string();
    const double gain = lufs - MeasureLoudness(raw).integrated;
    if (!fetest::MakeMedia("-i " + ShellQuote(raw) + " -af volume=" + std::to_string(gain) + "dB -c:a flac", path))
        return std::string();
    return path;
}

} // namespace

// Sources at -30, -20 and -8 LUFS come out at -16 within 0.3 LU and under -1 dBTP; a
// quiet source of sharp clicks is held by the ceiling and the run says by how much it
// missed; Off leaves the sound exactly as it was.
TEST(Loudness, NormalisesToTheTargetUnderTheTruePeakCeiling)
{
    TempFolder folder("velmora-loudness");
    const std::string noise = "anoisesrc=color=pink:seed=7:amplitude=0.1:duration=8";
    const std::string quiet = MakeAt(folder.Path(), "quiet", noise, -30.0);
    const std::string middle = MakeAt(folder.Path(), "middle", noise, -20.0);
    const std::string loud = MakeAt(folder.Path(), "loud", "sine=frequency=997:duration=8", -8.0);
    ASSERT_FALSE(quiet.empty() || middle.empty() || loud.empty());
    ASSERT_NEAR(MeasureLoudness(loud).integrated, -8.0, 0.3);

    const std::string out = folder.Path() + "out/";
    fs::create_directories(out);
    const fetest::RenderRun run = fetest::RunRender({Q(out), "--format", "flac", "--loudness", "-16", "--name", "{name}", Q(quiet),
                                 Q(middle), Q(loud)});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    for (const char* name : {"quiet.flac", "middle.flac", "loud.flac"}) {
        const EbuR128Reading measured = MeasureLoudness(out + name);
        EXPECT_NEAR(measured.integrated, -16.0, 0.3) << name;
        EXPECT_LE(measured.truePeak, -1.0) << name;
    }
    EXPECT_EQ(run.out.find("Note "), std::string::npos) << "every target was met:\n" << run.out;

    // Clicks of 0.9 over a whisper: the gain that would reach -16 LUFS would take
    // their peaks far over the ceiling.
    const std::string clicks = folder.Path() + "clicks.flac";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i " + ShellQuote("aevalsrc=if(lt(mod(t\\,0.5)\\,0.0005)\\,0.9\\,"
                                                               "0.01*sin(2*PI*440*t)):s=44100:d=6")
                                      + " -ac 2 -c:a flac",
                                  clicks));
    const std::string held = folder.Path() + "held/";
    fs::create_directories(held);
    const fetest::RenderRun ceiling = fetest::RunRender({Q(held), "--format", "flac", "--loudness", "-16", "--name", "{name}", Q(clicks)});
    ASSERT_EQ(ceiling.code, 0) << ceiling.out << ceiling.err;
    const EbuR128Reading measured = MeasureLoudness(held + "clicks.flac");
    EXPECT_LE(measured.truePeak, -1.0);
    EXPECT_LT(measured.integrated, -17.0);
    EXPECT_NE(ceiling.out.find("Note " + held + "clicks.flac: -16 LUFS missed by "), std::string::npos) << ceiling.out;
    EXPECT_NE(ceiling.out.find("under the ceiling of -1 dBTP"), std::string::npos) << ceiling.out;

    // A faint tone with 5 ms of another at a quarter of the rate, sampled 45 degrees
    // off its crests: its samples stay 3 dB under its true peak, so a gain that keeps
    // the samples well under the ceiling still takes the true peak over it.
    const std::string between = folder.Path() + "between.flac";
    const std::string tones = "if(between(t\\,3\\,3.005)\\,0.0063*sin(2*PI*11025*t+PI/4)\\,0.001*sin(2*PI*1000*t))";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i " + ShellQuote("aevalsrc=" + tones + "|" + tones + ":s=44100:d=6")
                                      + " -c:a flac",
                                  between));
    const fetest::RenderRun late = fetest::RunRender({Q(held), "--format", "flac", "--loudness", "-16", "--name", "{name}", Q(between)});
    ASSERT_EQ(late.code, 0) << late.out << late.err;
    EXPECT_LE(MeasureLoudness(held + "between.flac").truePeak, -1.0);
    EXPECT_NE(late.out.find("Note " + held + "between.flac: -16 LUFS missed by "), std::string::npos) << late.out;

    const std::string off = folder.Path() + "off/";
    fs::create_directories(off);
    ASSERT_EQ(fetest::RunRender({Q(off), "--format", "flac", "--loudness", "off", "--name", "{name}", Q(middle)}).code, 0);
    EXPECT_TRUE(fetest::DecodePcm16(off + "middle.flac") == fetest::DecodePcm16(middle)) << "off: the source's samples, untouched";
}

// --replaygain: every format carries the track's gain to -18 LUFS and its peak as the
// ffmpeg tool reads them back, Opus its R128 gain to -23 LUFS; the sound is as it would
// be without (an Original copy's samples are the source's).
TEST(Loudness, ReplayGainTagsInEveryFormatLeaveTheSoundAsItIs)
{
    TempFolder folder("velmora-replaygain");
    const std::string source
        = MakeAt(folder.Path(), "song", "anoisesrc=color=pink:seed=3:amplitude=0.1:duration=6", -21.0);
    ASSERT_FALSE(source.empty());
    const double loudness = MeasureLoudness(source).integrated;
    for (const char* format : {"mp3", "wma", "aac", "alac", "flac", "wav", "vorbis", "opus", "original"}) {
        SCOPED_TRACE(format);
        const std::string out = folder.Path() + format + "/";
        fs::create_directories(out);
        const fetest::RenderRun run = fetest::RunRender({Q(out), "--format", format, "--replaygain", Q(source)});
        ASSERT_EQ(run.code, 0) << run.out << run.err;
        ASSERT_FALSE(fs::is_empty(out));
        const std::string output = fs::directory_iterator(out)->path().string();
        if (std::string(format) == "opus") {
            const std::string r128 = Tag(output, "R128_TRACK_GAIN");
            ASSERT_FALSE(r128.empty()) << output;
            EXPECT_NEAR(std::atof(r128.c_str()) / 256.0, -23.0 - loudness, 0.1);
            EXPECT_TRUE(Tag(output, "REPLAYGAIN_TRACK_GAIN").empty()) << "Opus has its own gain tags";
            continue;
        }
        if (std::string(format) == "wav") {
            // The ffmpeg tool passes over a WAV file's ID3 chunk when the file has a
            // LIST INFO chunk too, as every output does: the frames are looked for in
            // the file itself.
            const std::string bytes = ReadFileBytes(output);
            const std::string frame = std::string("REPLAYGAIN_TRACK_GAIN\0", 22);
            const auto at = bytes.find(frame);
            ASSERT_NE(at, std::string::npos);
            EXPECT_NEAR(std::atof(bytes.c_str() + at + frame.size()), -18.0 - loudness, 0.1);
            EXPECT_NE(bytes.find(std::string("REPLAYGAIN_TRACK_PEAK\0", 22)), std::string::npos);
            continue;
        }
        const std::string gain = Tag(output, "REPLAYGAIN_TRACK_GAIN");
        ASSERT_NE(gain.find(" dB"), std::string::npos) << output << ": \"" << gain << "\"";
        EXPECT_NEAR(std::atof(gain.c_str()), -18.0 - loudness, 0.1);
        const double peak = std::atof(Tag(output, "REPLAYGAIN_TRACK_PEAK").c_str());
        EXPECT_GT(peak, 0.05);
        EXPECT_LE(peak, 1.0);
        if (std::string(format) == "original")
            EXPECT_TRUE(fetest::DecodePcm16(output) == fetest::DecodePcm16(source)) << "the copy's sound is the source's";
    }
}

// --album: three tracks of one album tag, 6 LU apart, get one gain that brings the
// album to the target, keeping their differences; a file of no album in another
// folder is an album of its own; with --replaygain every track carries the same album
// gain beside its own.
TEST(Loudness, AnAlbumGetsOneGainForAllItsTracks)
{
    TempFolder folder("velmora-album-gain");
    fs::create_directories(folder.Path() + "trio");
    fs::create_directories(folder.Path() + "single");
    QStringList files;
    for (int k = 0; k < 3; ++k) {
        const std::string path = folder.Path() + "trio/t" + std::to_string(k + 1) + ".flac";
        ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i anoisesrc=color=pink:seed=" + std::to_string(k + 1)
                                          + ":amplitude=0.2:duration=5 -af volume=" + std::to_string(-6 * k)
                                          + "dB -ar 44100 -ac 2 -metadata album=Trio -c:a flac",
                                      path));
        files << Q(path);
    }
    const std::string single = folder.Path() + "single/alone.flac";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i anoisesrc=color=pink:seed=9:amplitude=0.02:duration=5 -ac 2 -c:a flac",
                                  single));
    files << Q(single);

    const std::string out = folder.Path() + "out/";
    fs::create_directories(out);
    const fetest::RenderRun run = fetest::RunRender(QStringList{Q(out), "--format", "flac", "--loudness", "-16", "--album", "--name", "{name}"}
                                + files);
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    double gain = 0.0;
    for (int k = 0; k < 3; ++k) {
        const std::string name = "t" + std::to_string(k + 1) + ".flac";
        const double in = MeasureLoudness(folder.Path() + "trio/" + name).integrated;
        const double outLevel = MeasureLoudness(out + name).integrated;
        if (k == 0)
            gain = outLevel - in;
        EXPECT_NEAR(outLevel - in, gain, 0.2) << name << ": one gain for the album";
    }
    EXPECT_GT(gain, 5.0);
    // The album as a whole at the target: its tracks one after another, measured.
    const std::string joined = folder.Path() + "joined.flac";
    ASSERT_EQ(RunCommand("ffmpeg -v error -i " + ShellQuote(out + "t1.flac") + " -i " + ShellQuote(out + "t2.flac")
                         + " -i " + ShellQuote(out + "t3.flac")
                         + " -filter_complex concat=n=3:v=0:a=1 -c:a flac " + ShellQuote(joined)),
              0);
    EXPECT_NEAR(MeasureLoudness(joined).integrated, -16.0, 0.3);
    EXPECT_NEAR(MeasureLoudness(out + "alone.flac").integrated, -16.0, 0.3) << "an album of its own";

    const std::string tags = folder.Path() + "tags/";
    fs::create_directories(tags);
    const QStringList tagging{Q(tags), "--format", "mp3", "--replaygain", "--skip-existing", "--name", "{name}"};
    const fetest::RenderRun tagged = fetest::RunRender(tagging + QStringList{"--album"} + files.mid(0, 3));
    ASSERT_EQ(tagged.code, 0) << tagged.out << tagged.err;
    EXPECT_NE(tagged.out.find("Measure album: "), std::string::npos) << tagged.out;
    const std::string album = Tag(tags + "t1.mp3", "REPLAYGAIN_ALBUM_GAIN");
    ASSERT_FALSE(album.empty());
    for (const char* name : {"t2.mp3", "t3.mp3"}) {
        EXPECT_EQ(Tag(tags + name, "REPLAYGAIN_ALBUM_GAIN"), album) << name;
        EXPECT_NE(Tag(tags + name, "REPLAYGAIN_TRACK_GAIN"), album) << name;
    }
    // The album's sources are the gain below the normalised album: -16 - gain LUFS,
    // and ReplayGain takes them to -18.
    EXPECT_NEAR(std::atof(album.c_str()), gain - 2.0, 0.35);

    // A track tagged for its album is not what a run without albums makes, and the
    // other way round.
    const fetest::RenderRun alone = fetest::RunRender(tagging + files.mid(0, 1));
    EXPECT_EQ(alone.out.find("Skip "), std::string::npos) << alone.out;
    const fetest::RenderRun again = fetest::RunRender(tagging + QStringList{"--album"} + files.mid(0, 3));
    EXPECT_NE(again.out.find("Skip " + tags + "t3.mp3"), std::string::npos) << again.out;
}
