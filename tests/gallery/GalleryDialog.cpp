#include "GalleryDialog.h"

#include "ui/KvADListBox.h"
#include "ui/KvButton.h"
#include "ui/KvCheck.h"
#include "ui/KvColorButton.h"
#include "ui/KvComboBox.h"
#include "ui/KvEdit.h"
#include "ui/KvHListBox.h"
#include "ui/KvImageTipWnd.h"
#include "ui/KvLinkButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvMenuEx.h"
#include "ui/KvMenuExShadow.h"
#include "ui/KvProgress.h"
#include "ui/KvRadio.h"
#include "ui/KvSlider.h"
#include "ui/KvStatic.h"
#include "ui/KvTextButton.h"
#include "ui/KvToolTipWnd.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"
#include "ui/KvVListBox.h"
#include "ui/MenuExHook.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>

namespace velmora {

namespace {

constexpr int kWidth = 1120;
constexpr int kHeight = 1010;
constexpr int kLabelLeft = 16;
constexpr int kStateLeft = 150;
constexpr int kStateWidth = 235;
constexpr int kRowGap = 12;
constexpr int kFirstRow = 72;

enum State { Normal, Hover, Pressed, Disabled };

// Gives the gallery the one thing a dialog never needs: a control held in a
// chosen look without moving a mouse over it.
template <class T>
class Posed : public T
{
public:
    void Pose(int state)
    {
        if (state == Disabled)
            this->Enable(false, false);
        else
            this->SetLook(state == Hover ? CKvButton::LookHover
                                         : state == Pressed ? CKvButton::LookPressed : CKvButton::LookNormal);
    }
};

QString Skin(const char* path)
{
    return CKvUIManager::ResolvePath(QString::fromLatin1(path));
}

// A notice banner as a feed would bring it: a colour ramp, a few rings and a word.
QImage NoticePicture(int index, const QString& word)
{
    static const QColor ramps[][2] = {{QColor(242, 169, 59), QColor(170, 60, 40)},
                                      {QColor(60, 140, 200), QColor(30, 50, 110)},
                                      {QColor(90, 180, 120), QColor(30, 90, 70)},
                                      {QColor(160, 100, 200), QColor(70, 40, 120)}};
    const auto& ramp = ramps[index % 4];
    QImage image(320, 180, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 320, 180);
    gradient.setColorAt(0, ramp[0]);
    gradient.setColorAt(1, ramp[1]);
    painter.fillRect(image.rect(), gradient);
    painter.setPen(QPen(QColor(255, 255, 255, 60), 6));
    for (int ring = 0; ring < 3; ++ring)
        painter.drawEllipse(QPointF(250 - 40 * index % 120, 60), 30 + 28 * ring, 30 + 28 * ring);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect().adjusted(18, 0, -18, -18), Qt::AlignHCenter | Qt::AlignBottom, word);
    return image;
}

} // namespace

GalleryDialog::GalleryDialog(QWidget* parent)
    : CKvDialogBase(parent)
{
    setWindowTitle(QStringLiteral("Velmora controls"));
    SetFadeEnabled(false);
    resize(kWidth, kHeight);
}

GalleryDialog::~GalleryDialog() = default;

template <class T>
T* GalleryDialog::Place(T* control, int typeCode, const QRect& rect)
{
    control->Move(rect.x(), rect.y(), rect.width(), rect.height(), false);
    Manager()->AddControl(m_nextId++, control, typeCode);
    control->Move(rect.x(), rect.y(), rect.width(), rect.height(), false);
    return control;
}

template <class Make>
void GalleryDialog::StateRow(const QString& label, int height, Make make)
{
    auto* caption = Place(new CKvStatic, kTypeStatic, QRect(kLabelLeft, m_rowTop, kStateLeft - kLabelLeft - 8, height));
    caption->SetCaption(label);
    caption->SetAlignment(CKvButton::AlignLeft);
    for (int state = Normal; state <= Disabled; ++state)
        make(state, QPoint(kStateLeft + state * kStateWidth, m_rowTop));
    m_rowTop += height + kRowGap;
}

void GalleryDialog::CreateControls()
{
    CKvDialogBase::CreateControls();
    m_rowTop = kFirstRow;

    const char* headers[] = {"Normal", "Hover", "Pressed", "Disabled"};
    for (int state = Normal; state <= Disabled; ++state) {
        auto* header = Place(new CKvStatic, kTypeStatic, QRect(kStateLeft + state * kStateWidth, 42, 120, 20));
        header->SetCaption(QString::fromLatin1(headers[state]));
        header->SetAlignment(CKvButton::AlignLeft);
        header->SetFontId(2);
    }

    auto image = [this](int state, const QPoint& at, const char* path, int x, int y, int w, int h) {
        auto* button = Place(new Posed<CKvButton>, kTypeButton, QRect(at.x() + x, at.y() + y, w, h));
        button->LoadImage(Skin(path));
        button->Pose(state);
        return button;
    };

    StateRow(QStringLiteral("Caption buttons"), 25, [&](int state, QPoint at) {
        const char* captions[] = {"skin/btn/dia-help.png", "skin/btn/dia-min.png", "skin/btn/dia-max1.png",
                                  "skin/btn/dia-max.png", "skin/btn/dia-close.png"};
        image(state, at, "skin/btn/menu.png", 0, 0, 25, 25);
        for (int i = 0; i < 5; ++i)
            image(state, at, captions[i], 40 + i * 20, 5, 16, 16);
    });
    StateRow(QStringLiteral("List tools"), 30, [&](int state, QPoint at) {
        const char* tools[] = {"skin/btn/op-remove.png", "skin/btn/op-removeall.png", "skin/btn/op-up.png",
                               "skin/btn/op-down.png", "skin/btn/op-previewproject.png"};
        for (int i = 0; i < 5; ++i)
            image(state, at, tools[i], i * 40, 0, 30, 30);
    });
    StateRow(QStringLiteral("Add, Settings"), 40, [&](int state, QPoint at) {
        CKvButton* add = image(state, at, "skin/btn/add.png", 0, 0, 40, 40);
        add->SetToolTip(QStringLiteral("Add..."));
        if (state == Hover)
            m_tipOwner = add;
        image(state, at, "skin/btn/vsetting.png", 50, 0, 92, 40);
    });
    StateRow(QStringLiteral("Render"), 40, [&](int state, QPoint at) {
        image(state, at, "skin/btn/main-convert.png", 0, 0, 126, 40);
    });
    StateRow(QStringLiteral("Render (busy)"), 40, [&](int state, QPoint at) {
        image(state, at, "skin/btn/main-convertstop.png", 0, 0, 126, 40);
    });
    StateRow(QStringLiteral("Preview, pages"), 30, [&](int state, QPoint at) {
        image(state, at, "skin/btn/btnlyricplay.png", 0, 0, 30, 30);
        image(state, at, "skin/btn/btnstop.png", 40, 0, 30, 30);
        image(state, at, "skin/btn/prevpage.png", 90, 3, 24, 24);
        image(state, at, "skin/btn/nextpage.png", 120, 3, 24, 24);
    });
    StateRow(QStringLiteral("Text buttons"), 20, [&](int state, QPoint at) {
        auto* ok = Place(new Posed<CKvTextButton>, kTypeTextButton, QRect(at.x(), at.y(), 65, 20));
        ok->SetCaption(QStringLiteral("OK"));
        ok->Pose(state);
        auto* cancel = Place(new Posed<CKvTextButton>, kTypeTextButton, QRect(at.x() + 75, at.y(), 65, 20));
        cancel->SetCaption(QStringLiteral("Cancel"));
        cancel->Pose(state);
    });
    for (bool checked : {false, true}) {
        StateRow(checked ? QStringLiteral("Checked") : QStringLiteral("Check, radio"), 20,
                 [&](int state, QPoint at) {
                     auto* check = Place(new Posed<CKvCheck>, kTypeCheck, QRect(at.x(), at.y(), 110, 20));
                     check->SetCaption(QStringLiteral("Deinterlacing"));
                     check->SetCheck(checked, false);
                     check->Pose(state);
                     auto* radio = Place(new Posed<CKvRadio>, kTypeRadio, QRect(at.x() + 120, at.y(), 80, 20));
                     radio->SetCaption(QStringLiteral("Stereo"));
                     radio->SetCheck(checked, false);
                     radio->Pose(state);
                 });
    }
    StateRow(QStringLiteral("Edit field"), 22, [&](int state, QPoint at) {
        auto* edit = Place(new Posed<CKvEdit>, kTypeEdit, QRect(at.x(), at.y(), 200, 22));
        edit->SetCaption(QStringLiteral("1920"));
        edit->Pose(state);
    });
    StateRow(QStringLiteral("Combo box"), 22, [&](int state, QPoint at) {
        auto* combo = Place(new Posed<CKvComboBox>, kTypeComboBox, QRect(at.x(), at.y(), 200, 22));
        for (const char* rate : {"96 Kbps", "128 Kbps", "192 Kbps", "256 Kbps", "320 Kbps"})
            combo->AddString(QString::fromLatin1(rate));
        combo->SetCurSel(1, false);
        combo->SetDropHeight(110);
        combo->Pose(state);
    });
    StateRow(QStringLiteral("Progress"), 16, [&](int state, QPoint at) {
        auto* progress = Place(new Posed<CKvProgress>, kTypeProgress, QRect(at.x(), at.y() + 5, 200, 6));
        progress->SetRange(0, 100);
        progress->SetPos(15 + 25 * state, false);
        progress->Pose(state);
    });
    StateRow(QStringLiteral("Slider"), 20, [&](int state, QPoint at) {
        auto* slider = Place(new Posed<CKvSlider>, kTypeSlider, QRect(at.x(), at.y(), 200, 20));
        slider->SetRange(0, 100);
        slider->SetPos(40, false);
        slider->Pose(state);
    });
    StateRow(QStringLiteral("Link, label, colour"), 22, [&](int state, QPoint at) {
        auto* link = Place(new Posed<CKvLinkButton>, kTypeLinkButton, QRect(at.x(), at.y(), 80, 22));
        link->SetCaption(QStringLiteral("How to use"));
        link->Pose(state);
        auto* label = Place(new Posed<CKvStatic>, kTypeStatic, QRect(at.x() + 90, at.y(), 60, 22));
        label->SetCaption(QStringLiteral("Label"));
        label->Pose(state);
        auto* colour = Place(new Posed<CKvColorButton>, kTypeColorButton, QRect(at.x() + 160, at.y() + 1, 40, 20));
        colour->SetColor(QColor(242, 169, 59), false);
        colour->Pose(state);
    });

    CreateLists();
    CreateMenus();
}

void GalleryDialog::CreateLists()
{
    const int top = m_rowTop + 8;
    auto* list = Place(new CKvListCtrl, kTypeListCtrl, QRect(kLabelLeft, top, 600, 180));
    list->InsertColumn(CKvListCtrl::KindText, 210, QStringLiteral("File"));
    list->InsertColumn(CKvListCtrl::KindProgress, 110, QStringLiteral("State"));
    list->InsertColumn(CKvListCtrl::KindText, 90, QStringLiteral("Duration"));
    list->InsertColumn(CKvListCtrl::KindChoice, 80, QStringLiteral("Audio"));
    list->InsertColumn(CKvListCtrl::KindEdit, 140, QStringLiteral("Start"));
    const char* files[] = {"/home/ana/Videos/holiday.mp4", "/home/ana/Videos/interview.mkv",
                           "/home/ana/Music/live-set.wav", "/home/ana/Videos/lecture.avi",
                           "/home/ana/Videos/trailer.mov", "/home/ana/Videos/concert.webm",
                           "/home/ana/Videos/clip.wmv"};
    const char* states[] = {"Finish", " 42.500%", "Ready", "Ready", "Ready", "Ready", "Ready"};
    const int progress[] = {100, 42, 0, 0, 0, 0, 0};
    for (int row = 0; row < 7; ++row) {
        list->AddRow(QString::fromLatin1(files[row]), row);
        list->SetCellText(1, row, QString::fromLatin1(states[row]));
        list->SetProgress(1, row, progress[row]);
        list->SetCellText(2, row, QStringLiteral("00:0%1:1%2").arg(row + 2).arg(row));
        list->SetCellText(3, row, QStringLiteral("Yes"));
        list->SetCellChoices(3, row, {{QStringLiteral("Yes"), 1}, {QStringLiteral("No"), 0}});
        list->SetCellText(4, row, QStringLiteral("00:00:00.0"));
    }
    list->SetSelectedRow(1, false);

    auto* vlist = Place(new CKvVListBox, kTypeVListBox, QRect(kLabelLeft + 612, top, 150, 180));
    for (const char* preset : {"HD VIDEO 1080P", "HD VIDEO 720P", "SD VIDEO 576P", "SD VIDEO 480P",
                               "SD VIDEO 360P", "SD VIDEO 240P", "Mobile 320P", "Audio only", "Custom"})
        vlist->AddString(QString::fromLatin1(preset));
    vlist->SetCurSel(3, false);

    auto* hlist = Place(new CKvHListBox, kTypeHListBox, QRect(kLabelLeft, top + 192, 600, 30));
    for (const char* page : {"All", "Video", "Audio", "Favourites", "Recent"})
        hlist->AddString(QString::fromLatin1(page));
    hlist->SetCurSel(1, false);

    // The menu is composed into the snapshot here, right of the lists.
    m_menuArea = QRect(kLabelLeft + 790, top, kWidth - kLabelLeft - 790 - 16, 230);

    m_notices = Place(new CKvADListBox, kTypeADListBox, QRect(1, kHeight - 172, kWidth - 3, 130));
    const char* notices[][3] = {
        {"Extract sound from any video", "Sound", "Any video file with a sound track becomes an MP3 or WMA file."},
        {"Batch conversion tips", "Batch", "Add a whole folder at once, then press Render: the rows are converted "
                                           "one after another while you keep working."},
        {"Choosing a bit rate", "kbps", "128 kbps is plenty for speech; music sounds best at 192 kbps or more."},
        {"WMA or MP3?", "MP3", "MP3 plays everywhere; WMA is smaller at the same quality."},
        {"Preview before you render", "Play", "Listen to a row before converting it."},
        {"Keyboard shortcuts", "Keys", "Enter presses the focused button."},
        {"What is new", "New", "Online notices with picture tips."}};
    int index = 0;
    for (const auto& notice : notices) {
        const int item = m_notices->AddItem(0, 0, QString(), QStringLiteral("https://example.invalid/"),
                                            QString::fromLatin1(notice[0]), QString::fromLatin1(notice[2]));
        m_notices->SetItemImage(item, NoticePicture(index++, QString::fromLatin1(notice[1])), false);
    }
}

void GalleryDialog::DrawNoticeTip(QPainter& painter)
{
    const QRect item = m_notices->ItemRect(1);
    CKvImageTipWnd* tip = m_notices->ImageTipWindow();
    if (!tip)
        return;
    tip->resize(tip->ContentSize());
    painter.drawPixmap(CKvImageTipWnd::TipPosition(item, tip->size(), rect()), tip->grab());
    m_notices->ShowToolTip(false);
}

void GalleryDialog::CreateMenus()
{
    m_viewMenu = std::make_unique<CKvMenuEx>();
    m_viewMenu->AddItem(41, QStringLiteral("&File"));
    m_viewMenu->AddItem(42, QStringLiteral("&State"));
    m_viewMenu->AddItem(43, QStringLiteral("&Duration"));
    m_viewMenu->CheckItem(41, true);
    m_viewMenu->CheckItem(42, true);

    m_menu = std::make_unique<CKvMenuEx>();
    m_menu->AddItem(1, QStringLiteral("&Add Files...\tCtrl+O"));
    m_menu->AddItem(2, QStringLiteral("&Preview"), QStringLiteral("skin/btn/gold.png"));
    m_menu->AddItem(0, QString());
    m_menu->AddItem(3, QStringLiteral("&Remove\tDel"));
    m_menu->AddItem(4, QStringLiteral("Remove All"));
    m_menu->EnableItem(4, false);
    m_menu->AddSubMenu(*m_viewMenu, QStringLiteral("&View"));
    m_menu->AddItem(0, QString());
    m_menu->AddItem(11, QStringLiteral("&Exit"));
}

void GalleryDialog::DrawFrame(QPainter& painter)
{
    CKvDialogBase::DrawFrame(painter);
    // Hairlines between the look columns make the states easy to compare.
    painter.save();
    painter.setPen(ColorFromRef(CKvUIManager::Colors().clrDlgEdge, 70));
    for (int state = Hover; state <= Disabled; ++state) {
        const int x = kStateLeft + state * kStateWidth - 12;
        painter.drawLine(x, 44, x, m_rowTop - kRowGap / 2);
    }
    painter.restore();
}

QImage GalleryDialog::MenuPicture()
{
    // Open the menu and its submenu the way a user would, by keyboard, with the
    // shadow hook in place, then draw what is on screen: rings first, menus above.
    MenuExHook::Install();
    QMenu* top = m_menu->Menu();
    QMenu* sub = m_viewMenu->Menu();
    top->popup(QPoint(0, 0));
    QApplication::processEvents();
    auto press = [](QWidget* target, int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &down);
    };
    // Down to "View": past the separator and the disabled "Remove All".
    for (int i = 0; i < 4; ++i)
        press(top, Qt::Key_Down);
    press(top, Qt::Key_Right);
    press(sub, Qt::Key_Down);
    QApplication::processEvents();

    // At the dialog's device pixel ratio, so that the menus' own pictures keep theirs.
    const qreal ratio = devicePixelRatioF();
    QImage picture(m_menuArea.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const int reach = CKvMenuExShadow::kReach;
    const QPoint origin(reach, reach);
    const QPoint topAt = top->pos();
    for (QMenu* menu : {top, sub}) {
        if (!menu->isVisible())
            continue;
        const QPoint at = origin + (menu->pos() - topAt);
        const QRect ring(at - QPoint(reach, reach), menu->size() + QSize(2 * reach, 2 * reach));
        painter.drawImage(ring.topLeft(), CKvMenuExShadow::RingPicture(ring.size()));
        painter.drawPixmap(at, menu->grab());
    }
    painter.end();
    sub->hide();
    top->hide();
    MenuExHook::Remove();
    return picture;
}

QImage GalleryDialog::Snapshot()
{
    QApplication::processEvents();
    // The hovered notice is part of the dialog's own picture; its tip goes on top.
    m_notices->OnMouseMessage(kMouseMove, m_notices->ItemRect(1).center());
    Manager()->Paint();
    QImage picture = grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    DrawNoticeTip(painter);
    painter.drawImage(m_menuArea.topLeft(), MenuPicture());
    if (m_tipOwner) {
        m_tipOwner->ShowToolTip(true);
        if (CKvToolTipWnd* tip = m_tipOwner->ToolTipWindow()) {
            const QRect owner = m_tipOwner->Rect();
            painter.drawPixmap(owner.left(), owner.bottom() + 1 + 10, tip->grab());
            m_tipOwner->ShowToolTip(false);
        }
    }
    return picture;
}

} // namespace velmora
