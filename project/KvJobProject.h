#pragma once

// The front end's job project: one line of kind 1 with one item per media-list row.

#include "project/KvProjectData.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The cells of one media-list row that a job item is built from, as the list holds
// them (text). Numbers that do not parse read as 0.
struct tagKvJobRow
{
    std::wstring file;       // full path of the source
    double duration = 0.0;   // seconds the source holds
    double start = 0.0;      // in point
    double end = 0.0;        // out point
    double syncAudio = 0.0;  // "dAudioDelay"
    double volume = 1.0;     // "dVoiceScale"
    double speed = 1.0;      // "dPlaybackRate"
    bool hasAudio = true;
    int sourceWidth = 0;
    int sourceHeight = 0;
    int audioStream = -1;    // the chosen sound track's stream index; -1: the first
    // A track of a split file: its tags in place of the source's, and start and end
    // kept to the last digit (tagKvItemTrack).
    std::optional<tagKvItemTrack> track;
    // The output normalised or tagged for its loudness (tagKvItemLoudness); none: as today.
    std::optional<tagKvItemLoudness> loudness;
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
