// Linked into every test program: the environment the tests expect, whether they run
// under ctest, by hand or from a debugger. Values already set by the caller win.
#include <cstdlib>

namespace {

struct TestEnvironment
{
    TestEnvironment()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("SDL_AUDIODRIVER", "disk", 0);
    }
} g_testEnvironment;

} // namespace
