#pragma once

// The rows of the conversion queue, as values: what each row converts (source, sound
// track, trims, the other job values), what its source holds (the length its header
// declares and, once counted, the length it really holds), and where its last run
// stands (state, progress, reason, output). The window's list draws these rows, the
// preview and the Render queue build their jobs from them, and "velmora --render"
// makes its own rows the same way. No widgets: Qt Core only, one thread.
//
// A row's cells are texts made from its values (CellText); an edit of a cell is
// parsed once, checked against the row's values and either taken, or refused with a
// sentence that says why. Numbers are written and read in the C locale, so a decimal
// comma of the user's locale never reaches a job.

#include "project/KvJobProject.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace velmora {

enum KvMediaColumn : int {
    kColFile = 0,
    kColState = 1,
    kColDuration = 2,
    kColStart = 3,
    kColEnd = 4,
    kColSyncAudio = 5,
    kColVolume = 6,
    kColSpeed = 7,
    kColNewWidth = 8,
    kColNewHeight = 9,
    kColCropX = 10,
    kColCropY = 11,
    kColCropW = 12,
    kColCropH = 13,
    kColHasVideo = 14,
    kColHasAudio = 15,
    kColSourceW = 16,
    kColSourceH = 17,
    // The sound track a row converts, chosen in place from the file's tracks ("2: deu,
    // AC-3 5.1"); empty for a file with one sound track.
    kColTrack = 18,
    kMediaColumnCount = 19,
};

enum class KvRowState {
    Ready,
    Running,       // with a percentage
    Measuring,     // its album's loudness is being measured
    Finished,
    FinishedShort, // converted as far as the source goes, which is short of its header
    Failed,
};

struct KvTrackChoice
{
    QString label;        // "2: deu, AC-3 5.1"
    int streamIndex = -1; // in the file
};

struct KvQueueItem
{
    QString source;                    // full path
    QString foundIn;                   // the added folder it was found in; empty: added itself
    std::vector<KvTrackChoice> tracks; // the file's sound tracks; none or one: no choice
    int track = 0;                     // the chosen one, an index into tracks
    double declaredLength = 0.0;       // seconds, as the file's header says
    double measuredLength = 0.0;       // seconds the sound really holds; 0: not counted
    double start = 0.0;
    double end = 0.0;
    double syncAudio = 0.0;
    double volume = 1.0;
    double speed = 1.0;
    // The picture values of the hidden columns, carried for the engine.
    double newWidth = 0, newHeight = 0, cropX = 0, cropY = 0, cropW = 0, cropH = 0;
    bool hasVideo = false;
    bool hasAudio = true;
    int sourceWidth = 0;
    int sourceHeight = 0;
    // A track of a file split into its chapters or its CUE sheet's tracks: Start and End
    // are the track's bounds, and these its tags.
    std::optional<tagKvItemTrack> splitTrack;
    // A whole file: the tracks it splits into (chapters or a CUE sheet); 0: none.
    int splitCount = 0;
    // Its album tag as read when it was added ("" when it has none); unset: not read.
    std::optional<QString> album;

    KvRowState state = KvRowState::Ready;
    double percent = 0.0; // of a running row
    QString reason;       // the row's tip: why it failed, or why it is short
    QString output;       // the file its last conversion writes

    // The length the Duration cell shows (rounded to what it shows, so the job and
    // the user see the same number): the measured one once counted.
    double Length() const;
    // The stream index of the chosen sound track; -1 for the first (also when the file
    // has only one), so jobs of files nobody chose a track for name none.
    int AudioStream() const;
    // What a job of this row is built from.
    tagKvJobRow JobRow() const;
};

class KvQueueModel
{
public:
    // The state texts of the queue.
    static const QString& StateReady();       // "Ready"
    static const QString& StateFinish();      // "Finish"
    static const QString& StateFinishShort(); // "Finish ⚠"
    static const QString& StateFailed();      // "Failed"
    static const QString& StateMeasuring();   // "Measuring"
    // The running state: percent as "%3.3lf%%" in the C locale, e.g. "42.500%".
    static QString ProgressText(double percent);
    static QString StateText(KvRowState state, double percent);
    // The header of column ("File", "State", ...).
    static QString ColumnHeader(int column);

    // Why text cannot stand in column of a row whose Start, End and length are start,
    // end and duration; empty when it can.
    static QString CheckCellValue(int column, const QString& text, double start, double end, double duration);

    // The row for a file as it is added: Start 0, End at its length, nothing changed.
    static KvQueueItem NewItem(const QString& source, double declaredLength, bool hasVideo, int width, int height,
                               std::vector<KvTrackChoice> tracks = {});

    // Called after rows change: the row that changed (a new row too), or -1 when rows
    // went or moved, or all changed.
    void SetListener(std::function<void(int row)> listener) { m_listener = std::move(listener); }

    int Count() const { return int(m_rows.size()); }
    const KvQueueItem& At(int row) const { return m_rows[size_t(row)].item; }
    // The row's serial: it names the row wherever it moves; -1 outside.
    qint64 Serial(int row) const;
    int FindSerial(qint64 serial) const;

    int Add(KvQueueItem item);
    // The same at row at (0 to Count()): the rows from there on move down one.
    int Insert(int at, KvQueueItem item);
    bool Remove(int row);
    void Clear();
    // Swaps row with the one above or below; false at the edge.
    bool MoveUp(int row);
    bool MoveDown(int row);

    // The text of a cell.
    QString CellText(int column, int row) const;
    // An edit of a cell: empty when taken (the row goes back to Ready), otherwise why
    // not (the row stays as it was).
    QString Edit(int column, int row, const QString& text);
    // Chooses the sound track of row by its label; false for one it does not have.
    bool ChooseTrack(int row, const QString& label);

    void SetState(int row, KvRowState state, double percent = 0.0);
    void SetReason(int row, const QString& reason);
    void SetOutput(int row, const QString& path);
    // The source holds seconds: Duration shows it, and an End at the old length (or past
    // the new one) moves with it.
    void SetMeasuredLength(int row, double seconds);
    // Every row back to Ready, progress 0, no reason.
    void ResetAllToReady();

private:
    struct Row
    {
        qint64 serial = 0;
        KvQueueItem item;
        // What the user wrote in an edited number cell, shown as written.
        std::array<std::optional<QString>, kMediaColumnCount> written;
    };

    bool Valid(int row) const { return row >= 0 && row < Count(); }
    void Changed(int row);

    std::vector<Row> m_rows;
    std::function<void(int row)> m_listener;
    qint64 m_nextSerial = 1;
};

} // namespace velmora
