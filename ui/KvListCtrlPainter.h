#pragma once

// How the skinned list looks: its header band, its rows (alternate shading, the
// selection), its cells (text, check box, the chevron of a choice cell, text over a
// progress bar), the hint beside its columns and the veil over a disabled list. It
// draws what the list holds and changes nothing.

#include <QColor>
#include <QRect>
#include <QString>

class CKvListCtrl;
class QPainter;
struct tagKvListCtrlColumnData;
struct tagKvListCtrlItemData;

class CKvListCtrlPainter
{
public:
    explicit CKvListCtrlPainter(const CKvListCtrl& list) : m_list(list) {}

    void DrawHeader(QPainter& painter) const;
    void DrawItems(QPainter& painter, const QRect& view) const;
    void DrawHint(QPainter& painter, const QRect& view, const QString& hintText) const;
    // A disabled list is veiled; its progress cells stay readable above the veil.
    void DrawVeil(QPainter& painter, const QRect& rect, const QRect& view) const;

private:
    void DrawCell(QPainter& painter, const tagKvListCtrlColumnData& column, const tagKvListCtrlItemData& cell,
                  const QRect& rect) const;
    void DrawProgressCell(QPainter& painter, const tagKvListCtrlItemData& cell, const QRect& rect) const;
    void DrawCheckBox(QPainter& painter, const QRect& box, bool checked, const QColor& color) const;

    const CKvListCtrl& m_list;
};
