#include "frontend/KvMediaList.h"

#include "common/KvProgramFolder.h"
#include "common/KvText.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvWaitingDlg.h"
#include "media/ExtractAudioToWav.h"
#include "media/KvMediaInfo.h"
#include "project/KvWavIndex.h"
#include "ui/KvListCtrl.h"
#include "ui/KvToolTipWnd.h"
#include "ui/KvUIManager.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

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
};

constexpr int kFirstHiddenColumn = kColSyncAudio;

const char* const kMediaExtensions[] = {
    "avi", "ogg", "ogm", "wmv", "asf", "dic", "mpg", "mpeg", "qt", "mov", "m1v", "m2v", "ts", "mts",
    "m2ts", "mp4", "3gp", "3g2", "flv", "rv", "rm", "rmvb", "mkv", "pmp", "nut", "dsm", "roq", "divx",
    "f4v", "m4v", "vob", "dat", "wav", "ogg", "wma", "mpa", "mp2", "mp3", "m4a", "ac3", "au", "aif",
    "aiff", "snd", "aac", "amr"};

QString FromC(const std::string& text)
{
    return QString::fromStdString(text);
}

QString IntText(int value)
{
    return FromC(FormatInt(value));
}

// Windows Media sources have their sound decoded ahead of the job; the match ignores
// case because ".WMV" is as common as ".wmv".
bool IsWindowsMediaPath(const QString& path)
{
    return path.endsWith(QLatin1String(".wmv"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".asf"), Qt::CaseInsensitive);
}

bool ParseCell(const QString& text, double& value)
{
    return TryParseDouble(text.toStdString(), value);
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

QString KvMediaList::FileFilter()
{
    QStringList patterns;
    for (const char* extension : kMediaExtensions)
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
}

int KvMediaList::AddFiles(const QStringList& files)
{
    m_skipped.clear();
    if (!m_list || m_list->GetColumnCount() < kMediaColumnCount)
        return 0;
    int added = 0;
    {
        WaitCursor wait;
        for (const QString& file : files) {
            if (AddFile(file))
                ++added;
        }
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
    QString text = skipped.size() == 1 ? QStringLiteral("This file was not added:")
                                       : QStringLiteral("These files were not added:");
    for (const KvSkippedFile& file : skipped)
        text += u'\n' + file.path + QStringLiteral(" (") + file.reason + u')';
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
        PreExtractSound(utf8);

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
    };
    for (int column = 1; column < kMediaColumnCount; ++column)
        m_list->SetCellText(column, row, values[column], false);
    m_list->SetProgress(kColState, row, 0, false);
    m_extras[serial] = RowExtra{values[kColStart], values[kColEnd], QString()};
    return true;
}

void KvMediaList::PreExtractSound(const std::string& source)
{
    const std::wstring wideSource = Utf8ToWide(source);
    const WavIndexLookup lookup = LookupWavIndex(m_programFolder, wideSource);
    if (lookup.state == WavIndexState::kPresent)
        return;
    const std::string wav = NewWavPath();
    if (ExtractInBackground(source, wav))
        RecordWavExtraction(m_programFolder, wideSource, Utf8ToWide(wav));
    else
        ForgetStaleWav(m_programFolder, wideSource);
}

bool KvMediaList::ExtractInBackground(const std::string& source, const std::string& wav)
{
    // A long Windows Media file takes a while to decode: do it on a worker thread and
    // keep the window painting, with the spinner up, instead of freezing it. User input
    // stays out until the extraction ends, so the list cannot change under the add.
    std::atomic<bool> done{false};
    bool extracted = false;
    std::thread worker([&] {
        extracted = ExtractAudioToWav(source, wav);
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

std::string KvMediaList::NewWavPath() const
{
    // Named after the local time down to the millisecond; two extractions within one
    // millisecond (a tiny or failing file) must not share a name, so a taken name moves
    // the clock on.
    QDateTime when = QDateTime::currentDateTime();
    for (;;) {
        const QDate date = when.date();
        const QTime time = when.time();
        char name[64];
        std::snprintf(name, sizeof name, "%02d%02d%02d%02d%02d%02d.wav", date.month(), date.day(),
                      time.hour(), time.minute(), time.second(), time.msec());
        const std::string path = ProgramPath(m_programFolder, "tmp/" + std::string(name));
        if (!QFileInfo::exists(QString::fromStdString(path)))
            return path;
        when = when.addMSecs(1);
    }
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
    if (!extra)
        return false;
    if (column == kColStart || column == kColEnd) {
        const QString typed = Cell(column, row).trimmed();
        double start = 0;
        double end = 0;
        const bool ok = column == kColStart
            ? ParseCell(typed, start) && ParseCell(extra->end, end)
            : ParseCell(extra->start, start) && ParseCell(typed, end);
        if (!ok || !(end > start)) {
            // The old value stays: a bad edit must not reach the next job.
            m_list->SetCellText(column, row, column == kColStart ? extra->start : extra->end, true);
            return false;
        }
        (column == kColStart ? extra->start : extra->end) = typed;
        m_list->SetCellText(column, row, typed, true);
    }
    extra->toolTip.clear();
    SetState(row, StateReady(), 0);
    return true;
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
    return job;
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
    if (row == m_tipRow)
        HideRowTip();
}

QString KvMediaList::RowToolTip(int row) const
{
    const RowExtra* extra = Extra(row);
    return extra ? extra->toolTip : QString();
}

void KvMediaList::UpdateToolTipAt(int x, int y)
{
    if (!m_list)
        return;
    const QPoint point(x, y);
    const int row = m_list->Contains(point) ? m_list->HitItem(point) : -1;
    if (row == m_tipRow)
        return;
    HideRowTip();
    const QString text = RowToolTip(row);
    QWidget* parent = m_list->ParentWindow();
    if (row < 0 || text.isEmpty() || !parent)
        return;
    if (!m_tipWnd)
        m_tipWnd = new CKvToolTipWnd(parent);
    m_tipWnd->SetText(text);
    m_tipWnd->move(parent->mapToGlobal(point + QPoint(12, 20)));
    m_tipWnd->show();
    m_tipRow = row;
}

void KvMediaList::HideRowTip()
{
    m_tipRow = -1;
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
