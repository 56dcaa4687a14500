#pragma once

// The engine's project reader: fills a CKvEngineProject from "tmp/kvengine.kvmmpj".
//
// ReadProject loads the file through the document layer; when that layer cannot
// load it (an 8-bit file that is not UTF-8, for example) it retries with TinyXML.
// Both paths apply the same defaults, except that the TinyXML path ignores
// "dScaleFactorForPlay" (factor 1) and sizes only overlay lines 0 to 5.
//
// Values the engine cannot work with are not passed on: a "dPlaybackRate" that is
// missing, not finite or below 0.01 reads as 0.01, and any other number that is not
// finite (or, for a float field, beyond the float range) reads as 0. A play scale
// factor that would make a frame side larger than 16384 pixels is ignored (factor 1),
// and pixel sizes and places that come out beyond the int range stop at its edges.

#include "project/KvEngineProject.h"

#include <functional>
#include <string>

struct tagKvProjectReadOptions
{
    std::string programFolder;        // ends with "/": skin/ prefixes of shape paths
    bool bPlayMode = false;           // the job block's bPlayMode
    // The engine's working preset table (ten records); "vensettingIndex" picks one.
    // Without a table the project's option record stays as it is.
    const velmora::tagKvOptionRecord* pPresetTable = nullptr;
    // Called with the chosen record (the engine writes the decoder settings store).
    std::function<void(const velmora::tagKvOptionRecord&)> onPresetSelected;
    // Measures the title picture of a text-line item (width, height); used to place
    // subtitle items. Unset or returning false: the size is unknown.
    std::function<bool(const CKvEngineItem&, int&, int&)> measureTitle;
    // Loading progress (count, total) after each item and each line.
    std::function<void(int, int)> onProgress;
    // Replaces the audio preparation pass that runs last over the loaded model
    // (PrepareAudioTimeline in programFolder when unset).
    std::function<void(CKvEngineProject&)> prepareAudio;
};

// Fills project (which should be freshly constructed or cleared). Returns false when
// the file is missing, cannot be loaded by either reader, or names a preset outside
// 0 to 9.
bool ReadProject(const std::string& path, CKvEngineProject& project, const tagKvProjectReadOptions& options);

namespace velmora {

// The post-load steps, exposed for the player and for tests. ReadProject runs them.

// Appear/disappear fitting of one item (3D action with the project's 3D flag, the
// action block otherwise).
void FitAppearDisappear(CKvEngineItem& item, bool b3D);

// Transition overlap on the main video line: shifts the items that follow a
// transition and moves every second item of a transition chain to the detached list.
void ApplyTransitions(CKvEngineProject& project);

// Snapshot rewind fitting over the main video line, overlay lines 0 to 11 and the
// detached list.
void FitSnapshotRewinds(CKvEngineProject& project);

// Overlay picture-size limits for overlay lines 0 to nLines-1.
void SizeOverlayLines(CKvEngineProject& project, bool bPlayMode, int nLines = 12);

// Source relocation: the path itself when it exists, else RelativeDir + its file
// name when that exists, else the path unchanged.
std::wstring RelocateSource(const std::wstring& source, const std::wstring& relativeDir);

} // namespace velmora
