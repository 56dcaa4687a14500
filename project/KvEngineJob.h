#pragma once

// One conversion by one engine, from its job files to its end: the only code that
// hands a conversion to kvengine.
//
//   WriteFiles  the option record, the project and (for Windows Media sources) the
//               front end's WAV index, into the slot's job folder
//   Start       fills the job block (everything first, the go flag last), starts
//               the engine for the slot and opens its pidfd
//   Position    the engine's progress while it runs
//   Finish      once the engine has gone: what became of the job, typed (finished,
//               failed with the engine's failure code, or died without a word), with
//               the line this job added to the engine's log
//
// It never waits on anything but the engine (Wait, for tools that have nothing else
// to do), shows nothing and decides nothing about names: callers give it the output
// path. No Qt; one thread.

#include "common/KvJobBlock.h"
#include "common/KvJobFailure.h"
#include "common/KvOptionRecord.h"
#include "common/KvUniqueFd.h"
#include "project/KvProjectWriter.h"

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

struct tagKvProjectData;

namespace velmora {

// What a job is made of.
struct KvEngineJobFiles
{
    tagKvOptionRecord record;                // written as option.dat, nJobFlags included
    const tagKvProjectData* project = nullptr;
    tagKvProjectWriteOptions projectOptions; // programFolder is the job's when empty
    std::string wavIndex;                    // the WAV index to copy in; empty: none
};

enum class KvEngineJobStatus {
    NotStarted,
    Running,
    Finished, // the engine said it succeeded (the caller still looks for the output)
    Failed,   // the engine said it failed, and why (failure)
    Died,     // the engine ended without saying it was done: killed or crashed
};

struct KvEngineJobResult
{
    KvEngineJobStatus status = KvEngineJobStatus::NotStarted;
    KvJobFailure failure = KvJobFailure::None;
    double position = 0.0; // seconds of the time line reached
    double soundEnd = 0.0; // > 0: the sources ran out of sound here, before the end
    std::string logLine;   // the last line this job added to the engine's log
    // What became of the row's loudness when it is not what was asked ("-16 LUFS
    // missed by 2.4 LU: ..."), from the job folder's "loudness.txt"; empty otherwise.
    std::string loudnessNote;
    // A job that measured loudness (kKvJobMeasureLoudness): LUFS integrated and the
    // true peak (linear), from the job folder's "measured.txt"; none when not there.
    std::optional<double> measuredIntegrated;
    double measuredPeak = 0.0;
    int exitStatus = -1;   // the engine's exit status when it was reaped here
};

class KvEngineJob
{
public:
    enum class StartError { None, NoBlock, PathTooLong, EngineNotStarted };

    // block: the slot's mapped job block, kept by the caller for as long as the job.
    // command: the program and arguments to start; empty runs programFolder +
    // "kvengine" with the slot's arguments.
    KvEngineJob(std::string programFolder, int slot, tagKvJobBlock* block, std::vector<std::string> command = {});
    ~KvEngineJob();
    KvEngineJob(const KvEngineJob&) = delete;
    KvEngineJob& operator=(const KvEngineJob&) = delete;

    // The slot's job folder, ending in "/".
    const std::string& JobFolder() const { return m_jobFolder; }
    std::string LogPath() const { return m_jobFolder + "kvengine.log"; }

    // False when a file cannot be written (why, when given, names it).
    bool WriteFiles(const KvEngineJobFiles& files, std::string* why = nullptr);

    // Fills the block for a conversion of duration seconds to output with preset and
    // starts the engine.
    StartError Start(const std::string& output, int preset, double duration);

    bool IsStarted() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // Becomes readable when the engine ends; -1 where the system has no pidfd (then
    // look with HasEnded).
    int PidFd() const { return m_pidFd.get(); }
    double Duration() const { return m_duration; }
    // Whether the engine process has gone (reaping it).
    bool HasEnded();
    // Whether the engine has written its end (nState 0) and may still be exiting.
    bool HasReportedEnd() const;
    double Position() const;

    // Kills the engine (SIGKILL, not waited for) and marks the block idle. Its pid
    // stays known, so Finish after it has gone reads Died.
    void Kill();

    // What became of the job; call once the engine has gone (HasEnded). Forgets the
    // engine: the job may be started again.
    KvEngineJobResult Finish();
    // For tools: waits up to timeout for the engine to end (killing it then), and
    // Finish.
    KvEngineJobResult Wait(std::chrono::milliseconds timeout);

    // The job block as Start fills it for a conversion, the go flag last when go.
    static bool FillConversionBlock(tagKvJobBlock& block, const std::string& output, int preset, bool go = true);

private:
    std::string m_programFolder;
    int m_slot = 0;
    std::string m_jobFolder;
    tagKvJobBlock* m_block = nullptr;
    std::vector<std::string> m_command;
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_exitStatus = -1;
    KvUniqueFd m_pidFd;
    double m_duration = 0.0;
    std::int64_t m_logOffset = 0;
};

// The engine log's size now (0 when there is none): where a run's lines begin.
std::int64_t EngineLogSize(const std::string& logPath);
// The last line written to the log after offset, without its time stamp and program
// name; empty when the run wrote nothing. An offset beyond the end (the log was
// emptied) reads the whole log.
std::string EngineLogReason(const std::string& logPath, std::int64_t offset);

} // namespace velmora
