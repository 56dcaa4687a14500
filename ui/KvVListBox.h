#pragma once

#include "ui/KvWindow.h"

#include <QStringList>

// A vertical list of text rows with one selected row; a change of the
// selection by the user posts the command.
class CKvVListBox : public CKvWindow
{
public:
    static constexpr int kRowHeight = 22;

    CKvVListBox();

    QSize ContentSize() const override;
    int HitItem(const QPoint& point) const override;
    void DrawItems(QPainter& painter, const QRect& view) override;
    bool OnItemMouse(int message, const QPoint& point) override;
    bool OnKey(const QKeyEvent& event) override;

    int AddString(const QString& text);
    void DeleteString(int index);
    void ResetContent();
    int GetCount() const { return static_cast<int>(m_items.size()); }
    QString GetText(int index) const;
    int GetCurSel() const { return m_curSel; }
    void SetCurSel(int index, bool redraw = true);

protected:
    QStringList m_items;
    int m_curSel = -1;
    int m_hot = -1;
};
