#pragma once

#include "ui/KvButton.h"
#include "ui/KvEditCtrl.h"

#include <QPointer>


// An edit field: a skinned frame around a real CKvEditCtrl child of the dialog.
// The caption lives in the child once it exists.
class CKvEdit : public CKvButton
{
public:
    CKvEdit();
    ~CKvEdit() override;

    bool OnKey(const QKeyEvent& event) override;
    void SetCaption(const QString& caption, bool redraw = false) override;
    QString GetCaption() const override;
    void Enable(bool enable, bool redraw = true) override;
    void Show(bool show, bool redraw = true) override;
    void SetRect(const QRect& rect, bool redraw = false) override;
    void Move(int x, int y, int width, int height, bool redraw = false) override;
    void OnClick(const QPoint& point) override;
    void SetFocus() override;
    void KillFocus() override;
    void OnEnableAll(bool enable) override;
    // The real text field carries the name (a screen reader reads that field).
    void SetAccessibleName(const QString& name) override;
    void SetAccessibleLabel(const CKvButton* label) override;
    void Activate() override;
    void DrawContent(QPainter& painter, const QRect& rect) override;

    // Creates the child field over the rectangle (done at registration).
    virtual void CreateEditWindow();
    virtual QRect EditRect() const;
    virtual void SetNumberOnly(bool numberOnly);
    virtual void SetReadOnly(bool readOnly);
    // Gives the text field the face of the control's font table entry (after
    // the font identifier changed).
    void UpdateEditFont();

    CKvEditCtrl* EditWindow() const { return m_edit.data(); }
    // Gives the text field the name AccessibleNameOf finds now.
    void UpdateAccessibleName();
    bool IsNumberOnly() const { return m_numberOnly; }

protected:
    QPointer<CKvEditCtrl> m_edit;
    bool m_numberOnly = false;
    bool m_readOnly = false;
};
