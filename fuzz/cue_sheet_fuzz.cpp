// CUE sheets on any bytes, in any of the encodings they come in: what reads as a
// sheet has tracks with a FILE each, in time order within a file, and every text is
// valid UTF-8.

#include "media/KvCueSheet.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool Utf8(const std::string& text)
{
    // Round trip through the converter: valid UTF-8 comes back as it went in (after a
    // letter, so a leading byte-order mark in a name is not taken for the sheet's).
    return velmora::CueTextToUtf8("x" + text) == "x" + text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace velmora;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    KvCueSheet sheet;
    if (!ParseCueSheet(bytes, sheet))
        return 0;
    if (sheet.tracks.empty() || !Utf8(sheet.title) || !Utf8(sheet.performer))
        std::abort();
    for (size_t i = 0; i < sheet.tracks.size(); ++i) {
        const KvCueTrack& track = sheet.tracks[i];
        if (track.file.empty() || track.start < 0.0 || !Utf8(track.title) || !Utf8(track.file))
            std::abort();
        if (track.end >= 0.0 && !(track.end > track.start))
            std::abort();
        if (i + 1 < sheet.tracks.size() && sheet.tracks[i + 1].file == track.file && track.end != sheet.tracks[i + 1].start)
            std::abort();
    }
    return 0;
}
