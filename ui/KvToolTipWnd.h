#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// The tool tip popup of a control: a frameless tool window that never takes
// the focus, drawn over the skin's tool tip background in the tool tip font.
class CKvToolTipWnd : public QWidget
{
    Q_OBJECT

public:
    explicit CKvToolTipWnd(QWidget* owner);

    // Sets the text and resizes the window to fit it.
    void SetText(const QString& text);
    QString Text() const { return m_text; }
    // Size the window takes for a text.
    QSize SizeFor(const QString& text) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont TipFont() const;

    QString m_text;
};
