#pragma once

// Loudness as EBU R128 measures it, by libebur128: the integrated loudness, the true
// peak and the sample peak of the sound fed to a meter, and what follows from them:
// the one gain that brings a row to a target loudness under a true-peak ceiling, and
// the ReplayGain 2.0 tags of an output whose sound is left as it is.

#include "media/KvTagWriter.h"

#include <memory>
#include <string>
#include <vector>

namespace velmora {

// ReplayGain 2.0 brings everything to -18 LUFS; Opus's R128 gains to -23 LUFS.
constexpr double kReplayGainReference = -18.0;
constexpr double kOpusGainReference = -23.0;
// The true peak a normalised output may reach, in dBTP, and what the gain keeps below
// it besides: true-peak meters differ by a tenth of a dB or so (how they oversample),
// and the output is rounded to its bits, or coded, after the gain.
constexpr double kTruePeakCeiling = -1.0;
constexpr double kTruePeakMargin = 0.2;
// How far above its samples a measure taken without the true peak supposes the true
// peak to lie. Music seldom goes further between its samples; where it does, the true
// peak heard on the way to the encoder says so.
constexpr double kInterSampleAllowance = 1.0;

struct KvLoudness
{
    double integrated = -1e9; // LUFS; below -70 (or -1e9): silence, nothing to measure
    double truePeak = 0.0;    // linear, the largest of the channels (1.0 = full scale)
    double samplePeak = 0.0;  // linear
    bool peakIsTrue = true;   // false: measured without the true peak (it is the sample peak)
    bool Silent() const { return integrated < -70.0; }
};

// What a meter measures. The true peak (4x oversampled) costs four times the rest.
enum class KvMeterMode {
    Full,     // integrated loudness, true and sample peaks
    Loudness, // integrated loudness and the sample peak
    TruePeak, // the true peak and the sample peak
};

// Full scale 1.0 as decibels (0 dB); 0 as a very low number rather than -infinity.
double LinearToDb(double linear);

class KvLoudnessMeter
{
public:
    KvLoudnessMeter();
    ~KvLoudnessMeter();
    KvLoudnessMeter(KvLoudnessMeter&&) noexcept;
    KvLoudnessMeter& operator=(KvLoudnessMeter&&) noexcept;

    // A meter for sound of rate and channels (channels in FFmpeg's default order).
    bool Open(int rate, int channels, KvMeterMode mode = KvMeterMode::Full);
    void Close();
    bool IsOpen() const { return m_state != nullptr; }
    // Takes frames of interleaved samples of sampleFormat (an AVSampleFormat: S16, S32
    // or FLT, packed), each multiplied by scale first (a row's volume). False for a
    // format it does not take or a meter that is not open.
    bool Add(const void* interleaved, int frames, int sampleFormat, double scale = 1.0);
    KvLoudness Result() const;

    // The integrated loudness of the sound of meters together, as if played one after
    // another (an album): gated over all of it, not an average of the parts.
    static double Together(const std::vector<const KvLoudnessMeter*>& meters);

private:
    struct State; // libebur128's state
    State* m_state = nullptr;
    int m_channels = 0;
    KvMeterMode m_mode = KvMeterMode::Full;
    std::vector<float> m_scaled;
};

// The gain that brings loudness to target LUFS, lowered where the true peak would
// pass ceiling dBTP (no limiter: one gain for the whole row). Loudness measured
// without the true peak is taken to peak kInterSampleAllowance above its samples.
struct KvGainChoice
{
    double gainDb = 0.0;
    double missedDb = 0.0; // > 0: the ceiling won, and the output is this much below target
};
KvGainChoice ChooseNormalGain(const KvLoudness& loudness, double target, double ceiling = kTruePeakCeiling);

// The tags of ReplayGain 2.0 for a track (and its album when given): for every
// container REPLAYGAIN_TRACK_GAIN ("-3.21 dB") and REPLAYGAIN_TRACK_PEAK ("0.912345",
// the true peak), and the ALBUM pair; for Opus instead R128_TRACK_GAIN and
// R128_ALBUM_GAIN, gains in 1/256 dB to -23 LUFS as the Opus format defines them.
// None for silence.
std::vector<KvExtraTag> ReplayGainTags(const KvLoudness& track, const KvLoudness* album, bool opus);

// "-16 LUFS missed by 2.4 LU: the true peak ceiling of -1 dBTP allowed a gain of
// +3.1 dB" and the like, for a row's tip; empty when the target was met.
std::string DescribeGain(const KvLoudness& loudness, const KvGainChoice& gain, double target);

} // namespace velmora
