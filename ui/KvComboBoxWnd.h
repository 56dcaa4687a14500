#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <functional>

class CKvUIManager;
class CKvComboBoxList;

// The popup that hosts a drop-down list. It owns a small manager of its own so
// that the list draws and takes the mouse like any other windowless control.
class CKvComboBoxWnd : public QWidget
{
    Q_OBJECT

public:
    explicit CKvComboBoxWnd(QWidget* owner);
    ~CKvComboBoxWnd() override;

    void SetEntries(const QStringList& entries, int current);
    // Shows the popup at a global position with the given size.
    void Popup(const QPoint& globalPos, const QSize& size);
    CKvComboBoxList* List() const { return m_list; }
    CKvUIManager* Manager() const { return m_manager; }

signals:
    // An entry was chosen (the popup then closes itself).
    void chosen(int index);
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    CKvUIManager* m_manager = nullptr;
    CKvComboBoxList* m_list = nullptr;
};
