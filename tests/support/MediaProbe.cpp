#include "support/MediaProbe.h"

#include "support/TempFolder.h"

namespace velmora::test {

std::string ProbeFormatTag(const std::string& path, const std::string& key)
{
    std::string out;
    RunCommand("ffprobe -v error -show_entries format_tags=" + key + " -of default=nw=1:nk=1 " + ShellQuote(path), &out);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string ExtractCover(const std::string& path)
{
    std::string out;
    RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0:v -c copy -f image2 -", &out);
    return out;
}

} // namespace velmora::test
