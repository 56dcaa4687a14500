#pragma once

// What "velmora --render" shows while it runs: on a terminal a block of live lines
// (one per running row and a total) redrawn in place under the lines of the rows that
// ended; elsewhere only the line of each row as it ends.

#include "frontend/KvRenderQueue.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <map>
#include <vector>

namespace velmora {

// Writes the text to the stream in the user's encoding, at once.
void PrintText(std::FILE* stream, const QString& text);

class KvRenderReport
{
public:
    // out: where the lines go (standard output, or standard error when standard output
    // carries something else).
    explicit KvRenderReport(bool terminal, std::FILE* out = stdout);

    void SetRows(const std::vector<KvQueueRow>& rows);
    // A line above the live block (a terminal only).
    void Header(const QString& text);
    void Started(int index);
    void Progress(int index, double percent, double speed);
    void Ended(int index, bool finished, const QString& output, const QString& reason);
    // "Note OUTPUT: ...", after its Finish line: how its loudness came out when not as asked.
    void Note(const QString& output, const QString& note);
    // The rows of indexes are being measured together for their album's loudness.
    void MeasuringAlbum(const QList<int>& indexes);
    // A row not converted because its output is there from an earlier run.
    void Skipped(int index, const QString& output);
    // A file that failed, also one that never became a row.
    void Failed(const QString& source, const QString& reason);
    void CountFinished() { ++m_finished; }

    int FailedCount() const { return m_failed; }
    int FinishedCount() const { return m_finished; }
    // Files not converted whole: failed, or cut short by their sources.
    int IncompleteCount() const { return m_failed + m_short; }
    bool Terminal() const { return m_terminal; }
    QString Total() const;

    // The last word: the total stays on a terminal, and a stop is said everywhere.
    void Close(const QString& last);

private:
    struct RowInfo
    {
        QString name;
        double length = 0.0;
        QString source;
    };
    struct RowProgress
    {
        double percent;
        double speed;
    };

    void Row(const QString& line);
    void Permanent(const QString& line);
    void Erase();
    void Redraw();
    // A live line never wraps: a wrapped line would throw the redraw off by a line.
    QString Fit(const QString& line) const;

    bool m_terminal;
    std::FILE* m_out;
    QString m_times;
    QElapsedTimer m_clock;
    QTimer m_redraw;
    bool m_dirty = false;
    int m_live = 0;
    std::vector<RowInfo> m_rows;
    std::map<int, RowProgress> m_running;
    double m_ended = 0.0;
    int m_finished = 0;
    int m_failed = 0;
    int m_short = 0;
    int m_skipped = 0;
};

} // namespace velmora
