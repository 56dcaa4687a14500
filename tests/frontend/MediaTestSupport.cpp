#include "MediaTestSupport.h"

#include "common/KvProgramFolder.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMediaList.h"
#include "project/KvUiColors.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace velmora::fetest {

bool WaitForMeasuredLengths(const KvMediaList& list)
{
    QElapsedTimer clock;
    clock.start();
    while (list.PendingMeasures() > 0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return list.PendingMeasures() == 0;
}


void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "test_frontend";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

ProgramScope::ProgramScope()
{
    EnsureApplication();
    SetProgramFolderForTesting(Path());
    CKvUIManager::SetResourceFolder(QString::fromStdString(Path()));
    LoadUiColors(Path() + "skin/uicolors/UIColors.uic", CKvUIManager::Colors());
    KvFrontEndState::Instance().Reset(Path());
}

ProgramScope::~ProgramScope()
{
    KvFrontEndState::Instance().Reset(std::string());
    SetProgramFolderForTesting(std::string());
}

RenderRun RunRender(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(VELMORA_PROGRAM_DIR "velmora"), QStringList{"--render"} + args);
    RenderRun run;
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

std::string DecodePcm16(const std::string& path)
{
    std::string pcm;
    test::RunCommand("ffmpeg -v error -i " + test::ShellQuote(path) + " -vn -f s16le -", &pcm);
    return pcm;
}

bool MakeMedia(const std::string& arguments, const std::string& target)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " "
        + test::ShellQuote(target);
    return test::RunCommand(command) == 0 && fs::exists(target);
}

const MediaSet& Media()
{
    static std::unique_ptr<test::TempFolder> folder;
    static MediaSet set;
    if (folder)
        return set;
    folder = std::make_unique<test::TempFolder>("velmora-mlist");
    set.folder = folder->Path();
    const std::string video = "-f lavfi -i testsrc=size=160x120:rate=10 ";
    set.videoWithSound = set.folder + "with sound.mp4";
    MakeMedia(video + "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:v mpeg4 -c:a aac",
              set.videoWithSound);
    set.audioOnly = set.folder + "tone.mp3";
    MakeMedia("-f lavfi -i sine=frequency=660:sample_rate=44100 -t 1.5 -c:a libmp3lame", set.audioOnly);
    set.videoNoSound = set.folder + "silent.mp4";
    MakeMedia(video + "-t 1 -an -c:v mpeg4", set.videoNoSound);
    set.notMedia = set.folder + "notes.avi";
    test::WriteFileBytes(set.notMedia, "this is not a video, only a few words of text\n");
    fs::create_directories(set.folder + "Mein V\xC3\xAD" "deo \xC3\xBC");
    set.spacedNonAscii = set.folder + "Mein V\xC3\xAD" "deo \xC3\xBC/clip \xC3\xB6 1.mp4";
    fs::copy_file(set.videoWithSound, set.spacedNonAscii);
    set.wmv = set.folder + "clip.wmv";
    MakeMedia(video + "-f lavfi -i sine=frequency=500:sample_rate=44100 -t 1 -c:v wmv2 -c:a wmav2", set.wmv);
    return set;
}

int CountFiles(const std::string& folder, const std::string& suffix)
{
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            ++count;
    }
    return count;
}

} // namespace velmora::fetest
