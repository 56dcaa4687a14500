#include "media/MediaTestHelper.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "support/TempFolder.h"

namespace velmora::test {

namespace {
constexpr int64_t kRampPeriod = 30011;
}

namespace {

bool RunFFmpeg(const std::string& arguments, const std::string& output)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " " +
                                ShellQuote(output) + " 2>&1";
    std::string text;
    const int status = RunCommand(command, &text);
    if (status != 0)
        std::fprintf(stderr, "ffmpeg failed (%d): %s\n%s\n", status, command.c_str(), text.c_str());
    return status == 0 && std::filesystem::exists(output);
}

std::string CacheFolder()
{
    return std::string(VELMORA_PROGRAM_DIR) + "../test-media-cache/";
}

} // namespace

bool MakeMedia(const std::string& arguments, const std::string& output, bool cache)
{
    namespace fs = std::filesystem;
    if (!cache)
        return RunFFmpeg(arguments, output);

    uint64_t hash = 0xcbf29ce484222325ull;
    const std::string extension = fs::path(output).extension().string();
    for (unsigned char c : arguments + extension) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
    std::error_code ec;
    fs::create_directories(CacheFolder(), ec);
    const std::string cached = CacheFolder() + key + extension;
    if (!fs::exists(cached)) {
        // Parallel test processes may make the same file: each writes its own
        // and renames it into place whole.
        const std::string partial = CacheFolder() + key + "-" + std::to_string(::getpid()) + extension;
        if (!RunFFmpeg(arguments, partial))
            return false;
        fs::rename(partial, cached, ec);
        if (ec)
            return false;
    }
    fs::copy_file(cached, output, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

int16_t RampLeft(int64_t n)
{
    return static_cast<int16_t>(n % kRampPeriod - 15000);
}

int16_t RampRight(int64_t n)
{
    return static_cast<int16_t>(15000 - (n * 7) % kRampPeriod);
}

std::string RampInput(int rate, double seconds)
{
    return "-f lavfi -i 'aevalsrc=exprs=(mod(n\\,30011)-15000)/32768|(15000-mod(n*7\\,30011))/32768"
           ":c=stereo:s=" + std::to_string(rate) + ":d=" + std::to_string(seconds) + "'";
}

std::vector<int16_t> DecodeWithTool(const std::string& path, int rate)
{
    TempFolder folder("velmora-decode");
    const std::string out = folder.Path() + "pcm.raw";
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -i " + ShellQuote(path) +
                                " -vn -ac 2 -ar " + std::to_string(rate) + " -f s16le " + ShellQuote(out);
    std::vector<int16_t> samples;
    if (RunCommand(command) != 0)
        return samples;
    const std::string bytes = ReadFileBytes(out);
    samples.resize(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::string ProbeStreamEntry(const std::string& path, const std::string& entry)
{
    std::string text;
    RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                   " -of default=noprint_wrappers=1:nokey=1 " + ShellQuote(path),
               &text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace velmora::test
