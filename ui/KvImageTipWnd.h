#pragma once

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

// The picture tip of an image list: a frameless popup that never takes the focus
// and shows an item's picture larger than its thumbnail, its title and its further
// text. It appears a moment after the mouse settles on an item, above the item when
// there is room (an image list sits at the bottom of its window), and is kept on
// the screen.
class CKvImageTipWnd : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPictureWidth = 320;
    static constexpr int kPictureHeight = 180;
    static constexpr int kDelayMs = 400;

    explicit CKvImageTipWnd(QWidget* owner);

    // What the tip shows; a null image shows the text only.
    void SetContent(const QImage& image, const QString& title, const QString& text);
    QImage Picture() const { return m_image; }
    QString Title() const { return m_title; }
    QString Text() const { return m_text; }

    // Shows the tip for an item (its rectangle in screen coordinates) after delayMs;
    // a later call replaces a pending one. Hide() also cancels a pending one.
    void Popup(const QRect& itemOnScreen, int delayMs = kDelayMs);
    void Hide();
    bool IsPending() const { return m_delay.isActive(); }

    // Where a tip of a size goes for an item: centred above it, below it when there
    // is no room above, and moved sideways to stay 2 pixels inside the screen.
    static QPoint TipPosition(const QRect& item, const QSize& tip, const QRect& screen);
    // The size the content takes.
    QSize ContentSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect PictureRect() const;
    void ShowNow();

    QImage m_image;
    QString m_title;
    QString m_text;
    QRect m_item;
    QTimer m_delay;
};
