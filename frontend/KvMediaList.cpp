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
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

namespace velmora {

namespace {

struct ColumnSpec
{
    int width;
    int kind;
};

constexpr ColumnSpec kColumns[kMediaColumnCount] = {
    // The time columns hold values like "3723.46" (an hour-long film) in the list's
    // cell font; they take what the file and state columns can spare.
    {360, CKvListCtrl::KindText},   // File
    {240, CKvListCtrl::KindProgress}, // State
    {110, CKvListCtrl::KindText},   // Duration
    {110, CKvListCtrl::KindEdit},   // Start
    {110, CKvListCtrl::KindEdit},   // End
    {100, CKvListCtrl::KindEdit},   // Sync Audio
    {60, CKvListCtrl::KindEdit},    // Volume
    {60, CKvListCtrl::KindEdit},    // Speed
    {100, CKvListCtrl::KindEdit},   // New Width
    {100, CKvListCtrl::KindEdit},   // New Height
    {60, CKvListCtrl::KindEdit},    // Crop X
    {60, CKvListCtrl::KindEdit},    // Crop Y
    {60, CKvListCtrl::KindEdit},    // Crop W
    {60, CKvListCtrl::KindEdit},    // Crop H
    {60, CKvListCtrl::KindText},    // Has Video
    {60, CKvListCtrl::KindText},    // Has Audio
    {60, CKvListCtrl::KindText},    // Source W
    {60, CKvListCtrl::KindText},    // Source H
    {170, CKvListCtrl::KindChoice}, // Track
};

constexpr int kFirstHiddenColumn = kColSyncAudio;
// The header's View menu offers the columns a user can read and edit; the rest carry
// job values that only make sense to the engine.
constexpr int kLastOfferedColumn = kColSpeed;
// How long the tip about a refused edit stays.
constexpr int kProblemTipMs = 6000;

QString FromC(const std::string& text)
{
    return QString::fromStdString(text);
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
    return KvQueueModel::StateReady();
}

const QString& KvMediaList::StateFinish()
{
    return KvQueueModel::StateFinish();
}

const QString& KvMediaList::StateFinishShort()
{
    return KvQueueModel::StateFinishShort();
}

bool KvMediaList::IsFinishState(const QString& state)
{
    return state.compare(StateFinish(), Qt::CaseInsensitive) == 0 || state == StateFinishShort();
}

const QString& KvMediaList::StateFailed()
{
    return KvQueueModel::StateFailed();
}

QString KvMediaList::ProgressText(double percent)
{
    return KvQueueModel::ProgressText(percent);
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
    // A CUE sheet is added as its tracks; folder walks pass over sheets (the album
    // beside one is found itself).
    patterns << QStringLiteral("*.cue");
    // Anything else may be chosen too; what FFmpeg cannot read is then left out
    // with its reason.
    return QStringLiteral("Media Files (") + patterns.join(u' ') + QStringLiteral(");;All Files (*)");
}

KvMediaList::KvMediaList(CKvListCtrl* list, std::string programFolder)
    : m_list(list)
    , m_programFolder(programFolder.empty() ? GetProgramFolder() : std::move(programFolder))
{
    if (!m_programFolder.empty() && m_programFolder.back() != '/')
        m_programFolder += '/';
    m_model.SetListener([this](int row) { ShowRow(row); });
}

KvMediaList::~KvMediaList()
{
    if (m_tipWnd)
        m_tipWnd->deleteLater();
    // The list outlives this controller (the dialog's manager owns it).
    if (m_list)
        m_list->SetAccessibleCellReader(nullptr);
}

void KvMediaList::CreateColumns()
{
    if (!m_list)
        return;
    for (int column = 0; column < kMediaColumnCount; ++column)
        m_list->InsertColumn(kColumns[column].kind, kColumns[column].width, KvQueueModel::ColumnHeader(column));
    for (int column = kFirstHiddenColumn; column < kMediaColumnCount; ++column)
        m_list->ShowColumn(column, false, false);
    for (int column = kLastOfferedColumn + 1; column < kMediaColumnCount; ++column)
        m_list->SetColumnOffered(column, column == kColTrack);
    // A long path keeps its file name in view; the tip shows it whole.
    m_list->SetColumnElide(kColFile, Qt::ElideMiddle);
    m_list->SetFillWidth(true);
    m_list->SetAccessibleCellReader(
        [this](int column, int row) { return column == kColState ? SpokenState(row) : QString(); });
}

QString KvMediaList::SpokenState(int row) const
{
    if (row < 0 || row >= m_model.Count())
        return QString();
    const KvQueueItem& item = m_model.At(row);
    // The sighted user sees a bar filling and the row's tip under the pointer; the
    // words say both. The tip's first line is the short reason.
    const QString reason = item.reason.section(u'\n', 0, 0).trimmed();
    switch (item.state) {
    case KvRowState::Running: return QStringLiteral("Converting %1%").arg(int(item.percent));
    case KvRowState::Failed: return reason.isEmpty() ? StateFailed() : StateFailed() + QStringLiteral(": ") + reason;
    case KvRowState::FinishedShort:
        return reason.isEmpty() ? StateFinish() : StateFinish() + QStringLiteral(", but: ") + reason;
    case KvRowState::Finished:
        // A tip on a finished row tells how its loudness missed what was asked.
        return reason.isEmpty() ? QString() : StateFinish() + QStringLiteral(": ") + reason;
    case KvRowState::Measuring: return QStringLiteral("Measuring the album's loudness");
    case KvRowState::Ready: break;
    }
    return QString();
}

int KvMediaList::AddFiles(const QStringList& files, const std::vector<KvSkippedFile>& leftOut)
{
    // Each file is read when its turn comes, so a Windows Media file's extraction
    // starts as soon as it is reached.
    std::vector<KvSourceProbe> sources;
    sources.reserve(size_t(files.size()));
    for (const QString& file : files) {
        KvSourceProbe source;
        source.file = file;
        sources.push_back(std::move(source));
    }
    return AddFiles(std::move(sources), leftOut);
}

int KvMediaList::AddFiles(std::vector<KvSourceProbe> sources, const std::vector<KvSkippedFile>& leftOut)
{
    m_leftOut.insert(m_leftOut.end(), leftOut.begin(), leftOut.end());
    if (m_adding) {
        m_waitingFiles.insert(m_waitingFiles.end(), std::make_move_iterator(sources.begin()),
                              std::make_move_iterator(sources.end()));
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
        std::vector<KvSourceProbe> batch = std::move(sources);
        while (!batch.empty()) {
            for (KvSourceProbe& source : batch) {
                if (!source.probed)
                    source = ProbeSourceAndTracks(source.file);
                if (AddFile(source))
                    ++added;
            }
            batch = std::exchange(m_waitingFiles, std::vector<KvSourceProbe>());
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
    SplitAddedFiles();
    return added;
}

void KvMediaList::SplitAddedFiles()
{
    const std::vector<qint64> splittable = std::exchange(m_splittable, {});
    const KvFrontEndState::SplitFiles policy = m_splitPolicy ? m_splitPolicy() : KvFrontEndState::SplitFiles::Never;
    if (splittable.empty() || policy == KvFrontEndState::SplitFiles::Never)
        return;
    if (policy == KvFrontEndState::SplitFiles::Ask) {
        int tracks = 0;
        for (qint64 serial : splittable) {
            if (const int row = m_model.FindSerial(serial); row >= 0)
                tracks += m_model.At(row).splitCount;
        }
        const QString question
            = splittable.size() == 1
                  ? QStringLiteral("%1 holds %2 tracks (chapters or a CUE sheet).\n\nSplit it into one row per track?")
                        .arg(QFileInfo(m_model.At(std::max(0, m_model.FindSerial(splittable.front()))).source).fileName())
                        .arg(tracks)
                  : QStringLiteral("%1 of the files added hold tracks (chapters or a CUE sheet), %2 in all.\n\n"
                                   "Split them into one row per track?")
                        .arg(splittable.size())
                        .arg(tracks);
        const bool yes = m_ask ? m_ask(question)
                               : KvMessageBox(QStringLiteral("Split Files"), question, CKvMessageDlg::kStyleYesNo,
                                              m_list->ParentWindow())
                                     == CKvMessageDlg::kIdYes;
        if (!yes)
            return;
    }
    WaitCursor wait;
    for (qint64 serial : splittable) {
        if (const int row = m_model.FindSerial(serial); row >= 0)
            SplitRow(row);
    }
}

int KvMediaList::InsertItem(int at, KvQueueItem item)
{
    const int row = m_list->InsertRow(at, item.source);
    if (row < 0)
        return -1;
    // A single sound track leaves nothing to choose.
    const bool choose = item.tracks.size() > 1;
    if (choose) {
        std::vector<tagKvListCtrlItemComboData> choices;
        for (const KvTrackChoice& track : item.tracks)
            choices.push_back({track.label, track.streamIndex});
        m_list->SetCellChoices(kColTrack, row, choices);
    } else {
        item.tracks.clear();
        item.track = 0;
    }
    const bool redraw = std::exchange(m_redraw, false); // the add draws the list once at its end
    m_model.Insert(row, std::move(item));
    m_redraw = redraw;
    if (choose)
        ShowTrackColumn();
    return row;
}

int KvMediaList::SplitRow(int row, QString* why)
{
    if (!m_list || row < 0 || row >= m_model.Count() || m_model.At(row).splitTrack)
        return 0;
    const KvQueueItem whole = m_model.At(row);
    QString reason;
    std::vector<KvQueueItem> tracks = ReadSplitRows(whole.source, KvSplitSource::Auto, &reason, &whole);
    if (tracks.empty()) {
        if (why)
            *why = reason;
        return 0;
    }
    HideRowTip();
    const bool redraw = std::exchange(m_redraw, false);
    const int count = int(tracks.size());
    for (int i = 0; i < count; ++i) {
        tracks[size_t(i)].foundIn = whole.foundIn;
        InsertItem(row + 1 + i, std::move(tracks[size_t(i)]));
    }
    m_list->DeleteRow(row);
    m_model.Remove(row);
    m_redraw = redraw;
    m_list->SetSelectedRow(row, false);
    ShowRow(-1);
    return count;
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

bool KvMediaList::AddFile(const KvSourceProbe& source)
{
    // The engine runs in another folder, so a relative name from the command line has
    // become the full path the column holds.
    const QString& file = source.file;
    const QString& path = source.path;
    const std::string utf8 = path.toStdString();

    if (IsCueSheetPath(path)) {
        // A sheet is nothing but its tracks.
        QString why;
        std::vector<KvQueueItem> tracks = ReadSplitRows(path, KvSplitSource::Cue, &why);
        if (tracks.empty())
            m_skipped.push_back({file, QStringLiteral("the CUE sheet cannot be split: %1").arg(why)});
        for (KvQueueItem& track : tracks)
            InsertItem(RowCount(), std::move(track));
        return !tracks.empty();
    }
    const MediaInfo& info = source.info;
    if (!source.readable) {
        m_skipped.push_back({file, ReasonUnreadable()});
        return false;
    }
    if (!info.nHasAudio) {
        m_skipped.push_back({file, ReasonNoSound()});
        return false;
    }
    if (IsWindowsMediaPath(path))
        PreExtractSound(utf8, -1);

    std::vector<KvTrackChoice> tracks;
    for (const AudioTrackInfo& track : info.audioTracks)
        tracks.push_back({FromC(AudioTrackLabel(track)), track.nStreamIndex});
    KvQueueItem item = KvQueueModel::NewItem(path, info.dDuration, info.nHasVideo != 0, info.nWidth, info.nHeight,
                                             std::move(tracks));
    item.foundIn = source.foundIn;
    item.splitCount = source.splitTracks;
    item.album = QString::fromStdString(info.album);
    const int row = InsertItem(RowCount(), std::move(item));
    if (row < 0)
        return false;
    const qint64 serial = m_model.Serial(row);
    if (source.splitTracks > 0)
        m_splittable.push_back(serial);
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

void KvMediaList::ShowRow(int row)
{
    if (!m_list)
        return;
    if (row < 0) {
        for (int each = 0; each < m_model.Count() && each < m_list->GetRowCount(); ++each)
            ShowRow(each);
        if (CKvUIManager* manager = m_list->Manager())
            manager->RedrawControl(m_list);
        return;
    }
    if (row >= m_list->GetRowCount())
        return;
    for (int column = 0; column < kMediaColumnCount; ++column)
        m_list->SetCellText(column, row, m_model.CellText(column, row), false);
    // A failed row stands out in the skin's danger colour, a short one in amber.
    const KvQueueItem& item = m_model.At(row);
    m_list->SetCellColor(kColState, row,
                         item.state == KvRowState::Failed          ? DangerColorRef()
                         : item.state == KvRowState::FinishedShort ? AccentColorRef()
                                                                   : CKvUIManager::Colors().clrText,
                         false);
    const bool finished = item.state == KvRowState::Finished || item.state == KvRowState::FinishedShort;
    m_list->SetProgress(kColState, row,
                        item.state == KvRowState::Running ? int(item.percent) : finished ? 100 : 0, m_redraw);
}

void KvMediaList::OnLengthMeasured(qint64 serial, double seconds)
{
    if (m_list)
        SetSourceLength(m_model.FindSerial(serial), seconds);
}

void KvMediaList::SetSourceLength(int row, double seconds)
{
    m_model.SetMeasuredLength(row, seconds);
    if (m_list && row >= 0 && row < m_list->GetRowCount())
        m_list->SetCellText(kColDuration, row, m_model.CellText(kColDuration, row), true);
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
    m_list->DeleteRow(row);
    m_model.Remove(row);
    HideRowTip();
    return true;
}

bool KvMediaList::RemoveAll()
{
    if (!m_list || m_list->GetSelectedRow() < 0)
        return false;
    m_list->DeleteAllRows();
    m_model.Clear();
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
    return m_list->MoveRowUp(row) && m_model.MoveUp(row);
}

bool KvMediaList::MoveDown()
{
    if (!m_list)
        return false;
    const int row = m_list->GetSelectedRow();
    if (row < 0 || row + 1 >= RowCount())
        return false;
    HideRowTip();
    return m_list->MoveRowDown(row) && m_model.MoveDown(row);
}

bool KvMediaList::OnCellTextChanged(qint64 param)
{
    if (!m_list)
        return false;
    const int column = int(param / 65536);
    const int row = int(param % 65536);
    if (row < 0 || row >= m_model.Count() || column < 0 || column >= kMediaColumnCount)
        return false;
    const QString typed = m_list->GetCellText(column, row);
    if (column == kColTrack) {
        if (!m_model.ChooseTrack(row, typed)) {
            ShowRow(row);
            return false;
        }
        // Another sound track of a Windows Media source is extracted as the first one was.
        if (IsWindowsMediaPath(FilePath(row)))
            PreExtractSound(FilePath(row).toStdString(), AudioStream(row));
    } else {
        const QString problem = m_model.Edit(column, row, typed);
        if (!problem.isEmpty()) {
            // The old value stays, and the user is told why: a bad edit must neither
            // reach the next job nor vanish without a word.
            ShowRow(row);
            ShowProblem(column, row, problem);
            return false;
        }
    }
    m_lastEditProblem.clear();
    if (m_problemTip)
        m_problemTip->hide();
    return true;
}

QString KvMediaList::CheckCellValue(int column, const QString& text, double start, double end, double duration)
{
    return KvQueueModel::CheckCellValue(column, text, start, end, duration);
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
    return m_model.Count();
}

QString KvMediaList::FilePath(int row) const
{
    return row >= 0 && row < m_model.Count() ? m_model.At(row).source : QString();
}

tagKvJobRow KvMediaList::JobRow(int row) const
{
    return row >= 0 && row < m_model.Count() ? m_model.At(row).JobRow() : tagKvJobRow{};
}

int KvMediaList::AudioStream(int row) const
{
    return row >= 0 && row < m_model.Count() ? m_model.At(row).AudioStream() : -1;
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
    return m_model.CellText(kColState, row);
}

int KvMediaList::Progress(int row) const
{
    return m_list ? m_list->GetProgress(kColState, row) : 0;
}

void KvMediaList::SetState(int row, KvRowState state, double percent, bool redraw)
{
    m_redraw = redraw;
    m_model.SetState(row, state, percent);
    m_redraw = true;
}

void KvMediaList::ShowRowStarted(int row, const QString& output)
{
    SetRowToolTip(row, QString());
    SetRowOutput(row, output);
    SetState(row, KvRowState::Running, 0.0);
}

void KvMediaList::ShowRowEnded(int row, bool finished, const QString& reason, const QString& detail,
                               double shortSourceSeconds)
{
    const QString tip = reason.isEmpty() ? QString() : reason.left(1).toUpper() + reason.mid(1) + u'.';
    // A finished row's detail: how its loudness came out, when not as asked.
    const QString loudness = finished && !detail.isEmpty() ? detail.left(1).toUpper() + detail.mid(1) + u'.' : QString();
    if (finished && !reason.isEmpty()) {
        SetState(row, KvRowState::FinishedShort);
        SetRowToolTip(row, loudness.isEmpty() ? tip : tip + u'\n' + loudness);
        if (shortSourceSeconds > 0.0)
            SetSourceLength(row, shortSourceSeconds);
    } else if (finished) {
        SetState(row, KvRowState::Finished);
        SetRowToolTip(row, loudness);
    } else {
        SetState(row, KvRowState::Failed);
        SetRowToolTip(row, detail.isEmpty() ? tip : tip + u'\n' + detail);
    }
}

void KvMediaList::SetRowToolTip(int row, const QString& text)
{
    const bool redraw = std::exchange(m_redraw, false);
    m_model.SetReason(row, text);
    m_redraw = redraw;
    HideRowTip();
}

QString KvMediaList::RowToolTip(int row) const
{
    return row >= 0 && row < m_model.Count() ? m_model.At(row).reason : QString();
}

void KvMediaList::SetRowOutput(int row, const QString& path)
{
    m_model.SetOutput(row, path);
}

QString KvMediaList::FinishedOutput(int row) const
{
    if (row < 0 || row >= m_model.Count())
        return QString();
    const KvQueueItem& item = m_model.At(row);
    const bool finished = item.state == KvRowState::Finished || item.state == KvRowState::FinishedShort;
    return finished ? item.output : QString();
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
    m_model.ResetAllToReady();
    HideRowTip();
}

} // namespace velmora
