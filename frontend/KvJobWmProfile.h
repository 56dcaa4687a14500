#pragma once

// The Windows Media side of a job: the initial WMA choice of a new session and the
// profile file "tmp/wmv.prx" that the engine's WMA output loads.

#include "common/KvOptionRecord.h"

#include <QString>

#include <string>

namespace velmora {

class KvFrontEndState;

// The choice made when the main window opens: output type WMA, the codec named
// "Windows Media Audio 9.2" (else the last one offered), and its first constant
// bit-rate format at "128 kbps" that is neither VBR nor 5.1.
void ApplyInitialWindowsMediaChoice(tagKvOptionRecord& record);

// The language tag of the system's locale in the profile's form ("en-us"); "en-us"
// when the locale names none.
std::string ProfileLanguageTag();

// Writes the profile for the current record to path when its output type is 7 or 8
// (WMA, WMV) and returns 1, or 0 when the codec or format is unknown or the file
// cannot be written (failure, if given, then reads "Add Audio Stream To Profile
// Fialed" for a format the profile layer does not know, or names the file). Every
// other output type needs no profile: 1, nothing written.
int WriteJobWmProfile(const KvFrontEndState& state, const std::string& path, QString* failure = nullptr);

} // namespace velmora
