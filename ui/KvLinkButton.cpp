#include "ui/KvLinkButton.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QDesktopServices>
#include <QPainter>
#include <QUrl>

using namespace velmora;

CKvLinkButton::CKvLinkButton()
{
    m_alignment = AlignLeft;
    m_cursor = Qt::PointingHandCursor;
}

void CKvLinkButton::OnClick(const QPoint& point)
{
    ShowToolTip(false);
    if (!m_url.isEmpty())
        QDesktopServices::openUrl(QUrl(m_url));
    else
        PostCommand();
}

void CKvLinkButton::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvFontData* entry = Font();
    if (m_caption.isEmpty() || !entry)
        return;
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QFont font = FontFromEntry(*entry);
    font.setUnderline(entry->bUnderline || (m_enabled && m_look != LookNormal));
    QColor color = ShiftColorRef(colors.clrText, -20);
    if (!m_enabled)
        color = ShiftColorRef(colors.clrDlgBK, 30);
    else if (m_look != LookNormal)
        color = ShiftColorRef(colors.clrText, 40);
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(color);
    int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    flags |= m_alignment == AlignRight ? Qt::AlignRight : m_alignment == AlignLeft ? Qt::AlignLeft : Qt::AlignHCenter;
    painter.drawText(rect, flags, m_caption);
    painter.restore();
}
