// Every output format through "velmora --render", checked against the ffmpeg tool's
// own decode of the source: the right codec in the right file, not a sample more or
// less, and the very samples for the lossless ones.

#include "MediaTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;

namespace {

const QString kProgram = QStringLiteral(VELMORA_PROGRAM_DIR "velmora");

int Render(const QStringList& args, QString* out = nullptr)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    process.start(kProgram, QStringList{QStringLiteral("--render")} + args);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out != nullptr)
        *out = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

std::string Probe(const std::string& path, const char* entries)
{
    std::string out;
    RunCommand(std::string("ffprobe -v error -select_streams a:0 -show_entries ") + entries +
                   " -of default=noprint_wrappers=1:nokey=1 " + ShellQuote(path),
               &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// The ffmpeg tool's decode of path as interleaved 16-bit samples at its own rate.
std::string Decode(const std::string& path)
{
    std::string pcm;
    RunCommand("ffmpeg -v quiet -i " + ShellQuote(path) + " -vn -f s16le -", &pcm);
    return pcm;
}

// A 44.1 kHz stereo source that is not a whole number of any codec's frames long.
const std::string& Source()
{
    static TempFolder folder("velmora-formats");
    static const std::string path = folder.Path() + "tone.flac";
    if (!fs::exists(path))
        fetest::MakeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3.217 -ac 2 -c:a flac "
                          "-metadata title=\"Ωμέγα 東京\" -metadata artist=Кино", path);
    return path;
}

struct FormatCase
{
    const char* word;
    const char* extension;
    const char* codec;
    int rate;
    bool lossless;
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.word;
}

class OutputFormat : public ::testing::TestWithParam<FormatCase>
{
};

TEST_P(OutputFormat, DecodesToTheSourcesLengthToTheSample)
{
    const FormatCase& format = GetParam();
    TempFolder target("velmora-out");
    QString said;
    ASSERT_EQ(Render({QString::fromStdString(target.Path()), "--format", format.word, QString::fromStdString(Source())},
                     &said),
              0)
        << said.toStdString();
    const QStringList written = QDir(QString::fromStdString(target.Path())).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 1) << said.toStdString();
    EXPECT_TRUE(written.front().endsWith(QLatin1String(format.extension))) << written.front().toStdString();
    const std::string output = target.Path() + written.front().toStdString();
    EXPECT_EQ(Probe(output, "stream=codec_name"), format.codec);
    EXPECT_EQ(Probe(output, "stream=sample_rate"), std::to_string(format.rate));
    // The source's tags, non-Latin text intact, where each container keeps them.
    const std::string tags = Probe(output, "format_tags=title,artist:stream_tags=title,artist");
    EXPECT_NE(tags.find("Ωμέγα 東京"), std::string::npos) << tags;
    EXPECT_NE(tags.find("Кино"), std::string::npos) << tags;

    const std::string source = Decode(Source());
    const std::string decoded = Decode(output);
    const auto frames = [](const std::string& pcm) { return static_cast<long long>(pcm.size() / 4); };
    const long long expected = (frames(source) * format.rate + 22050) / 44100;
    // The ffmpeg tool (5.1) decodes an MP4's last AAC frame whole, past the end its
    // edit list gives; the stream's length counts to that end.
    if (std::string(format.codec) == "aac")
        EXPECT_EQ(std::atoll(Probe(output, "stream=duration_ts").c_str()), expected);
    else
        EXPECT_EQ(frames(decoded), expected);
    if (format.lossless) {
        EXPECT_TRUE(decoded == source) << "the lossless output holds other samples than the source";
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, OutputFormat,
                         ::testing::Values(FormatCase{"flac", ".flac", "flac", 44100, true},
                                           FormatCase{"wav", ".wav", "pcm_s16le", 44100, true},
                                           FormatCase{"alac", ".m4a", "alac", 44100, true},
                                           FormatCase{"opus", ".opus", "opus", 48000, false},
                                           FormatCase{"aac", ".m4a", "aac", 44100, false},
                                           FormatCase{"vorbis", ".ogg", "vorbis", 44100, false},
                                           FormatCase{"mp3-vbr", ".mp3", "mp3", 44100, false}),
                         [](const auto& info) {
                             std::string name = info.param.word;
                             std::erase(name, '-');
                             return name;
                         });

} // namespace

namespace {

// A row with nothing to mix is converted from the source's own sound: a 24-bit
// 96 kHz 5.1 source stays that, sample for sample, and a trim cuts at the very sample.
TEST(CommandLine, LosslessOutputsKeepADeepSurroundSourceAsItIsAndTrimToTheSample)
{
    TempFolder folder("velmora-deep");
    const std::string source = folder.Path() + "deep.flac";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i anoisesrc=d=2.3:r=96000:a=0.3,aformat=sample_fmts=s32:channel_layouts=5.1 "
                                  "-c:a flac -bits_per_raw_sample 24",
                                  source));
    const auto decode32 = [](const std::string& path, const std::string& filter) {
        std::string pcm;
        RunCommand("ffmpeg -v quiet -i " + ShellQuote(path) + filter + " -f s32le -", &pcm);
        return pcm;
    };
    for (const char* format : {"flac", "wav", "alac"}) {
        TempFolder target("velmora-out");
        const QString out = QString::fromStdString(target.Path());
        ASSERT_EQ(Render({out, "--format", format, QString::fromStdString(source)}), 0) << format;
        ASSERT_EQ(Render({out, "--format", format, "--start", "0.25", "--end", "1.5", QString::fromStdString(source)}), 0);
        QStringList written = QDir(out).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(written.size(), 2) << format;
        const std::string whole = target.Path() + written[0].toStdString();
        const std::string cut = target.Path() + written[1].toStdString();
        EXPECT_EQ(Probe(whole, "stream=sample_rate,channels,bits_per_raw_sample"), "96000\n6\n24") << format;
        EXPECT_TRUE(decode32(whole, "") == decode32(source, "")) << format << ": other samples than the source's";
        EXPECT_TRUE(decode32(cut, "") == decode32(source, " -af atrim=start_sample=24000:end_sample=144000"))
            << format << ": the trim does not cut at its samples";
    }

    // A source cut short (a download that stopped) gives what it holds, to the sample.
    const std::string cutShort = folder.Path() + "cut.flac";
    std::string bytes;
    RunCommand("cat " + ShellQuote(source), &bytes);
    std::ofstream(cutShort, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size() * 4 / 10));
    TempFolder target("velmora-out");
    const QString out = QString::fromStdString(target.Path());
    ASSERT_EQ(Render({out, "--format", "flac", QString::fromStdString(cutShort)}), 0);
    const QStringList written = QDir(out).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 1);
    const std::string held = decode32(cutShort, "");
    EXPECT_GT(held.size(), 0u);
    EXPECT_TRUE(decode32(target.Path() + written[0].toStdString(), "") == held) << "not what the cut source holds";
}

} // namespace

namespace {

std::string Packets(const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error -select_streams a:0 -show_packets -show_data -show_entries packet=pts,data -of csv=p=0 " +
                   ShellQuote(path),
               &out);
    return out;
}

// "original" copies the track's packets into a file of its codec's kind, Matroska for
// a codec no other file suits; a trimmed lossless track is cut to the sample.
TEST(CommandLine, OriginalKeepsTheTracksPacketsInTheFileOfItsCodec)
{
    TempFolder folder("velmora-original");
    const std::string film = folder.Path() + "film.mp4";
    const std::string radio = folder.Path() + "radio.mkv";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=440:duration=3.3 -f lavfi -i testsrc=d=3.3:s=160x120 "
                                  "-ac 2 -c:a aac -c:v libx264 -shortest",
                                  film));
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=440:duration=2.1 -ac 2 -c:a mp2", radio));
    TempFolder target("velmora-out");
    const QString out = QString::fromStdString(target.Path());
    ASSERT_EQ(Render({out, "--format", "original", QString::fromStdString(film), QString::fromStdString(radio),
                      QString::fromStdString(Source())}),
              0);
    EXPECT_EQ(Packets(target.Path() + "(output001)film.m4a"), Packets(film));
    EXPECT_EQ(Packets(target.Path() + "(output002)radio.mka"), Packets(radio));
    EXPECT_EQ(Packets(target.Path() + "(output003)tone.flac"), Packets(Source()));

    const QStringList before = QDir(out).entryList(QDir::Files);
    ASSERT_EQ(Render({out, "--format", "original", "--start", "1", "--end", "2.5", QString::fromStdString(Source())}), 0);
    QStringList after = QDir(out).entryList(QDir::Files);
    for (const QString& name : before)
        after.removeAll(name);
    ASSERT_EQ(after.size(), 1);
    std::string cut;
    std::string wanted;
    RunCommand("ffmpeg -v quiet -i " + ShellQuote(target.Path() + after.front().toStdString()) + " -f s16le -", &cut);
    RunCommand("ffmpeg -v quiet -i " + ShellQuote(Source()) + " -af atrim=start_sample=44100:end_sample=110250 -f s16le -",
               &wanted);
    EXPECT_TRUE(cut == wanted) << cut.size() << " bytes against " << wanted.size();
}

// A trimmed lossy track is cut at packets and trimmed by its container: the decode
// starts at Start with the very samples of the source's decode (no damaged first
// frame) and ends within one codec frame of End.
TEST(CommandLine, OriginalOfALossyTrackStartsAtStartWithNoDamagedFrame)
{
    TempFolder folder("velmora-original-lossy");
    const std::string sweep = "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(200*t+150*t*t)):s=48000:d=8\" ";
    struct Case
    {
        const char* name;
        const char* codec;
        int rate;
        int frame; // samples of one codec frame
    };
    const Case cases[] = {{"film.mp4", "-c:a aac -b:a 160k", 48000, 1024},
                          {"voice.opus", "-c:a libopus -b:a 96k", 48000, 960},
                          {"song.mp3", "-ar 44100 -c:a libmp3lame -b:a 128k", 44100, 1152}};
    for (const Case& c : cases) {
        const std::string source = folder.Path() + c.name;
        ASSERT_TRUE(fetest::MakeMedia(sweep + c.codec, source));
        TempFolder target("velmora-out");
        ASSERT_EQ(Render({QString::fromStdString(target.Path()), "--format", "original", "--start", "2.5", "--end", "6.3",
                          QString::fromStdString(source)}),
                  0)
            << c.name;
        const QStringList written = QDir(QString::fromStdString(target.Path())).entryList(QDir::Files);
        ASSERT_EQ(written.size(), 1) << c.name;
        std::string cut;
        std::string whole;
        RunCommand("ffmpeg -v quiet -i " + ShellQuote(target.Path() + written.front().toStdString()) + " -ac 1 -f s16le -", &cut);
        RunCommand("ffmpeg -v quiet -i " + ShellQuote(source) + " -ac 1 -f s16le -", &whole);
        const auto sample = [](const std::string& pcm, size_t i) {
            return int(static_cast<std::int16_t>(std::uint8_t(pcm[2 * i]) | (std::uint8_t(pcm[2 * i + 1]) << 8)));
        };
        const long expected = std::lround(3.8 * c.rate);
        const long got = long(cut.size() / 2);
        EXPECT_LE(std::labs(got - expected), c.frame) << c.name << ": " << got << " samples for " << expected;
        const size_t start = size_t(std::lround(2.5 * c.rate));
        ASSERT_GE(whole.size() / 2, start + 2048) << c.name;
        ASSERT_GE(cut.size() / 2, size_t(2048)) << c.name;
        int worst = 0;
        for (size_t i = 0; i < 2048; ++i)
            worst = std::max(worst, std::abs(sample(cut, i) - sample(whole, start + i)));
        EXPECT_LE(worst, 2) << c.name << ": the first samples differ from the source's by up to " << worst;
    }
}

} // namespace
