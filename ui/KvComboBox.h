#pragma once

#include "ui/KvComboBoxWnd.h"
#include "ui/KvEdit.h"

#include <QPointer>
#include <QString>
#include <vector>


struct tagKvComboBoxListData
{
    QString szText;
    qint64 nData = 0;
};

// An edit field with a drop-down list. Its text is editable only when
// "edited" is set; otherwise a press anywhere opens the list. Choosing an
// entry puts its text in the field and posts the command.
class CKvComboBox : public CKvEdit
{
public:
    CKvComboBox();
    ~CKvComboBox() override;

    void OnLButtonDown(const QPoint& point) override;
    void OnClick(const QPoint& point) override;
    bool OnKey(const QKeyEvent& event) override;
    void KillFocus() override;
    void DrawContent(QPainter& painter, const QRect& rect) override;
    void CreateEditWindow() override;
    QRect EditRect() const override;
    // Opens or closes the drop-down list.
    virtual void ShowDropDown(bool show);

    int AddString(const QString& text, qint64 data = 0);
    void ResetContent();
    int GetCount() const { return static_cast<int>(m_items.size()); }
    QString GetItemText(int index) const;
    qint64 GetItemData(int index) const;
    int GetCurSel() const { return m_curSel; }
    // Selects an entry (or none with -1) and shows its text; no command.
    void SetCurSel(int index, bool redraw = true);
    void SetEditable(bool editable);
    bool IsEditable() const { return m_editable; }
    // Height of the drop-down list (the skin's "height").
    void SetDropHeight(int height) { m_dropHeight = height; }
    int DropHeight() const { return m_dropHeight; }
    bool IsDroppedDown() const;
    const std::vector<tagKvComboBoxListData>& Items() const { return m_items; }

    // The list window reports the user's choice here.
    void OnListChoice(int index);
    // Opens the list, or closes it when open.
    void Activate() override;

private:
    std::vector<tagKvComboBoxListData> m_items;
    int m_curSel = -1;
    bool m_editable = false;
    int m_dropHeight = 120;
    QPointer<CKvComboBoxWnd> m_dropWnd;
    qint64 m_closedAt = 0;
};
