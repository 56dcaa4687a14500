#pragma once

// The skinned list's header band, as the user works it: a divider dragged to size a
// column (the list then takes the new widths as the proportions it fills with), a
// header's check box clicked to check or clear the whole column, and the right-click
// "&View" menu that shows or hides the offered columns.

#include <QPoint>
#include <QString>
#include <QStringList>

class CKvListCtrl;

class CKvListHeader
{
public:
    explicit CKvListHeader(CKvListCtrl& list) : m_list(list) {}

    // A left press in the list: true when the header took it (a divider or the band).
    bool OnLeftDown(const QPoint& point);
    bool IsResizing() const { return m_resizeColumn >= 0; }
    // Mouse messages while a divider is dragged.
    bool OnResizeMouse(int message, const QPoint& point);
    // Where the dragged divider is now; -1 while none is.
    int ResizeX() const { return IsResizing() ? m_resizeX : -1; }
    // The sizing cursor while the pointer is over a divider.
    void ShowDividerCursor(bool overDivider);

    void AddViewMenuItem(const QString& header) { m_viewMenuItems << header; }
    void OpenViewMenu(const QPoint& point);

private:
    void ToggleHeaderCheck(int column);

    CKvListCtrl& m_list;
    int m_resizeColumn = -1;
    int m_resizeStartX = 0;
    int m_resizeStartWidth = 0;
    int m_resizeX = -1;
    bool m_dividerCursor = false;
    QStringList m_viewMenuItems; // headers offered by the "&View" submenu
};
