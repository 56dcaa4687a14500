#include "frontend/KvMessageDlg.h"

#include "ui/KvTextButton.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"
#include "ui/KvWindow.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStringList>
#include <QTextOption>

#include <algorithm>
#include <cmath>

using namespace velmora;

namespace {

constexpr int kMessageFontId = 6;
constexpr int kMinWidth = 240;
constexpr int kScrollGap = 6; // between the text and its scroll bar
constexpr int kLineStep = 20; // pixels an arrow key scrolls

QFont MessageFont()
{
    const tagKvFontData* entry = CKvUIManager::FindFont(kMessageFontId);
    QFont font = entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial"));
    if (!entry) {
        // The skin is read only when the controls are made; measure with the
        // table's usual message size meanwhile.
        font.setPixelSize(13);
    }
    return font;
}

// A one-line message sits centred as a whole; a text of several lines (a list of
// files) reads better from a common left edge.
QTextOption MessageOption(const QString& text)
{
    QTextOption option(text.contains(u'\n') ? Qt::AlignLeft : Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// A line that is one path (a list of files) and does not fit loses characters in its
// middle, so the file name at its end stays in view and each file keeps one line.
// Every other line wraps; a word too long for a line breaks inside.
QString FitPaths(const QString& text, int width)
{
    const QFontMetrics metrics(MessageFont());
    QStringList lines = text.split(u'\n');
    for (QString& line : lines) {
        if (line.startsWith(u'/') && metrics.horizontalAdvance(line) > width)
            line = metrics.elidedText(line, Qt::ElideMiddle, width);
    }
    return lines.join(u'\n');
}

int MeasureHeight(const QString& text, int width)
{
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    painter.setFont(MessageFont());
    return int(std::ceil(painter.boundingRect(QRectF(0, 0, width, 1e7), text, MessageOption(text)).height()));
}

// The message text: wrapped over as many lines as it needs; scrolls when its box
// is shorter than the text.
class MessageLabel : public CKvWindow
{
public:
    void SetText(const QString& text, int textWidth, int textHeight)
    {
        m_caption = text;
        m_textWidth = textWidth;
        m_textHeight = textHeight;
        SetScroll(0, 0);
    }

    QSize ContentSize() const override { return QSize(m_textWidth, m_textHeight); }

    void DrawContent(QPainter& painter, const QRect& rect) override
    {
        SetScroll(ScrollX(), ScrollY());
        const QRect view = ViewRect();
        if (!m_caption.isEmpty()) {
            painter.save();
            painter.setClipRect(view, Qt::IntersectClip);
            painter.setRenderHint(QPainter::TextAntialiasing);
            painter.setFont(MessageFont());
            painter.setPen(CaptionColor());
            // Centred in the box when the whole text fits, from the top when it scrolls.
            const int top = view.top() + std::max(0, (view.height() - m_textHeight) / 2) - ScrollY();
            painter.drawText(QRectF(view.left(), top, m_textWidth, m_textHeight), m_caption, MessageOption(m_caption));
            painter.restore();
        }
        DrawScrollBars(painter);
    }

private:
    int m_textWidth = 0;
    int m_textHeight = 0;
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
    QScreen* screen = parentWidget() && parentWidget()->screen() ? parentWidget()->screen()
                                                                 : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int maxWidth = std::max(kMinWidth, area.width() * kMaxScreenShare / 100);
    const int maxHeight = std::max(kChromeHeight + 40, area.height() * kMaxScreenShare / 100);

    // Long texts get a wider window; the height follows the wrapped text until the
    // screen says no more, and the rest scrolls.
    int width = kTemplateWidth;
    if (m_text.size() > kWideTextLength)
        width += kWideExtra;
    width = std::min(width, maxWidth);
    int textWidth = width - 20;
    QString shown = FitPaths(m_text, textWidth);
    int textHeight = m_text.isEmpty() ? 0 : MeasureHeight(shown, textWidth);
    m_labelHeight = textHeight;
    if (textHeight + kChromeHeight > maxHeight) {
        m_labelHeight = maxHeight - kChromeHeight;
        textWidth -= CKvWindow::kScrollBarSize + kScrollGap;
        shown = FitPaths(m_text, textWidth);
        textHeight = MeasureHeight(shown, textWidth);
    }
    const int height = m_labelHeight + kChromeHeight;
    resize(width, height);
    // Centred on the screen and, whatever the sizes, wholly on it.
    const QPoint centred = area.center() - QPoint(width / 2, height / 2);
    move(std::clamp(centred.x(), area.left(), std::max(area.left(), area.right() + 1 - width)),
         std::clamp(centred.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height)));
    CKvDialogBase::OnInitDialog();

    m_shownText = shown;
    static_cast<MessageLabel*>(m_label)->SetText(shown, textWidth, textHeight);
    OkButton()->Show(m_style == kStyleOk || m_style == kStyleOkCancel, false);
    CancelButton()->Show(m_style == kStyleOkCancel, false);
    m_yesButton->Show(m_style == kStyleYesNo, false);
    m_noButton->Show(m_style == kStyleYesNo, false);
    // Enter or Space answers with the first button; TAB reaches the other.
    CKvButton* answer = m_style == kStyleYesNo ? m_yesButton : OkButton();
    Manager()->SetTabOrder({answer, m_style == kStyleYesNo ? m_noButton : CancelButton(), CloseButton()});
    Manager()->SetFocusControl(answer, kTypeTextButton, true);
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

CKvWindow* CKvMessageDlg::TextBox() const
{
    return m_label;
}

bool CKvMessageDlg::TextScrolls() const
{
    return m_label && m_label->HasVScroll();
}

void CKvMessageDlg::keyPressEvent(QKeyEvent* event)
{
    if (m_label && m_label->HasVScroll() && !IsClosing()) {
        const int page = std::max(kLineStep, m_label->ViewRect().height() - kLineStep);
        int y = m_label->ScrollY();
        switch (event->key()) {
        case Qt::Key_Up: y -= kLineStep; break;
        case Qt::Key_Down: y += kLineStep; break;
        case Qt::Key_PageUp: y -= page; break;
        case Qt::Key_PageDown: y += page; break;
        case Qt::Key_Home: y = 0; break;
        case Qt::Key_End: y = m_label->ContentSize().height(); break;
        default: CKvDialogBase::keyPressEvent(event); return;
        }
        m_label->SetScroll(0, y);
        Manager()->RedrawControl(m_label);
        event->accept();
        return;
    }
    CKvDialogBase::keyPressEvent(event);
}

void CKvMessageDlg::OnOK()
{
    if (IsClosing())
        return;
    m_messageResult = kIdOk;
    CKvDialogBase::OnOK();
}

void CKvMessageDlg::OnCancel()
{
    if (IsClosing())
        return;
    m_messageResult = kIdCancel;
    CKvDialogBase::OnCancel();
}

void CKvMessageDlg::OnCommand(int id)
{
    if (IsClosing())
        return;
    if (id == kIdYes) {
        m_messageResult = kIdYes;
        CKvDialogBase::OnOK();
    } else if (id == kIdNo) {
        m_messageResult = kIdNo;
        CKvDialogBase::OnCancel();
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
