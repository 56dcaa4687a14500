// Linked into every test program: the environment the tests expect, whether they run
// under ctest, by hand or from a debugger. Values already set by the caller win,
// except the state folder: the programs' work folders of a test run never land in the
// user's own ~/.local/state.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct TestEnvironment
{
    TestEnvironment()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("SDL_AUDIODRIVER", "disk", 0);
        // What a preview plays goes nowhere unless a test captures it into a file of
        // its own (the disk driver's default is a file in the working folder).
        setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-state-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            stateHome = pattern;
            owner = getpid();
            setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
        }
    }
    ~TestEnvironment()
    {
        // Only the process that made it: a forked child that exits must not take it.
        if (stateHome.empty() || getpid() != owner)
            return;
        namespace fs = std::filesystem;
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(stateHome, error); !error && it != fs::recursive_directory_iterator();
             it.increment(error)) {
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(stateHome, error);
    }

    std::string stateHome;
    pid_t owner = 0;
} g_testEnvironment;

} // namespace
