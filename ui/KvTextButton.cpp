#include "ui/KvTextButton.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>

using namespace velmora;

CKvTextButton::CKvTextButton()
{
    m_hoverFrame = true;
}

CKvTextButton::CKvTextButton(const QString& caption)
    : CKvTextButton()
{
    m_caption = caption;
}

void CKvTextButton::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor face = ColorFromRef(colors.clrCtrlBK);
    if (!m_enabled)
        face = ShiftColorRef(colors.clrDlgBK, 10);
    else if (m_look == LookPressed)
        face = ShiftColor(face, -15);
    else if (m_look == LookHover)
        face = ShiftColor(face, 15);
    const QRectF box = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(face);
    const bool keyboardFocus = ShowsFocusCue();
    QColor edge = ColorFromRef(colors.clrDlgEdge);
    if (keyboardFocus)
        edge = AccentColor();
    else if (m_enabled && m_look != LookNormal)
        edge = ShiftColor(edge, 40);
    painter.setPen(QPen(edge, keyboardFocus ? 1.5 : 1.0));
    painter.drawRoundedRect(box, 3, 3);
    painter.restore();
    DrawCaption(painter, m_look == LookPressed ? rect.translated(0, 1) : rect, m_alignment);
}
