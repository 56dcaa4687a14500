#include "pipeline/AudioMixerUserCallback.h"

#include "common/KvNumeric.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "pipeline/KvFFMpegAudioSource.h"
#include "project/KvEngineProject.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace velmora;

namespace {

// Delays at or below a millisecond count as none.
constexpr double kDelayThreshold = 0.001;

bool Sounds(const CKvEngineItem& item)
{
    return item.bHadAudio != 0 && item.bDisableAudio == 0;
}

// The first value of an item that the mixer could not place on a time line, as
// "name (value)"; empty when every one is usable.
std::string UnusableItemValue(const CKvEngineItem& item)
{
    const std::pair<const char*, double> times[] = {
        {"dEditorStartTime", item.dEditorStartTime},
        {"dEditorEndTime", item.dEditorEndTime},
        {"dASelfStartTime", item.dASelfStartTime},
        {"dAudioDelay", item.dAudioDelay},
        {"dAudioTimelineStart", item.dAudioTimelineStart},
        {"dAudioFadeInDuration", item.dAudioFadeInDuration},
        {"dAudioFadeOutDuration", item.dAudioFadeOutDuration},
        {"dVoiceScale", item.dVoiceScale},
    };
    for (const auto& [name, value] : times) {
        if (!IsUsableSeconds(value))
            return std::string(name) + " (" + std::to_string(value) + ")";
    }
    if (!(item.dPlaybackRate > 0.0) || !std::isfinite(item.dPlaybackRate))
        return "dPlaybackRate (" + std::to_string(item.dPlaybackRate) + ")";
    for (const tagKvVideoSnapshotData& snap : item.VideoSnapshots) {
        if (!IsUsableSeconds(snap.dCaptureTime) || !IsUsableSeconds(snap.dDuration))
            return "VideoSnapshots (" + std::to_string(snap.dCaptureTime) + ", " + std::to_string(snap.dDuration) + ")";
    }
    return {};
}

} // namespace

CAudioMixerUserCallback::CAudioMixerUserCallback(const KvAudioMixerSetup& setup)
    : m_setup(setup)
{
    m_vuMeter = setup.vuMeter;
    m_sharedLevels = setup.jobBlock != nullptr && LoadAcquire(setup.jobBlock->bPlayMode) == 0;
    if (m_setup.programFolder.empty())
        m_setup.programFolder = GetProgramFolder();
    m_clocks = setup.clocks ? setup.clocks : &m_ownClocks;
    if (setup.sources) {
        m_factory = setup.sources;
    } else {
        m_ownFactory = std::make_unique<CKvFFMpegAudioSourceFactory>();
        m_factory = m_ownFactory.get();
    }
}

CAudioMixerUserCallback::~CAudioMixerUserCallback() = default;

HRESULT CAudioMixerUserCallback::QueryInterface(const KvGuid&, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = static_cast<IKvAudioMixerUserCallback*>(this);
    return S_OK;
}

std::uint32_t CAudioMixerUserCallback::AddRef()
{
    return 0;
}

std::uint32_t CAudioMixerUserCallback::Release()
{
    return 0;
}

HRESULT CAudioMixerUserCallback::MixAudioBuffer(std::int32_t, std::int32_t dataBytes, std::int32_t holdClock,
                                                std::int16_t* buffer, const KvWaveFormat* format,
                                                std::int32_t bufferBytes)
{
    if (format == nullptr || format->wBitsPerSample != 16)
        return S_OK;
    if (buffer == nullptr)
        bufferBytes = 0;
    bufferBytes = std::max(bufferBytes, 0);
    // A stage that claims more valid bytes than the buffer holds must not make us
    // write past it.
    dataBytes = std::clamp(dataBytes, 0, bufferBytes);

    if (bufferBytes > 0)
        std::memset(buffer, 0, static_cast<std::size_t>(bufferBytes));

    if (holdClock == 0)
        m_bytesDelivered += static_cast<std::uint64_t>(dataBytes);
    double t = m_startOffset;
    if (format->nAvgBytesPerSec > 0)
        t += static_cast<double>(m_bytesDelivered) / static_cast<double>(format->nAvgBytesPerSec);
    m_lastBufferEnd = t;
    m_clocks->audioClock.store(t, std::memory_order_relaxed);
    m_clocks->playClock.store(t, std::memory_order_relaxed);
    if (m_sharedLevels)
        StoreRelease(m_setup.jobBlock->dPosition, t);

    const int samples = dataBytes / 2;
    const int frames = samples / 2;
    const int sampleRate = static_cast<int>(format->nSamplesPerSec);

    if (frames > 0 && sampleRate > 0 && m_setup.project != nullptr) {
        const double bufferStart = t - static_cast<double>(frames) / sampleRate;
        if (CKvEngineLine* line = m_setup.project->FindLine(kLineAudio)) {
            for (const std::unique_ptr<CKvEngineItem>& item : line->items)
                MixItem(*item, t, bufferStart, frames, sampleRate, buffer);
        }
    }

    if (m_vuMeter)
        PublishLevels(buffer, frames);
    return S_OK;
}

void CAudioMixerUserCallback::MixItem(CKvEngineItem& item, double t, double bufferStart, int frames,
                                      int sampleRate, std::int16_t* mix)
{
    if (t > item.dEditorEndTime || !Sounds(item))
        return;

    KvAudioFade fade;
    fade.enabled = item.bEnableAudioEffect != 0;
    fade.editorStart = item.dEditorStartTime;
    fade.editorEnd = item.dEditorEndTime;
    fade.fadeIn = item.dAudioFadeInDuration;
    fade.fadeOut = item.dAudioFadeOutDuration;
    const double gain = item.dVoiceScale * AudioFadeAt(fade, t);

    // Speed by resampling: asking for fewer frames per second of source plays it
    // faster (and higher).
    if (!(item.dPlaybackRate > 0.0))
        return;
    const double rateValue = static_cast<double>(sampleRate) / item.dPlaybackRate;
    if (!(rateValue >= 1.0) || rateValue > 2147483647.0)
        return;
    const int rate = static_cast<int>(rateValue);

    ItemAudio& audio = OpenItem(item, bufferStart);
    if (!audio.source)
        return;

    KvAudioPlacement placement;
    placement.timelineStart = item.dAudioTimelineStart;
    placement.selfStart = audio.selfStart;
    placement.playbackRate = item.dPlaybackRate;
    placement.snapshots = &item.VideoSnapshots;
    if (IsFrozenAt(placement, t))
        return;

    const std::int16_t* pcm = audio.source->GetBuffer(frames, rate);
    if (!audio.dry && audio.source->IsExhausted()) {
        // What the source held ends inside this buffer (or at its start): the rest
        // of the item is not the source's sound but padding.
        audio.dry = true;
        audio.soundEnd = bufferStart + (pcm != nullptr ? audio.source->LastDeliveredFrames() : 0) /
                                           static_cast<double>(sampleRate);
    }
    if (pcm == nullptr)
        return;
    const std::size_t count = static_cast<std::size_t>(frames) * 2;

    // A reader opened ahead of the item's start may already be inside the source
    // (a trimmed item): nothing of it may sound before the item begins. Silence
    // mixed in leaves the mix as it is, so those samples are simply left out.
    std::size_t skip = 0;
    const double ahead = (item.dEditorStartTime - bufferStart) * sampleRate;
    if (ahead > 0.0) {
        const double blank = std::ceil(ahead - 1e-6);
        skip = 2 * (blank >= frames ? static_cast<std::size_t>(frames) : static_cast<std::size_t>(blank));
    }
    if (skip >= count)
        return;

    // The reader's buffer is mixed as it is; only the vocal cut needs a copy to
    // change.
    const std::int16_t* samples = pcm + skip;
    if (item.bVocalCut != 0) {
        m_scratch.assign(samples, pcm + count);
        ApplyVocalCut(m_scratch.data(), static_cast<int>((count - skip) / 2));
        samples = m_scratch.data();
    }
    MixSamples(mix + skip, samples, static_cast<int>(count - skip), gain);
}

std::optional<double> CAudioMixerUserCallback::SoundEnd() const
{
    const CKvEngineLine* line = m_setup.project != nullptr ? m_setup.project->FindLine(kLineAudio) : nullptr;
    if (line == nullptr)
        return std::nullopt;
    std::optional<double> end;
    for (const std::unique_ptr<CKvEngineItem>& item : line->items) {
        if (!Sounds(*item))
            continue;
        const auto it = m_items.find(item.get());
        double itemEnd = item->dEditorEndTime;
        if (it != m_items.end() && it->second.dry)
            itemEnd = std::min(itemEnd, it->second.soundEnd);
        else if (m_lastBufferEnd < item->dEditorEndTime)
            return std::nullopt; // still sounding, or not begun
        end = std::max(end.value_or(itemEnd), itemEnd);
    }
    return end;
}

bool CAudioMixerUserCallback::OpenSources(std::string& why, KvJobFailure* failure)
{
    why.clear();
    if (m_setup.project == nullptr)
        return true;
    CKvEngineLine* line = m_setup.project->FindLine(kLineAudio);
    if (line == nullptr)
        return true;
    for (const std::unique_ptr<CKvEngineItem>& item : line->items) {
        if (!Sounds(*item))
            continue;
        const std::string path = WideToUtf8(item->bUsesExtractedWav ? item->szExtractedWav : item->source);
        const std::string unusable = UnusableItemValue(*item);
        if (!unusable.empty()) {
            why = "the item of " + path + " has an unusable " + unusable;
            if (failure)
                *failure = KvJobFailure::SettingsRefused;
            return false;
        }
        const ItemAudio& audio = PrepareItem(*item);
        const std::string error = audio.source ? audio.source->OpenError() : "cannot be read";
        if (!error.empty()) {
            why = "the source " + path + " " + error;
            if (failure)
                *failure = audio.source ? audio.source->OpenFailure() : KvJobFailure::SourceUnreadable;
            return false;
        }
    }
    return true;
}

CAudioMixerUserCallback::ItemAudio& CAudioMixerUserCallback::PrepareItem(CKvEngineItem& item)
{
    auto [it, inserted] = m_items.try_emplace(&item);
    ItemAudio& audio = it->second;
    if (!inserted)
        return audio;

    const bool extracted = item.bUsesExtractedWav != 0;
    const std::string path = WideToUtf8(extracted ? item.szExtractedWav : item.source);

    // A positive delay first starts the source earlier (eating into the trim); what
    // is left of it becomes leading silence.
    audio.selfStart = item.dASelfStartTime;
    audio.delay = item.dAudioDelay;
    if (audio.delay > kDelayThreshold) {
        if (audio.delay < audio.selfStart) {
            audio.selfStart -= audio.delay;
            audio.delay = 0.0;
        } else {
            audio.delay -= audio.selfStart;
            audio.selfStart = 0.0;
        }
    }

    // An extracted WAV holds the chosen track alone.
    audio.source = m_factory->Open(path, m_clocks->frameRate.load(std::memory_order_relaxed),
                                   extracted ? -1 : item.nAudioStream);
    if (auto* ffmpeg = dynamic_cast<CKvFFMpegAudioSource*>(audio.source.get()))
        item.pAudioReader = ffmpeg->Reader();
    return audio;
}

CAudioMixerUserCallback::ItemAudio& CAudioMixerUserCallback::OpenItem(CKvEngineItem& item, double bufferStart)
{
    ItemAudio& audio = PrepareItem(item);
    if (audio.positioned || !audio.source)
        return audio;
    audio.positioned = true;

    // An extracted WAV starts with the audio itself; a source may start its audio
    // after its picture, and keeps that gap as lead-in.
    if (item.bUsesExtractedWav == 0)
        audio.source->SetLeadIn(audio.source->FirstAudioTime());

    KvAudioPlacement placement;
    placement.timelineStart = item.dAudioTimelineStart;
    placement.selfStart = audio.selfStart;
    placement.playbackRate = item.dPlaybackRate;
    placement.snapshots = &item.VideoSnapshots;
    // A remaining positive delay reads as silence before the source; a negative one
    // reads later source audio.
    audio.source->Seek(MapTimelineToSource(placement, bufferStart) - audio.delay);
    return audio;
}

void CAudioMixerUserCallback::PublishLevels(const std::int16_t* mix, int frames)
{
    std::int16_t left[kKvLevelSlices];
    std::int16_t right[kKvLevelSlices];
    if (!m_sharedLevels) {
        std::lock_guard<std::mutex> lock(m_levelLock);
        ComputeLevelSlices(mix, frames, m_left, m_right);
        return;
    }
    if (!m_levelMapTried) {
        m_levelMapTried = true;
        m_levelMap.Open(m_setup.programFolder);
    }
    if (!m_levelMap.IsOpen())
        return;
    ComputeLevelSlices(mix, frames, left, right);
    m_levelMap.WriteRecord(left, right);
}

void CAudioMixerUserCallback::GetLevels(std::int16_t left[kKvLevelSlices], std::int16_t right[kKvLevelSlices]) const
{
    std::lock_guard<std::mutex> lock(m_levelLock);
    std::copy(m_left, m_left + kKvLevelSlices, left);
    std::copy(m_right, m_right + kKvLevelSlices, right);
}
