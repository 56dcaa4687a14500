#pragma once

// The index of sound tracks already extracted to WAV, "tmp/wavfiles.dat".
//
// Layout (document layer, saved UTF-16 LE with a mark):
//   <WavFiles>
//   	<item source="/full/path/of/source.wmv" wav="/program/tmp/120814321234567.wav"/>
//   </WavFiles>
//
// Written by the front end after each extraction; read by the front end before it
// extracts and by the engine's audio preparation. The first item whose "source" equals
// the wanted path decides. Paths are compared exactly: on Linux two names that differ
// only in case are two different files, and matching them would hand one file the
// other's sound track.
//
// Every function opens, reads or writes and closes the file at once. Nothing is
// thrown; a missing or unreadable index reads as empty.

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace velmora {

// programFolder ends with "/".
std::string WavIndexPath(const std::string& programFolder);

enum class WavIndexState
{
    kNotListed, // no item names the source: it was never extracted
    kPresent,   // the first matching item's WAV exists: use it
    kStale,     // the first matching item's WAV is gone: the source counts as not extracted
};

struct WavIndexLookup
{
    WavIndexState state = WavIndexState::kNotListed;
    std::wstring wav; // the item's "wav" value when listed (present or stale)
};

// The index read once, for a pass that looks up many sources.
class WavIndexView
{
public:
    // Reads the index; a missing or unreadable one holds no items.
    explicit WavIndexView(const std::string& programFolder);

    // The first item whose "source" equals source exactly decides.
    WavIndexLookup Find(std::wstring_view source) const;

private:
    // Source to wav of the first item that names each source; ordered, so a project
    // of many items looks each one up in logarithmic time.
    std::map<std::wstring, std::wstring, std::less<>> m_items;
};

// Looks source up. Later items naming the same source are never consulted, even when
// the first one is stale.
WavIndexLookup LookupWavIndex(const std::string& programFolder, std::wstring_view source);

// After a successful extraction: the first item for source gets its "wav" replaced in
// place (the attribute keeps its position), or a new item with "source" then "wav" is
// appended. Starts a new index when none can be read. Returns whether the save worked.
bool RecordWavExtraction(const std::string& programFolder, std::wstring_view source, std::wstring_view wav);

// After a failed extraction: removes the first item for source when it is stale and
// saves. Returns true when an item was removed and the index saved; false when nothing
// needed changing (the file is then left untouched) or the save failed.
bool ForgetStaleWav(const std::string& programFolder, std::wstring_view source);

// True when path names an existing file (UTF-8 on the way to the system).
bool WavFileExists(std::wstring_view path);

} // namespace velmora
