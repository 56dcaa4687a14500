#pragma once

// The project reader as the engine runs it, for the two project fuzz targets: both
// modes, a preset table with the extreme sizes an option file can put in it, and a
// title measure, so that every computed size and place is reached.

#include "FuzzSupport.h"

#include "project/KvProjectReader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <string_view>

namespace velmora::fuzz {

// Two sources already extracted to WAV, one with an ordinary delay and one with the
// largest a delay file can give, so that the audio preparation shifts items too.
inline void WriteExtractedSources()
{
    const std::string tmp = Scratch().Path() + "tmp/";
    WriteFile(tmp + "wavfiles.dat", "<WavFiles><item source=\"/media/a.mp4\" wav=\"" + tmp + "a.wav\"/>"
                                    "<item source=\"/media/b.mp4\" wav=\"" + tmp + "b.wav\"/></WavFiles>");
    WriteFile(tmp + "a.wav", "RIFF");
    WriteFile(tmp + "b.wav", "RIFF");
    WriteFile(tmp + "a.wav.xml", "<AudioData dDelay=\"2.5\"/>");
    WriteFile(tmp + "b.wav.xml", "<AudioData dDelay=\"1.7e308\"/>");
}

// The times the audio mixer and the conversion work with.
inline bool TimesAreNumbers(const CKvEngineItem& item)
{
    for (double value : {item.dEditorStartTime, item.dEditorEndTime, item.dAudioTimelineStart, item.dAudioTimelineEnd,
                         item.dASelfStartTime, item.dASelfEndTime, item.dVSelfStartTime, item.dVSelfEndTime,
                         item.dPlaybackRate, item.dVoiceScale, item.dAudioDelay, item.dAudioFadeInDuration,
                         item.dAudioFadeOutDuration, item.dEffectDuration}) {
        if (!std::isfinite(value))
            return false;
    }
    return true;
}

inline void ReadProjectFile(std::string_view fileBytes)
{
    static const bool prepared = (WriteExtractedSources(), true);
    (void)prepared;
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
                for (const auto& item : line->items) {
                    Expect(item->dPlaybackRate >= 0.01, "every speed can be divided by");
                    Expect(TimesAreNumbers(*item), "every time on the line is a number");
                }
            }
            for (const auto& item : project.detached)
                Expect(TimesAreNumbers(*item), "every detached time is a number");
        }
    }
}

} // namespace velmora::fuzz
