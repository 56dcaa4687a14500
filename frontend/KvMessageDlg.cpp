#include "frontend/KvMessageDlg.h"

#include "ui/KvStatic.h"
#include "ui/KvTextButton.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

using namespace velmora;

namespace {

constexpr int kMessageFontId = 6;

// The message label: the text wrapped over as many lines as it needs, centred
// both ways, in the message font.
class MessageLabel : public CKvStatic
{
public:
    void DrawContent(QPainter& painter, const QRect& rect) override
    {
        const tagKvFontData* entry = CKvUIManager::FindFont(kMessageFontId);
        if (m_caption.isEmpty())
            return;
        painter.save();
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial")));
        painter.setPen(CaptionColor());
        painter.drawText(rect, Qt::AlignCenter | Qt::TextWordWrap, m_caption);
        painter.restore();
    }
};

KvMessageHook& MessageHook()
{
    static KvMessageHook hook;
    return hook;
}

} // namespace

CKvMessageDlg::CKvMessageDlg(const QString& caption, const QString& text, int style, QWidget* parent)
    : CKvDialogBase(parent)
    , m_caption(caption.isEmpty() ? QStringLiteral("Tips") : caption)
    , m_text(text)
    , m_style(style)
{
    setWindowTitle(m_caption);
    resize(kTemplateWidth, kTemplateHeight);
}

CKvMessageDlg::~CKvMessageDlg() = default;

void CKvMessageDlg::CreateControls()
{
    CKvDialogBase::CreateControls();
    m_label = new MessageLabel;
    m_label->SetFontId(kMessageFontId);
    Manager()->AddControl(kLabelId, m_label, kTypeStatic);
    m_yesButton = new CKvTextButton(QStringLiteral("Yes"));
    Manager()->AddControl(kIdYes, m_yesButton, kTypeTextButton);
    m_noButton = new CKvTextButton(QStringLiteral("No"));
    Manager()->AddControl(kIdNo, m_noButton, kTypeTextButton);
}

void CKvMessageDlg::OnInitDialog()
{
    // Long texts get a wider window; the height always follows the wrapped text.
    int width = kTemplateWidth;
    if (m_text.size() > kWideTextLength)
        width += kWideExtra;
    m_labelHeight = 0;
    if (!m_text.isEmpty()) {
        const tagKvFontData* entry = CKvUIManager::FindFont(kMessageFontId);
        QFont font = entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial"));
        if (!entry) {
            // The skin is read only when the controls are made; measure with the
            // table's usual message size meanwhile.
            font.setPixelSize(13);
        }
        const QFontMetrics metrics(font);
        m_labelHeight = metrics.boundingRect(QRect(0, 0, width - 20, 100000),
                                             Qt::AlignCenter | Qt::TextWordWrap, m_text).height();
    }
    resize(width, m_labelHeight + 100);
    if (QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width / 2, (m_labelHeight + 100) / 2));
    }
    CKvDialogBase::OnInitDialog();

    m_label->SetCaption(m_text);
    OkButton()->Show(m_style == kStyleOk || m_style == kStyleOkCancel, false);
    CancelButton()->Show(m_style == kStyleOkCancel, false);
    m_yesButton->Show(m_style == kStyleYesNo, false);
    m_noButton->Show(m_style == kStyleYesNo, false);
    Manager()->Invalidate();
}

void CKvMessageDlg::LayoutControls()
{
    CKvDialogBase::LayoutControls();
    const int w = width();
    const int h = height();
    if (m_label)
        m_label->Move(10, 40, w - 20, m_labelHeight);
    if (m_yesButton)
        m_yesButton->Move(w - 75, h - 30, 65, 20);
    if (m_noButton)
        m_noButton->Move(w - 150, h - 30, 65, 20);
}

void CKvMessageDlg::OnOK()
{
    m_messageResult = kIdOk;
    CKvDialogBase::OnOK();
}

void CKvMessageDlg::OnCancel()
{
    m_messageResult = kIdCancel;
    CKvDialogBase::OnCancel();
}

void CKvMessageDlg::OnCommand(int id)
{
    if (id == kIdYes) {
        CKvDialogBase::OnOK();
        m_messageResult = kIdYes;
    } else if (id == kIdNo) {
        CKvDialogBase::OnCancel();
        m_messageResult = kIdNo;
    } else {
        CKvDialogBase::OnCommand(id);
    }
}

int CKvMessageDlg::Run()
{
    exec();
    return m_messageResult;
}

namespace velmora {

int KvMessageBox(const QString& text, int style, QWidget* parent)
{
    return KvMessageBox(QString(), text, style, parent);
}

int KvMessageBox(const QString& caption, const QString& text, int style, QWidget* parent)
{
    if (MessageHook())
        return MessageHook()(caption.isEmpty() ? QStringLiteral("Tips") : caption, text, style);
    CKvMessageDlg dialog(caption, text, style, parent);
    return dialog.Run();
}

void SetMessageHookForTesting(KvMessageHook hook)
{
    MessageHook() = std::move(hook);
}

} // namespace velmora
