#pragma once

// The media list: the rows of the conversion queue (a KvQueueModel), drawn by the
// skinned list control that the main window creates and hands in. One row per added
// source file, 19 columns (File, State, Duration, Start and End shown; Track shown
// once a file with several sound tracks is added; the rest hidden but carrying their
// values). The list control only shows the model's cell texts; edits go back through
// the model, which keeps the rows' values.
//
// The controller owns no widget. It fills the columns, adds files with their media
// information (pre-extracting the sound of Windows Media sources into tmp/ and the
// WAV index), removes and reorders rows, hands in-place edits to the model, and gives
// the job row of a row. The queue drives a row's state
// through the setters below. GUI thread only, but for the worker that measures the
// real length of sources of sound alone after they are added (KvLengthMeasurer).

#include "frontend/KvFrontEndState.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvQueueModel.h"
#include "project/KvJobProject.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CKvListCtrl;
class CKvToolTipWnd;

namespace velmora {

class KvLengthMeasurer;


class KvMediaList
{
public:
    // The state texts of the queue.
    static const QString& StateReady();  // "Ready"
    static const QString& StateFinish(); // "Finish"
    static const QString& StateFailed(); // "Failed"
    // The running state: percent as "%3.3lf%%" in the C locale, e.g. "42.500%".
    static QString ProgressText(double percent);

    // The reasons a file is skipped.
    static const QString& ReasonNoSound();    // "no sound track"
    static const QString& ReasonUnreadable(); // "cannot be read"
    static const QString& ReasonNotMedia();   // "not a media file" (left out of a folder)
    static const QString& ReasonNotLocal();   // "not a local file" (a dropped web link)

    // The filter for the QFileDialog of the Add command: one entry, "Media Files
    // (...)", the extensions of the file-open dialog in Qt's notation.
    static QString FileFilter();

    // list: created by the main window, registered with its manager, no columns yet.
    // programFolder ends in "/" (one is appended); its tmp/ holds the extracted WAV
    // files and "tmp/wavfiles.dat". Empty: GetProgramFolder().
    explicit KvMediaList(CKvListCtrl* list, std::string programFolder = std::string());
    ~KvMediaList();
    KvMediaList(const KvMediaList&) = delete;
    KvMediaList& operator=(const KvMediaList&) = delete;

    CKvListCtrl* List() const { return m_list; }
    const KvQueueModel& Model() const { return m_model; }

    // Inserts the 19 columns with their headers, widths and kinds and hides 5..18.
    void CreateColumns();

    // Where the one message about skipped files goes (the main window shows it with its
    // message box). Without a sink it goes to KvMessageBox.
    void SetMessageSink(std::function<void(const QString&)> sink) { m_messageSink = std::move(sink); }
    // What an Add does with files that have chapters or a CUE sheet, asked for at the
    // end of each Add (none set: Never); ask answers Ask's one question (none set: a
    // message box).
    void SetSplitPolicy(std::function<KvFrontEndState::SplitFiles()> policy) { m_splitPolicy = std::move(policy); }
    void SetQuestionSink(std::function<bool(const QString&)> ask) { m_ask = std::move(ask); }

    // Puts the tracks of row's file (chapters, or a CUE sheet: ReadSplitRows) in its
    // place, one row each, the first of them selected. Returns how many rows it became;
    // 0 (and why) when the file has no tracks, or the row is a track already.
    int SplitRow(int row, QString* why = nullptr);

    // Appends one row per file that has sound, in the given order, under the wait
    // cursor (the Add command and files from the command line). ".wmv"/".asf" sources
    // have their sound pre-extracted first. The files that were skipped are reported
    // in one message afterwards. Returns the number of rows added.
    //
    // An add runs events while a long extraction goes on; files handed in meanwhile
    // (another start of the program) do not start a second add inside the first: they
    // wait, are added after the files before them, and their skipped files join the
    // same one message. Such a call returns 0.
    //
    // leftOut: files the caller already passed over (a drop's web links, the non-media
    // files of a dropped folder); they are listed in the same one message, after the
    // files this add skips.
    int AddFiles(const QStringList& files, const std::vector<KvSkippedFile>& leftOut = {});
    // The same for files read already (ProbeSource, off the GUI thread): each becomes its
    // row as above without being read again.
    int AddFiles(std::vector<KvSourceProbe> sources, const std::vector<KvSkippedFile>& leftOut = {});
    bool IsAdding() const { return m_adding; }
    // The files the last AddFiles skipped, in order.
    const std::vector<KvSkippedFile>& LastSkipped() const { return m_skipped; }
    // The message text for skipped files (empty for none).
    static QString SkippedMessage(const std::vector<KvSkippedFile>& skipped);

    // Commands on the selected row; each returns whether it changed anything (no
    // selection, Move Up on the first row and Move Down on the last change nothing).
    bool Remove();
    bool RemoveAll();
    bool MoveUp();
    bool MoveDown();

    // The list's cell-edit notification (kMsgCellTextChanged, param column * 65536 +
    // row). Start, End, Sync Audio, Volume and Speed take a number written the C way
    // ("1.5") within their range (CheckCellValue). A refused value gives the cell its
    // last accepted text back, says why in a tip at the cell (LastEditProblem) and
    // returns false. An accepted edit resets the row to "Ready", progress 0, and
    // returns true.
    bool OnCellTextChanged(qint64 param);
    // Why text cannot stand in column of a row whose accepted Start, End and length
    // are start, end and duration; empty when it can.
    static QString CheckCellValue(int column, const QString& text, double start, double end, double duration);
    QString LastEditProblem() const { return m_lastEditProblem; }
    // The tip that shows the last refused edit, while it shows.
    CKvToolTipWnd* ProblemTip() const;

    int RowCount() const;
    QString FilePath(int row) const;
    // The cells of row a job is built from (BuildJobProject).
    tagKvJobRow JobRow(int row) const;
    // The stream index of the sound track chosen in row's Track cell; -1 for the first
    // sound track (also when the file has only one).
    int AudioStream(int row) const;
    // Seconds the row converts, as the job will see them (out point minus in point,
    // within the source's length); the queue refuses rows where this is not above 0.
    double RowLength(int row) const;

    // The queue's view of a row's state.
    QString StateText(int row) const;
    // What a screen reader reads for the row's state: "Converting 42%", "Failed: " and
    // the reason, "Finish, but: " and why the output is short; empty where the state
    // text says it all.
    QString SpokenState(int row) const;
    int Progress(int row) const;
    void SetState(int row, KvRowState state, double percent = 0.0, bool redraw = true);
    // What a run shows on its rows: started (into output), ended (finished; or
    // finished only in part, with the source's real end as its new length; or failed
    // with a short reason and the engine's own sentence below it in the row's tip).
    void ShowRowStarted(int row, const QString& output);
    void ShowRowEnded(int row, bool finished, const QString& reason, const QString& detail,
                      double shortSourceSeconds = 0.0);
    // A per-row tip (why a row failed); it travels with the row when rows move and is
    // shown as the list's tool tip while the pointer is over that row.
    void SetRowToolTip(int row, const QString& text);
    QString RowToolTip(int row) const;
    // The file the row's conversion writes, set when it starts; it travels with the row.
    void SetRowOutput(int row, const QString& path);
    // The output of row when its last Render finished (the state "Finish"); empty
    // otherwise. The file may have gone since.
    QString FinishedOutput(int row) const;
    // The tip for a client point of the dialog: over the File column the whole path
    // (with the row's tip below it), elsewhere in a row the row's tip; empty outside.
    QString ToolTipAt(int x, int y) const;
    // Call on mouse moves over the list: shows ToolTipAt the point, or none.
    void UpdateToolTipAt(int x, int y);
    QString ShownToolTip() const;
    // Every row back to "Ready", progress 0, no tip (after a settings change).
    void ResetAllToReady();

    // The row's source lasts seconds (measured, or seen in a conversion): the Duration
    // cell shows it, and an End at the old length (or past the new one) moves with it.
    void SetSourceLength(int row, double seconds);
    // Sources of sound alone still being measured (their lengths fill in as they are).
    int PendingMeasures() const;

    // The state of a finished row whose source ended before its header said.
    static const QString& StateFinishShort(); // "Finish ⚠"
    // "Finish" or "Finish ⚠".
    static bool IsFinishState(const QString& state);

private:
    bool AddFile(const KvSourceProbe& source);
    // Puts item in as row at (its sound track choices too); the row, or -1.
    int InsertItem(int at, KvQueueItem item);
    // Splits the whole files this Add added that have tracks, as the policy says.
    void SplitAddedFiles();
    void OnLengthMeasured(qint64 serial, double seconds);
    void PreExtractSound(const std::string& source, int audioStream);
    void ShowTrackColumn();
    bool ExtractInBackground(const std::string& source, const std::string& wav, int audioStream);
    void HideRowTip();
    void ShowProblem(int column, int row, const QString& text);
    // Shows the model's row in the list (-1: every row).
    void ShowRow(int row);

    CKvListCtrl* m_list = nullptr;
    std::string m_programFolder;
    std::function<void(const QString&)> m_messageSink;
    std::vector<KvSkippedFile> m_skipped;
    bool m_adding = false;
    std::vector<KvSourceProbe> m_waitingFiles;
    std::vector<KvSkippedFile> m_leftOut;
    QString m_lastEditProblem;
    QPointer<CKvToolTipWnd> m_problemTip;
    KvQueueModel m_model;
    bool m_redraw = true; // whether showing a changed row draws it at once
    QString m_tipText; // what the row tip shows, empty when hidden
    QPointer<CKvToolTipWnd> m_tipWnd;
    std::unique_ptr<KvLengthMeasurer> m_measurer; // made at the first sound-only file
    std::function<KvFrontEndState::SplitFiles()> m_splitPolicy;
    std::function<bool(const QString&)> m_ask;
    std::vector<qint64> m_splittable; // rows of this Add whose files have tracks
};

} // namespace velmora
