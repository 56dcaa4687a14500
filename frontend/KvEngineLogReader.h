#pragma once

// Reading back why an engine run failed. The engine has no window: it writes one
// line per failure into its log (see engine/KvEngineLog.h), and the front end shows
// the last line a run added.

#include <QString>

#include <string>

namespace velmora {

// The log's size now (0 when there is none): where the lines of a run about to start
// begin.
qint64 EngineLogSize(const std::string& logPath);

// The last line written to the log after offset, without its time stamp and program
// name; empty when the run wrote nothing. An offset beyond the end (the log was
// emptied) reads the whole log.
QString EngineLogReason(const std::string& logPath, qint64 offset);

} // namespace velmora
