#pragma once

// Helpers shared by the fuzz targets: a scratch program folder for the readers that
// take a path, and a way to report a broken expectation as a finding.

#include "common/KvProgramFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace velmora::fuzz {

// A program folder of this process with its own work folder (tmp/ and skin/), removed
// at exit. The readers under test find their files in it exactly as in an installed
// program: files the programs write are put where Writable() says.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        // In memory where the system offers it: the readers open their files on every run.
        std::error_code error;
        const bool shm = std::filesystem::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0;
        const std::filesystem::path base = shm ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
        RemoveLeftovers(base);
        const auto root = base / (kPrefix + std::to_string(getpid()));
        std::filesystem::create_directories(root / "tmp");
        std::filesystem::create_directories(root / "skin");
        m_path = root.string() + "/";
        // The work folder lives under the state home; keep it inside the scratch folder.
        setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
        std::string why;
        if (!velmora::EnsureWorkFolder(m_path, &why)) {
            std::fprintf(stderr, "fuzz: no work folder: %s\n", why.c_str());
            std::abort();
        }
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // Where the programs keep the file "tmp/..." or "skin/..." of this folder.
    std::string Writable(std::string_view relative) const { return velmora::WritablePath(m_path, relative); }

private:
    static constexpr const char* kPrefix = "velmora-fuzz-";

    // A run that ended on a finding (abort) leaves its folder; the next run removes
    // the folders of processes that are gone.
    static void RemoveLeftovers(const std::filesystem::path& base)
    {
        std::error_code error;
        const std::string prefix = kPrefix;
        for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) != 0)
                continue;
            const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                std::filesystem::remove_all(entry.path(), error);
        }
    }

    std::string m_path;
};

// One folder for the whole run of a fuzz target.
inline const ScratchFolder& Scratch()
{
    static const ScratchFolder folder;
    return folder;
}

inline void WriteFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A reader broke a promise that holds for every input: stop, so that libFuzzer keeps
// the input as a finding.
[[noreturn]] inline void Broken(const char* what)
{
    std::fprintf(stderr, "broken expectation: %s\n", what);
    std::abort();
}

inline void Expect(bool condition, const char* what)
{
    if (!condition)
        Broken(what);
}

} // namespace velmora::fuzz
