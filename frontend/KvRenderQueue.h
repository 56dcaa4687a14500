#pragma once

// The conversion queue: rows in, output files out, with no window. The main window
// and "velmora --render" both drive it; each shows what it reports in its own way.
//
// A run converts its rows top to bottom into one target folder, up to Parallel() of
// them at once, each by a fresh engine in an engine slot of its own (KvEngineSlotLease):
// for every row the queue writes the Windows Media profile, names the output and hands
// the rest to the slot's KvEngineJob (job files, job block, "kvengine --slot=k"). Output names are given when a row starts, and rows
// start in row order, so the numbers follow the rows whatever finishes first. The names
// follow the front-end state's name pattern (KvOutputNamePattern) as it was when the run
// started.
//
// An engine's end is seen the moment its process ends (a pidfd, else a short watch),
// and the next row starts in that slot at once; the job blocks are read every
// PollInterval() for progress. A row ends "finished" only when the engine ended on its
// own, said it succeeded and the output file is there; otherwise it fails with a short
// reason (KvQueueReport.h) and the engine's own sentence, and its partial file goes.
// Stop kills every engine at once; their partial files go as soon as the processes
// are gone, without anyone waiting for them.
//
// Qt Core only; the GUI thread (or the command line's main thread).

#include "common/KvOutputNamePattern.h"
#include "frontend/KvConvertedManifest.h"
#include "frontend/KvQueueReport.h"
#include "project/KvJobProject.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace velmora {

class KvEngineSlotLease;
class KvFrontEndState;

// One row of a run: the cells its job is built from, and the caller's own name for it
// (the window's list row).
struct KvQueueRow
{
    tagKvJobRow cells;
    int tag = -1;
    // Where in the target folder the output goes: "" or "a/b/" (folders made as
    // needed), each name cleaned as KvOutputNamePattern::CleanFolderName does.
    QString subfolder;
    // The output's own {n}, fixed beforehand (the same whichever run converts it); 0:
    // the run's counter gives it when the row starts.
    int number = 0;
    // The source's album tag, read beforehand ("" when it has none); unset: read when
    // a run groups albums.
    std::optional<QString> album;
};

// A row whose engine is running.
struct KvRunningRow
{
    int index = -1; // in the run's rows
    int slot = 0;
    pid_t pid = -1;
    QString output;
    double percent = 0.0;
    double speed = 0.0; // time-line seconds per second
};

class KvRenderQueue : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPollInterval = 1000;  // ms, progress of the window
    static constexpr int kWatchInterval = 50;   // ms, engine ends where no pidfd is had
    // How long an engine that has reported its end may take to exit before it is
    // killed, so a stuck engine never holds its slot.
    static constexpr int kExitGraceMs = 10000;
    // How long the destructor waits for killed engines, so their partial files go too.
    static constexpr int kExitReapMs = 2000;
    // An output that ends this much before its row's length was cut short by its
    // source; less is a header's rounding, or the one codec frame a cut file's last
    // packet may promise and not hold.
    static constexpr double kShortSlack = 0.3;

    explicit KvRenderQueue(KvFrontEndState& state, QObject* parent = nullptr);
    ~KvRenderQueue() override;

    // Rows converted at once (at least 1). The default is the number of processor cores.
    void SetParallel(int count);
    int Parallel() const { return m_parallel; }
    void SetPollInterval(int ms) { m_pollInterval = ms > 0 ? ms : kPollInterval; }
    int PollInterval() const { return m_pollInterval; }
    // Slots to run in, kept across runs (the command line takes its slots first, so its
    // own files live in one of them). Without them every run takes the lowest free slots
    // it needs and gives them back when it ends.
    void SetSlots(std::vector<std::unique_ptr<KvEngineSlotLease>> leases);
    // While hold returns true no further row starts (a command line that has been
    // interrupted and is about to stop).
    void SetHoldStarts(std::function<bool()> hold) { m_holdStarts = std::move(hold); }
    // Skip the rows whose output the target folder's manifest (KvConvertedManifest)
    // lists as made from the same source with the same settings and still there; every
    // row that ends is then written into the manifest. Taken at Start.
    void SetSkipConverted(bool skip) { m_skipConverted = skip; }
    bool SkipConverted() const { return m_skipConverted; }
    // With a loudness asked for: the rows that share an album tag (or, without one, a
    // folder) are measured together first, one engine job per album, and get one
    // album gain, or the album's ReplayGain beside their own. Taken at Start.
    void SetAlbumLoudness(bool album) { m_albumLoudness = album; }
    // What a row's output is made with, as the manifest compares it: the sound's
    // settings of the record, the row's trims, track, volume, speed and delay, the name
    // pattern, and the loudness asked for (by album or not).
    QJsonObject RowSettings(const tagKvJobRow& cells) const;

    // Seconds a row converts, as its job will see them; 0 when Start is not before End
    // (or the source's end): such a row fails without an engine.
    static double RowLength(const tagKvJobRow& cells);
    // Why folder cannot take the outputs of rows with the current settings (empty when
    // it can): KvTargetFolder's checks with the smallest of the outputs.
    QString CheckTarget(const QString& folder, const std::vector<KvQueueRow>& rows) const;

    // Starts converting rows into folder with the current settings of the front-end
    // state. False (and LastError()) when nothing starts: busy, no rows, or no engine
    // slot to be had. The run may end before this returns (every row failed at once).
    bool Start(const QString& folder, std::vector<KvQueueRow> rows);
    // Kills every engine and ends the run at once (stopped(false)); rows not finished
    // stay as they are to the caller.
    void Stop();
    bool IsRunning() const { return m_running; }
    QString LastError() const { return m_lastError; }

    const std::vector<KvQueueRow>& Rows() const { return m_rows; }
    std::vector<KvRunningRow> Running() const;
    int RunningCount() const;
    // Engines that were killed and have not yet been seen to end.
    int DyingEngineCount() const { return int(m_dying.size()); }
    // Every slot the queue holds now (its run's, or the kept ones).
    std::vector<int> HeldSlots() const;

    int OutputCounter() const { return m_outputCounter; }
    QString TargetFolder() const { return m_targetFolder; }
    QString OutputExtension() const { return m_outputExtension; }
    // (source, short reason) of the rows that failed in the last run, in the order
    // they failed.
    const std::vector<KvQueueFailure>& Failures() const { return m_failures; }
    // The rows of the last run that were converted only in part (their sources end
    // before their headers say), in the order they ended; FindShort by run index.
    const std::vector<KvQueueShort>& Shortened() const { return m_shortened; }
    const KvQueueShort* FindShort(int index) const;

    // The output file of the next row to start: the one place that names outputs, with
    // the name pattern the run started with.
    QString NextOutputPath(const KvQueueRow& row);
    // What the pattern's placeholders stand for in row's output; the source's tags are
    // read only when the pattern uses them.
    // What the jobs ask of their outputs' loudness (the front-end state's "Loudness").
    std::optional<tagKvItemLoudness> JobLoudness() const;
    // The pattern a row's output is named by.
    const KvOutputNamePattern& NamePatternOf(const tagKvJobRow& row) const;
    static KvOutputNameValues OutputNameValues(const KvOutputNamePattern& pattern, const tagKvJobRow& row);
    // folder + the pattern's name for values + extension, the first that is free in
    // folder (KvOutputNamePattern::ChooseFileName advances counter): a name is taken by
    // a file or link there, by its partial file, or where inUse says so (the outputs
    // of rows still converting). folder ends in "/".
    static QString BuildOutputPath(const QString& folder, const KvOutputNamePattern& pattern,
                                   const KvOutputNameValues& values, const QString& extension, int& counter,
                                   const std::function<bool(const QString& path)>& inUse = {},
                                   bool keepNumber = false);
    // The file an engine writes while it converts into output.
    static QString PartialOutputPath(const QString& output);
    // Removes what an engine that did not finish left of output.
    static void RemovePartialOutput(const QString& output);

    // One look at every running engine, then rows started in the free slots (the poll
    // timer and an engine's end call it; tests may too).
    void Pump();

signals:
    void rowStarted(int index, const QString& output);
    // The row was not converted: output, made from the same source with the same
    // settings by an earlier run, is there (SetSkipConverted).
    void rowSkipped(int index, const QString& output);
    void rowProgress(int index, double percent, double speed);
    // finished, or failed with a short reason and the engine's own sentence (may be
    // empty). A finished row with a reason was converted only in part (Shortened);
    // a finished row's detail says how its loudness missed what was asked (empty: it
    // did not).
    void rowEnded(int index, bool finished, const QString& reason, const QString& detail);
    // The loudness of an album's rows is being measured together (measuring), or has
    // been, and they wait for a free engine.
    void albumMeasuring(const QList<int>& indexes, bool measuring);
    // Something the user must be told at once, in the front end's words.
    void message(const QString& text);
    // The run is over: every row ended (completed), or Stop.
    void stopped(bool completed);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Slot;
    // The albums of a run (SetAlbumLoudness): what one is called, the rows grouped,
    // an album's measuring job started in slot, and its end.
    static QString AlbumKey(const KvQueueRow& row);
    void GroupAlbums();
    void StartAlbum(Slot& slot);
    void EndAlbum(Slot& slot);
    // Writes the job of cells (one row, or an album's rows) with the option record's
    // flags into slot's job folder; duration: its time line's length.
    bool WriteJobFiles(Slot& slot, const std::vector<tagKvJobRow>& cells, std::int32_t flags, double& duration);
    // Sees the engine of slot end (its pidfd, else the watch timer).
    void WatchEngine(Slot& slot);

    bool AcquireSlots(int rows);
    void StartRows();
    bool StartRow(Slot& slot, int index, QString& reason);
    void FollowSlot(Slot& slot);
    void EndRow(Slot& slot);
    void FailRow(int index, const QString& reason, const QString& detail = QString());
    bool SkipRow(int index);
    void RecordRow(int index, const char* state, const QString& output, const QString& reason);
    void Tell(const QString& text);
    void ClearSlot(Slot& slot);
    void KillEngines();
    void ReapEngines();
    void Finish(bool completed);
    void StopTimers();

    KvFrontEndState& m_state;
    int m_parallel = 1;
    int m_pollInterval = kPollInterval;
    std::function<bool()> m_holdStarts;
    bool m_skipConverted = false;
    bool m_albumLoudness = false;
    enum class AlbumState { Pending, Measuring, Done, Failed };
    struct Album
    {
        std::vector<int> rows;
        AlbumState state = AlbumState::Pending;
        double integrated = 0.0; // LUFS
        double peak = 0.0;       // true peak, linear
        QString failure;         // why its rows fail
    };
    std::vector<Album> m_albums;
    std::vector<int> m_albumOf; // each row's album; empty without albums
    std::unique_ptr<KvConvertedManifest> m_manifest; // while a run skips converted rows
    std::vector<KvSourceStamp> m_stamps;              // the run's rows' sources as they started
    bool m_keepSlots = false;
    std::vector<std::unique_ptr<Slot>> m_slots;

    bool m_running = false;
    int m_runSerial = 0; // counts the runs, so a row start can tell its run is gone
    bool m_pumping = false;
    bool m_pumpAgain = false;
    QString m_lastError;
    std::vector<KvQueueRow> m_rows;
    size_t m_next = 0;
    std::vector<KvQueueFailure> m_failures;
    std::vector<KvQueueShort> m_shortened;
    int m_outputCounter = 0;
    KvOutputNamePattern m_namePattern;
    // The tracks of split files: "{track} {title}" while the pattern is the default.
    KvOutputNamePattern m_splitPattern;
    QString m_targetFolder;
    QString m_outputExtension;

    int m_pollTimer = 0;
    int m_watchTimer = 0;
    int m_reapTimer = 0;
    struct DyingEngine
    {
        pid_t pid;
        QString output;
    };
    std::vector<DyingEngine> m_dying;
};

} // namespace velmora
