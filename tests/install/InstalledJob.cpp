// Plays the front end's part for one MP3 conversion against an installed program
// folder, as whoever runs it: makes that user's work folder, writes the option file
// and the job project into it, creates the job block, starts the installed engine and
// waits for it. The install test runs it as unprivileged users.
//
//   velmora_installed_job [--slot=k] PROGRAM_FOLDER SOURCE SECONDS OUTPUT
//
// Prints "work=<work folder> block=<job block name>" and then the job block's end
// state; exits 0 when the engine finished the job.

#include "common/KvEngineSlot.h"
#include "common/KvJobBlockMapping.h"
#include "common/KvOptionRecord.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "project/KvJobProject.h"
#include "project/KvProjectWriter.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

int Fail(const std::string& text)
{
    std::fprintf(stderr, "velmora_installed_job: %s\n", text.c_str());
    return 1;
}

// The engine's exit status, or -1 when it did not end within the time.
int WaitFor(pid_t pid, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int slot = 0;
    if (!args.empty() && args[0].rfind("--slot=", 0) == 0) {
        slot = ParseEngineSlot({args[0]});
        args.erase(args.begin());
    }
    if (slot < 0 || args.size() != 4) {
        std::fprintf(stderr, "usage: velmora_installed_job [--slot=k] PROGRAM_FOLDER SOURCE SECONDS OUTPUT\n");
        return 2;
    }
    std::string folder = args[0];
    if (folder.back() != '/')
        folder += '/';
    const std::wstring seconds = Utf8ToWide(args[2]);

    std::string error;
    if (!EnsureWorkFolder(folder, &error) || !EnsureJobFolder(folder, slot))
        return Fail("no work folder: " + error);
    // The job files go where slot k's engine looks for them.
    SetCurrentEngineSlot(slot);

    tagKvOptionRecord record = MakeFrontEndPresetTable()[kKvDefaultPreset];
    record.nOutputType = kKvOutputMp3;
    record.nAudioBitrate = 128;
    record.nSampleRate = 44100;
    record.nChannels = 2;
    if (!WriteOptionFile(record, folder))
        return Fail("cannot write " + ProgramPath(folder, "tmp/option.dat"));

    tagKvJobRow row;
    row.file = Utf8ToWide(args[1]);
    row.duration = seconds;
    row.start = L"0";
    row.end = seconds;
    row.syncAudio = L"0";
    row.volume = L"1.00";
    row.speed = L"1";
    row.hasAudio = L"1";
    row.sourceWidth = L"0";
    row.sourceHeight = L"0";
    auto project = BuildJobProject({row});
    tagKvProjectWriteOptions writeOptions;
    writeOptions.programFolder = folder;
    const std::string projectPath = ProgramPath(folder, "tmp/kvengine.kvmmpj");
    if (!WriteProject(project.get(), projectPath, writeOptions))
        return Fail("cannot write " + projectPath);

    CKvJobBlockOwner owner;
    if (!owner.Create(folder, slot))
        return Fail("cannot create the job block " + owner.Name() + ", errno " + std::to_string(owner.Error()));
    std::printf("work=%s block=%s\n", WorkFolderOf(folder).c_str(), owner.Name().c_str());
    tagKvJobBlock& block = *owner.Block();
    SetJobPathUtf8(block.szOutputFile, args[3]);
    block.nPreset = record.nPreset;
    block.bConvertJob = 1;
    block.nState = kKvJobRunning;
    StoreRelease(block.bStartConvert, 1);

    const int status = WaitFor(SpawnProgram(folder + "kvengine", EngineSlotArguments(slot)), std::chrono::seconds(120));
    std::printf("exit=%d nState=%d bConvertFailed=%d bEngineClosed=%d dPosition=%.3f\n", status,
                LoadAcquire(block.nState), LoadAcquire(block.bConvertFailed), LoadAcquire(block.bEngineClosed),
                LoadAcquire(block.dPosition));
    const bool done = status == 0 && LoadAcquire(block.nState) == kKvJobIdle && LoadAcquire(block.bConvertFailed) == 0
        && LoadAcquire(block.bEngineClosed) == 1;
    return done ? 0 : 1;
}
