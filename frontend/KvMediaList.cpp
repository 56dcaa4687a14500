#include "frontend/KvMediaList.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "frontend/KvLengthMeasurer.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvWaitingDlg.h"
#include "media/ExtractAudioToWav.h"
#include "media/KvMediaInfo.h"
#include "ui/KvListCtrl.h"
#include "ui/KvToolTipWnd.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <utility>

namespace velmora {

namespace {

struct ColumnSpec
{
    const char* header;
    int width;
    int kind;
};

constexpr ColumnSpec kColumns[kMediaColumnCount] = {
    // The time columns hold values like "3723.46" (an hour-long film) in the list's
    // cell font; they take what the file and state columns can spare.
    {"File", 360, CKvListCtrl::KindText},
    {"State", 240, CKvListCtrl::KindProgress},
    {"Duration", 110, CKvListCtrl::KindText},
    {"Start", 110, CKvListCtrl::KindEdit},
    {"End", 110, CKvListCtrl::KindEdit},
    {"Sync Audio", 100, CKvListCtrl::KindEdit},
    {"Volume", 60, CKvListCtrl::KindEdit},
    {"Speed", 60, CKvListCtrl::KindEdit},
    {"New Width", 100, CKvListCtrl::KindEdit},
    {"New Height", 100, CKvListCtrl::KindEdit},
    {"Crop X", 60, CKvListCtrl::KindEdit},
    {"Crop Y", 60, CKvListCtrl::KindEdit},
    {"Crop W", 60, CKvListCtrl::KindEdit},
    {"Crop H", 60, CKvListCtrl::KindEdit},
    {"Has Video", 60, CKvListCtrl::KindText},
    {"Has Audio", 60, CKvListCtrl::KindText},
    {"Source W", 60, CKvListCtrl::KindText},
    {"Source H", 60, CKvListCtrl::KindText},
    {"Track", 170, CKvListCtrl::KindChoice},
};

constexpr int kFirstHiddenColumn = kColSyncAudio;
// The header's View menu offers the columns a user can read and edit; the rest carry
// job values that only make sense to the engine.
constexpr int kLastOfferedColumn = kColSpeed;
// How long the tip about a refused edit stays.
constexpr int kProblemTipMs = 6000;
// Volume and Speed are factors; beyond these the result is noise or a file of hours.
constexpr double kMaxVolume = 10.0;
constexpr double kMinSpeed = 0.1;
constexpr double kMaxSpeed = 10.0;

QString FromC(const std::string& text)
{
    return QString::fromStdString(text);
}

QString IntText(int value)
{
    return FromC(FormatInt(value));
}

bool ParseCell(const QString& text, double& value)
{
    return TryParseDouble(text.toStdString(), value);
}

QString Seconds(double value)
{
    return FromC(FormatDoubleAs("%.2f", value));
}

// Holds the wait cursor while a long main-thread step runs.
class WaitCursor
{
public:
    WaitCursor()
        : m_active(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
    {
        if (m_active)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~WaitCursor()
    {
        if (m_active)
            QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_active;
};

} // namespace

const QString& KvMediaList::StateReady()
{
    static const QString text = QStringLiteral("Ready");
    return text;
}

const QString& KvMediaList::StateFinish()
{
    static const QString text = QStringLiteral("Finish");
    return text;
}

const QString& KvMediaList::StateFinishShort()
{
    static const QString text = QStringLiteral("Finish \u26A0");
    return text;
}

bool KvMediaList::IsFinishState(const QString& state)
{
    return state.compare(StateFinish(), Qt::CaseInsensitive) == 0 || state == StateFinishShort();
}

const QString& KvMediaList::StateFailed()
{
    static const QString text = QStringLiteral("Failed");
    return text;
}

QString KvMediaList::ProgressText(double percent)
{
    return FromC(FormatDoubleAs("%3.3lf%%", percent));
}

const QString& KvMediaList::ReasonNoSound()
{
    static const QString text = QStringLiteral("no sound track");
    return text;
}

const QString& KvMediaList::ReasonUnreadable()
{
    static const QString text = QStringLiteral("cannot be read");
    return text;
}

const QString& KvMediaList::ReasonNotMedia()
{
    static const QString text = QStringLiteral("not a media file");
    return text;
}

const QString& KvMediaList::ReasonNotLocal()
{
    static const QString text = QStringLiteral("not a local file");
    return text;
}

QString KvMediaList::FileFilter()
{
    QStringList patterns;
    for (const char* extension : MediaFileExtensions())
        patterns << QStringLiteral("*.") + QLatin1String(extension);
    return QStringLiteral("Media Files (") + patterns.join(u' ') + u')';
}

KvMediaList::KvMediaList(CKvListCtrl* list, std::string programFolder)
    : m_list(list)
    , m_programFolder(programFolder.empty() ? GetProgramFolder() : std::move(programFolder))
{
    if (!m_programFolder.empty() && m_programFolder.back() != '/')
        m_programFolder += '/';
}

KvMediaList::~KvMediaList()
{
    if (m_tipWnd)
        m_tipWnd->deleteLater();
}

void KvMediaList::CreateColumns()
{
    if (!m_list)
        return;
    for (const ColumnSpec& column : kColumns)
        m_list->InsertColumn(column.kind, column.width, QString::fromLatin1(column.header));
    for (int column = kFirstHiddenColumn; column < kMediaColumnCount; ++column)
        m_list->ShowColumn(column, false, false);
    for (int column = kLastOfferedColumn + 1; column < kMediaColumnCount; ++column)
        m_list->SetColumnOffered(column, column == kColTrack);
    // A long path keeps its file name in view; the tip shows it whole.
    m_list->SetColumnElide(kColFile, Qt::ElideMiddle);
    m_list->SetFillWidth(true);
}

int KvMediaList::AddFiles(const QStringList& files, const std::vector<KvSkippedFile>& leftOut)
{
    m_leftOut.insert(m_leftOut.end(), leftOut.begin(), leftOut.end());
    if (m_adding) {
        m_waitingFiles += files;
        return 0;
    }
    m_skipped.clear();
    if (!m_list || m_list->GetColumnCount() < kMediaColumnCount) {
        m_leftOut.clear();
        return 0;
    }
    int added = 0;
    {
        WaitCursor wait;
        m_adding = true;
        const auto done = qScopeGuard([this] { m_adding = false; });
        QStringList batch = files;
        while (!batch.isEmpty()) {
            for (const QString& file : batch) {
                if (AddFile(file))
                    ++added;
            }
            batch = std::exchange(m_waitingFiles, QStringList());
        }
        m_skipped.insert(m_skipped.end(), m_leftOut.begin(), m_leftOut.end());
        m_leftOut.clear();
        m_list->SetScroll(m_list->ScrollX(), m_list->ScrollY());
        if (CKvUIManager* manager = m_list->Manager())
            manager->RedrawControl(m_list);
    }
    if (!m_skipped.empty()) {
        const QString message = SkippedMessage(m_skipped);
        if (m_messageSink)
            m_messageSink(message);
        else
            KvMessageBox(message, CKvMessageDlg::kStyleOk, m_list->ParentWindow());
    }
    return added;
}

QString KvMediaList::SkippedMessage(const std::vector<KvSkippedFile>& skipped)
{
    if (skipped.empty())
        return QString();
    if (skipped.size() == 1)
        return QStringLiteral("This file was not added (%1):\n%2").arg(skipped.front().reason, skipped.front().path);
    // One group per reason, in the order the reasons first came up.
    QStringList reasons;
    for (const KvSkippedFile& file : skipped) {
        if (!reasons.contains(file.reason))
            reasons << file.reason;
    }
    QString text = QStringLiteral("%1 files were not added.").arg(skipped.size());
    for (const QString& reason : reasons) {
        text += QStringLiteral("\n\n") + reason.left(1).toUpper() + reason.mid(1) + u':';
        for (const KvSkippedFile& file : skipped) {
            if (file.reason == reason)
                text += u'\n' + file.path;
        }
    }
    return text;
}

bool KvMediaList::AddFile(const QString& file)
{
    // The engine runs in another folder, so a relative name from the command line must
    // become the full path the column holds.
    const QString path = file.isEmpty() ? file : QFileInfo(file).absoluteFilePath();
    const std::string utf8 = path.toStdString();

    MediaInfo info;
    if (path.isEmpty() || !QFileInfo(path).isFile() || !GetMediaInfo(utf8, info)) {
        m_skipped.push_back({file, ReasonUnreadable()});
        return false;
    }
    if (!info.nHasAudio) {
        m_skipped.push_back({file, ReasonNoSound()});
        return false;
    }
    if (IsWindowsMediaPath(path))
        PreExtractSound(utf8, -1);

    const qint64 serial = m_nextSerial++;
    const int row = m_list->AddRow(path, serial);
    if (row < 0)
        return false;
    const QString duration = FromC(FormatDoubleAs("%3.2lf", info.dDuration));
    const QString width = IntText(info.nWidth);
    const QString height = IntText(info.nHeight);
    const QString values[kMediaColumnCount] = {
        path,
        StateReady(),
        duration,
        QStringLiteral("0.00"),
        duration,
        QStringLiteral("0.00"),
        QStringLiteral("1.00"),
        QStringLiteral("1.00"),
        width,
        height,
        QStringLiteral("0"),
        QStringLiteral("0"),
        width,
        height,
        IntText(info.nHasVideo),
        IntText(info.nHasAudio),
        width,
        height,
        // A single sound track leaves nothing to choose.
        info.audioTracks.size() > 1 ? FromC(AudioTrackLabel(info.audioTracks.front())) : QString(),
    };
    for (int column = 1; column < kMediaColumnCount; ++column)
        m_list->SetCellText(column, row, values[column], false);
    if (info.audioTracks.size() > 1) {
        std::vector<tagKvListCtrlItemComboData> tracks;
        for (const AudioTrackInfo& track : info.audioTracks)
            tracks.push_back({FromC(AudioTrackLabel(track)), track.nStreamIndex});
        m_list->SetCellChoices(kColTrack, row, tracks);
        ShowTrackColumn();
    }
    m_list->SetProgress(kColState, row, 0, false);
    RowExtra& extra = m_extras[serial];
    std::copy(std::begin(values), std::end(values), std::begin(extra.accepted));
    // A file of sound alone may declare any length (a cut file keeps its header): what
    // it holds is counted from its packets, after the row is shown.
    if (!info.nHasVideo) {
        if (!m_measurer)
            m_measurer = std::make_unique<KvLengthMeasurer>(
                [this](qint64 key, double seconds) { OnLengthMeasured(key, seconds); });
        m_measurer->Measure(serial, utf8, -1);
    }
    return true;
}

void KvMediaList::OnLengthMeasured(qint64 serial, double seconds)
{
    if (!m_list)
        return;
    for (int row = 0; row < RowCount(); ++row) {
        if (m_list->GetRowData(row) == serial) {
            SetSourceLength(row, seconds);
            return;
        }
    }
}

void KvMediaList::SetSourceLength(int row, double seconds)
{
    RowExtra* extra = Extra(row);
    if (!extra || !(seconds > 0.0) || !std::isfinite(seconds))
        return;
    const QString text = FromC(FormatDoubleAs("%3.2lf", seconds));
    QString& duration = extra->accepted[kColDuration];
    if (text == duration)
        return;
    double end = 0.0;
    ParseCell(extra->accepted[kColEnd], end);
    if (extra->accepted[kColEnd] == duration || end > seconds) {
        extra->accepted[kColEnd] = text;
        m_list->SetCellText(kColEnd, row, text, false);
    }
    duration = text;
    m_list->SetCellText(kColDuration, row, text, true);
}

int KvMediaList::PendingMeasures() const
{
    return m_measurer ? m_measurer->Pending() : 0;
}

void KvMediaList::ShowTrackColumn()
{
    if (m_list->Column(kColTrack)->bShow)
        return;
    // The Track column takes its room from the shown columns in proportion, so the
    // list keeps the width it had and needs no sideways scrolling.
    int others = 0;
    for (int column = 0; column < kMediaColumnCount; ++column) {
        if (column != kColTrack && m_list->Column(column)->bShow)
            others += m_list->ColumnBaseWidth(column);
    }
    const int track = m_list->ColumnBaseWidth(kColTrack);
    if (others > track) {
        for (int column = 0; column < kMediaColumnCount; ++column) {
            if (column != kColTrack && m_list->Column(column)->bShow)
                m_list->SetColumnBaseWidth(column, m_list->ColumnBaseWidth(column) * (others - track) / others);
        }
    }
    m_list->ShowColumn(kColTrack, true, false);
}

void KvMediaList::PreExtractSound(const std::string& source, int audioStream)
{
    velmora::PreExtractSound(m_programFolder, source, audioStream,
                             [this](const std::string& from, const std::string& wav, int stream) {
                                 return ExtractInBackground(from, wav, stream);
                             });
}

bool KvMediaList::ExtractInBackground(const std::string& source, const std::string& wav, int audioStream)
{
    // A long Windows Media file takes a while to decode: do it on a worker thread and
    // keep the window painting, with the spinner up, instead of freezing it. User input
    // stays out until the extraction ends, so the list cannot change under the add.
    std::atomic<bool> done{false};
    bool extracted = false;
    std::thread worker([&] {
        extracted = ExtractAudioToWav(source, wav, audioStream);
        done.store(true, std::memory_order_release);
    });

    std::unique_ptr<CKvWaitingDlg> spinner;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    while (!done.load(std::memory_order_acquire)) {
        // Short extractions finish before anyone would notice a spinner.
        if (!spinner && clock.elapsed() > 300) {
            spinner = std::make_unique<CKvWaitingDlg>(m_list ? m_list->ParentWindow() : nullptr);
            spinner->setWindowTitle(QStringLiteral("Please wait"));
            spinner->Open();
        }
        loop.processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    if (spinner)
        spinner->Close();
    return extracted;
}

bool KvMediaList::Remove()
{
    if (!m_list)
        return false;
    const int row = m_list->GetSelectedRow();
    if (row < 0 || row >= RowCount())
        return false;
    const qint64 serial = m_list->GetRowData(row);
    m_list->DeleteRow(row);
    m_extras.erase(serial);
    HideRowTip();
    return true;
}

bool KvMediaList::RemoveAll()
{
    if (!m_list || m_list->GetSelectedRow() < 0)
        return false;
    m_list->DeleteAllRows();
    m_extras.clear();
    HideRowTip();
    return true;
}

bool KvMediaList::MoveUp()
{
    if (!m_list)
        return false;
    const int row = m_list->GetSelectedRow();
    if (row <= 0)
        return false;
    HideRowTip();
    return m_list->MoveRowUp(row);
}

bool KvMediaList::MoveDown()
{
    if (!m_list)
        return false;
    const int row = m_list->GetSelectedRow();
    if (row < 0 || row + 1 >= RowCount())
        return false;
    HideRowTip();
    return m_list->MoveRowDown(row);
}

bool KvMediaList::OnCellTextChanged(qint64 param)
{
    if (!m_list)
        return false;
    const int column = int(param / 65536);
    const int row = int(param % 65536);
    RowExtra* extra = Extra(row);
    if (!extra || column < 0 || column >= kMediaColumnCount)
        return false;
    const QString typed = Cell(column, row).trimmed();
    if (m_list->Column(column)->nKind == CKvListCtrl::KindEdit) {
        double start = 0;
        double end = 0;
        double duration = 0;
        ParseCell(extra->accepted[kColStart], start);
        ParseCell(extra->accepted[kColEnd], end);
        ParseCell(extra->accepted[kColDuration], duration);
        const QString problem = CheckCellValue(column, typed, start, end, duration);
        if (!problem.isEmpty()) {
            // The old value stays, and the user is told why: a bad edit must neither
            // reach the next job nor vanish without a word.
            m_list->SetCellText(column, row, extra->accepted[column], true);
            ShowProblem(column, row, problem);
            return false;
        }
        m_list->SetCellText(column, row, typed, true);
    }
    extra->accepted[column] = typed;
    extra->toolTip.clear();
    // Another sound track of a Windows Media source is extracted as the first one was.
    if (column == kColTrack && IsWindowsMediaPath(FilePath(row)))
        PreExtractSound(FilePath(row).toStdString(), AudioStream(row));
    m_lastEditProblem.clear();
    if (m_problemTip)
        m_problemTip->hide();
    SetState(row, StateReady(), 0);
    return true;
}

QString KvMediaList::CheckCellValue(int column, const QString& text, double start, double end, double duration)
{
    const QString header = column >= 0 && column < kMediaColumnCount ? QString::fromLatin1(kColumns[column].header)
                                                                     : QString();
    // A plain decimal number written the C way: no exponent, no hexadecimal, no
    // thousands separator, so what the user sees is what the job gets.
    static const QRegularExpression plain(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    double value = 0;
    if (!plain.match(text).hasMatch() || !ParseCell(text, value)) {
        QString fixed = text;
        fixed.replace(u',', u'.');
        if (text.contains(u',') && plain.match(fixed).hasMatch())
            return QStringLiteral("%1: \"%2\" is not a number here: write it with a dot, as %3.").arg(header, text, fixed);
        if (text.isEmpty())
            return QStringLiteral("%1 needs a number.").arg(header);
        return QStringLiteral("%1: \"%2\" is not a number.").arg(header, text);
    }
    switch (column) {
    case kColStart:
        if (value < 0 || value >= end)
            return QStringLiteral("Start must be from 0 up to End (%1).").arg(Seconds(end));
        break;
    case kColEnd:
        if (value <= start || value > duration)
            return QStringLiteral("End must be after Start (%1) and at most the length of the file (%2).")
                .arg(Seconds(start), Seconds(duration));
        break;
    case kColSyncAudio:
        if (std::abs(value) > duration)
            return QStringLiteral("Sync Audio must be between -%1 and %1 seconds (the length of the file).")
                .arg(Seconds(duration));
        break;
    case kColVolume:
        if (value < 0 || value > kMaxVolume)
            return QStringLiteral("Volume must be from 0 (silent) to %1; 1 keeps the sound as it is.")
                .arg(FromC(FormatDoubleAs("%g", kMaxVolume)));
        break;
    case kColSpeed:
        if (value < kMinSpeed || value > kMaxSpeed)
            return QStringLiteral("Speed must be from %1 to %2; 1 keeps the sound as it is.")
                .arg(FromC(FormatDoubleAs("%g", kMinSpeed)), FromC(FormatDoubleAs("%g", kMaxSpeed)));
        break;
    default:
        break;
    }
    return QString();
}

CKvToolTipWnd* KvMediaList::ProblemTip() const
{
    return m_problemTip.data();
}

void KvMediaList::ShowProblem(int column, int row, const QString& text)
{
    m_lastEditProblem = text;
    QWidget* parent = m_list ? m_list->ParentWindow() : nullptr;
    if (!parent)
        return;
    if (!m_problemTip)
        m_problemTip = new CKvToolTipWnd(parent);
    m_problemTip->SetText(text);
    const QRect cell = m_list->CellRect(column, row);
    m_problemTip->move(parent->mapToGlobal(QPoint(cell.left(), cell.bottom() + 4)));
    m_problemTip->show();
    m_problemTip->raise();
    QTimer::singleShot(kProblemTipMs, m_problemTip.data(), [tip = m_problemTip, text] {
        if (tip && tip->Text() == text)
            tip->hide();
    });
}

int KvMediaList::RowCount() const
{
    return m_list ? m_list->GetRowCount() : 0;
}

QString KvMediaList::Cell(int column, int row) const
{
    return m_list ? m_list->GetCellText(column, row) : QString();
}

QString KvMediaList::FilePath(int row) const
{
    return Cell(kColFile, row);
}

tagKvJobRow KvMediaList::JobRow(int row) const
{
    tagKvJobRow job;
    job.file = Cell(kColFile, row).toStdWString();
    job.duration = Cell(kColDuration, row).toStdWString();
    job.start = Cell(kColStart, row).toStdWString();
    job.end = Cell(kColEnd, row).toStdWString();
    job.syncAudio = Cell(kColSyncAudio, row).toStdWString();
    job.volume = Cell(kColVolume, row).toStdWString();
    job.speed = Cell(kColSpeed, row).toStdWString();
    job.hasAudio = Cell(kColHasAudio, row).toStdWString();
    job.sourceWidth = Cell(kColSourceW, row).toStdWString();
    job.sourceHeight = Cell(kColSourceH, row).toStdWString();
    job.audioStream = AudioStream(row);
    return job;
}

int KvMediaList::AudioStream(int row) const
{
    const tagKvListCtrlItemData* cell = m_list ? m_list->Cell(kColTrack, row) : nullptr;
    if (!cell)
        return -1;
    // The first track is what a job reads when it names none, so it is not named: the
    // project file stays as it was for everyone who never chose.
    for (size_t i = 1; i < cell->combo.size(); ++i) {
        if (cell->combo[i].szText == cell->szText)
            return static_cast<int>(cell->combo[i].nData);
    }
    return -1;
}

double KvMediaList::RowLength(int row) const
{
    if (row < 0 || row >= RowCount())
        return 0;
    // Measured on the item the job will really carry, so the check and the engine
    // can never disagree about the limits on Start and End.
    const std::unique_ptr<tagKvProjectData> project = BuildJobProject({JobRow(row)});
    return GetAudioLineDuration(project.get());
}

QString KvMediaList::StateText(int row) const
{
    return Cell(kColState, row);
}

int KvMediaList::Progress(int row) const
{
    return m_list ? m_list->GetProgress(kColState, row) : 0;
}

void KvMediaList::SetState(int row, const QString& text, int progress, bool redraw)
{
    if (!m_list)
        return;
    m_list->SetCellText(kColState, row, text, false);
    // A failed row stands out in the skin's danger colour, a short one in amber.
    const bool failed = text.compare(StateFailed(), Qt::CaseInsensitive) == 0;
    const bool shortened = text == StateFinishShort();
    m_list->SetCellColor(kColState, row,
                         failed ? DangerColorRef() : shortened ? AccentColorRef() : CKvUIManager::Colors().clrText,
                         false);
    m_list->SetProgress(kColState, row, progress, redraw);
}

void KvMediaList::SetStateText(int row, const QString& text, bool redraw)
{
    if (m_list)
        m_list->SetCellText(kColState, row, text, redraw);
}

void KvMediaList::SetProgress(int row, int value, bool redraw)
{
    if (m_list)
        m_list->SetProgress(kColState, row, value, redraw);
}

void KvMediaList::SetRowToolTip(int row, const QString& text)
{
    if (RowExtra* extra = Extra(row))
        extra->toolTip = text;
    HideRowTip();
}

QString KvMediaList::RowToolTip(int row) const
{
    const RowExtra* extra = Extra(row);
    return extra ? extra->toolTip : QString();
}

void KvMediaList::SetRowOutput(int row, const QString& path)
{
    if (RowExtra* extra = Extra(row))
        extra->output = path;
}

QString KvMediaList::FinishedOutput(int row) const
{
    const RowExtra* extra = Extra(row);
    if (!extra || !IsFinishState(StateText(row)))
        return QString();
    return extra->output;
}

QString KvMediaList::ToolTipAt(int x, int y) const
{
    if (!m_list)
        return QString();
    const QPoint point(x, y);
    if (!m_list->Contains(point))
        return QString();
    const int row = m_list->HitItem(point);
    if (row < 0)
        return QString();
    const QString reason = RowToolTip(row);
    if (m_list->HitColumn(point) != kColFile)
        return reason;
    return reason.isEmpty() ? FilePath(row) : FilePath(row) + u'\n' + reason;
}

void KvMediaList::UpdateToolTipAt(int x, int y)
{
    const QString text = ToolTipAt(x, y);
    if (text == m_tipText)
        return;
    HideRowTip();
    QWidget* parent = m_list ? m_list->ParentWindow() : nullptr;
    if (text.isEmpty() || !parent)
        return;
    if (!m_tipWnd)
        m_tipWnd = new CKvToolTipWnd(parent);
    m_tipWnd->SetText(text);
    m_tipWnd->move(parent->mapToGlobal(QPoint(x, y) + QPoint(12, 20)));
    m_tipWnd->show();
    m_tipText = text;
}

QString KvMediaList::ShownToolTip() const
{
    return m_tipWnd && m_tipWnd->isVisible() ? m_tipWnd->Text() : QString();
}

void KvMediaList::HideRowTip()
{
    m_tipText.clear();
    if (m_tipWnd)
        m_tipWnd->hide();
}

void KvMediaList::ResetAllToReady()
{
    for (int row = 0; row < RowCount(); ++row) {
        SetState(row, StateReady(), 0, false);
        if (RowExtra* extra = Extra(row))
            extra->toolTip.clear();
    }
    HideRowTip();
    if (m_list && m_list->Manager())
        m_list->Manager()->RedrawControl(m_list);
}

KvMediaList::RowExtra* KvMediaList::Extra(int row)
{
    if (!m_list || row < 0 || row >= RowCount())
        return nullptr;
    const auto found = m_extras.find(m_list->GetRowData(row));
    return found == m_extras.end() ? nullptr : &found->second;
}

const KvMediaList::RowExtra* KvMediaList::Extra(int row) const
{
    return const_cast<KvMediaList*>(this)->Extra(row);
}

} // namespace velmora
