#include "support/TempFolder.h"

#include "common/KvProgramFolder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace velmora::test {

TempFolder::TempFolder(const std::string& prefix)
{
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern + "/";
}

namespace {

void RemoveAll(const std::string& path)
{
    std::error_code ec;
    // Tests may leave read-only files behind; make everything writable first.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

} // namespace

TempFolder::~TempFolder()
{
    RemoveAll(m_path);
    RemoveAll(Work());
    // The shared-memory objects named after the folder (job blocks, slot owner locks).
    const std::string tag = "-" + ProgramFolderHash(m_path) + "-";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().find(tag) != std::string::npos)
            fs::remove(entry.path(), ec);
    }
}

std::string TempFolder::Work() const
{
    return WorkFolderOf(m_path);
}

TempProgramFolder::TempProgramFolder(bool copyBuiltProgram)
    : TempFolder("velmora-prog")
{
    if (copyBuiltProgram) {
        fs::copy(VELMORA_PROGRAM_DIR, Path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        // An old build's program folder may still have one; nothing writes there now.
        fs::remove_all(Path() + "tmp");
    }
    fs::create_directories(Path() + "skin");
    if (!EnsureWorkFolder(Path()))
        throw std::runtime_error("cannot make the work folder " + Work());
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    int status = pclose(pipe);
    if (output)
        *output = text;
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace velmora::test
