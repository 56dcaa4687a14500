// Plays the front end's part for one conversion, so the benchmark can time the real
// engine: writes the option file (and for a Windows Media output the profile) and the
// job project, and has a KvEngineJob run "<program folder>/kvengine" under
// /usr/bin/time -v, then reports the wall time and how the job ended. KVBENCH_NO_CHECK=1 makes a job that does not play its output back
// before naming it (what --no-verify asks for), so the check's cost can be timed. An OUTPUT ending in ".wma" makes a WMA job (128 kbit/s, 44100 Hz,
// stereo), any other an MP3 job (the same).
//
//   kvbench_job PROGRAM_FOLDER SOURCE SECONDS OUTPUT TIME_REPORT [SECOND_START [SECOND_SOURCE]]
//
// With SECOND_START the project gets a second item (of SECOND_SOURCE, else of the
// same source) that starts SECOND_START seconds into the time line, with silence
// between the two.

#include "common/KvJobBlockMapping.h"
#include "common/KvOptionRecord.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "project/KvEngineJob.h"
#include "project/KvJobProject.h"
#include "project/KvProjectWriter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

using namespace velmora;

namespace {

// The front end's profile for WMA at 128 kbit/s, 44100 Hz, stereo.
bool WriteBenchProfile(const std::string& path)
{
    const std::vector<WmAudioFormat> formats = WmAudioFormats(0, 0);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (formats[i].nBitrate == 128000 && formats[i].nSampleRate == 44100 && formats[i].nChannels == 2)
            return WriteWmProfile(path, 0, static_cast<int>(i));
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 6 || argc > 8) {
        std::fprintf(stderr, "usage: %s PROGRAM_FOLDER SOURCE SECONDS OUTPUT TIME_REPORT [SECOND_START [SECOND_SOURCE]]\n",
                     argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    const std::string source = argv[2];
    const double seconds = ParseDouble(argv[3]);
    const std::string output = argv[4];
    const std::string timeReport = argv[5];

    std::string workError;
    if (!EnsureWorkFolder(folder, &workError)) {
        std::fprintf(stderr, "%s\n", workError.c_str());
        return 1;
    }

    const bool wma = output.size() > 4 && output.compare(output.size() - 4, 4, ".wma") == 0;
    tagKvOptionRecord record = MakeFrontEndPresetTable()[4];
    record.nOutputType = wma ? kKvOutputWma : kKvOutputMp3;
    record.nAudioBitrate = 128;
    record.nSampleRate = 44100;
    record.nChannels = 1;
    // KVBENCH_NO_CHECK=1: the job skips playing its output back, as --no-verify does.
    if (const char* noCheck = std::getenv("KVBENCH_NO_CHECK"); noCheck != nullptr && std::string(noCheck) == "1")
        record.nJobFlags = kKvJobSkipOutputCheck;
    if (wma && !WriteBenchProfile(ProgramPath(folder, "tmp/wmv.prx"))) {
        std::fprintf(stderr, "cannot write the Windows Media profile\n");
        return 1;
    }

    tagKvJobRow row;
    row.file = Utf8ToWide(source);
    row.duration = seconds;
    row.end = seconds;
    std::vector<tagKvJobRow> rows{row};
    if (argc >= 7) {
        rows.push_back(row);
        if (argc == 8)
            rows.back().file = Utf8ToWide(argv[7]);
    }
    auto project = BuildJobProject(rows);
    if (argc >= 7) {
        tagKvMediaData& second = *project->lines.front()->items.back();
        const double length = second.dEditorEndTime - second.dEditorStartTime;
        second.dEditorStartTime = std::atof(argv[6]);
        second.dEditorEndTime = second.dEditorStartTime + length;
    }
    CKvJobBlockOwner owner;
    if (!owner.Create(folder)) {
        std::fprintf(stderr, "cannot create the job block (errno %d)\n", owner.Error());
        return 1;
    }
    KvEngineJob job(folder, 0, owner.Block(), {"/usr/bin/time", "-v", "-o", timeReport, folder + "kvengine"});
    KvEngineJobFiles files;
    files.record = record;
    files.project = project.get();
    std::string why;
    if (!job.WriteFiles(files, &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    if (job.Start(output, record.nPreset, GetAudioLineDuration(project.get())) != KvEngineJob::StartError::None) {
        std::fprintf(stderr, "cannot run the engine\n");
        return 1;
    }
    const KvEngineJobResult result = job.Wait(std::chrono::hours(1));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool finished = result.status == KvEngineJobStatus::Finished;
    std::printf("wall=%.3f exit=%d bConvertFailed=%d failure=%s dPosition=%.3f\n", wall, result.exitStatus,
                finished ? 0 : 1, std::string(JobFailureName(result.failure)).c_str(), result.position);
    return finished ? 0 : 1;
}
