#pragma once

// The arithmetic of the audio mixer, free of any stream or reader: how one item's
// samples join the mix, its fades, where a time-line time falls in its source, when
// its picture is frozen (and its sound silent), and the level-meter slices of a
// finished buffer.

#include <cstdint>
#include <vector>

struct tagKvVideoSnapshotData;

namespace velmora {

inline constexpr int kKvLevelSlices = 64;

// Limits to the signed 16-bit range.
std::int16_t ClampSample(std::int64_t value);

// One sample of an item joins the mix: a = source × gain truncated toward zero, then
// a + mixed − (a × mixed) / 65536 (an arithmetic shift, so it rounds down), limited
// to the 16-bit range. Not associative: each item goes over what the earlier items
// left, and the first item over silence passes unchanged. Computed in 64 bits, so a
// large gain clips instead of wrapping.
std::int16_t MixSample(std::int16_t source, double gain, std::int16_t mixed);
void MixSamples(std::int16_t* mix, const std::int16_t* source, int samples, double gain);

// One constant gain on interleaved samples of 16 or 32 bits (an AVSampleFormat: S16 or
// S32), rounded to the nearest and limited to the format's range.
void ApplyGain(void* interleaved, int samples, int sampleFormat, double gain);

// Vocal cut: both channels of every frame become right − left (limited), which
// removes what the two channels have in common, usually the voice.
void ApplyVocalCut(std::int16_t* interleaved, int frames);

struct KvAudioFade
{
    bool enabled = false;      // bEnableAudioEffect
    double editorStart = 0.0;  // dEditorStartTime
    double editorEnd = 0.0;    // dEditorEndTime
    double fadeIn = 0.0;       // dAudioFadeInDuration
    double fadeOut = 0.0;      // dAudioFadeOutDuration
};

// Linear fade factor at time-line time t: rising over the fade-in from the item's
// start, falling over the fade-out to its end; the fade-in wins where both apply.
// Never below 0.
double AudioFadeAt(const KvAudioFade& fade, double t);

// How an item's sound is laid on the time line.
struct KvAudioPlacement
{
    double timelineStart = 0.0;  // dAudioTimelineStart
    double selfStart = 0.0;      // dASelfStartTime (after the delay has been folded in)
    double playbackRate = 1.0;   // dPlaybackRate
    const std::vector<tagKvVideoSnapshotData>* snapshots = nullptr; // VideoSnapshots
};

// Source time of the item's sound at time-line time x. Snapshots at or after the
// sound's in-point hold the source at their capture time for their duration, and
// everything after a snapshot comes that much later. Before the item's start the
// result is the straight line through the in-point, so it is negative (silence to
// come) when the source's start still lies ahead.
double MapTimelineToSource(const KvAudioPlacement& placement, double x);

// True when a buffer that ends at time-line time x lies inside one of the item's
// freezes, i.e. x falls in (freeze start, freeze end]. A buffer ending exactly where
// a freeze starts still carries sound; the one ending exactly where it ends is the
// freeze's last.
bool IsFrozenAt(const KvAudioPlacement& placement, double x);

// Mean absolute level of 64 slices per channel of a finished buffer of stereo
// frames. Slices are G = frames / 64 frames long; the walk closes a slice whenever
// its run counter reaches G (the first slice therefore holds G − 1 frames, the last
// everything that is left, divided by what its run counter reached). Buffers under
// 64 frames give one level, the mean of all frames, in the last slice.
void ComputeLevelSlices(const std::int16_t* interleaved, int frames,
                        std::int16_t left[kKvLevelSlices], std::int16_t right[kKvLevelSlices]);

} // namespace velmora
