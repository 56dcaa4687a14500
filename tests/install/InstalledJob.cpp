// Plays the front end's part for one MP3 conversion against an installed program
// folder, as whoever runs it: makes that user's work folder and the job block, and
// has a KvEngineJob write the job files, start the installed engine and wait for it. The install test runs it as unprivileged users.
//
//   velmora_installed_job [--slot=k] PROGRAM_FOLDER SOURCE SECONDS OUTPUT
//
// Prints "work=<work folder> block=<job block name>" and then how the job ended;
// exits 0 when the engine finished the job.

#include "common/KvEngineSlot.h"
#include "common/KvJobBlockMapping.h"
#include "common/KvOptionRecord.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "project/KvEngineJob.h"
#include "project/KvJobProject.h"
#include "project/KvProjectWriter.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace velmora;

namespace {

int Fail(const std::string& text)
{
    std::fprintf(stderr, "velmora_installed_job: %s\n", text.c_str());
    return 1;
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
    const double seconds = ParseDouble(args[2]);

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
    tagKvJobRow row;
    row.file = Utf8ToWide(args[1]);
    row.duration = seconds;
    row.end = seconds;
    auto project = BuildJobProject({row});

    CKvJobBlockOwner owner;
    if (!owner.Create(folder, slot))
        return Fail("cannot create the job block " + owner.Name() + ", errno " + std::to_string(owner.Error()));
    std::printf("work=%s block=%s\n", WorkFolderOf(folder).c_str(), owner.Name().c_str());
    KvEngineJob job(folder, slot, owner.Block());
    KvEngineJobFiles files;
    files.record = record;
    files.project = project.get();
    std::string why;
    if (!job.WriteFiles(files, &why))
        return Fail(why);
    if (job.Start(args[3], record.nPreset, GetAudioLineDuration(project.get())) != KvEngineJob::StartError::None)
        return Fail("cannot start the engine");
    const KvEngineJobResult result = job.Wait(std::chrono::seconds(120));
    std::printf("exit=%d status=%d failure=%s dPosition=%.3f\n", result.exitStatus, static_cast<int>(result.status),
                std::string(JobFailureName(result.failure)).c_str(), result.position);
    const bool done = result.exitStatus == 0 && result.status == KvEngineJobStatus::Finished;
    return done ? 0 : 1;
}
