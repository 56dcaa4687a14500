#include "media/KvLoudness.h"

#include <ebur128.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace velmora {

namespace {

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

struct KvLoudnessMeter::State
{
    ebur128_state* meter = nullptr;
};

double LinearToDb(double linear)
{
    return linear > 1e-9 ? 20.0 * std::log10(linear) : -180.0;
}

KvLoudnessMeter::KvLoudnessMeter() = default;

KvLoudnessMeter::~KvLoudnessMeter()
{
    Close();
}

void KvLoudnessMeter::Close()
{
    if (m_state) {
        ebur128_destroy(&m_state->meter);
        delete m_state;
        m_state = nullptr;
    }
}

KvLoudnessMeter::KvLoudnessMeter(KvLoudnessMeter&& other) noexcept
    : m_state(std::exchange(other.m_state, nullptr))
    , m_channels(other.m_channels)
    , m_mode(other.m_mode)
    , m_scaled(std::move(other.m_scaled))
{
}

KvLoudnessMeter& KvLoudnessMeter::operator=(KvLoudnessMeter&& other) noexcept
{
    if (this != &other) {
        Close();
        m_state = std::exchange(other.m_state, nullptr);
        m_channels = other.m_channels;
        m_mode = other.m_mode;
        m_scaled = std::move(other.m_scaled);
    }
    return *this;
}

bool KvLoudnessMeter::Open(int rate, int channels, KvMeterMode mode)
{
    Close();
    m_channels = 0;
    if (rate <= 0 || channels <= 0 || channels > 64)
        return false;
    int what = EBUR128_MODE_SAMPLE_PEAK;
    if (mode != KvMeterMode::TruePeak)
        what |= EBUR128_MODE_I;
    if (mode != KvMeterMode::Loudness)
        what |= EBUR128_MODE_TRUE_PEAK;
    ebur128_state* meter = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), what);
    if (meter == nullptr)
        return false;
    m_state = new State{meter};
    m_channels = channels;
    m_mode = mode;
    return true;
}

bool KvLoudnessMeter::Add(const void* interleaved, int frames, int sampleFormat, double scale)
{
    if (!m_state || frames < 0 || (frames > 0 && interleaved == nullptr))
        return false;
    if (frames == 0)
        return true;
    const auto count = static_cast<std::size_t>(frames);
    if (scale == 1.0) {
        switch (sampleFormat) {
        case AV_SAMPLE_FMT_S16:
            return ebur128_add_frames_short(m_state->meter, static_cast<const short*>(interleaved), count) == EBUR128_SUCCESS;
        case AV_SAMPLE_FMT_S32:
            return ebur128_add_frames_int(m_state->meter, static_cast<const int*>(interleaved), count) == EBUR128_SUCCESS;
        case AV_SAMPLE_FMT_FLT:
            return ebur128_add_frames_float(m_state->meter, static_cast<const float*>(interleaved), count) == EBUR128_SUCCESS;
        default:
            return false;
        }
    }
    // A row's volume: the meter hears what the mix will give the encoder.
    const std::size_t samples = count * static_cast<std::size_t>(m_channels);
    m_scaled.resize(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        double value = 0.0;
        switch (sampleFormat) {
        case AV_SAMPLE_FMT_S16: value = static_cast<const std::int16_t*>(interleaved)[i] / 32768.0; break;
        case AV_SAMPLE_FMT_S32: value = static_cast<const std::int32_t*>(interleaved)[i] / 2147483648.0; break;
        case AV_SAMPLE_FMT_FLT: value = static_cast<const float*>(interleaved)[i]; break;
        default: return false;
        }
        m_scaled[i] = static_cast<float>(value * scale);
    }
    return ebur128_add_frames_float(m_state->meter, m_scaled.data(), count) == EBUR128_SUCCESS;
}

KvLoudness KvLoudnessMeter::Result() const
{
    KvLoudness result;
    if (!m_state)
        return result;
    double integrated = 0.0;
    if (m_mode != KvMeterMode::TruePeak && ebur128_loudness_global(m_state->meter, &integrated) == EBUR128_SUCCESS
        && std::isfinite(integrated))
        result.integrated = integrated;
    result.peakIsTrue = m_mode != KvMeterMode::Loudness;
    for (int channel = 0; channel < m_channels; ++channel) {
        double peak = 0.0;
        if (result.peakIsTrue && ebur128_true_peak(m_state->meter, static_cast<unsigned>(channel), &peak) == EBUR128_SUCCESS)
            result.truePeak = std::max(result.truePeak, peak);
        if (ebur128_sample_peak(m_state->meter, static_cast<unsigned>(channel), &peak) == EBUR128_SUCCESS)
            result.samplePeak = std::max(result.samplePeak, peak);
    }
    // The true peak is never below the samples themselves.
    result.truePeak = std::max(result.truePeak, result.samplePeak);
    return result;
}

double KvLoudnessMeter::Together(const std::vector<const KvLoudnessMeter*>& meters)
{
    std::vector<ebur128_state*> states;
    for (const KvLoudnessMeter* meter : meters) {
        if (meter && meter->m_state && meter->m_mode != KvMeterMode::TruePeak)
            states.push_back(meter->m_state->meter);
    }
    double integrated = 0.0;
    if (states.empty() || ebur128_loudness_global_multiple(states.data(), states.size(), &integrated) != EBUR128_SUCCESS
        || !std::isfinite(integrated))
        return -1e9;
    return integrated;
}

KvGainChoice ChooseNormalGain(const KvLoudness& loudness, double target, double ceiling)
{
    KvGainChoice choice;
    if (loudness.Silent())
        return choice; // silence stays silence
    const double wanted = target - loudness.integrated;
    const double peak = loudness.peakIsTrue ? LinearToDb(loudness.truePeak)
                                            : LinearToDb(loudness.samplePeak) + kInterSampleAllowance;
    const double allowed = ceiling - kTruePeakMargin - peak;
    choice.gainDb = std::min(wanted, allowed);
    choice.missedDb = std::max(0.0, wanted - choice.gainDb);
    return choice;
}

std::vector<KvExtraTag> ReplayGainTags(const KvLoudness& track, const KvLoudness* album, bool opus)
{
    std::vector<KvExtraTag> tags;
    auto add = [&](const char* scope, const KvLoudness& loudness) {
        if (loudness.Silent())
            return;
        if (opus) {
            const long q78 = std::lround(std::clamp((kOpusGainReference - loudness.integrated) * 256.0, -32768.0, 32767.0));
            tags.push_back({std::string("R128_") + scope + "_GAIN", std::to_string(q78)});
            return;
        }
        tags.push_back({std::string("REPLAYGAIN_") + scope + "_GAIN",
                        Format("%+.2f dB", kReplayGainReference - loudness.integrated)});
        tags.push_back({std::string("REPLAYGAIN_") + scope + "_PEAK", Format("%.6f", loudness.truePeak)});
    };
    add("TRACK", track);
    if (album)
        add("ALBUM", *album);
    return tags;
}

std::string DescribeGain(const KvLoudness& loudness, const KvGainChoice& gain, double target)
{
    if (loudness.Silent())
        return "the sound is silent: its loudness cannot be brought to " + Format("%.0f", target) + " LUFS";
    if (gain.missedDb < 0.05)
        return std::string();
    return Format("%.0f", target) + " LUFS missed by " + Format("%.1f", gain.missedDb) + " LU: the true peak of "
        + Format("%.1f", LinearToDb(loudness.truePeak)) + " dBTP allowed a gain of " + Format("%+.1f", gain.gainDb)
        + " dB under the ceiling of " + Format("%.0f", kTruePeakCeiling) + " dBTP";
}

} // namespace velmora
