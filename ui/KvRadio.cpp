#include "ui/KvRadio.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>

using namespace velmora;

CKvRadio::CKvRadio() = default;

void CKvRadio::OnClick(const QPoint& point)
{
    // A checked radio button stays checked and says nothing: unchecking the
    // rest of its group is the dialog's part.
    if (m_checked)
        return;
    m_checked = true;
    RedrawIfShown(true);
    NotifyChecked();
    CKvButton::OnClick(point);
}

void CKvRadio::DrawMark(QPainter& painter, const QRect& box)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.setPen(m_enabled ? ShiftColorRef(colors.clrDlgEdge, m_look == LookHover ? 40 : 0)
                             : ShiftColorRef(colors.clrDlgBK, 30));
    painter.setBrush(ColorFromRef(colors.clrCtrlBK));
    painter.drawEllipse(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
    if (!m_checked)
        return;
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_enabled ? ColorFromRef(colors.clrText) : ShiftColorRef(colors.clrDlgBK, 30));
    painter.drawEllipse(QRectF(box).adjusted(4, 4, -4, -4));
}
