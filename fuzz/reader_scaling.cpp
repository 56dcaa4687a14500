// Reader scaling benchmark: feeds each reader of outside input a crafted file at two
// sizes and prints the times. A reader that is linear in its input takes about twice
// as long for the double size; one that is quadratic takes about four times as long.
//
//   build/fuzz/reader_scaling [scale]     (scale multiplies every size; default 1)
//
// Run it in an optimised build without sanitizers (scripts/build.sh, then
// cmake --build build --target reader_scaling); CPU time is printed, since wall time
// on a shared machine says little.

#include "common/KvWmProfile.h"
#include "project/KvProjectReader.h"
#include "project/KvUiColors.h"
#include "project/KvWavIndex.h"
#include "xml/KvXmlNode.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string g_folder; // a scratch program folder with tmp/ and skin/

double CpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs one case in a child process, so that a crash (a stack overflow, for one) is
// reported as such instead of ending the benchmark. Prints the CPU seconds.
void Measure(const char* label, std::size_t n, const std::function<void()>& run)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        const double start = CpuSeconds();
        run();
        std::printf("  %-44s n=%-9zu %8.3f s\n", label, n, CpuSeconds() - start);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        std::printf("  %-44s n=%-9zu killed by signal %d\n", label, n, WTERMSIG(status));
}

// Writes a project file into the scratch folder and times the engine's reading of it.
void MeasureProject(const char* label, std::size_t n, const std::string& text)
{
    const std::string path = g_folder + "tmp/kvengine.kvmmpj";
    WriteFile(path, text);
    Measure(label, n, [&] {
        CKvEngineProject project;
        tagKvProjectReadOptions options;
        options.programFolder = g_folder;
        ReadProject(path, project, options);
    });
}

std::string ManyAttributes(std::size_t n, const std::string& prefix)
{
    std::string text = "<" + prefix;
    for (std::size_t i = 0; i < n; ++i)
        text += " a" + std::to_string(i) + "=\"1\"";
    return text + "/>";
}

void DocumentLayerAttributes(std::size_t n)
{
    const std::string text = "<?xml version=\"1.0\"?>\r\n" + ManyAttributes(n, "e");
    Measure("document layer: attributes of one element", n, [&] {
        CKvXmlNode document;
        if (!document.LoadFromBuffer(text))
            std::printf("  (refused)\n");
    });
}

void WavIndexItems(std::size_t n)
{
    std::string text = "<WavFiles>\r\n";
    for (std::size_t i = 0; i < n; ++i)
        text += "\t<item source=\"/s/" + std::to_string(i) + "\" wav=\"/w/" + std::to_string(i) + ".wav\"/>\r\n";
    text += "</WavFiles>\r\n";
    WriteFile(velmora::WavIndexPath(g_folder), text);
    Measure("WAV index: record an extraction after n items", n,
            [&] { velmora::RecordWavExtraction(g_folder, L"/s/absent", L"/w/new.wav"); });
}

void ProjectItemsAgainstWavIndex(std::size_t n)
{
    std::string index = "<WavFiles>\r\n";
    std::string lines = "<line>\r\n";
    for (std::size_t i = 0; i < n; ++i) {
        index += "\t<item source=\"/s/" + std::to_string(i) + "\" wav=\"/w/" + std::to_string(i) + ".wav\"/>\r\n";
        lines += "<item eMediaType=\"1\" eMediaTypeLine=\"1\" bHadAudio=\"1\"><source>/s/x" + std::to_string(i)
            + "</source></item>\r\n";
    }
    WriteFile(velmora::WavIndexPath(g_folder), index + "</WavFiles>\r\n");
    MeasureProject("project items looked up in a WAV index", n,
                   "<project vensettingIndex=\"4\">\r\n" + lines + "</line>\r\n</project>\r\n");
}

void FallbackAttributes(std::size_t n)
{
    // A Latin-1 byte makes the document layer refuse the file, so TinyXML reads it.
    MeasureProject("project fallback: attributes of one element", n,
                   "<project vensettingIndex=\"4\" RelativeDir=\"\xE9\"><line>" + ManyAttributes(n, "item") + "</line></project>");
}

void FallbackNesting(std::size_t n)
{
    std::string text = "<project vensettingIndex=\"4\" RelativeDir=\"\xE9\">";
    for (std::size_t i = 0; i < n; ++i)
        text += "<a>";
    MeasureProject("project fallback: nesting depth", n, text);
}

void ColourSchemeNesting(std::size_t n)
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
        text += "<a>";
    const std::string path = g_folder + "skin/UIColors.uic";
    WriteFile(path, text);
    Measure("colour scheme: nesting depth", n, [&] {
        tagKvUiColors colors;
        LoadUiColors(path, colors);
    });
}

// Profiles made of one stream description repeated: unclosed ones were each searched
// to the end of the file for their attributes, closed ones without a wave format for
// one.
void ProfileStreamConfigs(std::size_t n, const char* label, const std::string& piece)
{
    std::string text = "<profile>";
    while (text.size() < n)
        text += piece;
    Measure(label, text.size(), [&] {
        velmora::WmProfileStream stream;
        velmora::ParseWmProfile(text, stream);
    });
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t scale = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("velmora-scaling-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "tmp");
    std::filesystem::create_directories(folder / "skin");
    g_folder = folder.string() + "/";

    for (std::size_t k : {1, 2}) {
        const std::size_t n = k * scale;
        DocumentLayerAttributes(40000 * n);
        WavIndexItems(40000 * n);
        ProjectItemsAgainstWavIndex(5000 * n);
        FallbackAttributes(20000 * n);
        FallbackNesting(100000 * n);
        ColourSchemeNesting(100000 * n);
        ProfileStreamConfigs(1500000 * n, "profile: unclosed stream descriptions (bytes)",
                             "<streamconfig majortype=\"{73647561-0000-0010-8000-00AA00389B71}\" ");
        ProfileStreamConfigs(1500000 * n, "profile: descriptions without format (bytes)", "<streamconfig>");
    }
    std::filesystem::remove_all(folder);
    return 0;
}
