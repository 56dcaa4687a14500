#pragma once

// The engine's time line in memory: one project record, one line object for every
// line kind 0..47 except 8, and the detached-item list.
//
// Ownership: the project owns its lines, a line owns its items, an item owns its
// sub-records. Items live until the project is destroyed (with the dialog that
// loaded it); the audio mixer's per-item readers live and die with their items.
//
// Threads: the project reader fills the model on the UI thread before any graph is
// built; while the graphs run the model is read-only except for the run-time fields
// of the audio mixer (written only by the mixer's streaming thread).

#include "common/KvOptionRecord.h"
#include "project/KvProjectData.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class CKvFFMpegAudioReader; // media/: the item's audio reader, created by the mixer

// One media item as the engine holds it: the vocabulary of the project file plus the
// links and run-time fields of the time-line player and the audio mixer.
class CKvEngineItem : public tagKvMediaData
{
public:
    // Links on the item's line (or on the detached-item list), set when the item is
    // placed and again after the transition step.
    CKvEngineItem* pPrev = nullptr;
    CKvEngineItem* pNext = nullptr;
    int nPosition = 0; // 0-based position on its line (or on the detached list)

    // Audio preparation (run once after loading) and the audio mixer.
    double dAudioTimelineStart = 0.0;  // time-line start of the item's sound
    double dAudioTimelineEnd = 0.0;    // time-line end of the item's sound
    int bUsesExtractedWav = 0;         // the item reads its extracted WAV, not its source
    std::wstring szExtractedWav;       // that WAV's path when bUsesExtractedWav is set
    // Created by the mixer on first need; the deleter travels with the pointer, so the
    // model needs no media/ header.
    std::shared_ptr<CKvFFMpegAudioReader> pAudioReader;

    // Size of the rendered title picture of a text-line item (0 while unknown).
    int nTitlePictureWidth = 0;
    int nTitlePictureHeight = 0;
};

// One line object. Its kind never changes; the reader fills its values and items.
class CKvEngineLine : public tagKvLineAttributes
{
public:
    explicit CKvEngineLine(int nKind);

    // Appends the item, linking it to the line's last item and setting its position.
    CKvEngineItem* AppendItem(std::unique_ptr<CKvEngineItem> pItem);
    // Re-links every item to its neighbours and renumbers them.
    void Relink();

    // Largest overlay picture size the renderer draws for this line (overlay lines).
    int nOverlayMaxWidth = 0;
    int nOverlayMaxHeight = 0;

    std::vector<std::unique_ptr<CKvEngineItem>> items;
};

// Links the items of a list to their neighbours in list order and numbers them from 0
// (a line's items, or the detached-item list).
void LinkEngineItems(std::vector<std::unique_ptr<CKvEngineItem>>& list);

class CKvEngineProject
{
public:
    // Creates the line objects in the order the dialogs build them: 32, 15, 0, 9, 3,
    // 10, 16/21 .. 20/25, 34/40 .. 39/45, 1, 2, 46, 47, 4, 11, 5, 12, 6, 13,
    // 26/29 .. 28/31, 7, 14, 33.
    CKvEngineProject();
    ~CKvEngineProject();
    CKvEngineProject(const CKvEngineProject&) = delete;
    CKvEngineProject& operator=(const CKvEngineProject&) = delete;

    // The line object of a kind, or nullptr (kind 8, negative, 48 and above).
    CKvEngineLine* FindLine(int nKind) const;
    // Line objects in creation order.
    const std::vector<std::unique_ptr<CKvEngineLine>>& Lines() const { return m_lines; }

    // Drops every item (detached ones included) and resets the project values; the
    // line objects stay.
    void Clear();

    // Project values.
    int b3D = 0;
    int bEnableFog = 0;
    int bEnableLighting = 0;
    int clrFog = 11697996;
    int clrLightAmbient = 8355711;
    int clrLightDiffuse = 16777215;
    std::wstring RelativeDir;        // folder that missing sources are looked for in
    velmora::tagKvOptionRecord option{}; // the active option record ("vensettingIndex")
    int nFrameWidth = 0;             // output frame size
    int nFrameHeight = 0;
    double dScaleFactorForPlay = 1.0; // the factor in use (1 outside play mode)
    int bHasVuMeter = 0;             // some item carries a "vumeter" element
    int nLoadCount = 0;              // loading progress
    int nLoadTotal = 1;

    // Items taken off the main video line by the transition rule, in line order,
    // linked to each other.
    std::vector<std::unique_ptr<CKvEngineItem>> detached;

private:
    std::vector<std::unique_ptr<CKvEngineLine>> m_lines;
    std::array<CKvEngineLine*, velmora::kLineKindCount> m_byKind{};
};
