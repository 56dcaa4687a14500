#pragma once

#include "ui/KvButton.h"

#include <QColor>
#include <QString>

// A swatch of a colour or a picture. A press offers "Fill With &Color" and
// "Fill With &Image"; a click sends kMsgColorClick.
class CKvColorButton : public CKvButton
{
public:
    enum { kCommandColor = 1, kCommandImage = 2 };

    CKvColorButton();

    void OnLButtonDown(const QPoint& point) override;
    void OnClick(const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;

    void SetColor(const QColor& color, bool redraw = true);
    QColor Color() const { return m_color; }
    void SetImagePath(const QString& path, bool redraw = true);
    QString ImagePath() const { return m_imagePath; }

private:
    QColor m_color = Qt::white;
    QString m_imagePath;
    QImage m_swatchImage;
};
