#pragma once

// What the queue tells the user about rows that failed: a short reason per row in
// words a user understands (the engine's own sentence stays in the row's tip), and
// the one summary after a run, with the rows grouped by reason. No widgets.

#include "common/KvJobFailure.h"

#include <QString>

#include <utility>
#include <vector>

namespace velmora {

// (file path, short reason) of a failed row.
using KvQueueFailure = std::pair<QString, QString>;

// A row that was converted only in part: its source ends before its header says.
struct KvQueueShort
{
    int index = -1;             // in the run's rows
    QString file;               // the source
    QString reason;             // ShortOutputReason
    double sourceSeconds = 0.0; // where the source's sound really ends
};

// "the source ends at 6.21 s; its header says 60.03 s"
QString ShortOutputReason(double sourceEnd, double declared);

// The short reasons the queue gives.
enum class KvFailure {
    NothingToConvert,   // End is not after Start
    ProfileNotSaved,    // the Windows Media settings file
    JobFilesNotWritten, // the job files in the work folder
    PathTooLong,
    EngineNotStarted,
    EngineStopped,      // the engine ended before it finished
    ConversionFailed,   // the engine said it failed, for a reason not known here
    NoOutput,
    DiskFull,
    FolderNotWritable,
    NotDecodable,       // not one frame of the sound track decodes
    OutputUnplayable,   // the written file does not play back in full
    SourceUnreadable,
    NoSoundInTrim,      // the source's sound ends before Start
    SettingsRefused,
};
QString FailureReason(KvFailure failure);

// The short reason for the failure code an engine left in its job block (None, from
// an engine too old to give one, reads as "the conversion failed").
QString EngineFailureReason(KvJobFailure failure);

// The message after a run with failures: how many rows failed, then one group per
// reason (in the order the reasons first came up) listing the file names, one a
// line; the rows converted only in part under a heading of their own. Empty when
// nothing failed and nothing was short.
QString FailureSummary(const std::vector<KvQueueFailure>& failures, const std::vector<KvQueueShort>& shortened = {});

} // namespace velmora
