#include "CommonTestHelper.h"

#include "common/KvJobBlockMapping.h"
#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "support/TempFolder.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace velmora::test {

namespace {

int JobBlockEngine()
{
    const char* folder = std::getenv("VELMORA_HELPER_FOLDER");
    if (!folder)
        return 2;
    CKvJobBlockView view;
    if (!view.Open(folder)) {
        std::printf("open failed errno=%d\n", view.Error());
        return 3;
    }
    tagKvJobBlock& block = *view.Block();
    std::printf("preset=%d state=%d start=%d play=%d position=%.17g wnd=%u output=%s\n",
        block.nPreset, LoadAcquire(block.nState), LoadAcquire(block.bStartConvert), block.bPlayMode,
        LoadAcquire(block.dPosition), block.hPreviewWnd, GetJobPathUtf8(block.szOutputFile).c_str());
    StoreRelease(block.dPosition, 42.5);
    StoreRelease(block.bEngineClosed, 1);
    StoreRelease(block.bConvertFailed, 1);
    StoreRelease(block.nState, kKvJobIdle);
    return 0;
}

int KillOwnName()
{
    std::string self = SelfExecutable();
    std::string name = self.substr(self.rfind('/') + 1);
    bool killed = KillProcessByName(name);
    std::printf("killed=%d\n", killed ? 1 : 0);
    return 0;
}

// Runs before main() when the helper variable is set; never returns then.
struct HelperDispatch
{
    HelperDispatch()
    {
        const char* mode = std::getenv("VELMORA_COMMON_HELPER");
        if (!mode)
            return;
        int status = 2;
        if (std::strcmp(mode, "jobblock-engine") == 0)
            status = JobBlockEngine();
        else if (std::strcmp(mode, "sleep") == 0) {
            sleep(30);
            status = 0;
        } else if (std::strcmp(mode, "kill-own-name") == 0)
            status = KillOwnName();
        std::fflush(stdout);
        _exit(status);
    }
} g_helperDispatch;

} // namespace

std::string SelfExecutable()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

int RunHelper(const std::string& program, const std::string& mode, const std::string& env, std::string* output)
{
    return RunCommand("VELMORA_COMMON_HELPER=" + mode + " " + env + " " + ShellQuote(program), output);
}

} // namespace velmora::test
