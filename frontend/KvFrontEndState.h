#pragma once

// The front end's process-wide output state: the ten preset records in two copies
// (the built-in defaults, never changed after start-up, and the working copy the
// settings dialog edits), the current record, the current output size, the H.264
// encoder choices and the folders every front-end file name is built from.
//
// Start-up fills it once (Reset, then LoadH264); the main window and the settings
// dialog read and edit it on the GUI thread only. Nothing here is saved between
// runs except the H.264 choices ("skin/h264.dat") and the front end's own choices that
// are no part of the option record ("skin/frontend.ini", an ini file of the work
// folder: how many rows the Render queue converts at once and how it names the
// outputs): every start begins from the defaults, with WMA as the output type once the
// main window opens.

#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "common/KvOutputNamePattern.h"
#include "common/KvProgramFolder.h"
#include "project/KvSideFiles.h"

#include <string>

namespace velmora {

class KvFrontEndState
{
public:
    // The one instance of the process.
    static KvFrontEndState& Instance();

    // Back to the start-up values: both tables from MakeFrontEndPresetTable, working
    // record 4 current, output size 856 x 480, H.264 defaults (profile 0, P 6, B 1).
    // programFolder ends in "/" (one is appended when missing).
    void Reset(const std::string& programFolder);

    // Program folder with a trailing "/", and its "tmp/" folder.
    const std::string& ProgramFolder() const { return m_programFolder; }
    std::string TmpFolder() const { return ProgramPath(m_programFolder, "tmp/"); }
    // Where to read relative, e.g. Path("tmp/option.dat") (ProgramPath).
    std::string Path(const std::string& relative) const { return ProgramPath(m_programFolder, relative); }
    // Where to write relative (WritablePath).
    std::string WritablePath(const std::string& relative) const { return velmora::WritablePath(m_programFolder, relative); }

    const KvPresetTable& DefaultPresets() const { return m_defaults; }
    KvPresetTable& WorkingPresets() { return m_working; }
    const KvPresetTable& WorkingPresets() const { return m_working; }

    // Index 0..9 into the working table; SetCurrentPreset ignores other values.
    int CurrentPresetIndex() const { return m_current; }
    void SetCurrentPreset(int index);
    // The current working record, the one every job writes as "tmp/option.dat".
    tagKvOptionRecord& CurrentRecord() { return m_working[static_cast<size_t>(m_current)]; }
    const tagKvOptionRecord& CurrentRecord() const { return m_working[static_cast<size_t>(m_current)]; }

    // The current output picture size (856 x 480 at start; the settings dialog sets it
    // from the record on OK).
    int OutputWidth() const { return m_outputWidth; }
    int OutputHeight() const { return m_outputHeight; }
    void SetOutputSize(int width, int height);

    // H.264 encoder choices, kept in "skin/h264.dat".
    tagKvH264Settings& H264() { return m_h264; }
    const tagKvH264Settings& H264() const { return m_h264; }
    // Reads "skin/h264.dat" over the current values (missing file or attributes keep
    // them). Returns whether the file was read.
    bool LoadH264();
    // Writes the current values to "skin/h264.dat".
    bool SaveH264() const;

    // Rows the Render queue converts at once, 1..kMaxParallelConversions; until the
    // user chooses, the number of processor cores.
    static constexpr int kMaxParallelConversions = 64;
    static int DefaultParallelConversions();
    int ParallelConversions() const { return m_parallelConversions; }
    void SetParallelConversions(int count);
    // How Render names its outputs; the default until the user chooses.
    const KvOutputNamePattern& OutputNamePattern() const { return m_outputNamePattern; }
    void SetOutputNamePattern(const KvOutputNamePattern& pattern) { m_outputNamePattern = pattern; }
    // Every output is played back before it gets its name ("Check Every Output"); on
    // until the user turns it off.
    bool CheckEveryOutput() const { return m_checkEveryOutput; }
    void SetCheckEveryOutput(bool check) { m_checkEveryOutput = check; }
    // Files found in an added folder go under the same sub-folders of the target
    // ("Keep Folder Structure"); rows whose output an earlier Render into the same
    // folder made are passed over ("Skip Files Already Converted"). Both off until
    // the user turns them on.
    bool KeepFolderStructure() const { return m_keepFolderStructure; }
    void SetKeepFolderStructure(bool keep) { m_keepFolderStructure = keep; }
    bool SkipConverted() const { return m_skipConverted; }
    void SetSkipConverted(bool skip) { m_skipConverted = skip; }
    // What an Add does with files that have chapters or a CUE sheet ("Split Files with
    // Chapters"): asks once per Add whether to split them into their tracks (the
    // default), always splits them, or never does.
    enum class SplitFiles { Ask, Always, Never };
    // What Render does with the outputs' loudness ("Loudness"): nothing (the default),
    // normalise each to a target (LUFS integrated, under a true peak of -1 dBTP), or
    // write ReplayGain tags and leave the sound as it is.
    enum class LoudnessMode { Off, Normalise, ReplayGain };
    struct Loudness
    {
        LoudnessMode mode = LoudnessMode::Off;
        int target = -16; // LUFS, for Normalise: -14, -16, -18 or -23
        // The rows of one album (tag, else folder) measured together: one album gain
        // ("By Album").
        bool byAlbum = false;
        bool operator==(const Loudness&) const = default;
    };
    static constexpr int kLoudnessTargets[] = {-14, -16, -18, -23};
    Loudness OutputLoudness() const { return m_loudness; }
    void SetOutputLoudness(Loudness loudness) { m_loudness = loudness; }
    SplitFiles SplitFilesOnAdd() const { return m_splitFiles; }
    void SetSplitFilesOnAdd(SplitFiles split) { m_splitFiles = split; }
    // Reads "skin/frontend.ini" over the current values (a missing file or key keeps
    // them); writes them to the work folder's copy. Each returns whether it worked.
    bool LoadFrontEndSettings();
    bool SaveFrontEndSettings() const;

    // The job block of this process (owned by the application object), or nullptr
    // before start-up has created it and after shutdown.
    tagKvJobBlock* JobBlock() const { return m_jobBlock; }
    void SetJobBlock(tagKvJobBlock* block) { m_jobBlock = block; }

private:
    KvFrontEndState();

    std::string m_programFolder;
    KvPresetTable m_defaults{};
    KvPresetTable m_working{};
    int m_current = kKvDefaultPreset;
    int m_outputWidth = 856;
    int m_outputHeight = 480;
    tagKvH264Settings m_h264;
    int m_parallelConversions = 1;
    KvOutputNamePattern m_outputNamePattern;
    bool m_checkEveryOutput = true;
    bool m_keepFolderStructure = false;
    bool m_skipConverted = false;
    SplitFiles m_splitFiles = SplitFiles::Ask;
    Loudness m_loudness;
    tagKvJobBlock* m_jobBlock = nullptr;
};

} // namespace velmora
