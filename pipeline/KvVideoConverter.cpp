#include "pipeline/KvVideoConverter.h"

#include "common/KvAudioFormats.h"
#include "common/KvLog.h"
#include "common/KvNumeric.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "media/KvFFMpegAudioReader.h"
#include "media/KvFFMpegStream.h"
#include "media/KvMediaTags.h"
#include "pipeline/KvAudioMixMath.h"
#include "project/KvEngineProject.h"

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

constexpr int kTimeLineRate = 44100;
constexpr int kTimeLineChannels = 2;

// The tags the output carries: those of the first item's source (the file itself, not
// a WAV extracted from it), titled after the file when it has no title of its own.
std::optional<MediaTags> FirstItemTags(const CKvEngineProject* project)
{
    const CKvEngineLine* line = project != nullptr ? project->FindLine(kLineAudio) : nullptr;
    if (line == nullptr || line->items.empty())
        return std::nullopt;
    const CKvEngineItem& item = *line->items.front();
    const std::string source = WideToUtf8(item.source);
    MediaTags tags;
    // The item's reader has the source open already; only a WAV in its place, an item
    // without sound, or a row whose sound goes around the mix needs the source opened
    // for its tags, and the same opening gives its chapters.
    auto readerOf = [](const CKvEngineItem& part) {
        return part.pAudioReader && !part.bUsesExtractedWav && !part.pAudioReader->IsFailed() ? part.pAudioReader.get()
                                                                                             : nullptr;
    };
    std::optional<std::vector<KvChapter>> firstChapters;
    if (const auto* reader = readerOf(item)) {
        tags = reader->ReadTags();
    } else if (ScopedFormatContext format; !item.track && OpenMediaInput(source, format)) {
        ReadMediaTags(format.get(), item.nAudioStream, tags);
        firstChapters = ReadChapters(format.get());
    } else {
        ReadMediaTags(source, item.nAudioStream, tags);
    }
    if (item.track) {
        // A track of its source: its own tags over the source's, and no chapters.
        auto put = [](std::string& field, const std::wstring& value) {
            if (!value.empty())
                field = CleanTagText(WideToUtf8(value), kMaxTagNameChars);
        };
        put(tags.title, item.track->title);
        put(tags.artist, item.track->artist);
        put(tags.album, item.track->album);
        put(tags.albumArtist, item.track->albumartist);
        put(tags.date, item.track->date);
        put(tags.track, item.track->track);
        put(tags.genre, item.track->genre);
    } else {
        // The sources' chapters, moved to where each item's part plays in the output.
        for (const std::unique_ptr<CKvEngineItem>& part : line->items) {
            if (part->track)
                continue;
            const double end = part->dASelfEndTime >= part->dASelfDuration ? -1.0 : part->dASelfEndTime;
            const auto* reader = readerOf(*part);
            const std::vector<KvChapter> chapters = ChaptersOfPart(
                part.get() == &item && firstChapters ? *firstChapters
                : reader                             ? reader->ReadChapters()
                                                     : ReadChapters(WideToUtf8(part->source)),
                part->dASelfStartTime, end, part->dPlaybackRate, part->dEditorStartTime);
            tags.chapters.insert(tags.chapters.end(), chapters.begin(), chapters.end());
        }
    }
    if (tags.title.empty())
        tags.title = CleanTagText(std::filesystem::path(source).stem().string(), kMaxTagNameChars);
    return tags;
}

// What the row asks of its loudness: its first item's wish.
std::optional<tagKvItemLoudness> LoudnessOf(const CKvEngineProject* project)
{
    const CKvEngineLine* line = project != nullptr ? project->FindLine(kLineAudio) : nullptr;
    if (line == nullptr || line->items.empty())
        return std::nullopt;
    return line->items.front()->loudness;
}

// The parts of the progress bar the measuring passes take: they decode without
// encoding. The loudness without the true peak is the quickest.
constexpr double kMeasureShare = 0.3;
constexpr double kLoudnessShare = 0.1;
constexpr double kPeakShare = 0.25;

// The item whose sound can go around the mix: the time line's only item, played as it
// is (no volume, speed, delay, fades or effects), with no other line sounding.
const CKvEngineItem* UnmixedItem(const CKvEngineProject* project)
{
    if (project == nullptr)
        return nullptr;
    const CKvEngineLine* audio = project->FindLine(kLineAudio);
    if (audio == nullptr || audio->items.size() != 1)
        return nullptr;
    for (const std::unique_ptr<CKvEngineLine>& line : project->Lines()) {
        if (line.get() != audio && line->nLineType != kLineCamera && !line->items.empty())
            return nullptr;
    }
    const CKvEngineItem& item = *audio->items.front();
    const bool plain = item.dVoiceScale == 1.0 && item.dPlaybackRate == 1.0 && item.dAudioDelay == 0.0
        && item.dAudioFadeInDuration <= 0.0 && item.dAudioFadeOutDuration <= 0.0 && item.bVocalCut == 0
        && item.bEnableAudioEffect == 0 && item.bDisableAudio == 0 && item.dEditorStartTime == 0.0;
    return plain ? &item : nullptr;
}

} // namespace

namespace velmora {

double GetProjectDuration(const CKvEngineProject* project)
{
    double duration = 0.0;
    if (project == nullptr)
        return duration;
    if (const CKvEngineLine* line = project->FindLine(kLineAudio)) {
        for (const std::unique_ptr<CKvEngineItem>& item : line->items)
            duration = std::max(duration, item->dEditorEndTime);
    }
    return duration;
}

void RaiseJobPosition(tagKvJobBlock& block, double value, double limit)
{
    if (!std::isfinite(value))
        return;
    value = std::min(value, limit);
    std::atomic_ref<double> position(block.dPosition);
    double current = position.load(std::memory_order_acquire);
    while (value > current && !position.compare_exchange_weak(current, value, std::memory_order_release,
                                                              std::memory_order_acquire)) {
    }
}

} // namespace velmora

CKvVideoConverter::CKvVideoConverter(const KvConverterSetup& setup)
    : m_setup(setup)
{
    if (m_setup.programFolder.empty())
        m_setup.programFolder = GetProgramFolder();
    // The shadow block carries the job's play mode: in a conversion (play mode 0)
    // levels go to the Level map, and the position the callback writes stays with us
    // until it is checked; a preview keeps its levels in process.
    m_shadowBlock.bPlayMode = m_setup.jobBlock != nullptr ? LoadAcquire(m_setup.jobBlock->bPlayMode) : 0;

    KvAudioMixerSetup mixer;
    mixer.project = m_setup.project;
    mixer.jobBlock = &m_shadowBlock;
    mixer.vuMeter = m_setup.project != nullptr && m_setup.project->bHasVuMeter != 0;
    mixer.programFolder = m_setup.programFolder;
    mixer.clocks = &m_clocks;
    mixer.sources = m_setup.sources;
    m_audioCallback = std::make_unique<CAudioMixerUserCallback>(mixer);
    m_mixer = std::make_unique<CKvAudioMixerStage>(kTimeLineRate, kTimeLineChannels);
}

CKvVideoConverter::~CKvVideoConverter()
{
    m_levelMap.Close();
    TearDown();
}

HRESULT CKvVideoConverter::SetNotifyWindow(KvNotifyCallback notify, int message)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_notify = std::move(notify);
    m_notifyMessage = message;
    return S_OK;
}

KvGraphState CKvVideoConverter::GetState() const
{
    if (!m_hasGraph)
        return kKvGraphNone;
    if (m_direct || m_copy)
        return m_streamDone ? kKvGraphStopped : kKvGraphRunning;
    if (!m_source.IsStarted())
        return kKvGraphStopped;
    // The source is through long before the encoder when the time line fits in the
    // encoder's queue: the graph runs until the file is finished (or given up).
    if (m_source.HasEnded())
        return m_streamDone ? kKvGraphStopped : kKvGraphRunning;
    return m_source.IsPaused() ? kKvGraphPaused : kKvGraphRunning;
}

HRESULT CKvVideoConverter::Stop()
{
    const KvGraphState state = GetState();
    if (state == kKvGraphStopped || state == kKvGraphNone)
        return S_OK;
    // A stream end that races with the stop is not an event, and a buffer waiting
    // for the encoder returns at once rather than after the queue's worth of work.
    m_stopping = true;
    // A measuring pass (on whichever thread) ends at its next buffer.
    m_directStop = true;
    m_chain.Interrupt();
    m_source.Stop();
    StopDirect();
    // A stream stopped before its end leaves no file of the output's name.
    m_chain.Abort();
    return S_OK;
}

HRESULT CKvVideoConverter::Run()
{
    switch (GetState()) {
    case kKvGraphRunning:
        return S_OK;
    case kKvGraphPaused:
        m_source.Resume();
        return S_OK;
    default:
        if (m_outputPath.empty())
            return -1;
        return BuildConversionGraph(m_outputPath);
    }
}

HRESULT CKvVideoConverter::Pause()
{
    if (GetState() != kKvGraphRunning)
        return S_OK;
    m_source.Pause();
    return S_OK;
}

HRESULT CKvVideoConverter::TearDown()
{
    Stop();
    m_stopping = true;
    m_chain.Interrupt();
    m_source.Stop();
    StopDirect();
    m_direct.reset();
    m_copy.reset();
    m_chain.Abort();
    m_mixer->SetUserCallback(nullptr);
    m_hasGraph = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.clear();
    }
    return S_OK;
}

double CKvVideoConverter::GetPosition() const
{
    if (m_measuring)
        return m_measurePosition.load();
    // After a measuring pass its share of the time line counts as done.
    auto passTwo = [this](double seconds) {
        return std::min(m_renderFrom * m_duration + (1.0 - m_renderFrom) * seconds, m_duration);
    };
    if (m_hasGraph && (m_direct || m_copy))
        return passTwo(m_directPosition.load());
    if (!m_hasGraph || m_frameRate <= 0.0)
        return 0.0;
    return passTwo(static_cast<double>(m_source.BuffersDelivered()) / m_frameRate);
}

double CKvVideoConverter::GetDuration() const
{
    return m_hasGraph ? m_duration : 0.0;
}

HRESULT CKvVideoConverter::Fail(HRESULT code, const std::string& why, KvJobFailure kind)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_lastError = why;
    m_lastFailure = kind;
    return code;
}

KvJobFailure CKvVideoConverter::LastFailure() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastFailure;
}

std::string CKvVideoConverter::LastError() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastError;
}

bool CKvVideoConverter::ChooseOutputSettings(bool isWindowsMedia)
{
    m_settingsNote.clear();
    const tagKvOptionRecord& option = m_setup.option;
    if (FindAudioFormat(option.nOutputType) != nullptr) {
        m_outputSettings = LegaliseAudioFormatSettings(option.nOutputType, option.nAudioBitrate, option.nAudioQuality,
                                                       option.nSampleRate, option.nChannels, &m_settingsNote);
        return true;
    }
    if (!isWindowsMedia) {
        // A record that never got its audio fields (a short option file, a project
        // that names another preset than the job) would be "mended" into the
        // smallest legal values and pass as a success: that is a failed job.
        if (option.nAudioBitrate <= 0 || option.nSampleRate <= 0) {
            Fail(-1, "the job's audio settings are missing (" + std::to_string(option.nAudioBitrate) + " kbit/s, " +
                         std::to_string(option.nSampleRate) + " Hz)", KvJobFailure::SettingsRefused);
            return false;
        }
        m_outputSettings = LegaliseMp3Settings(option.nAudioBitrate, option.nSampleRate, option.nChannels, &m_settingsNote);
        return true;
    }
    const std::string path = ProgramPath(m_setup.programFolder, "tmp/wmv.prx");
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        Fail(-1, "the Windows Media profile " + path + " is missing", KvJobFailure::SettingsRefused);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(-1, "the Windows Media profile " + path + " is not a file", KvJobFailure::SettingsRefused);
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        Fail(-1, "the Windows Media profile " + path + " cannot be read", KvJobFailure::SettingsRefused);
        return false;
    }
    WmProfileStream stream;
    if (!ParseWmProfile(bytes, stream)) {
        Fail(-1, "the Windows Media profile " + path + " describes no audio stream", KvJobFailure::SettingsRefused);
        return false;
    }
    if (stream.nBitrate <= 0 || stream.nSampleRate <= 0 || stream.nChannels <= 0) {
        Fail(-1, "the Windows Media profile " + path + " gives no audio settings (" + std::to_string(stream.nBitrate) +
                     " bit/s, " + std::to_string(stream.nSampleRate) + " Hz, " + std::to_string(stream.nChannels) +
                     " channels)",
             KvJobFailure::SettingsRefused);
        return false;
    }
    m_outputSettings = LegaliseWmaSettings(stream.wFormatTag, stream.nBitrate, stream.nSampleRate, stream.nChannels,
                                           &m_settingsNote);
    return true;
}

HRESULT CKvVideoConverter::BuildConversionGraph(const std::string& outputPath)
{
    const bool isWindowsMedia = IsWindowsMediaOutput(m_setup.option.nOutputType);
    const double duration = GetProjectDuration(m_setup.project);
    TearDown();
    m_outputPath = outputPath;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_lastError.clear();
        m_lastFailure = KvJobFailure::None;
    }

    // An empty or endless time line would be "finished" as an empty file or never.
    if (!std::isfinite(duration) || duration <= 0.0)
        return Fail(-1, "the project's time line has no length (" + std::to_string(duration) + " s)");
    if (duration > kKvMaxMediaSeconds)
        return Fail(-1, "the project's time line is " + std::to_string(duration) + " s long, beyond any output");
    if (outputPath.empty())
        return Fail(-1, "no output file was given");
    if (outputPath.front() != '/')
        return Fail(-1, "the output path " + outputPath + " is not a full path");
    if (m_setup.option.nOutputType == kKvOutputOriginal)
        return BuildOriginalGraph(outputPath, duration);
    if (!ChooseOutputSettings(isWindowsMedia))
        return -1;
    if (FindAudioFormat(m_setup.option.nOutputType) != nullptr) {
        if (const CKvEngineItem* item = UnmixedItem(m_setup.project))
            return BuildDirectGraph(*item, outputPath, duration);
    }
    // Before any file is written: a source without sound would mix as silence and
    // pass as a finished file.
    std::string why;
    KvJobFailure failure = KvJobFailure::Internal;
    if (!m_audioCallback->OpenSources(why, &failure))
        return Fail(-1, why, failure);

    if (m_audioCallback->HasVuMeter())
        m_levelMap.Create(m_setup.programFolder, duration, m_frameRate); // without it the meter stays still
    m_audioCallback->SetOwner(this);
    m_mixer->SetUserCallback(m_audioCallback.get());

    PrepareLoudness(false);
    m_chain.SetTags(FirstItemTags(m_setup.project));
    m_chain.SetCheckOutput((m_setup.option.nJobFlags & kKvJobSkipOutputCheck) == 0);
    const int opened = m_chain.Open(outputPath, m_outputSettings, kTimeLineRate);
    if (opened < 0)
        return Fail(opened, m_chain.LastError(), m_chain.LastFailure());

    m_stopping = false;
    m_streamDone = false;
    m_soundEnd = -1.0;
    m_duration = duration;
    m_directStop = false; // what a measuring pass stops at
    m_hasGraph = true;
    const bool started = m_source.Start(
        duration, m_frameRate, kTimeLineRate,
        [this](std::int16_t* pcm, int frames, int capacity) { return OnBuffer(pcm, frames, capacity); },
        [this](int result) { OnStreamEnd(result); });
    if (!started) {
        m_chain.Abort();
        m_hasGraph = false;
        return Fail(-1, "the time line cannot be streamed");
    }
    if (m_setup.jobBlock != nullptr)
        StoreRelease(m_setup.jobBlock->bGraphRunning, 1);
    return S_OK;
}

HRESULT CKvVideoConverter::BuildDirectGraph(const CKvEngineItem& item, const std::string& outputPath, double duration)
{
    m_direct = std::make_unique<CKvDirectAudio>();
    std::string why;
    KvJobFailure failure = KvJobFailure::Internal;
    // An untrimmed row reads to the source's very end, whatever its length cell says.
    const double end = item.dASelfEndTime >= item.dASelfDuration ? -1.0 : item.dASelfEndTime;
    if (!m_direct->Open(WideToUtf8(item.source), item.nAudioStream, item.dASelfStartTime, end, why, failure)) {
        m_direct.reset();
        return Fail(-1, why, failure);
    }
    PrepareLoudness(false);
    m_chain.SetTags(FirstItemTags(m_setup.project));
    m_chain.SetCheckOutput((m_setup.option.nJobFlags & kKvJobSkipOutputCheck) == 0);
    const int opened = m_chain.Open(outputPath, m_outputSettings, m_direct->Format());
    if (opened < 0) {
        m_direct.reset();
        return Fail(opened, m_chain.LastError(), m_chain.LastFailure());
    }
    LogLine("conversion: the sound goes around the mix (" + std::to_string(m_direct->Format().rate) + " Hz, " +
            std::to_string(m_direct->Format().channels) + " channels, " + std::to_string(m_direct->Format().bits) +
            " bits)");
    return StartOwnThread(duration, &CKvVideoConverter::RunDirect);
}

HRESULT CKvVideoConverter::StartOwnThread(double duration, void (CKvVideoConverter::*run)())
{
    m_stopping = false;
    m_streamDone = false;
    m_soundEnd = -1.0;
    m_duration = duration;
    m_directStop = false;
    m_directPosition = 0.0;
    m_hasGraph = true;
    m_directThread = std::thread(run, this);
    if (m_setup.jobBlock != nullptr)
        StoreRelease(m_setup.jobBlock->bGraphRunning, 1);
    return S_OK;
}

void CKvVideoConverter::RunDirect()
{
    std::string why;
    if (m_needMeasure) {
        m_needMeasure = false;
        if (!FindGain(why)) {
            if (!m_stopping)
                Fail(-1, "the loudness cannot be measured: " + why, KvJobFailure::SourceUnreadable);
            OnStreamEnd(-1);
            return;
        }
    }
    const AudioInputFormat format = m_direct->Format();
    int result = m_direct->Run([this, format](const void* pcm, int frames) {
                                   return m_chain.Write(Loudness(pcm, frames, format), frames);
                               },
                               m_directStop,
                               [this](double seconds) {
                                   m_directPosition = seconds;
                                   PublishPosition(seconds);
                               },
                               why);
    if (result < 0 && !m_stopping)
        Fail(result, why.empty() ? m_chain.LastError() : why, why.empty() ? m_chain.LastFailure() : KvJobFailure::SourceUnreadable);
    const double given = static_cast<double>(m_direct->FramesGiven()) / m_direct->Format().rate;
    // A source whose sound ends before the row does: the output ends with it.
    if (result >= 0 && given + 0.05 < m_duration)
        m_soundEnd = given;
    OnStreamEnd(result);
}

HRESULT CKvVideoConverter::BuildOriginalGraph(const std::string& outputPath, double duration)
{
    m_settingsNote.clear();
    const CKvEngineItem* item = UnmixedItem(m_setup.project);
    if (item == nullptr)
        return Fail(-1, "the sound track can be kept as it is only when nothing changes it (one file, no volume, speed, "
                        "delay or fades)", KvJobFailure::SettingsRefused);
    const bool trimmed = item->dASelfStartTime > 0.0 || item->dASelfEndTime < item->dASelfDuration;
    const double end = item->dASelfEndTime >= item->dASelfDuration ? -1.0 : item->dASelfEndTime;
    auto copy = std::make_unique<CKvTrackCopy>();
    std::string why;
    KvJobFailure failure = KvJobFailure::Internal;
    if (!copy->Open(WideToUtf8(item->source), item->nAudioStream, item->dASelfStartTime, end, why, failure))
        return Fail(-1, why, failure);
    // A trimmed lossless track is cut to the sample: coded again, losslessly, with its
    // own codec.
    const int codec = copy->CodecId();
    if (trimmed && copy->Container().lossless && (codec == AV_CODEC_ID_FLAC || codec == AV_CODEC_ID_ALAC
                                                  || copy->Container().muxer == "wav")) {
        m_outputSettings = AudioOutputSettings{};
        m_outputSettings.codec = codec == AV_CODEC_ID_FLAC ? AudioOutputCodec::Flac
            : codec == AV_CODEC_ID_ALAC                    ? AudioOutputCodec::Alac
                                                           : AudioOutputCodec::Wav;
        m_outputSettings.nBitrate = 0;
        m_outputSettings.nSampleRate = 0;
        m_outputSettings.nChannels = 0;
        m_outputSettings.nQuality = codec == AV_CODEC_ID_FLAC ? 5 : 0;
        return BuildDirectGraph(*item, outputPath, duration);
    }
    PrepareLoudness(true);
    copy->SetTags(FirstItemTags(m_setup.project));
    copy->SetCheckOutput((m_setup.option.nJobFlags & kKvJobSkipOutputCheck) == 0);
    m_copy = std::move(copy);
    return StartOwnThread(duration, &CKvVideoConverter::RunCopy);
}

void CKvVideoConverter::RunCopy()
{
    std::string why;
    KvJobFailure failure = KvJobFailure::Internal;
    if (m_needMeasure) {
        m_needMeasure = false;
        KvLoudness measured;
        m_renderFrom = kMeasureShare;
        if (!MeasureItems(measured, KvMeterMode::Full, 0.0, kMeasureShare, why)) {
            m_streamDone = true;
            if (m_stopping)
                return;
            Fail(-1, "the loudness cannot be measured: " + why, KvJobFailure::SourceUnreadable);
            PostEvent(EC_ERRORABORT, -1);
            return;
        }
        m_copy->AddExtraTags(LoudnessTags(measured, m_copy->Container().muxer == "opus"));
    }
    int result = m_copy->Run(m_outputPath, m_directStop,
                             [this](double seconds) {
                                 m_directPosition = seconds;
                                 PublishPosition(seconds);
                             },
                             why, failure);
    m_streamDone = true;
    if (m_stopping)
        return;
    if (result < 0)
        Fail(result, why, failure);
    else if (m_copy->SecondsCopied() + 0.5 < m_duration)
        m_soundEnd = m_copy->SecondsCopied();
    PostEvent(result < 0 ? EC_ERRORABORT : EC_COMPLETE, result < 0 ? result : 0);
}

void CKvVideoConverter::StopDirect()
{
    m_directStop = true;
    if (m_directThread.joinable() && m_directThread.get_id() != std::this_thread::get_id())
        m_directThread.join();
}

int CKvVideoConverter::OnBuffer(std::int16_t* pcm, int frames, int capacityFrames)
{
    if (m_needMeasure) {
        // The first buffer waits for the measuring pass: the gain holds from the start.
        m_needMeasure = false;
        std::string why;
        if (!FindGain(why)) {
            if (m_stopping)
                return AVERROR_EXIT;
            Fail(-1, "the loudness cannot be measured: " + why, KvJobFailure::SourceUnreadable);
            return -1;
        }
    }
    m_mixer->Process(pcm, frames, capacityFrames);
    // Sources that ran out early end the output with them: what would follow is
    // silence that no source holds.
    int keep = frames;
    std::optional<double> soundEnd = m_audioCallback->SoundEnd();
    if (soundEnd && *soundEnd >= m_duration)
        soundEnd.reset();
    if (soundEnd) {
        const std::int64_t start = m_source.FramesDelivered();
        const auto end = static_cast<std::int64_t>(std::llround(*soundEnd * kTimeLineRate));
        keep = static_cast<int>(std::clamp<std::int64_t>(end - start, 0, frames));
        m_soundEnd = static_cast<double>(start + keep) / kTimeLineRate;
    }
    const AudioInputFormat mixed{kTimeLineRate, kTimeLineChannels, AV_SAMPLE_FMT_S16, 16};
    const int queued = keep > 0 ? m_chain.Write(Loudness(pcm, keep, mixed), keep) : 0;
    if (queued < 0) {
        Fail(queued, m_chain.LastError(), m_chain.LastFailure());
        return queued;
    }
    PublishPosition(soundEnd ? m_soundEnd.load() : LoadAcquire(m_shadowBlock.dPosition));
    return soundEnd ? CKvTimeLineSource::kEndsHere : 0;
}

void CKvVideoConverter::OnStreamEnd(int result)
{
    if (m_stopping) {
        m_streamDone = true;
        return;
    }
    if (result >= 0 && m_soundEnd.load() == 0.0) {
        // Nothing of the sources lies inside the time line (a Start past the real end).
        result = Fail(-1, "the sources hold no sound within the time line; their sound ends before it starts",
                      KvJobFailure::SourceEndedEarly);
    }
    if (result >= 0 && m_peakMeter.IsOpen()) {
        // The gain was chosen by the samples' peak: the true peak decides whether it holds.
        const double peak = m_peakMeter.Result().truePeak;
        if (LinearToDb(peak) > kTruePeakCeiling - kTruePeakMargin + 0.01) {
            m_measured.truePeak = peak / m_gain;
            m_measured.peakIsTrue = true;
            LogLine("loudness: the output's true peak of " + FormatDoubleAs("%.2f", LinearToDb(peak)) +
                    " dBTP is over the ceiling; it is converted again with a gain the true peak allows");
            m_chain.Abort();
            m_streamDone = true;
            if (!m_stopping)
                PostEvent(EC_LOUDNESS_AGAIN);
            return;
        }
    }
    if (result >= 0) {
        if (m_loudness && m_loudness->mode == 2)
            m_chain.AddExtraTags(LoudnessTags(m_meter.Result(), m_outputSettings.codec == AudioOutputCodec::Opus));
        result = m_chain.Finish();
        if (result < 0)
            Fail(result, m_chain.LastError(), m_chain.LastFailure());
    } else {
        m_chain.Abort();
    }
    m_streamDone = true;
    // An owner that stopped the graph meanwhile gets no event for it.
    if (!m_stopping)
        PostEvent(result < 0 ? EC_ERRORABORT : EC_COMPLETE, result < 0 ? result : 0);
}

void CKvVideoConverter::PublishPosition(double seconds)
{
    if (m_setup.jobBlock != nullptr)
        RaiseJobPosition(*m_setup.jobBlock, m_renderFrom * m_duration + (1.0 - m_renderFrom) * seconds, m_duration);
}

void CKvVideoConverter::PrepareLoudness(bool copy)
{
    m_loudness = LoudnessOf(m_setup.project);
    m_needMeasure = false;
    m_renderFrom = 0.0;
    m_measuring = false;
    m_gain = 1.0;
    m_loudnessNote.clear();
    m_meter = KvLoudnessMeter();
    m_peakMeter = KvLoudnessMeter();
    m_checkPeak = false;
    if (!m_loudness)
        return;
    if (copy) {
        // A copy holds the sound as it is: its loudness can only be told, in tags.
        m_needMeasure = true;
        if (m_loudness->mode == 1)
            m_loudnessNote = "the sound track is kept as it is (Original): it carries ReplayGain tags instead of "
                             "being normalised";
    } else if (m_loudness->mode == 1) {
        if (m_known) {
            ChooseGain(*m_known);
            m_renderFrom = m_knownFrom;
        } else if (m_loudness->albumIntegrated) {
            ChooseGain({*m_loudness->albumIntegrated, m_loudness->albumPeak, m_loudness->albumPeak});
        } else {
            m_needMeasure = true;
        }
    }
    // Tags alone: the meter hears the output on its way to the encoder.
}

void CKvVideoConverter::SetKnownLoudness(const KvLoudness& loudness, double progressFrom)
{
    m_known = loudness;
    m_knownFrom = std::clamp(progressFrom, 0.0, 1.0);
}

bool CKvVideoConverter::FindGain(std::string& why)
{
    // The loudness first, without the true peak, which costs four times the rest: the
    // gain of most rows leaves their peaks far below the ceiling, and the true peak of
    // the output is then heard on its way to the encoder.
    KvLoudness measured;
    if (!MeasureItems(measured, KvMeterMode::Loudness, 0.0, kLoudnessShare, why))
        return false;
    m_renderFrom = kLoudnessShare;
    if (!measured.Silent() && ChooseNormalGain(measured, m_loudness->target).missedDb > 0.0) {
        // The ceiling may hold the gain back, and by how much is the true peak's to say.
        KvLoudness peaks;
        if (!MeasureItems(peaks, KvMeterMode::TruePeak, kLoudnessShare, kLoudnessShare + kPeakShare, why))
            return false;
        measured.truePeak = std::max(peaks.truePeak, measured.samplePeak);
        measured.peakIsTrue = true;
        m_renderFrom = kLoudnessShare + kPeakShare;
    } else if (!measured.Silent()) {
        m_checkPeak = true;
    }
    m_measured = measured;
    ChooseGain(measured);
    return true;
}

bool CKvVideoConverter::MeasureItems(KvLoudness& measured, KvMeterMode mode, double from, double to,
                                      std::string& why)
{
    const CKvEngineLine* line = m_setup.project != nullptr ? m_setup.project->FindLine(kLineAudio) : nullptr;
    if (line == nullptr)
        return true;
    // A long item is measured in parts side by side, one per core: decoding and the
    // meter are the work, and the parts' loudness is gated together at the end (what
    // the cuts lose is a few 400 ms blocks among thousands).
    struct Part
    {
        const CKvEngineItem* item = nullptr;
        double start = 0.0;
        double end = -1.0;
        KvLoudnessMeter meter;
        std::atomic<double> done{0.0}; // seconds of the source measured
        int result = 0;
        std::string why;
    };
    const int cores = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
    std::vector<std::unique_ptr<Part>> parts;
    for (const std::unique_ptr<CKvEngineItem>& item : line->items) {
        if (item->bDisableAudio != 0 || item->bHadAudio == 0)
            continue;
        const double end = item->dASelfEndTime >= item->dASelfDuration ? -1.0 : item->dASelfEndTime;
        const double length = (end >= 0.0 ? end : item->dASelfDuration) - item->dASelfStartTime;
        const int count = length >= 120.0 ? cores : 1;
        for (int k = 0; k < count; ++k) {
            auto part = std::make_unique<Part>();
            part->item = item.get();
            part->start = item->dASelfStartTime + length * k / count;
            part->end = k + 1 < count ? item->dASelfStartTime + length * (k + 1) / count : end;
            parts.push_back(std::move(part));
        }
    }
    m_measurePosition = 0.0;
    m_measuring = true;
    auto measure = [this, &parts, mode, from, to](Part& part) {
        CKvDirectAudio reader;
        KvJobFailure failure = KvJobFailure::Internal;
        if (!reader.Open(WideToUtf8(part.item->source), part.item->nAudioStream, part.start, part.end, part.why,
                         failure)) {
            part.result = -1;
            return;
        }
        const AudioInputFormat format = reader.Format();
        if (!part.meter.Open(format.rate, format.channels, mode)) {
            part.why = "the loudness of " + std::to_string(format.channels) + " channels cannot be measured";
            part.result = -1;
            return;
        }
        const double volume = part.item->dVoiceScale;
        part.result = reader.Run(
            [&](const void* pcm, int frames) { return part.meter.Add(pcm, frames, format.sampleFormat, volume) ? 0 : -1; },
            m_directStop,
            [&](double seconds) {
                part.done = seconds;
                double at = 0.0;
                for (const std::unique_ptr<Part>& each : parts) {
                    const double rate = each->item->dPlaybackRate > 0.0 ? each->item->dPlaybackRate : 1.0;
                    at += each->done.load() / rate;
                }
                m_measurePosition = from * m_duration + (to - from) * std::min(at, m_duration);
                if (m_setup.jobBlock != nullptr)
                    RaiseJobPosition(*m_setup.jobBlock, m_measurePosition, m_duration);
            },
            part.why);
    };
    for (std::size_t first = 0; first < parts.size(); first += static_cast<std::size_t>(cores)) {
        std::vector<std::thread> workers;
        const std::size_t last = std::min(parts.size(), first + static_cast<std::size_t>(cores));
        for (std::size_t i = first + 1; i < last; ++i)
            workers.emplace_back(measure, std::ref(*parts[i]));
        measure(*parts[first]);
        for (std::thread& worker : workers)
            worker.join();
    }
    m_measuring = false;
    std::vector<const KvLoudnessMeter*> all;
    for (const std::unique_ptr<Part>& part : parts) {
        if (part->result < 0) {
            why = part->why.empty() ? "the sound could not be measured" : part->why;
            return false;
        }
        all.push_back(&part->meter);
        const KvLoudness result = part->meter.Result();
        measured.truePeak = std::max(measured.truePeak, result.truePeak);
        measured.samplePeak = std::max(measured.samplePeak, result.samplePeak);
    }
    measured.peakIsTrue = mode != KvMeterMode::Loudness;
    measured.integrated = KvLoudnessMeter::Together(all);
    const std::string peak = measured.peakIsTrue ? FormatDoubleAs("%.2f", LinearToDb(measured.truePeak)) + " dBTP"
                                                 : FormatDoubleAs("%.2f", LinearToDb(measured.samplePeak)) + " dBFS";
    LogLine("loudness: " + (mode == KvMeterMode::TruePeak ? std::string()
                                : FormatDoubleAs("%.2f", measured.integrated) + " LUFS integrated, ")
            + (measured.peakIsTrue ? "true peak " : "sample peak ") + peak + " (" + std::to_string(parts.size())
            + (parts.size() == 1 ? " part)" : " parts measured side by side)"));
    return true;
}

bool CKvVideoConverter::MeasureLoudness(KvLoudness& measured, std::string& why)
{
    m_duration = GetProjectDuration(m_setup.project);
    m_directStop = false;
    return MeasureItems(measured, KvMeterMode::Full, 0.0, 1.0, why);
}

void CKvVideoConverter::ChooseGain(const KvLoudness& measured)
{
    const KvGainChoice choice = ChooseNormalGain(measured, m_loudness->target);
    m_gain = std::pow(10.0, choice.gainDb / 20.0);
    m_loudnessNote = DescribeGain(measured, choice, m_loudness->target);
    LogLine("loudness: a gain of " + FormatDoubleAs("%+.2f", choice.gainDb) + " dB for " +
            FormatDoubleAs("%.0f", m_loudness->target) + " LUFS" +
            (m_loudnessNote.empty() ? std::string() : " (" + m_loudnessNote + ")"));
}

std::vector<KvExtraTag> CKvVideoConverter::LoudnessTags(const KvLoudness& track, bool opus) const
{
    std::optional<KvLoudness> album;
    if (m_loudness && m_loudness->albumIntegrated)
        album = KvLoudness{*m_loudness->albumIntegrated, m_loudness->albumPeak, m_loudness->albumPeak};
    return ReplayGainTags(track, album ? &*album : nullptr, opus);
}

const void* CKvVideoConverter::Loudness(const void* pcm, int frames, const AudioInputFormat& format)
{
    if (!m_loudness)
        return pcm;
    const void* out = pcm;
    if (m_gain != 1.0) {
        const std::size_t bytes = static_cast<std::size_t>(frames) * static_cast<std::size_t>(format.channels)
            * static_cast<std::size_t>(av_get_bytes_per_sample(static_cast<AVSampleFormat>(format.sampleFormat)));
        m_gainBuffer.resize(bytes);
        std::memcpy(m_gainBuffer.data(), pcm, bytes);
        ApplyGain(m_gainBuffer.data(), frames * format.channels, format.sampleFormat, m_gain);
        out = m_gainBuffer.data();
    }
    if (m_loudness->mode == 2) {
        if (!m_meter.IsOpen())
            m_meter.Open(format.rate, format.channels);
        m_meter.Add(out, frames, format.sampleFormat);
    }
    if (m_checkPeak) {
        if (!m_peakMeter.IsOpen())
            m_peakMeter.Open(format.rate, format.channels, KvMeterMode::TruePeak);
        m_peakMeter.Add(out, frames, format.sampleFormat);
    }
    return out;
}

void CKvVideoConverter::PostEvent(long code, std::intptr_t param1, std::intptr_t param2)
{
    KvNotifyCallback notify;
    int message = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(GraphEvent{code, param1, param2});
        notify = m_notify;
        message = m_notifyMessage;
    }
    m_eventReady.notify_all();
    if (notify)
        notify(message);
}

HRESULT CKvVideoConverter::GetEvent(long& eventCode, std::intptr_t& param1, std::intptr_t& param2, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (timeoutMs > 0)
        m_eventReady.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_events.empty(); });
    if (m_events.empty())
        return E_ABORT;
    const GraphEvent event = m_events.front();
    m_events.pop_front();
    eventCode = event.code;
    param1 = event.param1;
    param2 = event.param2;
    return S_OK;
}

HRESULT CKvVideoConverter::FreeEventParams(long, std::intptr_t, std::intptr_t)
{
    return S_OK;
}
