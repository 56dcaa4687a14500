#include "ui/KvListHeader.h"

#include "ui/KvListCtrl.h"
#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"

#include <QWidget>

#include <algorithm>

using namespace velmora;

bool CKvListHeader::OnLeftDown(const QPoint& point)
{
    CKvUIManager* manager = m_list.m_manager;
    const bool captured = manager && manager->HasCapture();
    const int divider = m_list.HitDivider(point);
    if (divider >= 0 && !captured) {
        m_list.EndEdit(true);
        m_resizeColumn = divider;
        m_resizeStartX = point.x();
        m_resizeStartWidth = m_list.m_columns[size_t(divider)]->nWidth;
        m_resizeX = m_list.HeaderRect(divider).left() + m_resizeStartWidth;
        if (manager)
            manager->SetCapture(true);
        if (m_list.m_parent)
            m_list.m_parent->setCursor(Qt::SizeHorCursor);
        return true;
    }
    if (point.y() >= m_list.m_y + CKvListCtrl::kHeaderHeight)
        return false;
    if (!m_list.m_headerClick)
        return true;
    for (int column = 0; column < m_list.GetColumnCount(); ++column) {
        if (m_list.HeaderRect(column).contains(point)) {
            if (!m_list.m_columns[size_t(column)]->bLocked)
                ToggleHeaderCheck(column);
            break;
        }
    }
    return true;
}

bool CKvListHeader::OnResizeMouse(int message, const QPoint& point)
{
    tagKvListCtrlColumnData& column = *m_list.m_columns[size_t(m_resizeColumn)];
    if (message == kMouseMove) {
        column.nWidth = std::max(CKvListCtrl::kMinColumnWidth, m_resizeStartWidth + point.x() - m_resizeStartX);
        m_resizeX = m_list.HeaderRect(m_resizeColumn).left() + column.nWidth;
        return true;
    }
    if (message != kLButtonUp)
        return false;
    m_resizeColumn = -1;
    m_resizeX = -1;
    // The widths as the user left them are the new proportions to fill with.
    for (auto& shown : m_list.m_columns) {
        if (shown->bShow)
            shown->nBaseWidth = shown->nWidth;
    }
    m_list.FitColumns();
    if (m_list.m_manager)
        m_list.m_manager->SetCapture(false);
    if (m_list.m_parent)
        m_list.m_parent->unsetCursor();
    m_list.SetScroll(m_list.ScrollX(), m_list.ScrollY());
    return true;
}

void CKvListHeader::ShowDividerCursor(bool overDivider)
{
    if (!m_list.m_parent)
        return;
    if (overDivider) {
        m_list.m_parent->setCursor(Qt::SizeHorCursor);
        m_dividerCursor = true;
    } else if (m_dividerCursor) {
        m_list.m_parent->unsetCursor();
        m_dividerCursor = false;
    }
}

void CKvListHeader::OpenViewMenu(const QPoint& point)
{
    if (m_list.m_columns.empty() || !m_list.m_parent)
        return;
    CKvMenuEx menu;
    CKvMenuEx view;
    for (int i = 0; i < m_list.GetColumnCount(); ++i) {
        if (!m_list.m_columns[size_t(i)]->bOffered)
            continue;
        view.AddItem(i + 1, m_viewMenuItems.value(i));
        view.CheckItem(i + 1, m_list.m_columns[size_t(i)]->bShow != 0);
    }
    menu.AddSubMenu(view, QStringLiteral("&View"));
    if (m_list.m_manager)
        m_list.m_manager->SendNotify(kMsgListHeaderContext, &m_list, reinterpret_cast<qint64>(&menu));
    const int chosen = menu.TrackMenu(CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON,
                                      m_list.m_parent->mapToGlobal(point), m_list.m_parent);
    if (chosen >= 1 && chosen <= m_list.GetColumnCount() && m_list.m_columns[size_t(chosen - 1)]->bOffered) {
        const int column = chosen - 1;
        m_list.ShowColumn(column, !m_list.m_columns[size_t(column)]->bShow, true);
    }
}

void CKvListHeader::ToggleHeaderCheck(int column)
{
    tagKvListCtrlColumnData& data = *m_list.m_columns[size_t(column)];
    data.bHeaderCheck = data.bHeaderCheck ? 0 : 1;
    for (auto& cell : data.items)
        cell->bCheck = data.bHeaderCheck;
    if (m_list.m_manager)
        m_list.m_manager->SendNotify(kMsgCheckToggled, &m_list, column);
}
