#pragma once

// The front end's job project: one line of kind 1 with one item per media-list row.

#include "project/KvProjectData.h"

#include <memory>
#include <string>
#include <vector>

// The cells of one media-list row that a job item is built from, as the list holds
// them (text). Numbers that do not parse read as 0.
struct tagKvJobRow
{
    std::wstring file;        // column 0: full path of the source
    std::wstring duration;    // column 2
    std::wstring start;       // column 3: in point
    std::wstring end;         // column 4: out point
    std::wstring syncAudio;   // column 5: "dAudioDelay"
    std::wstring volume;      // column 6: "dVoiceScale"
    std::wstring speed;       // column 7: "dPlaybackRate"
    std::wstring hasAudio;    // column 15
    std::wstring sourceWidth; // column 16
    std::wstring sourceHeight; // column 17
    int audioStream = -1;      // the chosen sound track's stream index; -1: the first
};

// A project with one line of kind 1 holding one item per row, in row order. Returns
// nullptr when rows is empty.
std::unique_ptr<tagKvProjectData> BuildJobProject(const std::vector<tagKvJobRow>& rows);

// The largest "dEditorEndTime" of the items on the line of kind 1; 0 when none.
double GetAudioLineDuration(const tagKvProjectData* project);

// Fits the sound fades of an item with sound into its time-line length.
void FitAudioFades(tagKvMediaData& item);

// Frees the project, line by line from the last and each line's items from the last,
// deleting each item's temporary pictures in programFolder + "tmp/".
void FreeProject(std::unique_ptr<tagKvProjectData>& project, const std::string& programFolder);
