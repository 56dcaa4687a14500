#include "frontend/KvMainDlg.h"

#include "common/KvJobBlock.h"
#include "common/KvOptionRecord.h"
#include "common/KvOutputFile.h"
#include "common/KvProcess.h"
#include "common/KvText.h"
#include "frontend/KvEngineLogReader.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvMovieSettingsDlg.h"
#include "frontend/KvNoticeBoard.h"
#include "frontend/KvPreviewMovieDlg.h"
#include "frontend/KvQueueReport.h"
#include "frontend/KvTargetFolder.h"
#include "project/KvJobProject.h"
#include "project/KvProjectWriter.h"
#include "ui/KvADListBox.h"
#include "ui/KvButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvMenuButton.h"
#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"


#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QTimerEvent>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace velmora;

namespace {

QString SkinPath(const char* relative)
{
    return CKvUIManager::ResolvePath(QString::fromLatin1(relative));
}

const QString& StateFinish()
{
    return KvMediaList::StateFinish();
}

bool IsFinished(const QString& state)
{
    return state.compare(StateFinish(), Qt::CaseInsensitive) == 0;
}

bool IsFailed(const QString& state)
{
    return state.compare(KvMediaList::StateFailed(), Qt::CaseInsensitive) == 0;
}

bool NameTaken(const QString& path)
{
    // A dangling link still holds its name: exists() alone would miss it.
    const QString partial = CKvMainDlg::PartialOutputPath(path);
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink() || QFileInfo::exists(partial)
        || QFileInfo(partial).isSymLink();
}

// How long closing the window waits for killed engines to be gone, so their partial
// files can go with them. The window is already hidden then.
constexpr int kExitReapMs = 2000;

// The how-to page of the help button: written next to the job files and opened in
// the default browser.
const char* kHowTo =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velmora - How to use</title>"
    "<style>body{font-family:Arial,sans-serif;background:#242a2d;color:#ece6e2;max-width:46em;"
    "margin:2em auto;line-height:1.5}h1{color:#f2a93b}</style></head><body>"
    "<h1>Velmora: how to use</h1><ol>"
    "<li>Press <b>Add...</b> and choose video or audio files (or open them with Velmora from your file manager).</li>"
    "<li>Optionally edit <b>Start</b> and <b>End</b> (seconds) of a row to convert only a part of it.</li>"
    "<li>Press <b>Settings</b> to choose MP3 or WMA and the bit rate, sample rate and channels.</li>"
    "<li>Press <b>Render</b> and choose the target folder. Each row is converted in turn; the State column "
    "shows the progress and then <b>Finish</b> (or <b>Failed</b> - point at the row to see why).</li>"
    "<li>Press <b>Render</b> again while it runs to stop.</li></ol>"
    "<p>Output files are named (output001)name.wma, (output002)name.wma, ...; an existing file is never "
    "overwritten.</p></body></html>";

} // namespace

CKvMainDlg::CKvMainDlg(QWidget* parent)
    : CKvDialogBase(parent)
{
    // The stored notices live here; making the folder early keeps their writer simple.
    QDir().mkpath(QString::fromStdString(KvFrontEndState::Instance().WritablePath("skin/internet")));
    setWindowTitle(QStringLiteral("Velmora"));
    // A main window, not a dialog: window managers give it a taskbar entry and let
    // it be minimized. It draws its own caption, so it has no frame.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    resize(kWidth, kHeight);
    SetFadeEnabled(false);
}

CKvMainDlg::~CKvMainDlg()
{
    // Never leave an engine writing into the user's folder behind us, nor what it
    // wrote so far.
    if (!m_idle)
        KillEngine();
    QElapsedTimer clock;
    clock.start();
    while (!m_dyingEngines.empty() && clock.elapsed() < kExitReapMs) {
        ReapEngines();
        if (!m_dyingEngines.empty())
            usleep(10 * 1000);
    }
    m_mediaList.reset();
}

CKvButton* CKvMainDlg::Control(int id) const
{
    for (int i = 0; i < Manager()->ControlCount(); ++i) {
        CKvButton* control = Manager()->ControlAt(i);
        if (control->Id() == id && control != CancelButton())
            return control;
    }
    return nullptr;
}

CKvButton* CKvMainDlg::AddImageButton(int id, const char* image, const QString& tip)
{
    auto* button = new CKvButton;
    button->LoadImage(SkinPath(image));
    button->SetToolTip(tip);
    Manager()->AddControl(id, button, kTypeButton);
    return button;
}

void CKvMainDlg::CreateControls()
{
    CKvDialogBase::CreateControls();
    // The main window has no OK or Cancel button: closing is the exit path.
    OkButton()->Show(false, false);
    CancelButton()->Show(false, false);
    CloseButton()->SetToolTip(QStringLiteral("Close"));

    m_menu = std::make_unique<CKvMenuEx>();
    m_menuButton = new CKvMenuButton;
    m_menuButton->LoadImage(SkinPath("skin/btn/menu.png"));
    m_menuButton->SetMenu(m_menu.get());
    Manager()->AddControl(kIdMenu, m_menuButton, kTypeMenuButton);

    AddImageButton(kIdMaximize, "skin/btn/dia-max1.png", QStringLiteral("Maximize"));
    AddImageButton(kIdMinimize, "skin/btn/dia-min.png", QStringLiteral("Minimize"));
    AddImageButton(kIdHelp, "skin/btn/dia-help.png", QStringLiteral("How to use"));
    AddImageButton(kIdAdd, "skin/btn/add.png", QStringLiteral("Add..."));
    AddImageButton(kIdRemove, "skin/btn/op-remove.png", QStringLiteral("Remove"));
    AddImageButton(kIdRemoveAll, "skin/btn/op-removeall.png", QStringLiteral("Remove All"));
    AddImageButton(kIdMoveUp, "skin/btn/op-up.png", QStringLiteral("Move Up"));
    AddImageButton(kIdMoveDown, "skin/btn/op-down.png", QStringLiteral("Move Down"));
    AddImageButton(kIdPreview, "skin/btn/op-previewproject.png", QStringLiteral("Preview"));
    // These two pictures carry their words: the words go to the tool tip only.
    AddImageButton(kIdSettings, "skin/btn/vsetting.png", QStringLiteral("Settings"));
    AddImageButton(kIdRender, "skin/btn/main-convert.png", QStringLiteral("Render"));

    m_list = new CKvListCtrl;
    Manager()->AddControl(kIdMediaList, m_list, kTypeListCtrl);
    m_mediaList = std::make_unique<KvMediaList>(m_list, KvFrontEndState::Instance().ProgramFolder());
    m_mediaList->CreateColumns();
    m_mediaList->SetMessageSink([this](const QString& text) { KvMessageBox(text, CKvMessageDlg::kStyleOk, this); });

    m_noticeList = new CKvADListBox;
    Manager()->AddControl(kIdNoticeList, m_noticeList, kTypeADListBox);
    m_notices = std::make_unique<CKvNoticeBoard>(m_noticeList);
    connect(m_notices.get(), &CKvNoticeBoard::listChanged, this, [this] {
        LayoutControls();
        Manager()->Invalidate();
        update();
    });
}

void CKvMainDlg::LayoutControls()
{
    const int w = width();
    const int h = height();
    auto place = [this](int id, int x, int y, int cw, int ch) {
        if (CKvButton* control = Control(id))
            control->Move(x, y, cw, ch);
    };
    place(kIdMenu, 30, 3, 25, 25);
    if (CloseButton())
        CloseButton()->Move(w - 20, 7, 16, 16);
    place(kIdMaximize, w - 38, 6, 16, 16);
    place(kIdMinimize, w - 56, 6, 16, 16);
    place(kIdHelp, w - 74, 6, 16, 16);
    place(kIdAdd, 10, 35, 40, 40);
    const int tools[] = {kIdRemove, kIdRemoveAll, kIdMoveUp, kIdMoveDown, kIdPreview};
    for (int i = 0; i < 5; ++i)
        place(tools[i], 60 + 40 * i, 45, 30, 30);
    place(kIdSettings, w - 239, 35, 92, 40);
    place(kIdRender, w - 137, 35, 126, 40);
    LayoutListAndNotices(w, h);
}

void CKvMainDlg::LayoutListAndNotices(int w, int h)
{
    // Without notices the strip would be blank space: the media list takes its room.
    const bool notices = m_noticeList && m_noticeList->GetItemCount() > 0;
    if (m_list)
        m_list->Move(10, 80, w - 21, notices ? h - 220 : h - 90);
    if (m_noticeList) {
        m_noticeList->Move(1, h - 130, w - 3, 120);
        m_noticeList->Show(notices, false);
    }
}

void CKvMainDlg::OnInitDialog()
{
    CKvDialogBase::OnInitDialog();
    m_notices->FirstRunReport();
    resize(kWidth, kHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    m_notices->Fill();
    ChooseInitialWindowsMedia();
    m_notices->Start();
}

void CKvMainDlg::ChooseInitialWindowsMedia()
{
    // Every start begins with WMA at its usual 128 kbps format.
    ApplyInitialWindowsMediaChoice(KvFrontEndState::Instance().CurrentRecord());
}

// ---- Drawing ---------------------------------------------------------------------

void CKvMainDlg::DrawFrame(QPainter& painter)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const int w = width();
    const int h = height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    QLinearGradient band(0, 0, 0, 32);
    band.setColorAt(0, ShiftColorRef(colors.clrDlgBK, -30));
    band.setColorAt(1, ShiftColorRef(colors.clrDlgBK, 5));
    painter.fillRect(QRect(0, 0, w, kCaptionHeight), band);

    const QImage gold(SkinPath("skin/btn/gold.png"));
    if (!gold.isNull())
        painter.drawImage(QRect(2, 2, 26, 26), gold);

    const QString title = windowTitle();
    if (!title.isEmpty()) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(15);
        font.setBold(true);
        const QFontMetrics metrics(font);
        const int textWidth = metrics.horizontalAdvance(title);
        const int baseline = (kCaptionHeight - metrics.height()) / 2 + metrics.ascent();
        QPainterPath path;
        path.addText((w - textWidth) / 2.0, baseline, font, title);
        QLinearGradient fill(0, 0, 0, 15);
        fill.setColorAt(0, ShiftColorRef(colors.clrText, -30));
        fill.setColorAt(1, ShiftColorRef(colors.clrText, 50));
        painter.fillPath(path, fill);
    }

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, w - 1, h - 1));
    painter.restore();
}

// ---- Window commands -------------------------------------------------------------

bool CKvMainDlg::InDragStrip(const QPoint& point) const
{
    return !m_maximized && point.y() < kCaptionHeight && point.x() >= 60 && point.x() <= width() - 74;
}

void CKvMainDlg::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && point.y() < kCaptionHeight && point.x() >= 60
        && point.x() <= width() - 74) {
        if (m_maximized)
            Restore();
        else
            Maximize();
        return;
    }
    CKvDialogBase::mouseDoubleClickEvent(event);
}

void CKvMainDlg::mouseMoveEvent(QMouseEvent* event)
{
    CKvDialogBase::mouseMoveEvent(event);
    if (m_mediaList && m_list && m_list->Rect().contains(event->position().toPoint()))
        m_mediaList->UpdateToolTipAt(event->position().toPoint().x(), event->position().toPoint().y());
    else if (m_mediaList)
        m_mediaList->UpdateToolTipAt(-1, -1);
}

void CKvMainDlg::Maximize()
{
    if (m_maximized)
        return;
    m_normalGeometry = geometry();
    m_maximized = true;
    if (CKvButton* button = Control(kIdMaximize)) {
        button->LoadImage(SkinPath("skin/btn/dia-max.png"));
        button->SetToolTip(QStringLiteral("Restore"));
    }
    // Cover the screen except the panels (the available geometry leaves them out).
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    setUpdatesEnabled(false);
    if (screen)
        setGeometry(screen->availableGeometry());
    setUpdatesEnabled(true);
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::Restore()
{
    if (isMinimized()) {
        showNormal();
        return;
    }
    if (!m_maximized)
        return;
    m_maximized = false;
    if (CKvButton* button = Control(kIdMaximize)) {
        button->LoadImage(SkinPath("skin/btn/dia-max1.png"));
        button->SetToolTip(QStringLiteral("Maximize"));
    }
    if (m_normalGeometry.isValid())
        setGeometry(m_normalGeometry);
    else
        resize(kWidth, kHeight);
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::Minimize()
{
    showMinimized();
}

void CKvMainDlg::changeEvent(QEvent* event)
{
    CKvDialogBase::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_maximized && !isMinimized()) {
        // Back from the taskbar while maximized: cover the screen again.
        if (QScreen* screen = this->screen())
            if (geometry() != screen->availableGeometry())
                setGeometry(screen->availableGeometry());
    }
}

void CKvMainDlg::keyPressEvent(QKeyEvent* event)
{
    // Esc closes what is open (an edit of a cell; menus and the edit box take their
    // own Esc) and never the program: a stray Esc must not throw the list away.
    if (event->key() == Qt::Key_Escape) {
        if (m_list)
            m_list->EndEdit(false);
        event->accept();
        return;
    }
    CKvDialogBase::keyPressEvent(event);
}

// ---- Commands --------------------------------------------------------------------

void CKvMainDlg::OnCommand(int id)
{
    switch (id) {
    case kIdClose: OnCancel(); break;
    case kIdMaximize: m_maximized ? Restore() : Maximize(); break;
    case kIdMinimize: Minimize(); break;
    case kIdHelp: OpenHelp(); break;
    case kIdAdd:
        if (m_idle) {
            const QStringList files = QFileDialog::getOpenFileNames(this, QString(), QString(), KvMediaList::FileFilter());
            if (!files.isEmpty())
                m_mediaList->AddFiles(files);
            Manager()->Invalidate();
            update();
        }
        break;
    case kIdRemove:
        if (m_idle && m_mediaList->Remove())
            update();
        break;
    case kIdRemoveAll:
        if (m_idle && m_mediaList->RemoveAll())
            update();
        break;
    case kIdMoveUp:
        if (m_idle && m_mediaList->MoveUp())
            update();
        break;
    case kIdMoveDown:
        if (m_idle && m_mediaList->MoveDown())
            update();
        break;
    case kIdPreview:
        if (m_idle && m_mediaList)
            CKvPreviewMovieDlg::PreviewRow(*m_mediaList, m_list->GetSelectedRow(), this);
        break;
    case kIdSettings:
        if (m_idle)
            RunSettings();
        break;
    case kIdRender: OnRender(); break;
    case kIdMenuExit: OnCancel(); break;
    case kIdNoticeList: m_notices->OpenItem(m_noticeList->ClickedItem()); break;
    default: CKvDialogBase::OnCommand(id); break;
    }
}

void CKvMainDlg::OnNotify(int message, CKvButton* control, qint64 param)
{
    if (message == kMsgMenuOpening && control == m_menuButton) {
        if (m_menu->GetItemCount() == 0)
            m_menu->AddItem(kIdMenuExit, QStringLiteral("&Exit"));
        return;
    }
    if (message == kMsgMenuCommand && control == m_menuButton) {
        if (param == kIdMenuExit)
            ForwardCommand(kIdMenuExit);
        return;
    }
    if (message == kMsgListContext && control == m_list) {
        // A right click on a row (the list has selected it) offers what acts on it.
        if (m_idle && param >= 0) {
            CKvMenuEx menu;
            menu.AddItem(kIdPreview, QStringLiteral("&Preview"));
            const unsigned flags = CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON;
            if (menu.TrackMenu(flags, QCursor::pos(), this) == kIdPreview)
                ForwardCommand(kIdPreview);
        }
        return;
    }
    if (message == kMsgCellTextChanged && control == m_list) {
        m_mediaList->OnCellTextChanged(param);
        Manager()->RedrawControl(m_list);
        return;
    }
    CKvDialogBase::OnNotify(message, control, param);
}

QString CKvMainDlg::HelpPagePath()
{
    return QString::fromStdString(KvFrontEndState::Instance().Path("tmp/howto.html"));
}

void CKvMainDlg::OpenHelp()
{
    const QString path = HelpPagePath();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(kHowTo) < 0) {
        KvMessageBox(QStringLiteral("The guide could not be written to %1.").arg(path), CKvMessageDlg::kStyleOk, this);
        return;
    }
    file.close();
    const QUrl page = QUrl::fromLocalFile(path);
    // xdg-open says by its exit code whether anything could show the page; it runs
    // beside us, so the window never waits for it (it may run as long as the browser).
    auto* opener = new QProcess(this);
    connect(opener, &QProcess::finished, this, [this, opener, page](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit || code != 0)
            ShowNoBrowser(page);
    });
    connect(opener, &QProcess::errorOccurred, this, [this, opener, page](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        // No xdg-open here: the desktop's own way, if it has one.
        if (!QDesktopServices::openUrl(page))
            ShowNoBrowser(page);
    });
    opener->start(QStringLiteral("xdg-open"), {page.toString()});
}

void CKvMainDlg::ShowNoBrowser(const QUrl& page)
{
    KvMessageBox(QStringLiteral("No web browser could be opened to show the guide. Open this address in your "
                                "browser:\n\n%1").arg(page.toString()),
                 CKvMessageDlg::kStyleOk, this);
}

void CKvMainDlg::RunSettings()
{
    bool ok = false;
    if (m_settingsRunner) {
        ok = m_settingsRunner();
    } else {
        CKvMovieSettingsDlg dialog(KvFrontEndState::Instance(), this);
        ok = dialog.Run() == 1;
    }
    if (ok) {
        // New settings: every row is converted again by the next Render.
        m_mediaList->ResetAllToReady();
        Manager()->RedrawControl(m_list);
    }
}

void CKvMainDlg::AddFiles(const QStringList& files)
{
    if (files.isEmpty())
        return;
    if (m_mediaList && m_mediaList->IsAdding()) {
        // An add is running (and let this call in while it extracts a Windows Media
        // file): the files join it, after the ones before them.
        m_mediaList->AddFiles(files);
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!m_idle || !m_mediaList || (modal && modal != this)) {
        // Busy, or another of our dialogs is open (a message, the settings): the
        // files wait, so no second modal window opens beneath the first.
        m_waitingFiles += files;
        if (m_idle)
            QTimer::singleShot(500, this, [this] { AddWaitingFiles(); });
        return;
    }
    m_mediaList->AddFiles(files);
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::AddWaitingFiles()
{
    const QStringList files = m_waitingFiles;
    m_waitingFiles.clear();
    AddFiles(files);
}

void CKvMainDlg::OnCancel()
{
    if (!m_idle) {
        const int answer = KvMessageBox(QStringLiteral("Exit?"), QStringLiteral("The Function is Working, Are you sure to exit?"),
                                        CKvMessageDlg::kStyleYesNo, this);
        if (answer != CKvMessageDlg::kIdYes)
            return;
        StopQueue();
    }
    m_notices->Stop();
    CKvDialogBase::OnCancel();
}

// ---- The queue -------------------------------------------------------------------

void CKvMainDlg::OnRender()
{
    if (!m_idle) {
        StopQueue();
        return;
    }
    if (!m_mediaList || m_mediaList->RowCount() == 0)
        return;
    QString folder;
    if (m_folderChooser) {
        folder = m_folderChooser();
    } else {
        // Open where the last Render wrote, so a user ripping into one folder every
        // day does not have to walk to it again.
        folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Please choose the target folder:"), m_targetFolder,
                                                   QFileDialog::ShowDirsOnly);
    }
    if (folder.isEmpty())
        return;
    StartQueue(folder);
}

std::vector<int> CKvMainDlg::RowsToConvert() const
{
    std::vector<int> rows;
    for (int row = 0; row < m_mediaList->RowCount(); ++row) {
        if (!IsFinished(m_mediaList->StateText(row)))
            rows.push_back(row);
    }
    return rows;
}

bool CKvMainDlg::StartQueue(const QString& folder)
{
    if (!m_idle || !m_mediaList || m_mediaList->RowCount() == 0 || folder.isEmpty())
        return false;
    const QString target = QDir::cleanPath(folder);
    const std::vector<int> rows = RowsToConvert();
    if (!rows.empty()) {
        // The folder must take at least the smallest of the outputs; otherwise every
        // row would start an engine only to fail, each using up an output number.
        const tagKvOptionRecord& record = KvFrontEndState::Instance().CurrentRecord();
        qint64 needed = 0;
        for (int row : rows) {
            const qint64 bytes = EstimateOutputBytes(m_mediaList->RowLength(row), record);
            if (bytes > 0 && (needed == 0 || bytes < needed))
                needed = bytes;
        }
        const QString problem = CheckTargetFolder(target, needed);
        if (!problem.isEmpty()) {
            KvMessageBox(problem, CKvMessageDlg::kStyleOk, this);
            return false;
        }
    }
    m_targetFolder = target.endsWith(u'/') ? target : target + u'/';
    // Whatever an earlier run left on a row (a "Failed" and its reason), this run
    // starts every row it converts afresh.
    for (int row : rows) {
        m_mediaList->SetState(row, KvMediaList::StateReady(), 0, false);
        m_mediaList->SetRowToolTip(row, QString());
    }
    m_failures.clear();
    SetBusy(true);
    m_outputExtension = QString::fromLatin1(velmora::OutputExtension(KvFrontEndState::Instance().CurrentRecord().nOutputType));
    m_pollTimer = startTimer(kPollInterval);
    ConvertFrom(0);
    return true;
}

void CKvMainDlg::SetBusy(bool busy)
{
    m_idle = !busy;
    for (int id : {kIdAdd, kIdRemove, kIdRemoveAll, kIdMoveUp, kIdMoveDown, kIdPreview, kIdSettings, kIdMediaList}) {
        if (CKvButton* control = Control(id))
            control->Enable(!busy, false);
    }
    if (CKvButton* render = Control(kIdRender)) {
        render->LoadImage(SkinPath(busy ? "skin/btn/main-convertstop.png" : "skin/btn/main-convert.png"));
        render->SetToolTip(busy ? QStringLiteral("Stop") : QStringLiteral("Render"));
    }
    if (!busy) {
        if (m_pollTimer)
            killTimer(m_pollTimer);
        if (m_watchTimer)
            killTimer(m_watchTimer);
        m_pollTimer = 0;
        m_watchTimer = 0;
        // Rows that were waiting or running go back to waiting; finished rows and
        // rows that failed keep their state (a failed row shows why until the next run).
        for (int row = 0; row < m_mediaList->RowCount(); ++row) {
            const QString state = m_mediaList->StateText(row);
            if (!IsFinished(state) && !IsFailed(state))
                m_mediaList->SetState(row, KvMediaList::StateReady(), 0, false);
        }
    }
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::ConvertFrom(int row)
{
    // A message shown while a row is prepared runs its own event loop: the poll must
    // not act on a row that has no engine yet.
    m_inPoll = true;
    const auto done = qScopeGuard([this] { m_inPoll = false; });
    for (; row < m_mediaList->RowCount(); ++row) {
        if (m_idle)
            return;
        if (IsFinished(m_mediaList->StateText(row)))
            continue;
        m_currentRow = row;
        QString reason;
        if (StartRow(row, reason))
            return;
        // No engine runs for this row: the block must not claim a running job.
        if (tagKvJobBlock* block = KvFrontEndState::Instance().JobBlock())
            StoreRelease(block->nState, static_cast<std::int32_t>(kKvJobIdle));
        FailRow(row, reason);
    }
    FinishQueue();
}

bool CKvMainDlg::StartRow(int row, QString& reason)
{
    KvFrontEndState& state = KvFrontEndState::Instance();
    const std::string& folder = state.ProgramFolder();
    tagKvOptionRecord& record = state.CurrentRecord();
    tagKvJobBlock* block = state.JobBlock();
    m_currentOutput.clear();
    m_mediaList->SetRowToolTip(row, QString());

    // Tell the user before the engine starts: a row with nothing to convert would
    // only produce an empty file.
    const double length = m_mediaList->RowLength(row);
    if (!(length > 0.0)) {
        reason = FailureReason(KvFailure::NothingToConvert);
        return false;
    }
    if (!block) {
        reason = QStringLiteral("The job block is not available.");
        return false;
    }

    QString profileFailure;
    if (!WriteJobWmProfile(state, state.Path("tmp/wmv.prx"), &profileFailure)) {
        if (profileFailure == QStringLiteral("Add Audio Stream To Profile Fialed"))
            KvMessageBox(profileFailure, CKvMessageDlg::kStyleOk, this);
        KvMessageBox(QStringLiteral("Save Wmv Profile Failed!"), CKvMessageDlg::kStyleOk, this);
        reason = FailureReason(KvFailure::ProfileNotSaved);
        return false;
    }

    m_currentOutput = BuildOutputPath(m_targetFolder, m_mediaList->FilePath(row), m_outputExtension, m_outputCounter);

    // The job block: everything first, the "go" flag last.
    std::memset(block->szListFile, 0, sizeof(block->szListFile));
    if (!SetJobPathUtf8(block->szOutputFile, m_currentOutput.toStdString())) {
        reason = FailureReason(KvFailure::PathTooLong);
        m_currentOutput.clear();
        return false;
    }
    block->bPlayMode = 0;
    block->bPreview = 0;
    StoreRelease(block->dPosition, 0.0);
    block->dReserved40 = 0.0;
    StoreRelease(block->bEngineClosed, 0);
    StoreRelease(block->bConvertFailed, 0);
    StoreRelease(block->nState, static_cast<std::int32_t>(kKvJobRunning));
    block->bConvertJob = 1;
    block->nPreset = record.nPreset;
    StoreRelease(block->bStartConvert, 1);

    state.SaveH264();
    if (!WriteOptionFile(record, folder)) {
        reason = FailureReason(KvFailure::JobFilesNotWritten);
        return false;
    }
    std::unique_ptr<tagKvProjectData> project = BuildJobProject({m_mediaList->JobRow(row)});
    m_currentDuration = GetAudioLineDuration(project.get());
    tagKvProjectWriteOptions options;
    options.programFolder = folder;
    options.vensettingIndex = state.CurrentPresetIndex();
    const bool written = WriteProject(project.get(), state.Path("tmp/kvengine.kvmmpj"), options);
    FreeProject(project, folder);
    if (!written) {
        reason = FailureReason(KvFailure::JobFilesNotWritten);
        return false;
    }

    // Only the reason this run appends to the engine's log belongs to this row.
    m_logOffset = QFileInfo(QString::fromStdString(state.Path("tmp/kvengine.log"))).size();
    m_endSeenAt = -1;
    m_mediaList->SetState(row, KvMediaList::ProgressText(0.0), 0);
    m_enginePid = SpawnProgram(folder + "kvengine");
    if (m_enginePid <= 0) {
        m_enginePid = -1;
        StoreRelease(block->nState, static_cast<std::int32_t>(kKvJobIdle));
        reason = FailureReason(KvFailure::EngineNotStarted);
        return false;
    }
    if (!m_watchTimer)
        m_watchTimer = startTimer(kWatchInterval);
    return true;
}

QString CKvMainDlg::BuildOutputPath(const QString& folder, const QString& sourcePath, const QString& extension,
                                    int& counter)
{
    QString base = sourcePath.mid(sourcePath.lastIndexOf(u'/') + 1);
    const int dot = base.lastIndexOf(u'.');
    if (dot >= 0)
        base.truncate(dot);
    while (true) {
        ++counter;
        const QString prefix = QString::asprintf("(output%03d)", counter);
        // Keep the partial file's name within one file-system name.
        QString name = base;
        const int fixedBytes = PartialOutputPath(prefix + extension).toUtf8().size();
        while (!name.isEmpty() && fixedBytes + name.toUtf8().size() > kMaxNameBytes) {
            name.chop(1);
            // Never split a surrogate pair: drop whole characters only.
            if (!name.isEmpty() && name.back().isHighSurrogate())
                name.chop(1);
        }
        const QString path = folder + prefix + name + extension;
        if (!NameTaken(path))
            return path;
    }
}

void CKvMainDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_pollTimer) {
        PollQueue();
        return;
    }
    if (event->timerId() == m_watchTimer) {
        // The engine's end is the moment its results are final: poll at once.
        if (m_enginePid > 0 && !IsProcessAlive(m_enginePid))
            PollQueue();
        return;
    }
    if (event->timerId() == m_reapTimer) {
        ReapEngines();
        return;
    }
    CKvDialogBase::timerEvent(event);
}

void CKvMainDlg::PollQueue()
{
    if (m_idle || m_inPoll)
        return;
    m_inPoll = true;
    const auto done = qScopeGuard([this] { m_inPoll = false; });
    tagKvJobBlock* block = KvFrontEndState::Instance().JobBlock();
    const bool alive = m_enginePid > 0 && IsProcessAlive(m_enginePid);
    const std::int32_t jobState = block ? LoadAcquire(block->nState) : 0;
    if (alive) {
        if (jobState != kKvJobIdle) {
            const double position = LoadAcquire(block->dPosition);
            double percent = m_currentDuration > 0.0 ? position * 100.0 / m_currentDuration : 0.0;
            percent = std::clamp(percent, 0.0, 100.0);
            m_mediaList->SetState(m_currentRow, KvMediaList::ProgressText(percent), static_cast<int>(percent));
        } else {
            // The engine has said it is done but may still be writing its last fields:
            // its results count once it has gone. One that never goes is ended here.
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (m_endSeenAt < 0)
                m_endSeenAt = now;
            else if (now - m_endSeenAt > kExitGraceMs)
                ::kill(m_enginePid, SIGKILL); // the watch timer sees it gone and ends the row
        }
        return;
    }
    EndCurrentRow();
}

void CKvMainDlg::EndCurrentRow()
{
    tagKvJobBlock* block = KvFrontEndState::Instance().JobBlock();
    m_enginePid = -1;
    const std::int32_t jobState = block ? LoadAcquire(block->nState) : kKvJobRunning;
    const bool engineFailed = block && LoadAcquire(block->bConvertFailed) != 0;
    const int row = m_currentRow;

    // The user gets a short reason; the engine's own sentence goes into the row's tip.
    const QString logged = EngineLogReason();
    QString reason;
    if (jobState != kKvJobIdle)
        reason = FailureReason(KvFailure::EngineStopped);
    else if (engineFailed)
        reason = ShortFailureReason(logged);
    else if (!QFileInfo::exists(m_currentOutput))
        reason = FailureReason(KvFailure::NoOutput);
    if (block && jobState != kKvJobIdle)
        StoreRelease(block->nState, static_cast<std::int32_t>(kKvJobIdle));

    if (reason.isEmpty()) {
        m_mediaList->SetState(row, StateFinish(), 100);
        m_mediaList->SetRowToolTip(row, QString());
        emit rowEnded(row, true);
    } else {
        // The engine is gone: what it wrote so far goes now, not when the same name
        // comes round again.
        RemovePartialOutput(m_currentOutput);
        FailRow(row, reason, logged);
    }
    m_currentOutput.clear();
    ConvertFrom(row + 1);
}

void CKvMainDlg::FailRow(int row, const QString& reason, const QString& detail)
{
    m_mediaList->SetState(row, KvMediaList::StateFailed(), 0);
    const QString tip = reason.left(1).toUpper() + reason.mid(1) + u'.';
    m_mediaList->SetRowToolTip(row, detail.isEmpty() ? tip : tip + u'\n' + detail);
    m_failures.emplace_back(m_mediaList->FilePath(row), reason);
    emit rowEnded(row, false);
}

QString CKvMainDlg::EngineLogReason() const
{
    return velmora::EngineLogReason(KvFrontEndState::Instance().Path("tmp/kvengine.log"), m_logOffset);
}

QString CKvMainDlg::PartialOutputPath(const QString& output)
{
    // The engine writes its temporary file and moves it to the name only when
    // complete, so the temporary file is all a stopped or failed job leaves.
    return QString::fromStdString(velmora::PartialOutputPath(output.toStdString()));
}

void CKvMainDlg::RemovePartialOutput(const QString& output)
{
    if (!output.isEmpty())
        QFile::remove(PartialOutputPath(output));
}

void CKvMainDlg::KillEngine()
{
    if (m_enginePid > 0 && IsProcessAlive(m_enginePid)) {
        // SIGKILL cannot be refused, but the process may take a moment to go; until
        // then it may still hold its file, so the file goes when the process has.
        ::kill(m_enginePid, SIGKILL);
        m_dyingEngines.push_back({m_enginePid, m_currentOutput});
        if (!m_reapTimer)
            m_reapTimer = startTimer(kWatchInterval);
    } else {
        RemovePartialOutput(m_currentOutput);
    }
    m_enginePid = -1;
}

void CKvMainDlg::ReapEngines()
{
    for (auto it = m_dyingEngines.begin(); it != m_dyingEngines.end();) {
        if (IsProcessAlive(it->pid)) {
            ++it;
            continue;
        }
        RemovePartialOutput(it->output);
        it = m_dyingEngines.erase(it);
    }
    if (m_dyingEngines.empty() && m_reapTimer) {
        killTimer(m_reapTimer);
        m_reapTimer = 0;
    }
}

void CKvMainDlg::FinishQueue()
{
    SetBusy(false);
    emit queueStopped();
    if (!m_waitingFiles.isEmpty())
        AddWaitingFiles();
    if (!m_failures.empty())
        KvMessageBox(FailureSummary(m_failures), CKvMessageDlg::kStyleOk, this);
}

void CKvMainDlg::StopQueue()
{
    if (m_idle)
        return;
    KillEngine();
    if (tagKvJobBlock* block = KvFrontEndState::Instance().JobBlock())
        StoreRelease(block->nState, static_cast<std::int32_t>(kKvJobIdle));
    m_currentOutput.clear();
    SetBusy(false);
    emit queueStopped();
    if (!m_waitingFiles.isEmpty())
        AddWaitingFiles();
}
