#include "ui/KvColorButton.h"

#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QPainter>
#include <QWidget>

using namespace velmora;

CKvColorButton::CKvColorButton()
{
    m_hoverFrame = true;
}

void CKvColorButton::SetColor(const QColor& color, bool redraw)
{
    m_color = color;
    m_imagePath.clear();
    m_swatchImage = QImage();
    RedrawIfShown(redraw);
}

void CKvColorButton::SetImagePath(const QString& path, bool redraw)
{
    m_imagePath = path;
    m_swatchImage = QImage(path);
    RedrawIfShown(redraw);
}

void CKvColorButton::OnLButtonDown(const QPoint& point)
{
    CKvButton::OnLButtonDown(point);
    if (!m_parent)
        return;
    CKvMenuEx menu;
    menu.AddItem(kCommandColor, QStringLiteral("Fill With &Color"));
    menu.AddItem(kCommandImage, QStringLiteral("Fill With &Image"));
    if (m_manager)
        m_manager->SetCapture(false);
    const QPoint at = m_parent->mapToGlobal(QPoint(m_x, m_y + m_height));
    const int chosen = menu.TrackMenu(CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON,
                                      at, m_parent);
    m_look = LookNormal;
    if (chosen == kCommandColor) {
        const QColor color = QColorDialog::getColor(m_color, m_parent);
        if (color.isValid())
            SetColor(color, false);
    } else if (chosen == kCommandImage) {
        const QString path = QFileDialog::getOpenFileName(
            m_parent, QString(), QString(), QStringLiteral("Still Images(*.bmp *.jpg *.jpeg *.png *.tiff)"));
        if (!path.isEmpty())
            SetImagePath(path, false);
    }
    if (chosen > 0 && m_manager)
        m_manager->SendNotify(kMsgMenuCommand, this, chosen);
    RedrawIfShown(true);
}

void CKvColorButton::OnClick(const QPoint& point)
{
    ShowToolTip(false);
    if (m_manager)
        m_manager->SendNotify(kMsgColorClick, this, 0);
}

void CKvColorButton::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRect swatch = rect.adjusted(3, 3, -3, -3);
    painter.save();
    if (!m_swatchImage.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(swatch, m_swatchImage);
    } else {
        painter.fillRect(swatch, m_color);
    }
    if (!m_enabled)
        painter.fillRect(swatch, ColorFromRef(colors.clrDlgBK, 150));
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
    painter.restore();
    CKvButton::DrawContent(painter, rect);
}
