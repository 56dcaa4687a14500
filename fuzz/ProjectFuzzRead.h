#pragma once

// The project reader as the engine runs it, for the two project fuzz targets: both
// modes, a preset table with the extreme sizes an option file can put in it, and a
// title measure, so that every computed size and place is reached.

#include "FuzzSupport.h"

#include "project/KvProjectReader.h"

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>

namespace velmora::fuzz {

inline void ReadProjectFile(std::string_view fileBytes)
{
    const std::string path = Scratch().Path() + "tmp/kvengine.kvmmpj";
    WriteFile(path, fileBytes);

    // The option file is read over the chosen entry without checks: any int can stand
    // in the frame size.
    static const KvPresetTable table = [] {
        KvPresetTable presets = MakeEnginePresetTable();
        presets[7].nWidth = INT_MAX;
        presets[7].nHeight = INT_MIN;
        presets[8].nWidth = 1;
        presets[8].nHeight = -1;
        presets[9].nOverlayQuality = INT_MIN;
        return presets;
    }();

    for (bool bPlayMode : {false, true}) {
        CKvEngineProject project;
        tagKvProjectReadOptions options;
        options.programFolder = Scratch().Path();
        options.bPlayMode = bPlayMode;
        options.pPresetTable = table.data();
        options.measureTitle = [](const CKvEngineItem& item, int& width, int& height) {
            const std::size_t length = item.title ? item.title->text.size() : 0;
            width = static_cast<int>(std::min<std::size_t>(length * 4096, INT_MAX));
            height = item.title ? std::max(1, item.title->TitlelfHeight) : 1;
            return true;
        };
        if (ReadProject(path, project, options)) {
            Expect(project.nLoadTotal >= 1, "a load total of at least 1");
            Expect(project.nLoadCount <= project.nLoadTotal, "progress never passes its total");
            for (const auto& line : project.Lines()) {
                for (const auto& item : line->items)
                    Expect(item->dPlaybackRate >= 0.01, "every speed can be divided by");
            }
        }
    }
}

} // namespace velmora::fuzz
