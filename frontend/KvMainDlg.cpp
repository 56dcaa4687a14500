#include "frontend/KvMainDlg.h"

#include "frontend/KvDesktopOpener.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvMediaFiles.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvMovieSettingsDlg.h"
#include "frontend/KvNoticeBoard.h"
#include "frontend/KvPreviewMovieDlg.h"
#include "frontend/KvQueueReport.h"
#include "frontend/KvRenderQueue.h"
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
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRegularExpression>
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

// The files are read where they lie: a copy is all a drop may stand for, never a move
// (a source told "moved" may delete its files).
Qt::DropAction CopyActionOf(const QDropEvent& event)
{
    if (event.possibleActions() & Qt::CopyAction)
        return Qt::CopyAction;
    if (event.possibleActions() & Qt::LinkAction)
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

// A drag of links (files, folders, web addresses) that can be taken as a copy.
bool NamesFiles(const QDropEvent& event)
{
    return event.mimeData() && event.mimeData()->hasUrls() && CopyActionOf(event) != Qt::IgnoreAction;
}

// The how-to page of the help button: written next to the job files and opened in
// the default browser.
const char* kHowTo =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velmora - How to use</title>"
    "<style>body{font-family:Arial,sans-serif;background:#242a2d;color:#ece6e2;max-width:46em;"
    "margin:2em auto;line-height:1.5}h1{color:#f2a93b}</style></head><body>"
    "<h1>Velmora: how to use</h1><ol>"
    "<li>Press <b>Add...</b> and choose video or audio files, drop files or whole folders on the window, or open "
    "them with Velmora from your file manager.</li>"
    "<li>Optionally edit <b>Start</b> and <b>End</b> (seconds) of a row to convert only a part of it.</li>"
    "<li>Press <b>Settings</b> to choose MP3 or WMA and the bit rate, sample rate and channels.</li>"
    "<li>Press <b>Render</b> and choose the target folder. Each row is converted in turn; the State column "
    "shows the progress and then <b>Finish</b> (or <b>Failed</b> - point at the row to see why).</li>"
    "<li>Press <b>Render</b> again while it runs to stop.</li>"
    "<li>Right-click a finished row for <b>Show in Folder</b> and <b>Play</b>.</li></ol>"
    "<p>Output files are named (output001)name.wma, (output002)name.wma, ... unless <b>Settings</b> gives "
    "other <b>Output Names</b> (with {name}, {n}, {title} and {artist}); an existing file is never "
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
    setAcceptDrops(true);

    m_queue = std::make_unique<KvRenderQueue>(KvFrontEndState::Instance());
    connect(m_queue.get(), &KvRenderQueue::rowStarted, this, &CKvMainDlg::OnRowStarted);
    connect(m_queue.get(), &KvRenderQueue::rowProgress, this,
            [this](int index, double percent) { OnRowProgress(index, percent); });
    connect(m_queue.get(), &KvRenderQueue::rowEnded, this, &CKvMainDlg::OnRowEnded);
    connect(m_queue.get(), &KvRenderQueue::message, this,
            [this](const QString& text) { KvMessageBox(text, CKvMessageDlg::kStyleOk, this); });
    connect(m_queue.get(), &KvRenderQueue::stopped, this, &CKvMainDlg::OnQueueStopped);
}

CKvMainDlg::~CKvMainDlg()
{
    // The queue kills its engines and removes what they wrote so far; it reports
    // nothing more to a window that is going.
    m_queue.reset();
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
    case kIdShowInFolder: ShowOutputInFolder(m_list->GetSelectedRow()); break;
    case kIdPlayOutput: PlayOutput(m_list->GetSelectedRow()); break;
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
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(kHowTo) < 0) {
        KvMessageBox(QStringLiteral("The guide could not be written to %1.").arg(path), CKvMessageDlg::kStyleOk, this);
        return;
    }
    file.close();
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

// ---- Drops -----------------------------------------------------------------------

QString CKvMainDlg::DropRefusal() const
{
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
    // Taken whenever it names files, even while they cannot be added now: a widget that
    // refuses the enter hears nothing more of the drag, not even its leaving. The move
    // that always follows answers yes or no, and that is what the pointer shows.
    if (NamesFiles(*event)) {
        event->setDropAction(CopyActionOf(*event));
        event->accept();
    } else {
        event->ignore();
    }
}

void CKvMainDlg::dragMoveEvent(QDragMoveEvent* event)
{
    if (!NamesFiles(*event)) {
        SetDropHint(QString(), false);
        event->ignore();
        return;
    }
    // Asked again on every move: a Render that ends while the pointer waits over the
    // window makes the drop welcome from then on.
    const QString refusal = DropRefusal();
    SetDropHint(refusal.isEmpty() ? QStringLiteral("Drop files or folders to add them") : refusal, !refusal.isEmpty());
    if (refusal.isEmpty()) {
        event->setDropAction(CopyActionOf(*event));
        event->accept();
    } else {
        event->ignore();
    }
}

void CKvMainDlg::dragLeaveEvent(QDragLeaveEvent* event)
{
    SetDropHint(QString(), false);
    event->accept();
}

void CKvMainDlg::dropEvent(QDropEvent* event)
{
    SetDropHint(QString(), false);
    if (!NamesFiles(*event)) {
        event->ignore();
        return;
    }
    const QString refusal = DropRefusal();
    const QList<QUrl> urls = event->mimeData()->urls();
    if (refusal.isEmpty()) {
        event->setDropAction(CopyActionOf(*event));
        event->accept();
    } else {
        event->ignore();
    }
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
    // A Render may have started since the drop was taken.
    const QString refusal = DropRefusal();
    if (!refusal.isEmpty()) {
        KvMessageBox(refusal, CKvMessageDlg::kStyleOk, this);
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const KvDroppedFiles dropped = CollectDroppedFiles(urls);
    QGuiApplication::restoreOverrideCursor();
    if (dropped.files.isEmpty() && dropped.skipped.empty()) {
        KvMessageBox(QStringLiteral("No media files were found in what was dropped."), CKvMessageDlg::kStyleOk, this);
        return;
    }
    m_mediaList->AddFiles(dropped.files, dropped.skipped);
    Manager()->Invalidate();
    update();
}

void CKvMainDlg::SetDropHint(const QString& text, bool refused)
{
    if (text == m_dropHint && refused == m_dropRefused)
        return;
    m_dropHint = text;
    m_dropRefused = refused;
    update();
}

void CKvMainDlg::paintEvent(QPaintEvent* event)
{
    CKvDialogBase::paintEvent(event);
    if (m_dropHint.isEmpty() || !m_list)
        return;
    // Over the list, where the rows will appear: the accent frame when the files are
    // welcome, the danger colour and the reason when they are not.
    const QRect area = m_list->Rect().adjusted(1, 1, -2, -2);
    const QColor edge = m_dropRefused ? DangerColor() : AccentColor();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(ColorFromRef(CKvUIManager::Colors().clrDlgBK, 200));
    painter.setPen(QPen(edge, 2, Qt::DashLine));
    painter.drawRoundedRect(QRectF(area), 6, 6);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(m_dropRefused ? edge : ColorFromRef(CKvUIManager::Colors().clrText));
    painter.drawText(area.adjusted(20, 0, -20, 0), Qt::AlignCenter | Qt::TextWordWrap, m_dropHint);
}

// ---- Finished rows -----------------------------------------------------------------

void CKvMainDlg::OpenRowMenu(int row)
{
    CKvMenuEx menu;
    menu.AddItem(kIdPreview, QStringLiteral("&Preview"));
    const QString output = m_mediaList->FinishedOutput(row);
    if (!output.isEmpty()) {
        // A file moved or deleted since the Render is said so on the items themselves,
        // rather than the items doing nothing.
        const bool there = QFileInfo(output).isFile();
        const QString gone = there ? QString() : QStringLiteral(" (file is gone)");
        menu.AddItem(0, QString());
        menu.AddItem(kIdShowInFolder, QStringLiteral("Show in &Folder") + gone);
        menu.AddItem(kIdPlayOutput, QStringLiteral("P&lay") + gone);
        menu.EnableItem(kIdShowInFolder, there);
        menu.EnableItem(kIdPlayOutput, there);
    }
    const unsigned flags = CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON;
    const int command = menu.TrackMenu(flags, QCursor::pos(), this);
    if (command > 0)
        ForwardCommand(command);
}

QString CKvMainDlg::OutputToOpen(int row)
{
    const QString output = m_mediaList ? m_mediaList->FinishedOutput(row) : QString();
    if (output.isEmpty() || QFileInfo(output).isFile())
        return output;
    KvMessageBox(QStringLiteral("The output file is gone:\n%1").arg(output), CKvMessageDlg::kStyleOk, this);
    return QString();
}

std::function<void()> CKvMainDlg::TellLater(const QString& text)
{
    // The desktop may answer after the window has gone.
    return [self = QPointer<CKvMainDlg>(this), text] {
        if (self)
            KvMessageBox(text, CKvMessageDlg::kStyleOk, self);
    };
}

void CKvMainDlg::ShowOutputInFolder(int row)
{
    const QString output = OutputToOpen(row);
    if (!output.isEmpty())
        DesktopOpener().ShowInFolder(
            output, TellLater(QStringLiteral("No file manager could be opened. The output file is here:\n%1").arg(output)));
}

void CKvMainDlg::PlayOutput(int row)
{
    const QString output = OutputToOpen(row);
    if (!output.isEmpty())
        DesktopOpener().Open(
            output, TellLater(QStringLiteral("No program could be opened to play the output file:\n%1").arg(output)));
}

void CKvMainDlg::SetDesktopOpener(std::unique_ptr<KvDesktopOpener> opener)
{
    m_desktopOpener = std::move(opener);
}

KvDesktopOpener& CKvMainDlg::DesktopOpener()
{
    // Made on first use: the session bus is not touched by a window that never asks.
    if (!m_desktopOpener)
        m_desktopOpener = std::make_unique<KvSystemDesktopOpener>();
    return *m_desktopOpener;
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
    std::vector<KvQueueRow> rows;
    for (int row : RowsToConvert())
        rows.push_back({m_mediaList->JobRow(row), row});
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
    m_queue->SetParallel(KvFrontEndState::Instance().ParallelConversions());
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
    const int row = m_queue->Rows()[size_t(index)].tag;
    m_mediaList->SetRowToolTip(row, QString());
    m_mediaList->SetRowOutput(row, output);
    m_mediaList->SetState(row, KvRowState::Running, 0.0);
}

void CKvMainDlg::OnRowProgress(int index, double percent)
{
    m_mediaList->SetState(m_queue->Rows()[size_t(index)].tag, KvRowState::Running, percent);
}

void CKvMainDlg::OnRowEnded(int index, bool finished, const QString& reason, const QString& detail)
{
    const int row = m_queue->Rows()[size_t(index)].tag;
    if (finished && !reason.isEmpty()) {
        // Converted, but the source ended before its header said: the row says so,
        // and its Duration becomes what the source really holds.
        m_mediaList->SetState(row, KvRowState::FinishedShort);
        m_mediaList->SetRowToolTip(row, reason.left(1).toUpper() + reason.mid(1) + u'.');
        if (const KvQueueShort* shortened = m_queue->FindShort(index))
            m_mediaList->SetSourceLength(row, shortened->sourceSeconds);
    } else if (finished) {
        m_mediaList->SetState(row, KvRowState::Finished);
        m_mediaList->SetRowToolTip(row, QString());
    } else {
        // The short reason for the user, the engine's own sentence below it.
        m_mediaList->SetState(row, KvRowState::Failed);
        const QString tip = reason.left(1).toUpper() + reason.mid(1) + u'.';
        m_mediaList->SetRowToolTip(row, detail.isEmpty() ? tip : tip + u'\n' + detail);
    }
    emit rowEnded(row, finished);
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
