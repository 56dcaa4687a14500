#include "pipeline/KvAudioMixMath.h"

#include "project/KvProjectData.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmora {

namespace {

// Tolerance for comparing a buffer's end time with a freeze edge: both come out of
// different sums of the same exact values.
constexpr double kEdgeTolerance = 1e-9;

// Whole milliseconds, kept as a double: a time from a project file may lie beyond
// what an integer holds.
double Milliseconds(double seconds)
{
    return std::trunc(seconds * 1000.0);
}

} // namespace

std::int16_t ClampSample(std::int64_t value)
{
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

void ApplyGain(void* interleaved, int samples, int sampleFormat, double gain)
{
    if (gain == 1.0 || samples <= 0)
        return;
    if (sampleFormat == 1) { // AV_SAMPLE_FMT_S16
        auto* data = static_cast<std::int16_t*>(interleaved);
        for (int i = 0; i < samples; ++i)
            data[i] = ClampSample(std::llround(data[i] * gain));
    } else if (sampleFormat == 2) { // AV_SAMPLE_FMT_S32
        auto* data = static_cast<std::int32_t*>(interleaved);
        for (int i = 0; i < samples; ++i)
            data[i] = static_cast<std::int32_t>(
                std::clamp<double>(std::nearbyint(data[i] * gain), -2147483648.0, 2147483647.0));
    }
}

std::int16_t MixSample(std::int16_t source, double gain, std::int16_t mixed)
{
    // Keep the product inside what a 64-bit integer can hold; anything this loud
    // clips to full scale anyway.
    const double scaled = std::clamp(static_cast<double>(source) * gain, -2147483648.0, 2147483647.0);
    const std::int64_t a = static_cast<std::int64_t>(scaled);
    const std::int64_t b = mixed;
    return ClampSample(a + b - ((a * b) >> 16));
}

namespace {

// MixSample for a gain within ±1, where every step fits in 32 bits: the same values,
// in a loop the compiler can run several samples at a time. This is most of the
// mixing thread's own work.
inline std::int16_t MixSmallGainSample(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int16_t>(std::clamp(a + b - ((a * b) >> 16), -32768, 32767));
}

} // namespace

void MixSamples(std::int16_t* mix, const std::int16_t* source, int samples, double gain)
{
    // A gain without a value (from a broken volume or fade) adds nothing.
    if (!std::isfinite(gain))
        return;
    if (gain == 1.0) {
        for (int j = 0; j < samples; ++j)
            mix[j] = MixSmallGainSample(source[j], mix[j]);
    } else if (std::fabs(gain) <= 1.0) {
        for (int j = 0; j < samples; ++j)
            mix[j] = MixSmallGainSample(static_cast<std::int32_t>(source[j] * gain), mix[j]);
    } else {
        for (int j = 0; j < samples; ++j)
            mix[j] = MixSample(source[j], gain, mix[j]);
    }
}

void ApplyVocalCut(std::int16_t* interleaved, int frames)
{
    for (int i = 0; i < frames; ++i) {
        std::int16_t* frame = interleaved + 2 * i;
        const std::int16_t d = ClampSample(static_cast<std::int64_t>(frame[1]) - frame[0]);
        frame[0] = d;
        frame[1] = d;
    }
}

double AudioFadeAt(const KvAudioFade& fade, double t)
{
    double factor = 1.0;
    if (!fade.enabled)
        return factor;
    if (fade.fadeIn > 0.0 && t < fade.editorStart + fade.fadeIn)
        factor = (t - fade.editorStart) / fade.fadeIn;
    else if (fade.fadeOut > 0.0 && t > fade.editorEnd - fade.fadeOut)
        factor = (fade.editorEnd - t) / fade.fadeOut;
    // Before the item's start (a buffer still ahead of it) the line would turn
    // negative and invert the sound.
    return std::max(factor, 0.0);
}

double MapTimelineToSource(const KvAudioPlacement& p, double x)
{
    double a = x - p.timelineStart;
    // Freezes only happen inside the item, so ahead of its start the sound keeps
    // its straight line: a reader opened there must reach the in-point exactly at
    // the start.
    if (p.snapshots == nullptr || p.snapshots->empty() || a < 0.0)
        return p.selfStart + p.playbackRate * a;
    for (const tagKvVideoSnapshotData& snap : *p.snapshots) {
        if (snap.dCaptureTime < p.selfStart)
            continue;
        const double b = (snap.dCaptureTime - p.selfStart) / p.playbackRate;
        if (b <= a && a <= b + snap.dDuration)
            return snap.dCaptureTime;
        if (a < b)
            break;
        a -= snap.dDuration;
    }
    return p.selfStart + p.playbackRate * a;
}

bool IsFrozenAt(const KvAudioPlacement& p, double x)
{
    if (p.snapshots == nullptr || p.snapshots->empty())
        return false;
    double edge = p.timelineStart;
    double prev = p.selfStart;
    for (const tagKvVideoSnapshotData& snap : *p.snapshots) {
        if (Milliseconds(snap.dCaptureTime) < Milliseconds(p.selfStart))
            continue;
        edge += (snap.dCaptureTime - prev) / p.playbackRate;
        if (x <= edge + kEdgeTolerance)
            return false;
        edge += snap.dDuration;
        if (x <= edge + kEdgeTolerance)
            return true;
        prev = snap.dCaptureTime;
    }
    return false;
}

void ComputeLevelSlices(const std::int16_t* interleaved, int frames,
                        std::int16_t left[kKvLevelSlices], std::int16_t right[kKvLevelSlices])
{
    std::fill(left, left + kKvLevelSlices, 0);
    std::fill(right, right + kKvLevelSlices, 0);
    const std::int64_t g = (2LL * std::max(frames, 0)) / 128;
    std::int64_t sumL = 0;
    std::int64_t sumR = 0;
    std::int64_t run = 0;
    int slice = 0;
    for (int i = 0; i < frames; ++i) {
        ++run;
        if (g > 0 && run % g == 0 && slice < kKvLevelSlices - 1) {
            left[slice] = ClampSample(sumL / g);
            right[slice] = ClampSample(sumR / g);
            sumL = 0;
            sumR = 0;
            ++slice;
            run = 0;
        }
        sumL += std::abs(static_cast<int>(interleaved[2 * i]));
        sumR += std::abs(static_cast<int>(interleaved[2 * i + 1]));
    }
    if (run > 0) {
        left[kKvLevelSlices - 1] = ClampSample(sumL / run);
        right[kKvLevelSlices - 1] = ClampSample(sumR / run);
    }
}

} // namespace velmora
