#pragma once

#include "ui/KvWindow.h"

#include <QStringList>
#include <functional>

// The entries of a drop-down list: one row each, the hovered row highlighted,
// a click chooses it.
class CKvComboBoxList : public CKvWindow
{
public:
    static constexpr int kRowHeight = 22;

    CKvComboBoxList();

    QSize ContentSize() const override;
    int HitItem(const QPoint& point) const override;
    void DrawItems(QPainter& painter, const QRect& view) override;
    bool OnItemMouse(int message, const QPoint& point) override;
    bool OnKey(const QKeyEvent& event) override;

    void SetEntries(const QStringList& entries, int current);
    const QStringList& Entries() const { return m_entries; }
    int HotIndex() const { return m_hot; }
    void SetChooseHandler(std::function<void(int)> handler) { m_onChoose = std::move(handler); }

private:
    QStringList m_entries;
    int m_hot = -1;
    std::function<void(int)> m_onChoose;
};
