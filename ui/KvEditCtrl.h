#pragma once

#include <QLineEdit>

// The real text field inside an edit control or over a list cell. It reports
// the end of editing once: Enter or losing the focus commits, Escape cancels.
class CKvEditCtrl : public QLineEdit
{
    Q_OBJECT

public:
    explicit CKvEditCtrl(QWidget* parent = nullptr);

    // Digits only, as the skin's "number" attribute asks.
    void SetNumberOnly(bool numberOnly);
    bool IsNumberOnly() const { return m_numberOnly; }

signals:
    void editingEnded(bool committed);
    void focusEntered();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool m_numberOnly = false;
};
