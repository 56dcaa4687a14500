#include "frontend/KvMainDlg.h"

#include "frontend/KvBatchSources.h"
#include "frontend/KvDesktopOpener.h"
#include "frontend/KvFileDrop.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvHowToPage.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvMainFrame.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvMovieSettingsDlg.h"
#include "frontend/KvNoticeBoard.h"
#include "frontend/KvPreviewMovieDlg.h"
#include "frontend/KvQueueReport.h"
#include "frontend/KvRenderQueue.h"
#include "frontend/KvSourceGatherer.h"
#include "frontend/KvWindowMaximizer.h"
#include "ui/KvADListBox.h"
#include "ui/KvButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvMenuButton.h"
#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QApplication>
#include <QDialog>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>

using namespace velmora;

namespace {

QString SkinPath(const char* relative)
{
    return CKvUIManager::ResolvePath(QString::fromLatin1(relative));
}

bool IsFinished(KvRowState state)
{
    return state == KvRowState::Finished || state == KvRowState::FinishedShort;
}

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
    setMinimumSize(kMinWidth, kMinHeight);
    SetResizable(true);
    SetFadeEnabled(false);
    setAcceptDrops(true);

    m_gatherer = std::make_unique<KvSourceGatherer>(this);
    m_queue = std::make_unique<KvRenderQueue>(KvFrontEndState::Instance());
    connect(m_queue.get(), &KvRenderQueue::rowStarted, this, &CKvMainDlg::OnRowStarted);
    connect(m_queue.get(), &KvRenderQueue::rowProgress, this,
            [this](int index, double percent) { OnRowProgress(index, percent); });
    connect(m_queue.get(), &KvRenderQueue::rowEnded, this, &CKvMainDlg::OnRowEnded);
    connect(m_queue.get(), &KvRenderQueue::rowSkipped, this, &CKvMainDlg::OnRowSkipped);
    connect(m_queue.get(), &KvRenderQueue::albumMeasuring, this, [this](const QList<int>& indexes, bool measuring) {
        for (int index : indexes) {
            const int row = m_queue->Rows()[size_t(index)].tag;
            if (m_mediaList->Model().At(row).state == (measuring ? KvRowState::Ready : KvRowState::Measuring))
                m_mediaList->SetState(row, measuring ? KvRowState::Measuring : KvRowState::Ready);
        }
    });
    connect(m_queue.get(), &KvRenderQueue::message, this,
            [this](const QString& text) { KvMessageBox(text, CKvMessageDlg::kStyleOk, this); });
    connect(m_queue.get(), &KvRenderQueue::stopped, this, &CKvMainDlg::OnQueueStopped);
}

CKvMainDlg::~CKvMainDlg()
{
    // The queue kills its engines and removes what they wrote so far; it reports
    // nothing more to a window that is going.
    m_queue.reset();
    m_gatherer.reset();
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
    m_menuButton->SetAccessibleName(QStringLiteral("Menu"));
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
    m_list->SetAccessibleName(QStringLiteral("Media files"));
    Manager()->AddControl(kIdMediaList, m_list, kTypeListCtrl);
    m_mediaList = std::make_unique<KvMediaList>(m_list, KvFrontEndState::Instance().ProgramFolder());
    m_mediaList->CreateColumns();
    m_mediaList->SetMessageSink([this](const QString& text) { KvMessageBox(text, CKvMessageDlg::kStyleOk, this); });
    m_mediaList->SetSplitPolicy([] { return KvFrontEndState::Instance().SplitFilesOnAdd(); });

    m_noticeList = new CKvADListBox;
    m_noticeList->SetAccessibleName(QStringLiteral("Notices"));
    Manager()->AddControl(kIdNoticeList, m_noticeList, kTypeADListBox);
    m_notices = std::make_unique<CKvNoticeBoard>(m_noticeList);

    // TAB walks the window as it reads: what fills the list, the list, what acts on
    // it, then the caption.
    std::vector<CKvButton*> order;
    for (int id : {kIdAdd, kIdRemove, kIdRemoveAll, kIdMoveUp, kIdMoveDown, kIdPreview, kIdMediaList, kIdSettings,
                   kIdRender, kIdNoticeList, kIdMenu, kIdHelp, kIdMinimize, kIdMaximize}) {
        if (CKvButton* control = Control(id))
            order.push_back(control);
    }
    order.push_back(CloseButton());
    Manager()->SetTabOrder(order);
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
    // The keys work on the list from the start.
    Manager()->SetFocusControl(m_list, kTypeListCtrl);
    ChooseInitialWindowsMedia();
    m_notices->Start();
}

void CKvMainDlg::ChooseInitialWindowsMedia()
{
    // Every start begins with WMA at its usual 128 kbps format.
    ApplyInitialWindowsMediaChoice(KvFrontEndState::Instance().CurrentRecord());
}

void CKvMainDlg::DrawFrame(QPainter& painter)
{
    KvMainFrame::Draw(painter, size(), windowTitle(), kCaptionHeight, SkinPath("skin/btn/gold.png"));
}

// ---- Window commands -------------------------------------------------------------

bool CKvMainDlg::InDragStrip(const QPoint& point) const
{
    return !m_maximizer.IsMaximized() && point.y() < kCaptionHeight && point.x() >= 60 && point.x() <= width() - 74;
}

bool CKvMainDlg::CanResizeNow() const
{
    return CKvDialogBase::CanResizeNow() && !m_maximizer.IsMaximized();
}

void CKvMainDlg::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && point.y() < kCaptionHeight && point.x() >= 60
        && point.x() <= width() - 74) {
        if (m_maximizer.IsMaximized())
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
    if (m_maximizer.Maximize())
        ShowMaximized(true);
}

void CKvMainDlg::Restore()
{
    if (m_maximizer.Restore(QSize(kWidth, kHeight)))
        ShowMaximized(false);
}

void CKvMainDlg::ShowMaximized(bool maximized)
{
    if (CKvButton* button = Control(kIdMaximize)) {
        button->LoadImage(SkinPath(maximized ? "skin/btn/dia-max.png" : "skin/btn/dia-max1.png"));
        button->SetToolTip(maximized ? QStringLiteral("Restore") : QStringLiteral("Maximize"));
    }
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
    if (event->type() == QEvent::WindowStateChange) {
        m_maximizer.StateChanged();
        // The window manager or the compositor may maximize or restore the window
        // itself (a double click on its panel entry, a key of its own).
        ShowMaximized(m_maximizer.IsMaximized());
    }
}

bool CKvMainDlg::OnShortcut(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    const int key = event.key();
    const bool listFocused = Manager()->FocusControl() == m_list && m_list;
    // The focused list opens its row menu itself; elsewhere the window does.
    const bool rowMenuKey = (modifiers == Qt::NoModifier && key == Qt::Key_Menu)
                            || (modifiers == Qt::ShiftModifier && key == Qt::Key_F10);
    if (rowMenuKey && !listFocused && m_list && m_list->GetSelectedRow() >= 0) {
        OpenRowMenuAtRow(m_list->GetSelectedRow());
        return true;
    }
    if (modifiers == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_O: ForwardCommand(kIdAdd); return true;
        case Qt::Key_R:
            if (m_idle)
                ForwardCommand(kIdRender);
            return true;
        case Qt::Key_Period: AskToStop(); return true;
        case Qt::Key_Q: ForwardCommand(kIdMenuExit); return true;
        default: return false;
        }
    }
    if (modifiers == Qt::NoModifier) {
        switch (key) {
        case Qt::Key_F1: ForwardCommand(kIdHelp); return true;
        case Qt::Key_F10:
            if (m_menuButton)
                m_menuButton->Open(true);
            return true;
        case Qt::Key_Delete:
            // Anywhere but in a text being typed (the cell editor takes its own keys).
            if (Manager()->FocusType() != kTypeEdit && Manager()->FocusType() != kTypeComboBox) {
                ForwardCommand(kIdRemove);
                return true;
            }
            return false;
        default: return false;
        }
    }
    return false;
}

void CKvMainDlg::AskToStop()
{
    if (m_idle)
        return;
    const int answer = KvMessageBox(QStringLiteral("Stop?"),
                                    QStringLiteral("Stop the conversions? What they wrote so far is removed."),
                                    CKvMessageDlg::kStyleYesNo, this);
    if (answer == CKvMessageDlg::kIdYes)
        StopQueue();
}

void CKvMainDlg::keyPressEvent(QKeyEvent* event)
{
    // Alt on its own opens the menu when it is let go with nothing pressed meanwhile.
    m_altAlone = event->key() == Qt::Key_Alt && event->modifiers() == Qt::AltModifier && !event->isAutoRepeat();
    // Esc closes what is open (an edit of a cell; menus and the edit box take their
    // own Esc) and never the program: a stray Esc must not throw the list away.
    // While Render runs it offers to stop.
    if (event->key() == Qt::Key_Escape) {
        if (m_list && m_list->EditWindow())
            m_list->EndEdit(false);
        else
            AskToStop();
        event->accept();
        return;
    }
    if (!IsClosing() && isActiveWindow() && OnShortcut(*event)) {
        event->accept();
        return;
    }
    CKvDialogBase::keyPressEvent(event);
}

void CKvMainDlg::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Alt && m_altAlone && !IsClosing()) {
        m_altAlone = false;
        event->accept();
        if (m_menuButton)
            m_menuButton->Open(true);
        return;
    }
    CKvDialogBase::keyReleaseEvent(event);
}

void CKvMainDlg::focusOutEvent(QFocusEvent* event)
{
    m_altAlone = false;
    CKvDialogBase::focusOutEvent(event);
}

// ---- Commands --------------------------------------------------------------------

void CKvMainDlg::OnCommand(int id)
{
    switch (id) {
    case kIdClose: OnCancel(); break;
    case kIdMaximize: m_maximizer.IsMaximized() ? Restore() : Maximize(); break;
    case kIdMinimize: Minimize(); break;
    case kIdHelp: OpenHelp(); break;
    case kIdAdd:
        if (m_idle) {
            const QStringList files = QFileDialog::getOpenFileNames(this, QString(), QString(), KvMediaList::FileFilter());
            if (!files.isEmpty())
                AddFiles(files);
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
    case kIdShowInFolder: ShowOutputInFolder(m_list->GetSelectedRow()); break;
    case kIdPlayOutput: PlayOutput(m_list->GetSelectedRow()); break;
    case kIdSplitTracks: SplitRow(m_list->GetSelectedRow()); break;
    case kIdMenuExit: OnCancel(); break;
    case kIdNoticeList: m_notices->OpenItem(m_noticeList->ClickedItem()); break;
    default: CKvDialogBase::OnCommand(id); break;
    }
}

void CKvMainDlg::OnNotify(int message, CKvButton* control, qint64 param)
{
    if (message == kMsgMenuOpening && control == m_menuButton) {
        // Filled afresh at every opening: what Render does now depends on the queue.
        m_menu->RemoveAll();
        m_menu->AddItem(kIdAdd, QStringLiteral("&Add Files...\tCtrl+O"));
        m_menu->AddItem(kIdRender, m_idle ? QStringLiteral("&Render\tCtrl+R") : QStringLiteral("&Stop\tEsc"));
        m_menu->AddItem(kIdSettings, QStringLiteral("S&ettings..."));
        m_menu->AddItem(0, QString());
        m_menu->AddItem(kIdHelp, QStringLiteral("&How to Use\tF1"));
        m_menu->AddItem(kIdMenuExit, QStringLiteral("E&xit\tCtrl+Q"));
        m_menu->EnableItem(kIdAdd, m_idle);
        m_menu->EnableItem(kIdSettings, m_idle);
        return;
    }
    if (message == kMsgMenuCommand && control == m_menuButton) {
        if (param == kIdRender && !m_idle)
            AskToStop();
        else if (param > 0)
            ForwardCommand(int(param));
        return;
    }
    if (message == kMsgListContextKey && control == m_list) {
        if (m_idle && param >= 0)
            OpenRowMenuAtRow(int(param));
        return;
    }
    if (message == kMsgListContext && control == m_list) {
        // A right click on a row (the list has selected it) offers what acts on it.
        if (m_idle && param >= 0)
            OpenRowMenu(int(param));
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
    if (!WriteHowToPage(path)) {
        KvMessageBox(QStringLiteral("The guide could not be written to %1.").arg(path), CKvMessageDlg::kStyleOk, this);
        return;
    }
    const QUrl page = QUrl::fromLocalFile(path);
    KvSystemDesktopOpener::OpenUrl(page, [this, page] { ShowNoBrowser(page); }, this);
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

namespace {

bool NamesFolder(const QStringList& paths)
{
    return std::any_of(paths.begin(), paths.end(), [](const QString& path) { return QFileInfo(path).isDir(); });
}

} // namespace

void CKvMainDlg::AddFiles(const QStringList& files)
{
    if (files.isEmpty())
        return;
    if (IsGathering()) {
        // Taken once the folders being walked now have been added.
        m_waitingFiles += files;
        return;
    }
    if (m_mediaList && m_mediaList->IsAdding() && m_waitingFiles.isEmpty() && !NamesFolder(files)) {
        // An add is running (and let this call in while it extracts a Windows Media
        // file): the files join it, after the ones before them. Folders wait for it,
        // to be walked on the worker once it is done.
        m_mediaList->AddFiles(files);
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!m_idle || !m_mediaList || (modal && modal != this) || m_mediaList->IsAdding()) {
        // Busy, or another of our dialogs is open (a message, the settings): the
        // files wait, so no second modal window opens beneath the first.
        m_waitingFiles += files;
        if (m_idle)
            QTimer::singleShot(500, this, [this] { AddWaitingFiles(); });
        return;
    }
    GatherAndAdd(files);
}

void CKvMainDlg::AddWaitingFiles()
{
    const QStringList files = m_waitingFiles;
    m_waitingFiles.clear();
    AddFiles(files);
}

bool CKvMainDlg::IsGathering() const
{
    return m_gatherer && m_gatherer->IsGathering();
}

void CKvMainDlg::GatherAndAdd(const QStringList& paths)
{
    KvSourceGatherer::Result found = m_gatherer->Gather(paths);
    if (!found.stopped) {
        m_mediaList->AddFiles(std::move(found.sources), found.skipped);
        Manager()->Invalidate();
        update();
    }
    AddFilesWaitingForGathering();
}

void CKvMainDlg::AddFilesWaitingForGathering()
{
    if (!m_waitingFiles.isEmpty())
        QTimer::singleShot(0, this, [this] { AddWaitingFiles(); });
}

// ---- Drops -----------------------------------------------------------------------

QString CKvMainDlg::DropRefusal() const
{
    // A drop while folders are walked is added after them.
    if (IsGathering())
        return QString();
    // A drop while an add is reading its files joins that add, as files opened from the
    // file manager do, so no second add starts inside the first.
    if (m_mediaList && m_mediaList->IsAdding())
        return QString();
    if (!m_idle)
        return QStringLiteral("Files cannot be added while Render is running. Stop it or let it finish first.");
    QWidget* modal = QApplication::activeModalWidget();
    if (!m_mediaList || (modal && modal != this))
        return QStringLiteral("Files cannot be added while another window of Velmora is open.");
    return QString();
}

void CKvMainDlg::dragEnterEvent(QDragEnterEvent* event)
{
    m_drop.Enter(*event);
}

void CKvMainDlg::dragMoveEvent(QDragMoveEvent* event)
{
    m_drop.Move(*event);
}

void CKvMainDlg::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_drop.Leave(*event);
}

void CKvMainDlg::dropEvent(QDropEvent* event)
{
    QList<QUrl> urls;
    QString refusal;
    if (!m_drop.Drop(*event, urls, refusal))
        return;
    // The files are read (and any message shown) once the drop has been answered, so
    // the program they came from is not kept waiting meanwhile.
    QMetaObject::invokeMethod(this, [this, urls, refusal] {
        if (refusal.isEmpty())
            AddDroppedFiles(urls);
        else
            KvMessageBox(refusal, CKvMessageDlg::kStyleOk, this);
    }, Qt::QueuedConnection);
}

void CKvMainDlg::AddDroppedFiles(const QList<QUrl>& urls)
{
    if (IsGathering()) {
        // One walk at a time: this drop follows the one under way.
        QTimer::singleShot(100, this, [this, urls] { AddDroppedFiles(urls); });
        return;
    }
    // A Render may have started since the drop was taken.
    const QString refusal = DropRefusal();
    if (!refusal.isEmpty()) {
        KvMessageBox(refusal, CKvMessageDlg::kStyleOk, this);
        return;
    }
    KvSourceGatherer::Result dropped = m_gatherer->Gather(urls);
    if (dropped.stopped) {
        // Stopped: nothing of the drop is added, and nothing more needs saying.
        AddFilesWaitingForGathering();
        return;
    }
    if (dropped.sources.empty() && dropped.skipped.empty()) {
        KvMessageBox(QStringLiteral("No media files were found in what was dropped."), CKvMessageDlg::kStyleOk, this);
        AddFilesWaitingForGathering();
        return;
    }
    m_mediaList->AddFiles(std::move(dropped.sources), dropped.skipped);
    Manager()->Invalidate();
    update();
    AddFilesWaitingForGathering();
}

void CKvMainDlg::paintEvent(QPaintEvent* event)
{
    CKvDialogBase::paintEvent(event);
    if (m_drop.Hint().isEmpty() || !m_list)
        return;
    QPainter painter(this);
    m_drop.Paint(painter, m_list->Rect().adjusted(1, 1, -2, -2));
}

// ---- Finished rows -----------------------------------------------------------------

void CKvMainDlg::OpenRowMenu(int row)
{
    OpenRowMenuAt(row, QCursor::pos(), false);
}

void CKvMainDlg::OpenRowMenuAtRow(int row)
{
    // Below the row's first cell, as a right click there would open it.
    QRect cell = m_list ? m_list->CellRect(0, row) : QRect();
    if (cell.isEmpty() && m_list)
        cell = QRect(m_list->Rect().topLeft(), QSize(1, 1));
    OpenRowMenuAt(row, mapToGlobal(cell.bottomLeft() + QPoint(8, 1)), true);
}

void CKvMainDlg::OpenRowMenuAt(int row, const QPoint& at, bool fromKeyboard)
{
    if (!m_idle)
        return;
    CKvMenuEx menu;
    menu.AddItem(kIdPreview, QStringLiteral("&Preview"));
    m_outputs.AddMenuItems(menu, row, kIdShowInFolder, kIdPlayOutput);
    if (m_mediaList && row >= 0 && row < m_mediaList->RowCount()) {
        const KvQueueItem& item = m_mediaList->Model().At(row);
        if (item.splitCount > 0 && !item.splitTrack)
            menu.AddItem(kIdSplitTracks, QStringLiteral("&Split into %1 Tracks").arg(item.splitCount));
    }
    menu.AddItem(0, QString());
    menu.AddItem(kIdRemove, QStringLiteral("&Remove\tDelete"));
    unsigned flags = CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON;
    if (fromKeyboard)
        flags |= CKvMenuEx::TPM_KEYBOARD;
    const int command = menu.TrackMenu(flags, at, this);
    if (command > 0)
        ForwardCommand(command);
}

void CKvMainDlg::SplitRow(int row)
{
    if (!m_idle || !m_mediaList)
        return;
    QString why;
    if (m_mediaList->SplitRow(row, &why) == 0 && !why.isEmpty())
        KvMessageBox(QStringLiteral("The file cannot be split: %1.").arg(why), CKvMessageDlg::kStyleOk, this);
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::ShowOutputInFolder(int row)
{
    m_outputs.ShowInFolder(row);
}

void CKvMainDlg::PlayOutput(int row)
{
    m_outputs.Play(row);
}

void CKvMainDlg::SetDesktopOpener(std::unique_ptr<KvDesktopOpener> opener)
{
    m_outputs.SetDesktopOpener(std::move(opener));
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

void CKvMainDlg::EndOnStopSignal()
{
    // No question to answer: whatever asks one now is closed unanswered, the running
    // conversions end and take their partial files with them, and the window closes.
    if (m_gatherer)
        m_gatherer->Stop();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<QDialog*>(widget);
        if (other != nullptr && other != this && other->isVisible())
            other->reject();
    }
    StopQueue();
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
        if (!IsFinished(m_mediaList->Model().At(row).state))
            rows.push_back(row);
    }
    return rows;
}

bool CKvMainDlg::StartQueue(const QString& folder)
{
    if (!m_idle || !m_mediaList || m_mediaList->RowCount() == 0 || folder.isEmpty())
        return false;
    const KvFrontEndState& state = KvFrontEndState::Instance();
    std::vector<KvQueueRow> rows;
    for (int row : RowsToConvert()) {
        // A file found in an added folder keeps its place under that folder.
        const KvQueueItem& item = m_mediaList->Model().At(row);
        const QString subfolder =
            state.KeepFolderStructure() ? TargetSubfolder(PathUnder(item.source, item.foundIn)) : QString();
        rows.push_back({m_mediaList->JobRow(row), row, subfolder, 0, item.album});
    }
    if (!rows.empty()) {
        const QString problem = m_queue->CheckTarget(folder, rows);
        if (!problem.isEmpty()) {
            KvMessageBox(problem, CKvMessageDlg::kStyleOk, this);
            return false;
        }
    }
    const QString target = QDir::cleanPath(folder);
    m_targetFolder = target.endsWith(u'/') ? target : target + u'/';
    // Whatever an earlier run left on a row (a "Failed" and its reason), this run
    // starts every row it converts afresh.
    for (const KvQueueRow& row : rows) {
        m_mediaList->SetState(row.tag, KvRowState::Ready, 0, false);
        m_mediaList->SetRowToolTip(row.tag, QString());
    }
    SetBusy(true);
    if (rows.empty()) {
        // Every row is finished: nothing runs, and there is nothing new to report.
        OnQueueStopped(false);
        return true;
    }
    m_queue->SetParallel(state.ParallelConversions());
    m_queue->SetSkipConverted(state.SkipConverted());
    m_queue->SetAlbumLoudness(state.OutputLoudness().byAlbum);
    if (!m_queue->Start(target, std::move(rows))) {
        SetBusy(false);
        emit queueStopped();
        KvMessageBox(m_queue->LastError(), CKvMessageDlg::kStyleOk, this);
        return false;
    }
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
        // Rows that were waiting or running go back to waiting; finished rows and
        // rows that failed keep their state (a failed row shows why until the next run).
        for (int row = 0; row < m_mediaList->RowCount(); ++row) {
            const KvRowState state = m_mediaList->Model().At(row).state;
            if (!IsFinished(state) && state != KvRowState::Failed)
                m_mediaList->SetState(row, KvRowState::Ready, 0, false);
        }
    }
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::OnRowStarted(int index, const QString& output)
{
    m_mediaList->ShowRowStarted(m_queue->Rows()[size_t(index)].tag, output);
}

void CKvMainDlg::OnRowProgress(int index, double percent)
{
    m_mediaList->SetState(m_queue->Rows()[size_t(index)].tag, KvRowState::Running, percent);
}

void CKvMainDlg::OnRowEnded(int index, bool finished, const QString& reason, const QString& detail)
{
    const int row = m_queue->Rows()[size_t(index)].tag;
    const KvQueueShort* shortened = finished && !reason.isEmpty() ? m_queue->FindShort(index) : nullptr;
    m_mediaList->ShowRowEnded(row, finished, reason, detail, shortened ? shortened->sourceSeconds : 0.0);
    emit rowEnded(row, finished);
}

void CKvMainDlg::OnRowSkipped(int index, const QString& output)
{
    // Shown as finished, with the output an earlier Render made: Play and Show in
    // Folder find it as they find any other.
    const int row = m_queue->Rows()[size_t(index)].tag;
    m_mediaList->ShowRowStarted(row, output);
    m_mediaList->ShowRowEnded(row, true, QString(), QString(), 0.0);
    m_mediaList->SetRowToolTip(row, QStringLiteral("Converted before into %1; skipped.").arg(output));
    emit rowEnded(row, true);
}

void CKvMainDlg::OnQueueStopped(bool completed)
{
    SetBusy(false);
    emit queueStopped();
    if (!m_waitingFiles.isEmpty())
        AddWaitingFiles();
    if (completed && (!m_queue->Failures().empty() || !m_queue->Shortened().empty()))
        KvMessageBox(FailureSummary(m_queue->Failures(), m_queue->Shortened()),
                     CKvMessageDlg::kStyleOk, this);
}

void CKvMainDlg::StopQueue()
{
    if (!m_idle)
        m_queue->Stop();
}
