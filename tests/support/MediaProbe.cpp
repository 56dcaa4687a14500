#include "support/MediaProbe.h"

#include "support/TempFolder.h"

#include <cstdlib>

namespace velmora::test {

std::string ProbeFormatTag(const std::string& path, const std::string& key)
{
    std::string out;
    RunCommand("ffprobe -v error -show_entries format_tags=" + key + " -of default=nw=1:nk=1 " + ShellQuote(path), &out);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

EbuR128Reading MeasureLoudness(const std::string& path)
{
    std::string out;
    RunCommand("ffmpeg -nostdin -nostats -hide_banner -i " + ShellQuote(path)
                   + " -vn -af ebur128=peak=true -f null - 2>&1 | sed -n '/Summary/,$p'",
               &out);
    EbuR128Reading reading;
    if (const auto at = out.find("I:"); at != std::string::npos)
        reading.integrated = std::atof(out.c_str() + at + 2);
    if (const auto at = out.find("Peak:"); at != std::string::npos)
        reading.truePeak = std::atof(out.c_str() + at + 5);
    return reading;
}

std::string ExtractCover(const std::string& path)
{
    std::string out;
    RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0:v -c copy -f image2 -", &out);
    return out;
}

} // namespace velmora::test
