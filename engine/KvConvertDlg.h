#pragma once

// The conversion job object: one conversion inside the engine, from the go flag to
// the end state in the job block. It has no window; the event loop of the process
// carries its timers and the graph's event notices.
//
//   timer 3 (100 ms)  waits for bStartConvert (or list mode), then starts the job once;
//                     a flag already set at start is seen at the loop's first turn
//   timer 1 (500 ms)  copies the converter's position into dPosition while nState ≠ 0
//   message 2050      the graph has queued an event: completion, abort, or other
//
// How a job ends, as the front end sees it (it reads nState with acquire loads):
//   completed  dPosition = the time-line length, the output complete under its name,
//              bConvertFailed 0
//   failed     a job that cannot be built or run (no option file or project, a short
//              option file, audio settings of 0, a time line without length, a
//              source that is gone or has no sound, an output path that is not a
//              full path, an output folder that cannot be written, an encoder that
//              refuses, no Windows Media profile) or that aborts: one line in
//              "tmp/kvengine.log", no output file, bConvertFailed = 1
// In both cases Close() then deletes the converter and writes nState = 0, once, and
// bEngineClosed = 1; nothing else is written after it.

#include "engine/KvEngineJobDlg.h"

#include <memory>
#include <string>

class CKvConvertDlg : public CKvEngineJobDlg
{
    Q_OBJECT

public:
    static constexpr int kStartTimerId = 3;
    static constexpr int kPositionTimerId = 1;
    static constexpr int kStartTimerMs = 100;
    static constexpr int kPositionTimerMs = 500;
    static constexpr int kGraphNotifyMessage = 2050;

    // Loads the project ("tmp/listctrl.kvmmpj" in list mode, else
    // "tmp/kvengine.kvmmpj") over options' working table and makes the converter.
    // optionsLoaded false: the option file could not be read, and the job fails as
    // soon as it starts.
    CKvConvertDlg(velmora::tagKvJobBlock* jobBlock, velmora::tagKvEngineOptions& options, bool optionsLoaded,
                  const std::string& programFolder, QObject* parent = nullptr);
    ~CKvConvertDlg() override;

    // Starts timer 3; a job that already failed to load ends at the first turn of
    // the event loop. Then run the loop until it quits.
    void OnInitDialog();
    // Stops both timers, deletes the converter (abandoning an unfinished output) and
    // writes nState = 0, then bEngineClosed = 1. Runs once; the destructor calls it.
    void Close();

    bool IsListMode() const { return m_bListMode != 0; }
    double TimeLineLength() const { return m_duration; }
    CKvVideoConverter* Converter() const { return m_pConverter.get(); }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    // Starts the conversion once the go flag is up (at once in list mode).
    void CheckGoFlag();
    void StartConversion();
    // Builds and runs the conversion graph for outputPath; a graph that cannot start
    // fails the job.
    void BuildGraph(const std::string& outputPath);
    // The output went over the loudness ceiling: converts the row again.
    void ConvertAgain();
    void OnGraphNotify() override;
    // Ends the job as failed: the reason goes to the log, kind to the job block.
    void FailJob(const std::string& reason, velmora::KvJobFailure kind);

    int m_bListMode = 0;
    double m_duration = 0.0;
    std::int32_t m_jobFlags = 0; // the option record's nJobFlags
    velmora::KvConverterSetup m_setup;
    std::unique_ptr<CKvVideoConverter> m_pConverter;
    bool m_started = false;
    bool m_ended = false;
    bool m_closed = false;
};
