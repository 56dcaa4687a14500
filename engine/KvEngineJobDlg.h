#pragma once

// What the engine's two job objects (the conversion and the preview) have in common:
// the renderer's capabilities read at construction, the job project read over the
// option file's table, the check that every sounding source can still be read, the
// graph's event queue drained on the event loop, and their two timers.

#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "pipeline/KvVideoConverter.h"
#include "project/KvEngineProject.h"
#include "project/KvSideFiles.h"

#include <QObject>
#include <functional>
#include <string>

class CKvEngineJobDlg : public QObject
{
    Q_OBJECT

public:
    // What the job object's event loop returns when a job ends.
    static constexpr int kQuitCode = 18;

protected:
    // Reads the renderer's capabilities (and saves the file back) as every job
    // object does, whether or not the project draws anything.
    CKvEngineJobDlg(velmora::tagKvJobBlock* jobBlock, const std::string& programFolder, QObject* parent);

    // Reads the project at projectPath (play mode for a preview) over options'
    // working table; a preset the project selects also rewrites the decoder
    // settings. False, with m_loadError saying why, when the option file could not
    // be read (optionsLoaded false) or the project cannot be loaded.
    bool LoadJobProject(const std::string& projectPath, velmora::tagKvEngineOptions& options, bool optionsLoaded,
                        bool playMode);

    // "cannot read the source <path>" for the first item of the audio line whose
    // file (or extracted sound) is gone or unreadable; empty when all can be read. A
    // job over such a source would mix silence where the user expects sound.
    std::string FindUnreadableSource() const;

    // The graph's notice callback: queues OnGraphNotify on this object's loop.
    velmora::KvNotifyCallback GraphNotice();
    virtual void OnGraphNotify() = 0;

    // Takes the graph's queued events in order: completion or an abort goes to onEnd
    // and ends the drain; any other event is let go 100 ms before the next is taken.
    static void DrainGraphEvents(CKvVideoConverter& graph, const std::function<void(long code)>& onEnd);

    void StopTimers();
    static void Quit();

    velmora::tagKvJobBlock* m_block = nullptr;
    std::string m_programFolder;
    CKvEngineProject m_project;
    std::string m_loadError;
    // What kind of failure m_loadError is.
    velmora::KvJobFailure m_loadFailure = velmora::KvJobFailure::Internal;
    tagKvGLCaps m_glCaps;
    int m_startTimer = 0;
    int m_positionTimer = 0;
};
