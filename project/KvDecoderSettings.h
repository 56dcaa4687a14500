#pragma once

// The decoder settings store, "skin/decoder.xml": the settings of the source video
// decoder that both programs keep in step with the current option record.
//
//   <default flip="0" isResize="0" resizeAscpect="0" resizeDx="864" resizeDy="480" isDeinterlace="1"/>
//
// It behaves like a small key store: each writer sets only its own values and keeps
// the others, and the attributes are always written in the order above ("isDeinterlace"
// only once the settings dialog has written it). "resizeAscpect" is spelt as the
// decoder spells it. Document layer, saved UTF-16 LE with a mark.

#include "common/KvOptionRecord.h"

#include <optional>
#include <string>

namespace velmora {

struct DecoderSettings
{
    std::optional<int> flip;
    std::optional<int> isResize;
    std::optional<int> resizeAscpect;
    std::optional<int> resizeDx;
    std::optional<int> resizeDy;
    std::optional<int> isDeinterlace;
};

// Where the store is written: the work folder's copy (WritablePath). Reads take the
// installed copy while the work folder has none.
std::string DecoderSettingsPath(const std::string& programFolder);

// Reads the store; values that are missing (or the whole file) stay empty.
DecoderSettings ReadDecoderSettings(const std::string& programFolder);

// Sets "flip", "isResize", "resizeAscpect" (always 0), "resizeDx" and "resizeDy",
// keeping a stored "isDeinterlace". Returns whether the save worked.
bool WriteDecoderResize(const std::string& programFolder, int flip, int isResize, int resizeDx, int resizeDy);

// The engine's write after it reads the option file or loads a project: "flip" from
// bFlipVideo, "isResize" from bForceResize, the size from nWidth x nHeight.
bool WriteDecoderSettings(const std::string& programFolder, const tagKvOptionRecord& record);

// The settings dialog's deinterlacing switch; keeps the other values.
bool WriteDecoderDeinterlace(const std::string& programFolder, int isDeinterlace);

} // namespace velmora
