#pragma once

// The audio preparation pass: run once by the project reader after the whole project
// is in memory, before any graph is built. It sets the run-time fields the audio mixer
// positions every item by.
//
// For every sounding item (bHadAudio set, bDisableAudio clear) of the lines that can
// carry sound (0, 1, 2, 3, 16..20, 34..39, 46, 47) and of the detached-item list:
//   - items of the main video line, items with overlay settings and detached items take
//     their sound trims from their picture trims;
//   - dAudioTimelineStart/End start as dEditorStartTime/EndTime;
//   - when "tmp/wavfiles.dat" lists the source with a WAV that still exists, the item
//     reads that WAV (bUsesExtractedWav, szExtractedWav) and its sound starts later by
//     the WAV's delay file value divided by the item's speed.
//
// It touches only the model, the WAV index and the WAV delay files (both read-only).

#include <string>

class CKvEngineProject;

// programFolder ends with "/".
void PrepareAudioTimeline(CKvEngineProject& project, const std::string& programFolder);

namespace velmora {

// True for the line kinds whose items the preparation pass considers.
bool IsPreparedAudioLine(int nKind);

} // namespace velmora
