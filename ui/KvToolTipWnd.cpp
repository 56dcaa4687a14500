#include "ui/KvToolTipWnd.h"

#include "ui/KvSkinImage.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QPainter>

using namespace velmora;

namespace {

constexpr int kPaddingX = 8;
constexpr int kPaddingY = 5;
constexpr int kMaxTextWidth = 400;

} // namespace

CKvToolTipWnd::CKvToolTipWnd(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
}

QFont CKvToolTipWnd::TipFont() const
{
    if (const tagKvFontData* entry = CKvUIManager::FindFont(CKvUIManager::ToolTipFontId()))
        return FontFromEntry(*entry);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    return font;
}

QSize CKvToolTipWnd::SizeFor(const QString& text) const
{
    const QFontMetrics metrics(TipFont());
    const QRect bounds = metrics.boundingRect(QRect(0, 0, kMaxTextWidth, 10000), Qt::AlignLeft | Qt::TextWordWrap, text);
    return QSize(bounds.width() + 2 * kPaddingX, bounds.height() + 2 * kPaddingY);
}

void CKvToolTipWnd::SetText(const QString& text)
{
    m_text = text;
    resize(SizeFor(text));
    update();
}

void CKvToolTipWnd::paintEvent(QPaintEvent*)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QPainter painter(this);
    const KvSkinImage& background = CKvUIManager::ToolTipBackground();
    if (!background.IsNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), background.For(painter));
    } else {
        painter.fillRect(rect(), ColorFromRef(colors.clrCtrlBK));
        painter.setPen(ColorFromRef(colors.clrDlgEdge));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(TipFont());
    painter.setPen(ColorFromRef(colors.clrText));
    painter.drawText(rect().adjusted(kPaddingX, kPaddingY, -kPaddingX, -kPaddingY),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, m_text);
}
