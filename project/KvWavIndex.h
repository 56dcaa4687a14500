#pragma once

// The index of sound tracks already extracted to WAV, "tmp/wavfiles.dat".
//
// Layout (document layer, saved UTF-16 LE with a mark):
//   <WavFiles>
//   	<item source="/full/path/of/source.wmv" wav="/program/tmp/120814321234567.wav"/>
//   	<item source="/full/path/of/source.wmv" wav="/program/tmp/120814321239876.wav" nAudioStream="2"/>
//   </WavFiles>
//
// An item without "nAudioStream" holds the source's first sound track (as every index
// written before tracks could be chosen); one with it holds the sound track of that
// stream index, so each chosen track of a source has a WAV of its own.
//
// Written by the front end after each extraction; read by the front end before it
// extracts and by the engine's audio preparation. The first item whose "source" equals
// the wanted path and whose track is the wanted one decides. Paths are compared exactly: on Linux two names that differ
// only in case are two different files, and matching them would hand one file the
// other's sound track.
//
// Every function opens, reads or writes and closes the file at once. Nothing is
// thrown; a missing or unreadable index reads as empty.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

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

    // The first item whose "source" equals source exactly and that holds the sound
    // track audioStream (-1: the first) decides.
    WavIndexLookup Find(std::wstring_view source, int audioStream = -1) const;

private:
    // (source, sound track) to the wav of the first item that names them; ordered, so
    // a project of many items looks each one up in logarithmic time.
    using Key = std::pair<std::wstring, int>;
    std::map<Key, std::wstring> m_items;
};

// Looks the sound track audioStream (-1: the first) of source up. Later items naming
// the same source and track are never consulted, even when the first one is stale.
WavIndexLookup LookupWavIndex(const std::string& programFolder, std::wstring_view source, int audioStream = -1);

// After a successful extraction: the first item for source and track gets its "wav"
// replaced in place (the attribute keeps its position), or a new item with "source",
// "wav" and, for a track other than the first, "nAudioStream" is appended. Starts a
// new index when none can be read. Returns whether the save worked.
bool RecordWavExtraction(const std::string& programFolder, std::wstring_view source, std::wstring_view wav,
                         int audioStream = -1);

// After a failed extraction: removes the first item for source and track when it is
// stale and saves. Returns true when an item was removed and the index saved; false
// when nothing needed changing (the file is then left untouched) or the save failed.
bool ForgetStaleWav(const std::string& programFolder, std::wstring_view source, int audioStream = -1);

// True when path names an existing file (UTF-8 on the way to the system).
bool WavFileExists(std::wstring_view path);

} // namespace velmora
