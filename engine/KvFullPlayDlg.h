#pragma once

// The preview job object: plays the project of "tmp/kvengine.kvmmpj" to the sound
// device and reports the play position into the job block. It has no window; the
// process's event loop carries its timers and the graph's event notices.
//
//   timer 1 (10 ms, once)  starts playback: nState = 2, or on failure bPlayFailed = 1
//                          and nState = 0
//   timer 2 (100 ms)       copies the player's position into dPosition
//   message 2024           the graph has queued an event: completion or an abort
//
// How a preview ends, as the front end sees it:
//   played     dPosition = the time-line length, then nState = 0
//   failed     no project, a time line without length, a source that is gone or has
//              no sound track, no sound device, or a device that stopped while
//              playing: one line in "tmp/kvengine.log" saying why, bPlayFailed = 1,
//              then nState = 0
// The sound device is released before nState = 0 is written, so a front end that
// starts the next preview as soon as it sees the end never meets this one's device.

#include "engine/KvEngineJobDlg.h"
#include "pipeline/KvTimeLinePlayer.h"

#include <memory>
#include <string>

class CKvFullPlayDlg : public CKvEngineJobDlg
{
    Q_OBJECT

public:
    static constexpr int kStartTimerId = 1;
    static constexpr int kPositionTimerId = 2;
    static constexpr int kStartTimerMs = 10;
    static constexpr int kPositionTimerMs = 100;
    static constexpr int kGraphNotifyMessage = 2024;

    // Loads "tmp/kvengine.kvmmpj" (play mode) over options' working table and makes
    // the player. optionsLoaded false: the option file could not be read, and the
    // preview fails as soon as it starts.
    CKvFullPlayDlg(velmora::tagKvJobBlock* jobBlock, velmora::tagKvEngineOptions& options, bool optionsLoaded,
                   const std::string& programFolder, QObject* parent = nullptr);
    ~CKvFullPlayDlg() override;

    // Gives the player the notice path and the preview window, and starts timer 1.
    // Then run the loop until it quits.
    void OnInitDialog();
    // Stops the timers, releases the player and writes nState = 0. Runs once; the
    // destructor calls it.
    void Close();

    CKvTimeLinePlayer* Player() const { return m_pPlayer.get(); }
    double TimeLineLength() const { return m_duration; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void StartPlayback();
    void OnGraphNotify() override;
    void EndPlayback(bool failed, const std::string& reason);

    double m_duration = 0.0;
    std::unique_ptr<CKvTimeLinePlayer> m_pPlayer;
    bool m_ended = false;
    bool m_closed = false;
};
