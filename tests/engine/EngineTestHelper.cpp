#include "EngineTestHelper.h"

#include "common/KvEngineSlot.h"
#include "common/KvProcess.h"
#include "common/KvText.h"
#include "project/KvEngineJob.h"
#include "project/KvJobProject.h"
#include "project/KvProjectWriter.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace velmora::test {

std::string SignalExpression()
{
    return "aevalsrc=0.3*sin(2*PI*(200+150*t)*t)|0.3*sin(2*PI*440*t)";
}

bool MakeSource(const std::string& path, double seconds, int rate)
{
    const bool aac = path.size() > 4 && path.substr(path.size() - 4) == ".m4a";
    const std::string command = "ffmpeg -v error -y -f lavfi -i " + ShellQuote(SignalExpression() + ":s=" + std::to_string(rate)
            + ":d=" + FormatDouble(seconds)) + (aac ? " -c:a aac -b:a 192k " : " -c:a pcm_s16le ") + ShellQuote(path);
    return RunCommand(command) == 0;
}

std::vector<std::int16_t> DecodeChannel(const std::string& path, int rate, int channel)
{
    std::string raw;
    RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -af " + ShellQuote("pan=mono|c0=c" + std::to_string(channel))
            + " -ar " + std::to_string(rate) + " -f s16le -",
        &raw);
    std::vector<std::int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

LagMatch BestLag(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded, int maxLag)
{
    LagMatch best{0, -2.0};
    const std::size_t n = std::min(reference.size(), decoded.size());
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 2000; i + 2000 < n; ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || static_cast<std::size_t>(j) >= decoded.size())
                continue;
            xy += reference[i] * static_cast<double>(decoded[j]);
            xx += reference[i] * static_cast<double>(reference[i]);
            yy += decoded[j] * static_cast<double>(decoded[j]);
        }
        const double c = xy / std::sqrt(xx * yy + 1e-9);
        if (c > best.correlation)
            best = {lag, c};
    }
    return best;
}

std::string ProbeStream(const std::string& path, const std::string& entry)
{
    std::string out;
    RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry + " -of default=nw=1:nk=1 "
            + ShellQuote(path),
        &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

double ProbeDuration(const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " + ShellQuote(path), &out);
    return ParseDouble(out);
}

double ProbeStartTime(const std::string& path)
{
    std::string out;
    RunCommand("ffprobe -v error -show_entries format=start_time -of default=nw=1:nk=1 " + ShellQuote(path), &out);
    return ParseDouble(out);
}

namespace {

// The writers of the job files build their paths for the current engine slot; the
// front end of a slot-k job writes them as slot k would read them.
class SlotScope
{
public:
    explicit SlotScope(int slot)
        : m_previous(CurrentEngineSlot())
    {
        SetCurrentEngineSlot(slot);
    }
    ~SlotScope() { SetCurrentEngineSlot(m_previous); }

private:
    int m_previous;
};

} // namespace

EngineJob::EngineJob(int slot)
    : m_folder(true)
    , m_slot(slot)
{
    if (!EnsureJobFolder(m_folder.Path(), m_slot))
        ADD_FAILURE() << "cannot make the job folder " << JobFolder(m_folder.Path(), m_slot);
    if (!m_owner.Create(m_folder.Path(), m_slot))
        ADD_FAILURE() << "cannot create the job block, errno " << m_owner.Error();
}

std::string EngineJob::JobFile(const std::string& name) const
{
    return JobFolder(Folder(), m_slot) + name;
}

std::string EngineJob::LogText() const
{
    return ReadFileBytes(JobFile("kvengine.log"));
}

tagKvOptionRecord EngineJob::AudioOptions(int outputType, int kbps, int sampleRate, int channels)
{
    tagKvOptionRecord record = MakeFrontEndPresetTable()[4];
    record.nOutputType = outputType;
    record.nAudioBitrate = kbps;
    record.nSampleRate = sampleRate;
    record.nChannels = channels;
    return record;
}

bool EngineJob::WriteOptions(const tagKvOptionRecord& record)
{
    SlotScope scope(m_slot);
    return WriteOptionFile(record, Folder());
}

bool EngineJob::WriteProject(const std::vector<JobRow>& rows, int vensettingIndex, bool listFile)
{
    std::vector<tagKvJobRow> cells;
    for (const JobRow& row : rows) {
        tagKvJobRow cell;
        cell.file = Utf8ToWide(row.file);
        cell.duration = row.duration;
        cell.start = row.start;
        cell.end = row.end;
        cell.syncAudio = row.syncAudio;
        cell.volume = row.volume;
        cell.speed = row.speed;
        cell.audioStream = row.audioStream;
        cell.loudness = row.loudness;
        cells.push_back(cell);
    }
    auto project = BuildJobProject(cells);
    tagKvProjectWriteOptions options;
    options.programFolder = Folder();
    options.vensettingIndex = vensettingIndex;
    const std::string path = JobFile(listFile ? "listctrl.kvmmpj" : "kvengine.kvmmpj");
    return ::WriteProject(project.get(), path, options);
}

void EngineJob::FillConversion(const std::string& outputPath, bool startConvert, int preset)
{
    KvEngineJob::FillConversionBlock(Block(), outputPath, preset, startConvert);
}

void EngineJob::FillPreview(double duration, int preset)
{
    tagKvJobBlock& block = Block();
    block.bPreview = 1;
    block.bPlayMode = 1;
    block.dPosition = 0.0;
    block.dDuration = duration;
    block.bGraphRunning = 0;
    block.nPreset = preset;
    block.bConvertJob = 0;
    block.hPreviewWnd = 0x4000001u;
    block.bPlayFailed = 0;
    StoreRelease(block.nState, kKvJobPreviewRequested);
}

pid_t EngineJob::Start()
{
    return SpawnProgram(Folder() + "kvengine", EngineSlotArguments(m_slot));
}

int EngineJob::Wait(pid_t pid, int timeoutMs)
{
    if (pid <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 || std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool EngineJob::IsRunning(pid_t pid)
{
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
}

void EngineJob::Kill(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace velmora::test
