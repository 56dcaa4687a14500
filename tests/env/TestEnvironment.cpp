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
        // What a preview plays goes nowhere unless a test captures it into a file of
        // its own (the disk driver's default is a file in the working folder).
        setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    }
} g_testEnvironment;

} // namespace
