#include "ui/KvStatic.h"

#include <QPainter>

CKvStatic::CKvStatic()
{
    m_alignment = AlignLeft;
}

bool CKvStatic::OnMouseMessage(int message, const QPoint& point)
{
    return false;
}

void CKvStatic::OnClick(const QPoint& point)
{
}

void CKvStatic::DrawContent(QPainter& painter, const QRect& rect)
{
    DrawCaption(painter, rect, m_alignment);
}
