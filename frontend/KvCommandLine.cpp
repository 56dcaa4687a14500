#include "frontend/KvCommandLine.h"

#include "common/KvEngineSlot.h"
#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "common/KvWmProfile.h"
#include "frontend/KvEngineSlotLease.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvRenderQueue.h"
#include "frontend/KvStopSignals.h"
#include "media/ExtractAudioToWav.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velmora {

namespace {

// ---- Output -----------------------------------------------------------------------

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString Clock(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return seconds >= 3600 ? QString::asprintf("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60)
                           : QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

// What a run shows: on a terminal a block of live lines (one per running row and a
// total) redrawn in place under the lines of the rows that ended; elsewhere only the
// line of each row as it ends.
class RenderReport
{
public:
    explicit RenderReport(bool terminal)
        : m_terminal(terminal)
    {
        const char* codeset = nl_langinfo(CODESET);
        m_times = codeset && std::strcmp(codeset, "UTF-8") == 0 ? QStringLiteral("\u00D7") : QStringLiteral("x");
        m_clock.start();
        if (m_terminal) {
            m_redraw.setInterval(250);
            QObject::connect(&m_redraw, &QTimer::timeout, &m_redraw, [this] {
                if (m_dirty)
                    Redraw();
            });
            m_redraw.start();
        }
    }

    void SetRows(const std::vector<KvQueueRow>& rows)
    {
        m_rows.clear();
        for (const KvQueueRow& row : rows) {
            const QString source = QString::fromStdWString(row.cells.file);
            m_rows.push_back({QFileInfo(source).fileName(), std::max(KvRenderQueue::RowLength(row.cells), 0.0), source});
        }
    }

    void Header(const QString& text)
    {
        if (m_terminal)
            Permanent(text);
    }

    void Started(int index)
    {
        m_running[index] = {0.0, 0.0};
        m_dirty = true;
    }

    void Progress(int index, double percent, double speed)
    {
        m_running[index] = {percent, speed};
        m_dirty = true;
    }

    void Ended(int index, bool finished, const QString& output, const QString& reason)
    {
        m_running.erase(index);
        m_ended += m_rows[size_t(index)].length;
        if (finished && !reason.isEmpty()) {
            // Converted as far as the source goes, which is not as far as it says.
            ++m_short;
            Row(QStringLiteral("Short %1: %2").arg(output, reason), stdout);
        } else if (finished) {
            Row(QStringLiteral("Finish %1").arg(output), stdout);
        } else {
            Failed(m_rows[size_t(index)].source, reason);
        }
    }

    // A file that failed, also one that never became a row.
    void Failed(const QString& source, const QString& reason)
    {
        ++m_failed;
        Row(QStringLiteral("Failed %1: %2").arg(source, reason), stdout);
    }

    int FailedCount() const { return m_failed; }
    // Files not converted whole: failed, or cut short by their sources.
    int IncompleteCount() const { return m_failed + m_short; }
    bool Terminal() const { return m_terminal; }

    // The last word: the total stays on a terminal, and a stop is said everywhere.
    void Close(const QString& last)
    {
        m_redraw.stop();
        if (m_terminal) {
            Erase();
            if (!last.isEmpty())
                Print(stdout, Fit(last) + u'\n');
        } else if (!last.isEmpty()) {
            Print(stderr, QStringLiteral("velmora: %1\n").arg(last));
        }
    }

    QString Total() const
    {
        double all = 0.0;
        double done = m_ended;
        for (const RowInfo& row : m_rows)
            all += row.length;
        for (const auto& [index, progress] : m_running)
            done += m_rows[size_t(index)].length * progress.percent / 100.0;
        QString text = QStringLiteral("Total %1%  %2 of %3 finished")
                           .arg(all > 0.0 ? done * 100.0 / all : 0.0, 5, 'f', 1)
                           .arg(m_finished)
                           .arg(m_rows.size());
        if (m_failed > 0)
            text += QStringLiteral(", %1 failed").arg(m_failed);
        return text + QStringLiteral("  %1").arg(Clock(m_clock.elapsed()));
    }

    void CountFinished() { ++m_finished; }
    int FinishedCount() const { return m_finished; }

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

    void Row(const QString& line, std::FILE* stream)
    {
        if (m_terminal)
            Permanent(line);
        else
            Print(stream, line + u'\n');
    }

    void Permanent(const QString& line)
    {
        Erase();
        Print(stdout, line + u'\n');
        m_dirty = true;
    }

    void Erase()
    {
        // Up to the first live line, and everything below it goes.
        if (m_live > 0)
            Print(stdout, QStringLiteral("\x1b[%1F\x1b[J").arg(m_live));
        m_live = 0;
    }

    void Redraw()
    {
        Erase();
        QString block;
        for (const auto& [index, progress] : m_running) {
            const QString speed = progress.speed > 0.0 ? QString::asprintf("%5.1f", progress.speed) + m_times
                                                       : QStringLiteral("   --");
            block += Fit(QString::asprintf("%6.1f%%  ", progress.percent) + speed + QStringLiteral("  ")
                         + m_rows[size_t(index)].name)
                + u'\n';
            ++m_live;
        }
        block += Fit(Total()) + u'\n';
        ++m_live;
        Print(stdout, block);
        m_dirty = false;
    }

    // A live line never wraps: a wrapped line would throw the redraw off by a line.
    static QString Fit(const QString& line)
    {
        winsize size {};
        const int columns = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        return line.size() < columns ? line : line.left(std::max(1, columns - 2)) + u'~';
    }

    bool m_terminal;
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
};

// ---- Arguments ----------------------------------------------------------------------

bool ParseCount(const QString& text, int& value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    value = text.toInt();
    return true;
}

bool ParseSeconds(const QString& text, double& value)
{
    // Written the C way, whatever the user's locale: "1.5", never "1,5".
    static const QRegularExpression plain(QStringLiteral("^[0-9]+(\\.[0-9]*)?$|^\\.[0-9]+$"));
    return plain.match(text).hasMatch() && TryParseDouble(text.toStdString(), value) && value < 1e9;
}

QString Seconds(double value)
{
    return QString::fromStdString(FormatDoubleAs("%.3f", value));
}

QString Settings(const KvFrontEndState& state, int jobs)
{
    const tagKvOptionRecord& record = state.CurrentRecord();
    QString format;
    if (record.nOutputType == kKvOutputWma) {
        WmAudioFormat wma;
        format = ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, wma)
            ? QStringLiteral("WMA %1").arg(QString::fromStdWString(wma.description))
            : QStringLiteral("WMA");
    } else {
        format = QStringLiteral("MP3 %1 kbps, %2 Hz, %3")
                     .arg(record.nAudioBitrate)
                     .arg(record.nSampleRate)
                     .arg(record.nChannels == 0 ? QStringLiteral("mono") : QStringLiteral("stereo"));
    }
    return QStringLiteral("%1, %2 at once").arg(format).arg(jobs);
}

int UsageError(const QString& error)
{
    Print(stderr, QStringLiteral("velmora: %1\nTry \"velmora --render --help\".\n").arg(error));
    return KvCommandLine::kExitUsage;
}

} // namespace

bool KvCommandLine::IsRender(const QStringList& args)
{
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--render"))
            return true;
    }
    return false;
}

bool KvCommandLine::Parse(const QStringList& args, KvRenderOptions& options, QString& error)
{
    options = KvRenderOptions();
    QStringList positional;
    bool optionsEnd = false;
    bool sawEnd = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnd || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (arg == QLatin1String("--render"))
            continue;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
            return true;
        }
        if (arg == QLatin1String("--no-verify")) {
            options.verify = false;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        if (const int equals = arg.indexOf(u'='); equals > 0) {
            name = arg.left(equals);
            value = arg.mid(equals + 1);
            hasValue = true;
        }
        static const QStringList valued = {QStringLiteral("--format"), QStringLiteral("--bitrate"),
                                           QStringLiteral("--rate"),   QStringLiteral("--channels"),
                                           QStringLiteral("--start"),  QStringLiteral("--end"),
                                           QStringLiteral("--jobs"),   QStringLiteral("--name")};
        if (!valued.contains(name)) {
            error = QStringLiteral("unknown option \"%1\"").arg(arg);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            value = args[++i];
        }
        bool ok = true;
        if (name == QLatin1String("--format")) {
            ok = value.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0
                || value.compare(QLatin1String("wma"), Qt::CaseInsensitive) == 0;
            options.audio.wma = value.compare(QLatin1String("wma"), Qt::CaseInsensitive) == 0;
            if (!ok)
                error = QStringLiteral("--format must be mp3 or wma, not \"%1\"").arg(value);
        } else if (name == QLatin1String("--bitrate")) {
            ok = ParseCount(value, options.audio.kbps) && options.audio.kbps > 0;
            if (!ok)
                error = QStringLiteral("--bitrate takes kbit/s as a whole number, such as 128, not \"%1\"").arg(value);
        } else if (name == QLatin1String("--rate")) {
            ok = ParseCount(value, options.audio.sampleRate) && options.audio.sampleRate > 0;
            if (!ok)
                error = QStringLiteral("--rate takes Hz as a whole number, such as 44100, not \"%1\"").arg(value);
        } else if (name == QLatin1String("--channels")) {
            ok = value == QLatin1String("1") || value == QLatin1String("2");
            options.audio.channels = value.toInt();
            if (!ok)
                error = QStringLiteral("--channels must be 1 (mono) or 2 (stereo), not \"%1\"").arg(value);
        } else if (name == QLatin1String("--start")) {
            ok = ParseSeconds(value, options.start);
            if (!ok)
                error = QStringLiteral("--start takes seconds, such as 12.5, not \"%1\"").arg(value);
        } else if (name == QLatin1String("--end")) {
            ok = ParseSeconds(value, options.end);
            sawEnd = true;
            if (!ok)
                error = QStringLiteral("--end takes seconds, such as 90, not \"%1\"").arg(value);
        } else if (name == QLatin1String("--jobs")) {
            ok = ParseCount(value, options.jobs) && options.jobs >= 1
                && options.jobs <= KvFrontEndState::kMaxParallelConversions;
            if (!ok)
                error = QStringLiteral("--jobs takes a number from 1 to %1, not \"%2\"")
                            .arg(KvFrontEndState::kMaxParallelConversions)
                            .arg(value);
        } else if (name == QLatin1String("--name")) {
            std::string why;
            ok = options.names.Parse(value.toStdWString(), &why);
            if (!ok)
                error = QStringLiteral("--name \"%1\": %2").arg(value, QString::fromStdString(why));
        }
        if (!ok)
            return false;
    }
    if (sawEnd && !(options.end > options.start)) {
        error = QStringLiteral("--end (%1) must be after --start (%2)").arg(Seconds(options.end), Seconds(options.start));
        return false;
    }
    if (positional.isEmpty()) {
        error = QStringLiteral("no target FOLDER given");
        return false;
    }
    const QFileInfo folder(positional.takeFirst());
    if (!folder.exists()) {
        error = QStringLiteral("the target folder %1 does not exist").arg(folder.filePath());
        return false;
    }
    if (!folder.isDir()) {
        error = QStringLiteral("the target %1 is not a folder").arg(folder.filePath());
        return false;
    }
    options.folder = QDir::cleanPath(folder.absoluteFilePath());
    if (positional.isEmpty()) {
        error = QStringLiteral("no FILE to convert given");
        return false;
    }
    options.paths = positional;
    return true;
}

QString KvCommandLine::HelpText()
{
    return QStringLiteral(
        "usage: velmora --render FOLDER [options] FILE...\n"
        "Extracts the sound tracks of the FILEs into FOLDER without a window, as Render does:\n"
        "the same output names ((output001)name.wma, ... unless --name gives others),\n"
        "and no file is ever replaced.\n"
        "A FILE that is a folder is searched, sub-folders too, for media files.\n"
        "  --format mp3|wma   the output format (default wma, as the window starts)\n"
        "  --bitrate KBPS     bit rate in kbit/s (MP3: what the sample rate allows;\n"
        "                     WMA: one of its formats)\n"
        "  --rate HZ          sample rate (MP3: 8000 to 48000)\n"
        "  --channels 1|2     mono or stereo\n"
        "  --start S          convert from S seconds into each file\n"
        "  --end S            convert up to S seconds into each file (at most its end)\n"
        "  --jobs N           convert N files at once (default: the processor cores, %1)\n"
        "  --name PATTERN     name the outputs after PATTERN (default \"(output{n}){name}\"):\n"
        "                     {name} the file's name without extension, {n} the output\n"
        "                     number (001, 002, ...), {title} and {artist} from its tags\n"
        "                     ({title} is the file's name where it has none); {{ and }}\n"
        "                     are braces. A taken name gets the next number, or, without\n"
        "                     {n}, \" (2)\", \" (3)\" ... before the extension\n"
        "  --no-verify        do not play each output back before it gets its name\n"
        "  --help             print this text and end\n"
        "A combination the format cannot carry is refused with the values it can.\n"
        "A file whose sound ends before its header says is converted as far as it goes\n"
        "and reported as \"Short OUTPUT: reason\".\n"
        "Exit status: 0 every file converted whole, 1 a file failed or was short,\n"
        "2 a usage error, 130 interrupted (the files being written are removed).\n")
        .arg(KvFrontEndState::DefaultParallelConversions());
}

int KvCommandLine::Run(const QStringList& args)
{
    KvRenderOptions options;
    QString error;
    if (!Parse(args, options, error))
        return UsageError(error);
    if (options.help) {
        Print(stdout, HelpText());
        return kExitDone;
    }

    const std::string programFolder = GetProgramFolder();
    KvFrontEndState& state = KvFrontEndState::Instance();
    state.Reset(programFolder);
    // What the window starts with, then what the settings dialog would make of the
    // values given: the same record and profile as a Render in the window.
    ApplyInitialWindowsMediaChoice(state.CurrentRecord());
    if (!ApplyAudioChoice(state, options.audio, error))
        return UsageError(error);
    state.SetOutputNamePattern(options.names);
    state.SetCheckEveryOutput(options.verify);

    std::string workError;
    if (!EnsureWorkFolder(programFolder, &workError)) {
        Print(stderr, QStringLiteral("velmora: the work folder cannot be used: %1.\n").arg(QString::fromStdString(workError)));
        return kExitFailed;
    }
    state.LoadH264();
    InstallStopSignals();

    const QStringList files = CollectMediaFiles(options.paths);
    if (files.isEmpty()) {
        Print(stderr, QStringLiteral("velmora: no media files to convert.\n"));
        return kExitDone;
    }
    const int jobs = options.jobs > 0 ? options.jobs : KvFrontEndState::DefaultParallelConversions();
    std::string slotError;
    auto leases = KvEngineSlotLease::TakeFree(programFolder, std::min<int>(jobs, int(files.size())), &slotError);
    if (leases.empty()) {
        Print(stderr, QStringLiteral("velmora: no conversion can start: %1.\n").arg(QString::fromStdString(slotError)));
        return kExitFailed;
    }
    // This run's own job files (the WAVs of Windows Media sources and their index) live
    // in its first slot, where no other front end looks.
    SetCurrentEngineSlot(leases.front()->Slot());
    const auto slotBack = qScopeGuard([] { SetCurrentEngineSlot(0); });

    RenderReport report(isatty(STDOUT_FILENO) != 0);
    report.Header(QStringLiteral("Converting %1 file%2 into %3: %4")
                      .arg(files.size())
                      .arg(files.size() == 1 ? "" : "s")
                      .arg(options.folder, Settings(state, int(leases.size()))));
    std::vector<KvQueueRow> rows;
    for (const QString& file : files) {
        if (StopSignalReceived()) {
            report.Close(QStringLiteral("stopped before any conversion started."));
            return kExitInterrupted;
        }
        KvSourceRow source = ReadSourceRow(file);
        if (!source.problem.isEmpty()) {
            report.Failed(file, source.problem);
            continue;
        }
        if (IsWindowsMediaPath(file))
            PreExtractSound(programFolder, source.item.source.toStdString(), -1, ExtractAudioToWav);
        if (options.start > 0.0)
            source.item.start = options.start;
        if (options.end >= 0.0 && options.end < source.item.Length())
            source.item.end = options.end;
        rows.push_back({source.item.JobRow(), int(rows.size())});
    }
    if (rows.empty())
        return report.FailedCount() > 0 ? kExitFailed : kExitDone;

    KvRenderQueue queue(state);
    queue.SetSlots(std::move(leases));
    queue.SetPollInterval(isatty(STDOUT_FILENO) ? 250 : KvRenderQueue::kPollInterval);
    // After a stop signal no further engine starts, whatever ends meanwhile.
    queue.SetHoldStarts([] { return StopSignalReceived(); });
    if (const QString problem = queue.CheckTarget(options.folder, rows); !problem.isEmpty()) {
        Print(stderr, QStringLiteral("velmora: %1\n").arg(problem));
        return kExitFailed;
    }

    report.SetRows(rows);
    std::map<int, QString> outputs;
    QObject::connect(&queue, &KvRenderQueue::rowStarted, &queue, [&](int index, const QString& output) {
        outputs[index] = output;
        report.Started(index);
    });
    QObject::connect(&queue, &KvRenderQueue::rowProgress, &queue,
                     [&](int index, double percent, double speed) { report.Progress(index, percent, speed); });
    QObject::connect(&queue, &KvRenderQueue::rowEnded, &queue,
                     [&](int index, bool finished, const QString& reason, const QString&) {
                         // Ctrl-C on a terminal reaches the engines as well: a row they
                         // end that way was stopped, not failed.
                         if (!finished && StopSignalReceived())
                             return;
                         if (finished)
                             report.CountFinished();
                         report.Ended(index, finished, outputs[index], reason);
                     });
    QObject::connect(&queue, &KvRenderQueue::message, &queue,
                     [](const QString& text) { Print(stderr, QStringLiteral("velmora: %1\n").arg(text)); });
    QEventLoop loop;
    QObject::connect(&queue, &KvRenderQueue::stopped, &loop, [&loop] { loop.quit(); });
    QSocketNotifier stopNotifier(StopSignalFd(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &queue, [&] {
        DrainStopSignals();
        queue.Stop();
    });

    if (!StopSignalReceived() && queue.Start(options.folder, rows) && queue.IsRunning())
        loop.exec();
    if (StopSignalReceived()) {
        queue.Stop();
        report.Close(QStringLiteral("stopped with %1 of %2 files finished; the files being written were removed.")
                         .arg(report.FinishedCount())
                         .arg(rows.size()));
        return kExitInterrupted;
    }
    if (!queue.LastError().isEmpty()) {
        report.Close(QString());
        Print(stderr, QStringLiteral("velmora: %1\n").arg(queue.LastError()));
        return kExitFailed;
    }
    report.Close(report.Terminal() ? report.Total() : QString());
    return report.IncompleteCount() > 0 ? kExitFailed : kExitDone;
}

} // namespace velmora
