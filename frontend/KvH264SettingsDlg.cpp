#include "frontend/KvH264SettingsDlg.h"

#include "frontend/KvFrontEndState.h"
#include "frontend/KvHelpPanel.h"
#include "ui/KvComboBox.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

using namespace velmora;

namespace {

constexpr int kRowHeight = 22;

const char* const kProfileHelp =
    "We recommend the Main Profile for creating HD video, but if your computer has problem when using Main "
    "Profile HD video, you could simply select Baseline Profile for creating HD video too.";
const char* const kFramesHelp =
    "An H264 video stream is comprised of I Frames, B Frames and P Frames. To increase the compression of "
    "H264, more B and P frames should be used.\r\n\r\n"
    "No. of P Frames: represents the number of P frames between 2 successive I frames. \r\n"
    "No. of B Frames: represents the number of B frames between 2 successive P frames.";

} // namespace

CKvH264SettingsDlg::CKvH264SettingsDlg(KvFrontEndState& state, QWidget* parent)
    : CKvDialogBase(parent)
    , m_state(state)
{
    setWindowTitle(QStringLiteral("Advanced"));
    resize(kWidth, kHeight);
}

CKvH264SettingsDlg::~CKvH264SettingsDlg() = default;

int CKvH264SettingsDlg::Run()
{
    m_runResult = 0;
    exec();
    return m_runResult;
}

void CKvH264SettingsDlg::CreateControls()
{
    CKvDialogBase::CreateControls();
    CKvUIManager* manager = Manager();
    auto combo = [manager](int id, std::initializer_list<const char*> items) {
        auto* box = new CKvComboBox;
        manager->AddControl(id, box, kTypeComboBox);
        for (const char* text : items)
            box->AddString(QString::fromLatin1(text));
        box->SetDropHeight(int(items.size()) * kRowHeight + 2);
        return box;
    };
    m_profile = combo(kProfileId, {"Standard H264 Main Profile", "Standard H264 Baseline Profile"});
    m_pFrames = combo(kPFrameId, {"1 P Frame", "2 P Frames", "3 P Frames", "4 P Frames", "5 P Frames",
                                  "6 P Frames", "7 P Frames"});
    m_bFrames = combo(kBFrameId, {"0 B Frame", "1 B Frames", "2 B Frames"});
    m_help = new KvHelpPanel;
    manager->AddControl(kHelpId, m_help, kTypeStatic);
    m_help->SetFontId(KvHelpPanel::kFontId);
}

void CKvH264SettingsDlg::LayoutControls()
{
    CKvDialogBase::LayoutControls();
    if (!m_profile)
        return;
    const int w = width();
    const int h = height();
    const int half = (w - 30) / 2;
    m_profile->Move(10, 50, w - 20, kRowHeight);
    m_pFrames->Move(10, 82, half, kRowHeight);
    m_bFrames->Move(half + 20, 82, half, kRowHeight);
    m_help->Move(10, 114, w - 20, h - 154);
}

void CKvH264SettingsDlg::OnInitDialog()
{
    QWidget* parent = parentWidget();
    if (parent)
        move(parent->frameGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
    CKvDialogBase::OnInitDialog();
    const tagKvH264Settings& settings = m_state.H264();
    auto select = [](CKvComboBox* combo, int index) {
        combo->SetCurSel(index >= 0 && index < combo->GetCount() ? index : -1, false);
    };
    select(m_profile, settings.nProfileIndex);
    select(m_pFrames, settings.nPFrameIndex);
    select(m_bFrames, settings.nBFrameIndex);
    UpdateEnabling();
}

void CKvH264SettingsDlg::UpdateEnabling()
{
    // B frames exist only in the main profile.
    m_bFrames->Enable(m_profile->GetCurSel() == 0, false);
    Manager()->Invalidate();
    update();
}

void CKvH264SettingsDlg::OnCommand(int id)
{
    if (id == kProfileId)
        UpdateEnabling();
    else
        CKvDialogBase::OnCommand(id);
}

void CKvH264SettingsDlg::OnOK()
{
    if (IsClosing())
        return;
    tagKvH264Settings& settings = m_state.H264();
    if (m_profile->GetCurSel() >= 0)
        settings.nProfileIndex = m_profile->GetCurSel();
    if (m_pFrames->GetCurSel() >= 0)
        settings.nPFrameIndex = m_pFrames->GetCurSel();
    if (m_bFrames->GetCurSel() >= 0)
        settings.nBFrameIndex = m_bFrames->GetCurSel();
    m_state.SaveH264();
    m_runResult = 1;
    CKvDialogBase::OnOK();
}

QString CKvH264SettingsDlg::HelpTextAt(const QPoint& point) const
{
    if (m_profile && m_profile->Rect().contains(point))
        return QString::fromLatin1(kProfileHelp);
    if ((m_pFrames && m_pFrames->Rect().contains(point)) || (m_bFrames && m_bFrames->Rect().contains(point)))
        return QString::fromLatin1(kFramesHelp);
    return QString();
}

QString CKvH264SettingsDlg::HelpText() const
{
    return m_help ? m_help->GetCaption() : QString();
}

void CKvH264SettingsDlg::SetHelp(const QString& text)
{
    if (!m_help || m_help->GetCaption() == text)
        return;
    m_help->SetCaption(text, false);
    Manager()->RedrawControl(m_help);
}

void CKvH264SettingsDlg::mouseMoveEvent(QMouseEvent* event)
{
    CKvDialogBase::mouseMoveEvent(event);
    SetHelp(HelpTextAt(event->position().toPoint()));
}

void CKvH264SettingsDlg::leaveEvent(QEvent* event)
{
    CKvDialogBase::leaveEvent(event);
    SetHelp(QString());
}

CKvComboBox* CKvH264SettingsDlg::Combo(int id) const
{
    return Manager()->Find<CKvComboBox>(id, kTypeComboBox);
}
