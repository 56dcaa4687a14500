#include "support/SoundTracks.h"

#include "support/TempFolder.h"

#include <cstring>
#include <filesystem>

namespace velmora::test {

bool MakeTwoTrackFilm(const std::string& path, const std::string& codecs, int germanChannels, double seconds)
{
    const std::string length = std::to_string(seconds);
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:s=64x48:r=25:d=" + length +
        " -f lavfi -i sine=f=" + std::to_string(kEnglishTone) + ":d=" + length +
        " -f lavfi -i sine=f=" + std::to_string(kGermanTone) + ":d=" + length +
        " -map 0:v -map 1:a -map 2:a -ac:a:0 2 -ac:a:1 " + std::to_string(germanChannels) + " -metadata:s:a:0 language=eng"
        " -metadata:s:a:1 language=deu " + codecs + " " + ShellQuote(path);
    return RunCommand(command) == 0 && std::filesystem::exists(path);
}

double ToneFrequency(const std::vector<std::int16_t>& interleaved, int channels, int rate)
{
    if (channels <= 0 || rate <= 0)
        return 0.0;
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    // The middle: clear of a coder's start-up and of a fade at the end.
    const std::size_t first = frames / 5;
    const std::size_t last = frames - frames / 5;
    int crossings = 0;
    std::size_t firstCrossing = 0;
    std::size_t lastCrossing = 0;
    for (std::size_t i = first + 1; i < last; ++i) {
        const std::int16_t before = interleaved[(i - 1) * channels];
        const std::int16_t now = interleaved[i * channels];
        if (before < 0 && now >= 0) {
            if (crossings == 0)
                firstCrossing = i;
            lastCrossing = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return static_cast<double>(crossings - 1) * rate / static_cast<double>(lastCrossing - firstCrossing);
}

double FileToneFrequency(const std::string& path)
{
    std::string raw;
    if (RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0:a:0 -ac 1 -ar 44100 -f s16le -",
                   &raw) != 0)
        return 0.0;
    std::vector<std::int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return ToneFrequency(samples, 1, 44100);
}

} // namespace velmora::test
