#pragma once

// Runs the real kvengine in a temporary copy of the built program folder, with a job
// block created the way the front end creates it, and checks what it leaves behind
// with the ffmpeg tools.

#include "common/KvJobBlockMapping.h"
#include "common/KvOptionRecord.h"
#include "project/KvProjectData.h"
#include "support/TempFolder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::test {

// The test signal: a swept tone on the left, 440 Hz on the right, so a lag, a speed
// error or a channel swap all show in the correlation.
std::string SignalExpression();

// Makes a stereo source of seconds with the ffmpeg tool ("wav" s16 or "m4a" AAC).
bool MakeSource(const std::string& path, double seconds, int rate);

// Decodes one channel of a file to s16 at rate with the ffmpeg tool.
std::vector<std::int16_t> DecodeChannel(const std::string& path, int rate, int channel);

// The lag within ±maxLag at which decoded best matches reference (decoded[i + lag]
// against reference[i]), and the normalised correlation there.
struct LagMatch
{
    int lag = 0;
    double correlation = 0.0;
};
LagMatch BestLag(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded, int maxLag);

// One stream value from ffprobe ("codec_name", "sample_rate", "channels",
// "bit_rate") or the format's "duration".
std::string ProbeStream(const std::string& path, const std::string& entry);
double ProbeDuration(const std::string& path);
double ProbeStartTime(const std::string& path);

// One media-list row of a job.
struct JobRow
{
    std::string file;
    double duration = 0;
    double start = 0;
    double end = 0;
    double speed = 1;
    double syncAudio = 0;
    double volume = 1;
    int audioStream = -1; // the chosen sound track; -1: the first
    std::optional<tagKvItemLoudness> loudness;
};

// One job for the engine of engine slot slot (0: the engine without arguments).
class EngineJob
{
public:
    explicit EngineJob(int slot = 0);

    const std::string& Folder() const { return m_folder.Path(); }
    std::string Work() const { return m_folder.Work(); }
    int Slot() const { return m_slot; }
    // A file of the job's folder in the work folder ("tmp/", or "tmp/slot-k/").
    std::string JobFile(const std::string& name) const;
    tagKvJobBlock& Block() { return *m_owner.Block(); }
    std::string LogText() const;

    // The option record of the front end's preset 4 with the given audio settings.
    static tagKvOptionRecord AudioOptions(int outputType, int kbps, int sampleRate, int channels);
    bool WriteOptions(const tagKvOptionRecord& record);
    // Writes the job project of rows (list mode: "tmp/listctrl.kvmmpj").
    bool WriteProject(const std::vector<JobRow>& rows, int vensettingIndex = 4, bool listFile = false);
    // Fills the block as the front end does for a conversion to outputPath.
    void FillConversion(const std::string& outputPath, bool startConvert = true, int preset = 4);
    // Fills the block as the front end's preview bar does before it starts the engine.
    void FillPreview(double duration, int preset = 4);

    // Starts the engine of the folder for the job's slot; Wait gives its exit status
    // (-1 when it is still running after timeoutMs, or was killed).
    pid_t Start();
    static int Wait(pid_t pid, int timeoutMs);
    int Run(int timeoutMs = 60000) { return Wait(Start(), timeoutMs); }
    static bool IsRunning(pid_t pid);
    static void Kill(pid_t pid);

private:
    TempProgramFolder m_folder;
    int m_slot = 0;
    CKvJobBlockOwner m_owner;
};

} // namespace velmora::test
