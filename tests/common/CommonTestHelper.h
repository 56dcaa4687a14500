#pragma once

// The test program doubles as a small helper program for the tests that need a
// second process (or a process of a given name). When the environment variable
// VELMORA_COMMON_HELPER is set, the program runs the helper named by it before
// GoogleTest starts and exits:
//
//   "jobblock-engine"  open the job block of VELMORA_HELPER_FOLDER as the engine does,
//                      print its job fields on one line, write an engine's end of job
//                      back (dPosition 42.5, bEngineClosed 1, bConvertFailed 1,
//                      nState 0) and exit 0; exit 3 when the block cannot be opened.
//   "sleep"            sleep up to 30 seconds.
//   "kill-own-name"    KillProcessByName(own file name) in the default program
//                      folder; print "killed=0" or "killed=1" and exit 0.

#include <string>

namespace velmora::test {

// The path of the running test program.
std::string SelfExecutable();

// Runs the test program (or a copy of it at program) as helper mode with the
// extra environment assignments env ("NAME=value ..."; quoted by the caller); returns
// the exit status (-1 when killed by a signal) and fills output with its stdout.
int RunHelper(const std::string& program, const std::string& mode, const std::string& env, std::string* output);

} // namespace velmora::test
