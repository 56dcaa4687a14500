#include "common/KvMp3Rates.h"

#include <cstdlib>

namespace velmora {

namespace {

int Nearest(const std::vector<int>& legal, int wanted)
{
    // 64-bit distances: a stored value near INT_MIN must not overflow the subtraction.
    const auto distance = [wanted](int value) { return std::llabs(static_cast<long long>(value) - wanted); };
    int best = legal.front();
    for (int value : legal) {
        if (distance(value) < distance(best))
            best = value;
    }
    return best;
}

} // namespace

const std::vector<int>& Mp3SampleRates()
{
    static const std::vector<int> rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return rates;
}

const std::vector<int>& Mp3Bitrates(int sampleRate)
{
    static const std::vector<int> mpeg1 = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const std::vector<int> mpeg2 = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const std::vector<int> mpeg25 = {8, 16, 24, 32, 40, 48, 56, 64};
    const int legal = LegalMp3SampleRate(sampleRate);
    if (legal >= 32000)
        return mpeg1;
    if (legal >= 16000)
        return mpeg2;
    return mpeg25;
}

int LegalMp3SampleRate(int sampleRate)
{
    if (sampleRate <= 0)
        return 44100;
    return Nearest(Mp3SampleRates(), sampleRate);
}

int LegalMp3Bitrate(int kbps, int sampleRate)
{
    return Nearest(Mp3Bitrates(sampleRate), kbps);
}

} // namespace velmora
