// "velmora --render" run as a user runs it, with no display at all: the built program
// converting real files with the real engine, and what it prints and returns.

#include "MediaTestSupport.h"
#include "common/KvEngineSlot.h"
#include "common/KvProgramFolder.h"
#include "frontend/KvCommandLine.h"
#include "frontend/KvConvertedManifest.h"
#include "frontend/KvMediaFiles.h"
#include "support/TempFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::test;

namespace {

const QString kProgram = QStringLiteral(VELMORA_PROGRAM_DIR "velmora");

QProcessEnvironment NoDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

Result Render(const QStringList& args, int timeoutMs = 180000, const QProcessEnvironment& environment = NoDisplay())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(kProgram, args);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

std::string Probe(const std::string& path, const char* entries)
{
    std::string out;
    RunCommand(std::string("ffprobe -v error -select_streams a:0 -show_entries ") + entries
                   + " -of default=noprint_wrappers=1:nokey=1 " + ShellQuote(path),
               &out);
    return out;
}

double Duration(const std::string& path)
{
    return std::atof(Probe(path, "format=duration").c_str());
}

// How much sound the ffmpeg tool decodes of path.
double DecodedSeconds(const std::string& path)
{
    std::string pcm;
    RunCommand("ffmpeg -v quiet -i " + ShellQuote(path) + " -vn -ac 1 -ar 8000 -f s16le -", &pcm);
    return static_cast<double>(pcm.size()) / 2 / 8000;
}

std::string EngineProgram()
{
    return fs::canonical(VELMORA_PROGRAM_DIR "kvengine").string();
}

bool IsEngine(qint64 pid)
{
    std::error_code error;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string() == EngineProgram();
}

// The engines parent started that still run.
std::vector<qint64> EnginesOf(qint64 parent)
{
    std::vector<qint64> engines;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos || !IsEngine(std::stoll(name)))
            continue;
        // "pid (comm) state ppid ...": the parent follows the closing parenthesis.
        const std::string stat = ReadFileBytes(entry.path().string() + "/stat");
        std::istringstream rest(stat.substr(stat.rfind(')') + 1));
        std::string state;
        qint64 ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            engines.push_back(std::stoll(name));
    }
    return engines;
}

const std::string& LongSound()
{
    static TempFolder folder("velmora-long");
    static const std::string path = folder.Path() + "long.wav";
    if (!fs::exists(path))
        fetest::MakeMedia("-f lavfi -i sine=frequency=330:sample_rate=8000:duration=1800 -ac 1", path);
    return path;
}

QStringList Lines(const QString& text)
{
    return text.split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

TEST(CommandLine, ConvertsEveryFileInRowOrderTwoAtATimeWithoutADisplay)
{
    const fetest::MediaSet& media = fetest::Media();
    TempFolder sources("velmora-src");
    TempFolder target("velmora-out");
    // A long row first: the two after it start beside it and end before it.
    const std::string first = sources.Path() + "first.wav";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=330:sample_rate=8000:duration=300 -ac 1", first));
    fs::create_directories(sources.Path() + "more/Inner");
    fs::copy_file(media.videoWithSound, sources.Path() + "more/Inner/b clip.mp4");
    fs::copy_file(media.audioOnly, sources.Path() + "more/a tone.mp3");
    WriteFileBytes(sources.Path() + "more/readme.txt", "not offered by Add");
    WriteFileBytes(sources.Path() + "more/.hidden.mp3", "hidden");

    const Result run = Render({"--render", QString::fromStdString(target.Path()), "--format", "mp3", "--bitrate", "96",
                               "--rate", "22050", "--channels", "1", "--jobs", "2", QString::fromStdString(first),
                               QString::fromStdString(sources.Path() + "more")});
    ASSERT_EQ(run.code, 0) << run.out.toStdString() << run.err.toStdString();
    const QString out = QString::fromStdString(target.Path());
    const QStringList lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3) << run.out.toStdString();
    EXPECT_TRUE(lines.contains("Finish " + out + "(output001)first.mp3"));
    EXPECT_TRUE(lines.contains("Finish " + out + "(output002)a tone.mp3"));
    EXPECT_TRUE(lines.contains("Finish " + out + "(output003)b clip.mp3"));
    EXPECT_EQ(lines.last(), "Finish " + out + "(output001)first.mp3") << "the first row ends last";
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_EQ(Probe(target.Path() + "(output002)a tone.mp3", "stream=codec_name,sample_rate,channels,bit_rate"),
              "mp3\n22050\n1\n96000\n");
    EXPECT_NEAR(Duration(target.Path() + "(output001)first.mp3"), 300.0, 0.5);
    EXPECT_NEAR(Duration(target.Path() + "(output003)b clip.mp3"), 2.0, 0.2);
    EXPECT_EQ(fs::directory_iterator(target.Path())->path().extension(), ".mp3");
    EXPECT_EQ(std::distance(fs::directory_iterator(target.Path()), fs::directory_iterator()), 3);
    // The slots went back: no job folder, no job block is left.
    EXPECT_FALSE(fs::exists(JobFolder(VELMORA_PROGRAM_DIR, 1)));
    EXPECT_FALSE(fs::exists(JobFolder(VELMORA_PROGRAM_DIR, 2)));
}

// A library kept in today's formats is found by a folder walk and by a drop; a folder
// with nothing to convert ends with status 1 and says why.
TEST(CommandLine, AFolderOfTodaysFormatsConvertsAndOneWithNothingToConvertFails)
{
    TempFolder sources("velmora-today");
    TempFolder target("velmora-out");
    const std::string tone = "-f lavfi -i sine=frequency=440:duration=1 ";
    ASSERT_TRUE(fetest::MakeMedia(tone + "-c:a flac", sources.Path() + "a.flac"));
    ASSERT_TRUE(fetest::MakeMedia(tone + "-c:a libopus", sources.Path() + "b.opus"));
    ASSERT_TRUE(fetest::MakeMedia(tone + "-c:a libopus -f webm", sources.Path() + "c.webm"));
    ASSERT_TRUE(fetest::MakeMedia(tone + "-c:a aac -f ipod", sources.Path() + "d.m4b"));

    const KvDroppedFiles dropped = CollectDroppedFiles({QUrl::fromLocalFile(QString::fromStdString(sources.Path()))});
    EXPECT_EQ(dropped.files.size(), 4) << dropped.files.join(u' ').toStdString();
    EXPECT_TRUE(dropped.skipped.empty());

    const Result run = Render({"--render", QString::fromStdString(target.Path()), "--format", "mp3", "--bitrate", "64",
                               QString::fromStdString(sources.Path())});
    ASSERT_EQ(run.code, 0) << run.out.toStdString() << run.err.toStdString();
    const QString out = QString::fromStdString(target.Path());
    for (const char* name : {"(output001)a.mp3", "(output002)b.mp3", "(output003)c.mp3", "(output004)d.mp3"}) {
        EXPECT_TRUE(Lines(run.out).contains("Finish " + out + name)) << name << "\n" << run.out.toStdString();
        EXPECT_NEAR(Duration(target.Path() + name), 1.0, 0.1) << name;
    }

    TempFolder notes("velmora-notes");
    WriteFileBytes(notes.Path() + "readme.txt", "words");
    const Result nothing = Render({"--render", QString::fromStdString(target.Path()), QString::fromStdString(notes.Path())});
    EXPECT_EQ(nothing.code, 1);
    EXPECT_EQ(nothing.err, "velmora: no media files to convert: the folders given hold 1 file, none of a media type "
                           "(such as readme.txt).\n");
}

// A library converted again and again into one folder: its tree mirrored, a second
// run that converts nothing, and a third that converts only the source that changed.
TEST(CommandLine, KeepsTheTreeAndSkipsWhatAnEarlierRunConverted)
{
    TempFolder sources("velmora-tree");
    TempFolder target("velmora-out");
    const std::string tone = "-f lavfi -i sine=frequency=440:duration=0.5 ";
    fs::create_directories(sources.Path() + "Rock/Live");
    fs::create_directories(sources.Path() + "Talk");
    ASSERT_TRUE(fetest::MakeMedia(tone, sources.Path() + "Rock/Live/a.wav"));
    ASSERT_TRUE(fetest::MakeMedia(tone + "-c:a flac", sources.Path() + "Rock/b.flac"));
    ASSERT_TRUE(fetest::MakeMedia(tone, sources.Path() + "Talk/c.wav"));
    const QString out = QString::fromStdString(target.Path());
    const QStringList args{"--render", out, "--format", "flac", "--keep-tree", "--skip-existing",
                           QString::fromStdString(sources.Path())};

    const Result first = Render(args);
    ASSERT_EQ(first.code, 0) << first.out.toStdString() << first.err.toStdString();
    for (const char* name : {"Rock/(output001)b.flac", "Rock/Live/(output002)a.flac", "Talk/(output003)c.flac"})
        EXPECT_NEAR(Duration(target.Path() + name), 0.5, 0.01) << name;

    const Result second = Render(args);
    ASSERT_EQ(second.code, 0) << second.err.toStdString();
    EXPECT_EQ(Lines(second.out), QStringList({"Skip " + out + "Rock/(output001)b.flac",
                                              "Skip " + out + "Rock/Live/(output002)a.flac",
                                              "Skip " + out + "Talk/(output003)c.flac"}));

    // Another source under the same name, and another setting for all of them.
    ASSERT_TRUE(fetest::MakeMedia("-y -f lavfi -i sine=frequency=440:duration=0.7", sources.Path() + "Talk/c.wav"));
    const Result third = Render(args);
    ASSERT_EQ(third.code, 0) << third.err.toStdString();
    EXPECT_EQ(Lines(third.out).filter("Skip ").size(), 2) << third.out.toStdString();
    EXPECT_TRUE(Lines(third.out).contains("Finish " + out + "Talk/(output001)c.flac")) << third.out.toStdString();
    EXPECT_NEAR(Duration(target.Path() + "Talk/(output001)c.flac"), 0.7, 0.01);
    const Result other = Render({"--render", out, "--format", "flac", "--quality", "8", "--keep-tree",
                                 "--skip-existing", QString::fromStdString(sources.Path())});
    EXPECT_EQ(Lines(other.out).filter("Finish ").size(), 3) << other.out.toStdString();

    // A run killed mid-row leaves the manifest it wrote, perhaps with a torn last line:
    // what it finished is skipped, the rest converts, and the manifest stays readable.
    const std::string manifest = target.Path() + ".velmora-manifest.jsonl";
    {
        std::ofstream torn(manifest, std::ios::app);
        torn << R"({"source": ")" << sources.Path() << "Rock/b.fl";
    }
    QProcess killed;
    killed.setProcessEnvironment(NoDisplay());
    killed.start(kProgram, {"--render", out, "--format", "mp3", "--jobs", "1", "--skip-existing",
                            QString::fromStdString(sources.Path() + "Rock/b.flac"), QString::fromStdString(LongSound())});
    ASSERT_TRUE(killed.waitForStarted());
    const QDir folder(out);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return folder.exists("(output001)b.mp3") && !folder.entryList({"*.part"}, QDir::Files).isEmpty();
    }, 60000));
    // As a machine that goes down: the front end and its engine at once.
    const std::vector<qint64> engines = EnginesOf(killed.processId());
    ::kill(pid_t(killed.processId()), SIGKILL);
    for (const qint64 engine : engines)
        ::kill(pid_t(engine), SIGKILL);
    killed.waitForFinished();
    const Result after = Render({"--render", out, "--format", "mp3", "--skip-existing",
                                 QString::fromStdString(sources.Path() + "Rock/b.flac")});
    EXPECT_EQ(after.code, 0);
    EXPECT_EQ(Lines(after.out), QStringList({"Skip " + out + "(output001)b.mp3"})) << after.out.toStdString();
    KvConvertedManifest read(out);
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(read.Entries().size(), 3u + 1u + 3u + 1u) << ReadFileBytes(manifest);
}

// Lists from other programs, NUL-separated as "find -print0" writes them, with a name
// that holds a newline; and the JSON objects that scripts read.
TEST(CommandLine, ReadsFilesFromStandardInputAndReportsJson)
{
    TempFolder sources("velmora-list");
    TempFolder target("velmora-out");
    const std::string odd = sources.Path() + "two\nlines.wav";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=440:duration=0.5", odd));
    WriteFileBytes(sources.Path() + "broken.mp3", "not sound");
    QProcess process;
    process.setProcessEnvironment(NoDisplay());
    process.start(kProgram, {"--render", QString::fromStdString(target.Path()), "--format", "wav", "--json",
                             "--files-from", "-", "--null"});
    ASSERT_TRUE(process.waitForStarted());
    process.write(QByteArray::fromStdString(odd) + '\0' + QByteArray::fromStdString(sources.Path() + "broken.mp3")
                  + '\0');
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    ASSERT_EQ(lines.size(), 3) << "two objects and nothing else on standard output";
    const QJsonObject failed = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(failed.value("state").toString(), "failed");
    EXPECT_EQ(failed.value("reason").toString(), "cannot be read");
    EXPECT_TRUE(failed.value("output").isNull());
    const QJsonObject done = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(done.value("source").toString().toStdString(), odd);
    EXPECT_EQ(done.value("state").toString(), "done");
    EXPECT_GT(done.value("speed").toDouble(), 0.0);
    EXPECT_NEAR(Duration(done.value("output").toString().toStdString()), 0.5, 0.01);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("Finish "));
}

// Two shares of one batch side by side into one folder: each file once, under the name
// a single run gives it.
TEST(CommandLine, TwoSharesIntoOneFolderConvertEachFileOnceUnderTheNamesOfOneRun)
{
    TempFolder sources("velmora-shards");
    TempFolder alone("velmora-alone");
    TempFolder shared("velmora-shared");
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=" + std::to_string(300 + 40 * i) + ":duration=0.3",
                                      sources.Path() + "track " + std::to_string(i) + ".wav"));
    const QString library = QString::fromStdString(sources.Path());
    ASSERT_EQ(Render({"--render", QString::fromStdString(alone.Path()), "--format", "flac", library}).code, 0);
    QProcess shares[2];
    for (int k = 0; k < 2; ++k) {
        shares[k].setProcessEnvironment(NoDisplay());
        shares[k].start(kProgram, {"--render", QString::fromStdString(shared.Path()), "--format", "flac", "--jobs", "1",
                                   "--shard", QStringLiteral("%1/2").arg(k), library});
    }
    int finished = 0;
    for (QProcess& share : shares) {
        ASSERT_TRUE(share.waitForFinished(120000));
        EXPECT_EQ(share.exitCode(), 0);
        const int own = int(Lines(QString::fromLocal8Bit(share.readAllStandardOutput())).filter("Finish ").size());
        EXPECT_GT(own, 0) << "each share has files of its own";
        finished += own;
    }
    EXPECT_EQ(finished, 8);
    EXPECT_EQ(QDir(QString::fromStdString(shared.Path())).entryList(QDir::Files),
              QDir(QString::fromStdString(alone.Path())).entryList(QDir::Files));
}

// Files that cannot be rows and rows the engine converts, in one run: every row says
// how it ended, the good ones are there, and the status says something failed.
TEST(CommandLine, AFailedRowAmongGoodOnesIsNamedAndEndsWithStatusOne)
{
    const fetest::MediaSet& media = fetest::Media();
    TempFolder target("velmora-out");
    const Result run = Render({"--render", "--end", "1.2", QString::fromStdString(target.Path()),
                               QString::fromStdString(media.folder)});
    EXPECT_EQ(run.code, 1) << run.out.toStdString() << run.err.toStdString();
    const QString out = QString::fromStdString(target.Path());
    const QStringList lines = Lines(run.out);
    EXPECT_EQ(lines.size(), 6) << run.out.toStdString();
    EXPECT_EQ(lines.value(0), QString::fromStdString("Failed " + media.notMedia + ": cannot be read"));
    EXPECT_EQ(lines.value(1), QString::fromStdString("Failed " + media.videoNoSound + ": no sound track"));
    // The rows in name order, the Windows Media one by its extracted sound.
    for (const char* name : {"(output001)clip.wma", "(output002)clip \xC3\xB6 1.wma", "(output003)tone.wma",
                             "(output004)with sound.wma"})
        EXPECT_TRUE(lines.contains("Finish " + out + QString::fromUtf8(name))) << name;
    EXPECT_NEAR(Duration(target.Path() + "(output003)tone.wma"), 1.2, 0.15);
    const double clip = Duration(target.Path() + "(output001)clip.wma");
    EXPECT_TRUE(clip > 0.9 && clip < 1.25) << clip << " s: the whole second or so of the file, no more than --end";
}

// Files that hold less than their headers say. Sound alone is measured before it
// converts, so its output is whole; a video's sound that ends early is converted as
// far as it goes and reported as short, with status 1.
TEST(CommandLine, AFileShorterThanItsHeaderSaysIsConvertedAsFarAsItGoesAndReportedShort)
{
    TempFolder sources("velmora-cut");
    const std::string video = sources.Path() + "video.mp4";
    const std::string sound = sources.Path() + "sound.mp3";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i testsrc2=s=160x120:r=25:d=6 -f lavfi -i sine=f=440:d=6 -c:v mpeg4 "
                                  "-c:a aac -movflags +faststart",
                                  sources.Path() + "whole.mp4"));
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=f=440:d=6 -c:a libmp3lame", sources.Path() + "whole.mp3"));
    for (const auto& [from, to] : {std::pair{"whole.mp4", video}, std::pair{"whole.mp3", sound}}) {
        const std::string bytes = ReadFileBytes(sources.Path() + from);
        WriteFileBytes(to, bytes.substr(0, bytes.size() / 2));
    }
    TempFolder target("velmora-out");
    const Result run = Render({"--render", "--format", "mp3", "--jobs", "1", QString::fromStdString(target.Path()),
                               QString::fromStdString(sound), QString::fromStdString(video)});
    EXPECT_EQ(run.code, 1) << run.out.toStdString() << run.err.toStdString();
    const QStringList lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2) << run.out.toStdString();
    const std::string soundOut = target.Path() + "(output001)sound.mp3";
    const std::string videoOut = target.Path() + "(output002)video.mp3";
    EXPECT_EQ(lines.value(0), QString::fromStdString("Finish " + soundOut));
    EXPECT_TRUE(lines.value(1).startsWith(QString::fromStdString("Short " + videoOut + ": the source ends at ")))
        << lines.value(1).toStdString();
    EXPECT_TRUE(lines.value(1).endsWith(QLatin1String("; its header says 6.00 s"))) << lines.value(1).toStdString();
    // Each as long as what the tool decodes of its source's sound: nothing padded.
    for (const auto& [source, output] : {std::pair{sound, soundOut}, std::pair{video, videoOut}}) {
        const double holds = DecodedSeconds(source);
        ASSERT_GT(holds, 1.0) << source;
        EXPECT_NEAR(DecodedSeconds(output), holds, 0.08) << output;
    }
}

// Named by the file's name alone: a name already in the folder, and two rows of the
// same name converting side by side, get " (2)" and " (3)"; the file that was there stays.
TEST(CommandLine, NamesOutputsByThePatternGiven)
{
    const fetest::MediaSet& media = fetest::Media();
    TempFolder sources("velmora-src");
    TempFolder target("velmora-out");
    fs::create_directories(sources.Path() + "a");
    fs::create_directories(sources.Path() + "b");
    fs::copy_file(media.audioOnly, sources.Path() + "a/holiday clip.mp3");
    fs::copy_file(media.videoWithSound, sources.Path() + "b/holiday clip.mp4");
    WriteFileBytes(target.Path() + "holiday clip.mp3", "mine");

    const Result run = Render({"--render", QString::fromStdString(target.Path()), "--format", "mp3", "--jobs", "2",
                               "--name", "{name}", QString::fromStdString(sources.Path() + "a/holiday clip.mp3"),
                               QString::fromStdString(sources.Path() + "b/holiday clip.mp4")});
    ASSERT_EQ(run.code, 0) << run.out.toStdString() << run.err.toStdString();
    const QString out = QString::fromStdString(target.Path());
    const QStringList lines = Lines(run.out);
    EXPECT_TRUE(lines.contains("Finish " + out + "holiday clip (2).mp3")) << run.out.toStdString();
    EXPECT_TRUE(lines.contains("Finish " + out + "holiday clip (3).mp3")) << run.out.toStdString();
    EXPECT_EQ(ReadFileBytes(target.Path() + "holiday clip.mp3"), "mine");
    EXPECT_NEAR(Duration(target.Path() + "holiday clip (2).mp3"), 1.5, 0.2);
    EXPECT_NEAR(Duration(target.Path() + "holiday clip (3).mp3"), 2.0, 0.2);
}

struct UsageCase
{
    const char* name;
    std::vector<const char*> args; // "<target>" and "<file>" stand for real ones
    const char* says;
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class CommandLineUsage : public ::testing::TestWithParam<UsageCase>
{
};

TEST_P(CommandLineUsage, IsRefusedBeforeAnythingStarts)
{
    TempFolder target("velmora-out");
    TempFolder sources("velmora-src");
    const std::string file = sources.Path() + "tone.mp3";
    WriteFileBytes(file, "never read");
    QStringList args{"--render"};
    for (const char* arg : GetParam().args) {
        const std::string text = arg;
        args << QString::fromStdString(text == "<target>" ? target.Path() : text == "<file>" ? file : text);
    }
    const Result run = Render(args, 30000);
    EXPECT_EQ(run.code, 2);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(QString::fromLatin1(GetParam().says))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("velmora --render --help"));
    EXPECT_TRUE(fs::is_empty(target.Path()));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, CommandLineUsage,
    ::testing::Values(
        UsageCase{"NoFolder", {}, "no target FOLDER given"},
        UsageCase{"NoFile", {"<target>"}, "no FILE to convert given"},
        UsageCase{"UnknownOption", {"<target>", "--speed", "2", "<file>"}, "unknown option \"--speed\""},
        UsageCase{"MissingValue", {"<target>", "<file>", "--jobs"}, "--jobs needs a value"},
        UsageCase{"FolderMissing", {"/no/such/folder", "<file>"}, "does not exist"},
        UsageCase{"FolderIsAFile", {"<file>", "<file>"}, "is not a folder"},
        UsageCase{"ShardPastItsCount", {"<target>", "--shard", "2/2", "<file>"}, "--shard takes K/N"},
        UsageCase{"NulWithoutList", {"<target>", "--null", "<file>"}, "--null goes with --files-from"},
        UsageCase{"ListMissing", {"<target>", "--files-from", "/no/such/list"}, "the list /no/such/list cannot be read"},
        UsageCase{"Channels", {"<target>", "--channels=3", "<file>"}, "--channels must be 1 (mono), 2 (stereo) or source"},
        UsageCase{"FlacBitRate", {"<target>", "--format", "flac", "--bitrate", "128", "<file>"}, "flac has no bit rate; it takes --quality 0 to 8"},
        UsageCase{"OpusRate", {"<target>", "--format=opus", "--rate", "44100", "<file>"}, "opus has no sample rate of 44100 Hz. Its sample rates are 48000 Hz."},
        UsageCase{"VorbisQuality", {"<target>", "--format", "vorbis", "--quality", "11", "<file>"}, "vorbis has no quality 11. Its values are -1 to 10."},
        UsageCase{"OriginalRate", {"<target>", "--format", "original", "--rate", "48000", "<file>"}, "original keeps the sound track as it is"},
        UsageCase{"Jobs", {"<target>", "--jobs", "0", "<file>"}, "--jobs takes a number from 1 to 64"},
        UsageCase{"DecimalComma", {"<target>", "--start", "1,5", "<file>"}, "--start takes seconds"},
        UsageCase{"EndBeforeStart", {"<target>", "--start", "5", "--end", "2", "<file>"}, "must be after --start"},
        UsageCase{"Mp3BitRate", {"<target>", "--format", "mp3", "--bitrate", "320", "--rate", "22050", "<file>"},
                  "At 22050 Hz the bit rates are 8, 16"},
        UsageCase{"WmaFormat", {"<target>", "--bitrate", "320", "--rate", "44100", "<file>"}, "The WMA formats are:"},
        UsageCase{"NamePattern", {"<target>", "--name", "{name}/{track}", "<file>"},
                  "--name \"{name}/{track}\": a name cannot hold \"/\""},
        UsageCase{"NamePlaceholder", {"<target>", "--name={year}", "<file>"}, "unknown placeholder \"{year}\""},
        UsageCase{"FlagWithValue", {"<target>", "--no-verify=yes", "<file>"}, "--no-verify takes no value"},
        UsageCase{"LoudnessTarget", {"<target>", "--loudness", "-12", "<file>"},
                  "--loudness must be -14, -16, -18, -23 (LUFS) or off, not \"-12\""},
        UsageCase{"NormaliseAndTags", {"<target>", "--loudness=-16", "--replaygain", "<file>"},
                  "it does not go with --loudness"},
        UsageCase{"AlbumAlone", {"<target>", "--album", "<file>"}, "--album goes with --loudness or --replaygain"},
        UsageCase{"SplitSource", {"<target>", "--split", "tracks", "<file>"}, "--split must be chapters, cue, auto"}),
    [](const auto& info) { return std::string(info.param.name); });

// Both spellings of a value, options after the files, and "--" before names that look
// like options.
TEST(CommandLine, ReadsValuesEitherWayAndTakesEverythingAfterDoubleDashAsFiles)
{
    TempFolder target("velmora-out");
    KvRenderOptions options;
    QString error;
    ASSERT_TRUE(KvCommandLine::Parse({"--render", QString::fromStdString(target.Path()), "a.mp4", "--jobs=3", "--start",
                                      "2.5", "--", "--end", "-", "-x.mkv"},
                                     options, error))
        << error.toStdString();
    EXPECT_EQ(options.jobs, 3);
    EXPECT_DOUBLE_EQ(options.start, 2.5);
    EXPECT_EQ(options.end, -1.0);
    EXPECT_EQ(options.paths, QStringList({"a.mp4", "--end", "-", "-x.mkv"}));
}

TEST(CommandLine, HelpNamesTheOptions)
{
    const Result render = Render({"--render", "--help"}, 30000);
    EXPECT_EQ(render.code, 0);
    for (const char* option : {"--format mp3|wma", "--bitrate", "--rate", "--channels", "--start", "--end", "--jobs",
                               "--name PATTERN", "--no-verify", "Short OUTPUT"})
        EXPECT_TRUE(render.out.contains(QLatin1String(option))) << option;
    const Result help = Render({"--help"}, 30000);
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("velmora --render FOLDER"));
}

// A stop signal ends the engines at once, removes the files they were writing and
// says so by the status.
class CommandLineStop : public ::testing::TestWithParam<int>
{
};

TEST_P(CommandLineStop, EndsTheEnginesAndLeavesNoPartialFile)
{
    TempFolder target("velmora-out");
    const QString source = QString::fromStdString(LongSound());
    QProcess process;
    process.setProcessEnvironment(NoDisplay());
    process.start(kProgram, {"--render", QString::fromStdString(target.Path()), "--format", "mp3", "--jobs", "2", source,
                             source, source});
    ASSERT_TRUE(process.waitForStarted());
    const QDir folder(QString::fromStdString(target.Path()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return folder.entryList({"*.part"}, QDir::Files).size() == 2; }, 30000))
        << folder.entryList().join(' ').toStdString();
    const qint64 pid = process.processId();
    const std::vector<qint64> engines = EnginesOf(pid);
    EXPECT_EQ(engines.size(), 2u);

    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(pid), GetParam());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_TRUE(folder.entryList(QDir::Files).isEmpty()) << folder.entryList().join(' ').toStdString();
    for (qint64 engine : engines)
        EXPECT_FALSE(IsEngine(engine)) << "engine " << engine << " outlived the run";
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("stopped"));
    EXPECT_FALSE(fs::exists(JobFolder(VELMORA_PROGRAM_DIR, 1)));
}

// A small file system of its own (tmpfs: only root may mount one; CI runs as root).
class SmallDisk
{
public:
    explicit SmallDisk(const std::string& size)
        : m_folder("velmora-small")
    {
        m_mounted = geteuid() == 0
                    && RunCommand("mount -t tmpfs -o size=" + size + " velmora-test " + ShellQuote(m_folder.Path())) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            RunCommand("umount " + ShellQuote(m_folder.Path()));
    }
    bool Mounted() const { return m_mounted; }
    const std::string& Path() const { return m_folder.Path(); }

private:
    TempFolder m_folder;
    bool m_mounted = false;
};

// The engine's failure reaches the front end as a code, so the user's language changes
// nothing: a disk that fills while the second row converts reads "the disk is full",
// with the same exit status, and what the engine logs is English.
TEST(CommandLine, ADiskThatFillsMidJobReadsTheDiskIsFullUnderAGermanLocale)
{
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    std::setlocale(LC_ALL, "C");
    SmallDisk disk("600k");
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TempFolder sources("velmora-src");
    const std::string small = sources.Path() + "a small.wav";
    ASSERT_TRUE(fetest::MakeMedia("-f lavfi -i sine=frequency=440:sample_rate=8000:duration=2 -ac 1", small));

    QProcessEnvironment german = NoDisplay();
    for (const char* name : {"LANG", "LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        german.insert(QString::fromLatin1(name), QStringLiteral("de_DE.UTF-8"));
    german.insert(QStringLiteral("LANGUAGE"), QStringLiteral("de"));
    // The small file passes the room check up front; the long one fills the disk.
    const Result run = Render({"--render", QString::fromStdString(disk.Path()), "--format", "mp3", "--bitrate", "128",
                               "--jobs", "1", QString::fromStdString(small), QString::fromStdString(LongSound())},
                              180000, german);
    EXPECT_EQ(run.code, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QString::fromStdString("Failed " + LongSound() + ": the disk is full")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Finish ")) << run.out.toStdString();
    const QDir folder(QString::fromStdString(disk.Path()));
    EXPECT_TRUE(folder.entryList({"*.part"}, QDir::Files).isEmpty()) << folder.entryList().join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(CommandLine, CommandLineStop, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return std::string(info.param == SIGINT ? "Interrupt" : "Terminate"); });
