// kvengine: the short-lived engine process that runs one job of the front end.
//
//   kvengine              the job of engine slot 0
//   kvengine --slot=k     the job of engine slot k (its own job block and job files)

#include "common/KvEngineSlot.h"
#include "engine/KvEngineApp.h"

#include <QCoreApplication>
#include <clocale>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[])
{
    // Before Qt sees the arguments: the slot decides which job is ours, and an engine
    // that cannot tell must not touch any.
    const int slot = velmora::ParseEngineSlot(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (slot < 0) {
        std::fprintf(stderr, "usage: kvengine [--slot=k]  (k from 1 to %d)\n", velmora::kKvMaxEngineSlot);
        return 2;
    }
    velmora::SetCurrentEngineSlot(slot);

    QCoreApplication app(argc, argv);
    // Qt switches to the user's locale; every number the engine reads or writes as
    // text is in the C locale, and the system's messages in its log (strerror,
    // FFmpeg's error texts) are in English, so the log reads the same everywhere.
    std::setlocale(LC_NUMERIC, "C");
    std::setlocale(LC_MESSAGES, "C");

    CKvEngineApp engine;
    engine.InitInstance();
    const int code = engine.ExitInstance();
    // The job block is written and unmapped: end now, without running the library
    // clean-ups of a process whose work is done.
    std::fflush(nullptr);
    _exit(code);
}
