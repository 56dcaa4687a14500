#include "project/KvEngineJob.h"

#include "common/KvEngineSlot.h"
#include "common/KvProcess.h"
#include "common/KvText.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <regex>
#include <sys/wait.h>
#include <system_error>
#include <thread>

namespace velmora {

namespace {

bool CopyIndex(const std::string& from, const std::string& to)
{
    std::error_code error;
    std::filesystem::remove(to, error);
    if (!std::filesystem::exists(from, error))
        return true; // nothing extracted: the engine reads the sources themselves
    return std::filesystem::copy_file(from, to, error) && !error;
}

} // namespace

KvEngineJob::KvEngineJob(std::string programFolder, int slot, tagKvJobBlock* block, std::vector<std::string> command)
    : m_programFolder(std::move(programFolder))
    , m_slot(slot)
    , m_block(block)
    , m_command(std::move(command))
{
    if (!m_programFolder.empty() && m_programFolder.back() != '/')
        m_programFolder += '/';
    m_jobFolder = velmora::JobFolder(m_programFolder, m_slot);
    if (m_command.empty()) {
        m_command.push_back(m_programFolder + "kvengine");
        for (std::string& argument : EngineSlotArguments(m_slot))
            m_command.push_back(std::move(argument));
    }
}

KvEngineJob::~KvEngineJob() = default;

bool KvEngineJob::WriteFiles(const KvEngineJobFiles& files, std::string* why)
{
    const auto fail = [why](const std::string& file) {
        if (why)
            *why = "cannot write " + file;
        return false;
    };
    if (!files.wavIndex.empty() && files.wavIndex != m_jobFolder + "wavfiles.dat"
        && !CopyIndex(files.wavIndex, m_jobFolder + "wavfiles.dat"))
        return fail(m_jobFolder + "wavfiles.dat");
    // A note of an earlier job is no note of this one.
    std::error_code ignored;
    std::filesystem::remove(m_jobFolder + "loudness.txt", ignored);
    std::filesystem::remove(m_jobFolder + "measured.txt", ignored);
    if (!WriteOptionFileTo(files.record, m_jobFolder + "option.dat"))
        return fail(m_jobFolder + "option.dat");
    tagKvProjectWriteOptions options = files.projectOptions;
    if (options.programFolder.empty())
        options.programFolder = m_programFolder;
    if (!files.project || !WriteProject(files.project, m_jobFolder + "kvengine.kvmmpj", options))
        return fail(m_jobFolder + "kvengine.kvmmpj");
    return true;
}

bool KvEngineJob::FillConversionBlock(tagKvJobBlock& block, const std::string& output, int preset, bool go)
{
    if (!SetJobPathUtf8(block.szOutputFile, output))
        return false;
    std::fill(std::begin(block.szListFile), std::end(block.szListFile), u'\0');
    block.bPlayMode = 0;
    block.bPreview = 0;
    StoreRelease(block.dPosition, 0.0);
    StoreRelease(block.dSoundEnd, 0.0);
    StoreRelease(block.bEngineClosed, 0);
    StoreRelease(block.bConvertFailed, 0);
    StoreRelease(block.nFailureCode, 0);
    StoreRelease(block.nState, static_cast<std::int32_t>(kKvJobRunning));
    block.bConvertJob = 1;
    block.nPreset = preset;
    // Last: the engine starts on it, and everything above is then in place.
    StoreRelease(block.bStartConvert, go ? 1 : 0);
    return true;
}

KvEngineJob::StartError KvEngineJob::Start(const std::string& output, int preset, double duration)
{
    if (!m_block)
        return StartError::NoBlock;
    if (!FillConversionBlock(*m_block, output, preset))
        return StartError::PathTooLong;
    // Only the reason this run appends to the engine's log belongs to this job.
    m_logOffset = EngineLogSize(LogPath());
    m_duration = duration;
    m_ended = false;
    m_exitStatus = -1;
    const std::vector<std::string> arguments(m_command.begin() + 1, m_command.end());
    m_pid = SpawnProgram(m_command.front(), arguments);
    if (m_pid <= 0) {
        m_pid = -1;
        StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
        return StartError::EngineNotStarted;
    }
    m_pidFd.reset(OpenProcessFd(m_pid));
    return StartError::None;
}

bool KvEngineJob::HasEnded()
{
    if (m_pid <= 0 || m_ended)
        return true;
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(m_pid, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == m_pid) {
        m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_ended = true;
    } else if (reaped < 0) {
        m_ended = !IsProcessAlive(m_pid); // not our child (reaped elsewhere)
    }
    return m_ended;
}

bool KvEngineJob::HasReportedEnd() const
{
    return m_block && LoadAcquire(m_block->nState) == kKvJobIdle;
}

double KvEngineJob::Position() const
{
    return m_block ? LoadAcquire(m_block->dPosition) : 0.0;
}

void KvEngineJob::Kill()
{
    if (m_pid > 0 && !HasEnded())
        ::kill(m_pid, SIGKILL);
    if (m_block)
        StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
}

KvEngineJobResult KvEngineJob::Finish()
{
    KvEngineJobResult result;
    if (m_pid <= 0 || !m_block)
        return result;
    const bool reported = LoadAcquire(m_block->nState) == kKvJobIdle && LoadAcquire(m_block->bEngineClosed) != 0;
    result.position = LoadAcquire(m_block->dPosition);
    result.soundEnd = LoadAcquire(m_block->dSoundEnd);
    result.logLine = EngineLogReason(LogPath(), m_logOffset);
    if (std::ifstream note(m_jobFolder + "loudness.txt"); note)
        std::getline(note, result.loudnessNote);
    if (std::ifstream measured(m_jobFolder + "measured.txt"); measured) {
        std::string integrated, peak;
        if (measured >> integrated >> peak) {
            result.measuredIntegrated = ParseDouble(integrated);
            result.measuredPeak = ParseDouble(peak);
        }
    }
    result.exitStatus = m_exitStatus;
    if (!reported) {
        result.status = KvEngineJobStatus::Died;
    } else if (LoadAcquire(m_block->bConvertFailed) != 0) {
        result.status = KvEngineJobStatus::Failed;
        result.failure = JobFailureFromCode(LoadAcquire(m_block->nFailureCode));
    } else {
        result.status = KvEngineJobStatus::Finished;
    }
    StoreRelease(m_block->nState, static_cast<std::int32_t>(kKvJobIdle));
    m_pid = -1;
    m_pidFd.reset();
    return result;
}

KvEngineJobResult KvEngineJob::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!HasEnded()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            Kill();
            while (!HasEnded())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            break;
        }
        if (m_pidFd.valid()) {
            pollfd fd{m_pidFd.get(), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return Finish();
}

std::int64_t EngineLogSize(const std::string& logPath)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(logPath, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

std::string EngineLogReason(const std::string& logPath, std::int64_t offset)
{
    std::ifstream log(logPath, std::ios::binary);
    if (!log)
        return {};
    if (offset > 0 && offset < EngineLogSize(logPath))
        log.seekg(offset);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    // The log's own stamp and program name mean nothing to the user.
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\S*\s+(kvengine:\s*)?)");
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t begin = text.rfind('\n', end - 1);
        const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
        std::string line = text.substr(from, end - from);
        end = begin == std::string::npos ? 0 : begin;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        line = std::regex_replace(line, stamp, "", std::regex_constants::format_first_only);
        if (!line.empty())
            return line;
    }
    return {};
}

} // namespace velmora
