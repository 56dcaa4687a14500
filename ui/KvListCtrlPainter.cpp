#include "ui/KvListCtrlPainter.h"

#include "ui/KvListCtrl.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QRegion>

#include <algorithm>

using namespace velmora;

namespace {

constexpr int kCellPadding = CKvListCtrl::kCellPadding;
constexpr double kBarInset = CKvListCtrl::kBarInset;

} // namespace

void CKvListCtrlPainter::DrawHint(QPainter& painter, const QRect& view, const QString& hintText) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    if (!hintText.isEmpty()) {
        QFont hint(QStringLiteral("Arial"));
        hint.setPixelSize(14);
        hint.setItalic(true);
        const int left = view.left() + m_list.ContentSize().width() - m_list.ScrollX() + 10;
        const QRect box(left, view.top() + 10, view.right() - left, view.bottom() - view.top() - 10);
        if (box.width() > 0 && box.height() > 0) {
            painter.save();
            painter.setClipRect(box, Qt::IntersectClip);
            painter.setFont(hint);
            painter.setPen(ColorFromRef(colors.clrText));
            painter.setRenderHint(QPainter::TextAntialiasing);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, hintText);
            painter.restore();
        }
    }
}

void CKvListCtrlPainter::DrawVeil(QPainter& painter, const QRect& rect, const QRect& view) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.fillRect(rect, ColorFromRef(colors.clrDlgBK, 150));
    // A locked list still shows how far its jobs have come: the progress cells
    // are drawn again above the veil.
    painter.save();
    painter.setClipRect(view, Qt::IntersectClip);
    painter.setFont(m_list.m_cellFont);
    for (int column = 0; column < m_list.GetColumnCount(); ++column) {
        const tagKvListCtrlColumnData& data = *m_list.m_columns[size_t(column)];
        if (!data.bShow || data.nKind != CKvListCtrl::KindProgress)
            continue;
        for (int row = std::max(0, m_list.ScrollY() / CKvListCtrl::kRowHeight); row < m_list.GetRowCount(); ++row) {
            const QRect cell = m_list.CellRect(column, row);
            if (cell.top() > view.bottom())
                break;
            DrawCell(painter, data, *data.items[size_t(row)], cell);
        }
    }
    painter.restore();
}

void CKvListCtrlPainter::DrawHeader(QPainter& painter) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRect band(m_list.m_x + 1, m_list.m_y + 1, m_list.m_width - 2, CKvListCtrl::kHeaderHeight - 1);
    QLinearGradient gradient(band.topLeft(), band.bottomLeft());
    gradient.setColorAt(0, ShiftColorRef(colors.clrCtrlBK, 12));
    gradient.setColorAt(1, ShiftColorRef(colors.clrCtrlBK, -6));
    painter.fillRect(band, gradient);

    painter.save();
    painter.setClipRect(band, Qt::IntersectClip);
    painter.setFont(m_list.m_headerFont);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (int column = 0; column < m_list.GetColumnCount(); ++column) {
        const QRect header = m_list.HeaderRect(column);
        if (header.isEmpty())
            continue;
        QRect text = header.adjusted(kCellPadding, 0, -kCellPadding, 0);
        const tagKvListCtrlColumnData& data = *m_list.m_columns[size_t(column)];
        if (data.bCheckBox) {
            const QRect box(header.left() + 4, header.top() + (CKvListCtrl::kHeaderHeight - CKvListCtrl::kCheckBoxSize) / 2, CKvListCtrl::kCheckBoxSize,
                            CKvListCtrl::kCheckBoxSize);
            DrawCheckBox(painter, box, data.bHeaderCheck != 0, ColorFromRef(colors.clrText));
            text.setLeft(box.right() + 1 + 4);
        }
        painter.setPen(ColorFromRef(colors.clrText));
        const QFontMetrics metrics(m_list.m_headerFont);
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         metrics.elidedText(data.szHeader, Qt::ElideRight, text.width()));
        painter.setPen(ColorFromRef(colors.clrDlgEdge, 160));
        const int divider = header.left() + header.width() - 1;
        painter.drawLine(divider, header.top() + 4, divider, header.bottom() - 4);
    }
    painter.restore();
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawLine(m_list.m_x, m_list.m_y + CKvListCtrl::kHeaderHeight - 1, m_list.m_x + m_list.m_width - 1, m_list.m_y + CKvListCtrl::kHeaderHeight - 1);
}

void CKvListCtrlPainter::DrawItems(QPainter& painter, const QRect& view) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.setFont(m_list.m_cellFont);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int rows = m_list.GetRowCount();
    const int contentRight = view.left() + m_list.ContentSize().width() - m_list.ScrollX();
    for (int row = std::max(0, m_list.ScrollY() / CKvListCtrl::kRowHeight); row < rows; ++row) {
        const int top = view.top() + row * CKvListCtrl::kRowHeight - m_list.ScrollY();
        if (top > view.bottom())
            break;
        const QRect rowRect(view.left(), top, std::min(view.width(), contentRight - view.left()), CKvListCtrl::kRowHeight);
        if (row == m_list.m_selectedRow)
            painter.fillRect(rowRect, m_list.m_focus ? ShiftColorRef(colors.clrDlgEdge, 10) : ColorFromRef(colors.clrDlgEdge, 190));
        else if (row % 2 == 1)
            painter.fillRect(rowRect, ShiftColorRef(colors.clrCtrlBK, 5));
        for (int column = 0; column < m_list.GetColumnCount(); ++column) {
            const QRect cell = m_list.CellRect(column, row);
            if (cell.isEmpty() || cell.left() > view.right() || cell.right() < view.left())
                continue;
            DrawCell(painter, *m_list.m_columns[size_t(column)], *m_list.m_columns[size_t(column)]->items[size_t(row)], cell);
        }
    }
}

void CKvListCtrlPainter::DrawCell(QPainter& painter, const tagKvListCtrlColumnData& column,
                           const tagKvListCtrlItemData& cell, const QRect& rect) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QRect text = rect.adjusted(kCellPadding, 0, -kCellPadding, 0);
    const QColor color = ColorFromRef(cell.clrText);
    if (column.bCheckBox) {
        const QRect box(rect.left() + 4, rect.top() + (rect.height() - CKvListCtrl::kCheckBoxSize) / 2, CKvListCtrl::kCheckBoxSize,
                        CKvListCtrl::kCheckBoxSize);
        DrawCheckBox(painter, box, cell.bCheck != 0, color);
        text.setLeft(box.right() + 1 + 4);
    }
    if (column.nKind == CKvListCtrl::KindProgress) {
        DrawProgressCell(painter, cell, rect);
        return;
    }
    if (column.nKind == CKvListCtrl::KindChoice && !cell.combo.empty()) {
        // A small chevron tells that the cell offers a list; a cell with nothing to
        // choose from shows none.
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(ColorFromRef(colors.clrText, 160), 1.4);
        painter.setPen(pen);
        const QPointF c(rect.right() - 9, rect.center().y() + 0.5);
        const QPointF chevron[] = {c + QPointF(-3.5, -1.5), c + QPointF(0, 2), c + QPointF(3.5, -1.5)};
        painter.drawPolyline(chevron, 3);
        painter.restore();
        text.setRight(rect.right() - 16);
    }
    if (cell.szText.isEmpty())
        return;
    painter.setPen(color);
    const QFontMetrics metrics(painter.font());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(cell.szText, Qt::TextElideMode(column.nElide), std::max(0, text.width())));
}

void CKvListCtrlPainter::DrawProgressCell(QPainter& painter, const tagKvListCtrlItemData& cell, const QRect& rect) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRectF bar = QRectF(rect).adjusted(kBarInset, kBarInset, -kBarInset, -kBarInset);
    QRectF fill = bar.adjusted(1.5, 1.5, -1.5, -1.5);
    fill.setWidth(fill.width() * cell.nProgress / 100.0);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(ShiftColorRef(colors.clrCtrlBK, -15));
    painter.drawRoundedRect(bar, 3, 3);
    if (cell.nProgress > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(AccentColor());
        painter.drawRoundedRect(fill, 2, 2);
    }
    if (!cell.szText.isEmpty()) {
        // The text is sized to the bar; over the amber it turns dark to stay readable.
        painter.setFont(m_list.m_progressFont);
        const QFontMetrics metrics(m_list.m_progressFont);
        const QString text = metrics.elidedText(cell.szText, Qt::ElideRight, std::max(0, int(bar.width()) - 4));
        const QRect textRect = bar.toAlignedRect();
        const QRect filled = cell.nProgress > 0 ? fill.toAlignedRect() : QRect();
        painter.save();
        painter.setClipRegion(QRegion(textRect).subtracted(QRegion(filled)), Qt::IntersectClip);
        painter.setPen(ColorFromRef(cell.clrText));
        painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
        painter.restore();
        if (!filled.isEmpty()) {
            painter.setClipRect(filled, Qt::IntersectClip);
            painter.setPen(ColorFromRef(colors.clrDlgBK));
            painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
        }
    }
    painter.restore();
}

void CKvListCtrlPainter::DrawCheckBox(QPainter& painter, const QRect& box, bool checked, const QColor& color) const
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.fillRect(box, ColorFromRef(colors.clrCtrlBK));
    painter.setPen(color);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    if (checked) {
        QColor tick = color;
        tick.setAlpha(m_list.m_enabled ? 255 : 50);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(tick, 2));
        const QPoint origin = box.topLeft();
        painter.drawLine(origin + QPoint(2, 4), origin + QPoint(5, 8));
        painter.drawLine(origin + QPoint(4, 8), origin + QPoint(14, 1));
    }
    painter.restore();
}
