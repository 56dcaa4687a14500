#include "project/KvAudioPreparation.h"

#include "project/KvEngineProject.h"
#include "project/KvSideFiles.h"
#include "project/KvWavIndex.h"

#include <cmath>

namespace velmora {

bool IsPreparedAudioLine(int nKind)
{
    return (nKind >= 0 && nKind <= 3) || (nKind >= 16 && nKind <= 20) || (nKind >= 34 && nKind <= 39) ||
           nKind == 46 || nKind == 47;
}

namespace {

void PrepareItem(CKvEngineItem& item, bool bCopyTrims, const WavIndexView& index)
{
    if (!item.bHadAudio || item.bDisableAudio)
        return;

    // The sound of a video on the main line, of an overlay and of a detached item
    // follows its picture trims.
    if (bCopyTrims) {
        item.dASelfStartTime = item.dVSelfStartTime;
        item.dASelfEndTime = item.dVSelfEndTime;
    }

    item.dAudioTimelineStart = item.dEditorStartTime;
    item.dAudioTimelineEnd = item.dEditorEndTime;

    // Exact comparison: on Linux a name that differs only in case is another file.
    const WavIndexLookup found = index.Find(item.source, item.nAudioStream);
    if (found.state != WavIndexState::kPresent)
        return;
    item.bUsesExtractedWav = 1;
    item.szExtractedWav = found.wav;
    // The reader guarantees a speed of at least 0.01; a model built otherwise must not
    // turn the delay into an infinite start.
    const double rate = std::isfinite(item.dPlaybackRate) && item.dPlaybackRate >= 0.01 ? item.dPlaybackRate : 0.01;
    // A delay so large that the shifted start is no number any more is not applied.
    const double shifted = item.dAudioTimelineStart + GetWavDelay(found.wav) / rate;
    if (std::isfinite(shifted))
        item.dAudioTimelineStart = shifted;
}

} // namespace

} // namespace velmora

void PrepareAudioTimeline(CKvEngineProject& project, const std::string& programFolder)
{
    using namespace velmora;

    const WavIndexView index(programFolder);
    for (const auto& line : project.Lines()) {
        if (!IsPreparedAudioLine(line->nLineType))
            continue;
        for (const auto& item : line->items) {
            const bool bCopyTrims = line->nLineType == kLineMainVideo || item->overlay.has_value();
            PrepareItem(*item, bCopyTrims, index);
        }
    }
    for (const auto& item : project.detached)
        PrepareItem(*item, true, index);
}
