// kvengine: the short-lived engine process that runs one job of the front end.

#include "engine/KvEngineApp.h"

#include <QCoreApplication>
#include <clocale>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Qt switches to the user's locale; every number the engine reads or writes as
    // text is in the C locale.
    std::setlocale(LC_NUMERIC, "C");

    CKvEngineApp engine;
    engine.InitInstance();
    const int code = engine.ExitInstance();
    // The job block is written and unmapped: end now, without running the library
    // clean-ups of a process whose work is done.
    std::fflush(nullptr);
    _exit(code);
}
