#pragma once

// Why an engine job failed, as a code both programs agree on. The engine writes it
// into the job block (nFailureCode) next to bConvertFailed; the front end turns it into
// its own words. A code never depends on the language the engine runs in, so the same
// failure reads the same everywhere, whatever the system's messages say.

#include <cstdint>
#include <string_view>

namespace velmora {

enum class KvJobFailure : std::int32_t {
    None = 0,              // no failure, or an engine too old to say
    DiskFull = 1,          // no room left on the target's file system (or over quota)
    FolderNotWritable = 2, // the target folder refuses the output or its rename
    SourceUnreadable = 3,  // a source is gone, unreadable, or not media at all
    NotDecodable = 4,      // a source's sound track gives not one decodable frame
    SourceEndedEarly = 5,  // the sources hold no sound within the time line
    SettingsRefused = 6,   // the job's settings are missing or the encoder refuses them
    Stopped = 7,           // the engine was told to stop before the job was done
    Internal = 8,          // anything else the engine could not do
    OutputUnplayable = 9,  // the written file does not decode back in full
};

// The failure a system error number stands for when writing the output: ENOSPC,
// EDQUOT and EFBIG are a full disk, EACCES, EPERM and EROFS a folder that cannot be
// written; anything else is `otherwise`. Negative numbers (FFmpeg's AVERROR) count as
// their positive errno.
KvJobFailure FailureOfOutputError(int error, KvJobFailure otherwise = KvJobFailure::Internal);

// The code as the job block carries it; an unknown value reads as Internal, none as None.
KvJobFailure JobFailureFromCode(std::int32_t code);

// A fixed name for the log ("disk-full", "not-decodable", ...), the same in every locale.
std::string_view JobFailureName(KvJobFailure failure);

} // namespace velmora
