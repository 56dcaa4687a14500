#pragma once

// The engine process: start-up, dispatch on the job block, one job, end.
//
// The front end starts one engine per job (no arguments, or "--slot=k" for engine
// slot k, which main() applies before anything else), after it has filled the
// job block and written the job files. Start-up, in this order: map the job block
// (none: end at once, touching nothing), read the option file, read the 3D smoothing
// switch, then dispatch:
//   bPlayMode 1, bPreview 1  a preview: the job project played to the sound device
//   bPlayMode 1, bPreview 0  nothing to do
//   bPlayMode 0              read the H.264 choices; nState 0: nothing to do; else a
//                            conversion (list mode: the job block's overrides first)
// The process always ends with exit code 0 once the job block is written and unmapped.

#include "common/KvJobBlockMapping.h"
#include "common/KvOptionRecord.h"
#include "project/KvSideFiles.h"

#include <string>

class CKvEngineApp
{
public:
    CKvEngineApp() = default;
    CKvEngineApp(const CKvEngineApp&) = delete;
    CKvEngineApp& operator=(const CKvEngineApp&) = delete;

    // Start-up and dispatch; runs the job (conversion or preview) on the calling
    // thread's event loop (a QCoreApplication must exist). Returns false in every
    // case: the job, when there is one, has run by then.
    bool InitInstance();
    // Unmaps the job block when it is still held. Returns the exit code, 0.
    int ExitInstance();

    const velmora::tagKvEngineOptions& Options() const { return m_options; }
    const std::string& ProgramFolder() const { return m_programFolder; }

private:
    void RunConversion();
    void RunPreview();

    velmora::CKvJobBlockView m_view;
    velmora::tagKvEngineOptions m_options;
    bool m_optionsLoaded = false;
    std::string m_programFolder;
    int m_b3DSmoothing = 0;
    tagKvH264Settings m_h264;
};
