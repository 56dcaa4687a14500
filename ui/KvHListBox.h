#pragma once

#include "ui/KvWindow.h"

#include <QStringList>

// Entries side by side, each as wide as its text, scrolled sideways; a change
// of the selection by the user posts the command. It never takes the focus.
class CKvHListBox : public CKvWindow
{
public:
    CKvHListBox();

    QSize ContentSize() const override;
    int HitItem(const QPoint& point) const override;
    void DrawItems(QPainter& painter, const QRect& view) override;
    bool OnItemMouse(int message, const QPoint& point) override;

    int AddString(const QString& text);
    void ResetContent();
    int GetCount() const { return static_cast<int>(m_items.size()); }
    QString GetText(int index) const;
    int GetCurSel() const { return m_curSel; }
    void SetCurSel(int index, bool redraw = true);

private:
    QRect ItemRect(int index) const; // in content coordinates

    QStringList m_items;
    int m_curSel = -1;
    int m_hot = -1;
};
