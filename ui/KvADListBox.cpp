#include "ui/KvADListBox.h"

#include "ui/KvImageTipWnd.h"
#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>

using namespace velmora;

namespace {

constexpr int kItemGap = 8;
constexpr int kTitleHeight = 18;

QString Limited(const QString& text)
{
    return text.left(CKvADListBox::kMaxText);
}

QString PicturePath(const QString& path)
{
    if (path.isEmpty())
        return path;
    return QDir::isAbsolutePath(path) ? path : CKvUIManager::ResolvePath(path);
}

} // namespace

CKvADListBox::CKvADListBox()
    : m_fallback(CKvUIManager::ResolvePath(QStringLiteral("skin/flag/videodefault.png")))
    , m_prevImage(CKvUIManager::ResolvePath(QStringLiteral("skin/btn/prevpage.png")))
    , m_nextImage(CKvUIManager::ResolvePath(QStringLiteral("skin/btn/nextpage.png")))
    , m_playMark(CKvUIManager::ResolvePath(QStringLiteral("skin/flag/ytplay.png")))
{
}

CKvADListBox::~CKvADListBox()
{
    delete m_imageTip.data();
}

void CKvADListBox::ShowToolTip(bool show)
{
    if (!show && m_imageTip)
        m_imageTip->Hide();
}

void CKvADListBox::ShowImageTip(int index)
{
    const tagKvADListBoxItem* item = Item(index);
    if (!item || !m_parent) {
        ShowToolTip(false);
        return;
    }
    const QString text = item->pExtra ? *item->pExtra : QString();
    if (item->thumbnail.isNull() && item->szText3.isEmpty() && text.isEmpty()) {
        ShowToolTip(false);
        return;
    }
    if (!m_imageTip)
        m_imageTip = new CKvImageTipWnd(m_parent);
    m_imageTip->SetContent(item->thumbnail, item->szText3, text);
    const QRect slot = ItemRect(index - m_page * ItemsPerPage());
    m_imageTip->Popup(QRect(m_parent->mapToGlobal(slot.topLeft()), slot.size()));
}

int CKvADListBox::AddItem(int value1, int value2, const QString& text1, const QString& text2, const QString& text3,
                          const QString& extra)
{
    auto item = std::make_unique<tagKvADListBoxItem>();
    item->nIndex = GetItemCount();
    item->nValue1 = value1;
    item->nValue2 = value2;
    item->szText1 = Limited(text1);
    item->szText2 = Limited(text2);
    item->szText3 = Limited(text3);
    if (!extra.isEmpty())
        item->pExtra = std::make_unique<QString>(extra);
    // Only a thumbnail is kept: what the list and its tip draw, never the whole file.
    if (!item->szText1.isEmpty())
        item->thumbnail = LoadPictureWithin(PicturePath(item->szText1), QSize(kThumbnailSide, kThumbnailSide));
    m_items.push_back(std::move(item));
    return GetItemCount() - 1;
}

void CKvADListBox::SetItemImage(int index, const QImage& image, bool redraw)
{
    if (index < 0 || index >= GetItemCount())
        return;
    m_items[size_t(index)]->thumbnail = image;
    RedrawIfShown(redraw);
}

void CKvADListBox::DeleteItem(int index)
{
    if (index < 0 || index >= GetItemCount())
        return;
    ShowToolTip(false);
    m_items.erase(m_items.begin() + index);
    for (int i = 0; i < GetItemCount(); ++i)
        m_items[size_t(i)]->nIndex = i;
    m_hot = m_pressed = -1;
    m_page = std::clamp(m_page, 0, std::max(0, PageCount() - 1));
}

void CKvADListBox::DeleteAllItems()
{
    ShowToolTip(false);
    m_items.clear();
    m_hot = m_pressed = m_clicked = -1;
    m_page = 0;
}

const tagKvADListBoxItem* CKvADListBox::Item(int index) const
{
    return index >= 0 && index < GetItemCount() ? m_items[size_t(index)].get() : nullptr;
}

int CKvADListBox::ItemsPerPage() const
{
    return std::max(1, (m_width - 2 * kPageButtonWidth) / kItemWidth);
}

int CKvADListBox::PageCount() const
{
    const int perPage = ItemsPerPage();
    return (GetItemCount() + perPage - 1) / perPage;
}

void CKvADListBox::SetPage(int page, bool redraw)
{
    page = std::clamp(page, 0, std::max(0, PageCount() - 1));
    if (page == m_page)
        return;
    m_page = page;
    m_hot = -1;
    ShowToolTip(false);
    RedrawIfShown(redraw);
}

QRect CKvADListBox::PrevButtonRect() const
{
    return QRect(m_x, m_y, kPageButtonWidth, m_height);
}

QRect CKvADListBox::NextButtonRect() const
{
    return QRect(m_x + m_width - kPageButtonWidth, m_y, kPageButtonWidth, m_height);
}

QRect CKvADListBox::ItemRect(int slot) const
{
    // The page's items are spread evenly over the room between the buttons.
    const int perPage = ItemsPerPage();
    const int room = m_width - 2 * kPageButtonWidth;
    const int pitch = room / perPage;
    return QRect(m_x + kPageButtonWidth + slot * pitch + kItemGap / 2, m_y + kItemGap / 2, pitch - kItemGap,
                 m_height - kItemGap);
}

int CKvADListBox::HitItem(const QPoint& point) const
{
    const int perPage = ItemsPerPage();
    for (int slot = 0; slot < perPage; ++slot) {
        const int index = m_page * perPage + slot;
        if (index >= GetItemCount())
            break;
        if (ItemRect(slot).contains(point))
            return index;
    }
    return -1;
}

std::vector<std::pair<int, QString>> CKvADListBox::MenuItems(int mode)
{
    const std::pair<int, QString> favorite{1, QStringLiteral("&Add To My Favorites")};
    const std::pair<int, QString> modify{2, QStringLiteral("&Modify")};
    const std::pair<int, QString> remove{3, QStringLiteral("&Remove")};
    const std::pair<int, QString> removeAll{4, QStringLiteral("Remove All")};
    const std::pair<int, QString> separator{0, QString()};
    switch (mode) {
    case 0: return {favorite};
    case 1: return {remove, removeAll};
    case 2: return {favorite, separator, remove, removeAll};
    case 3: return {modify, separator, remove};
    case 4: return {remove};
    default: return {};
    }
}

void CKvADListBox::OpenContextMenu(int index, const QPoint& globalPos)
{
    const auto items = MenuItems(m_menuMode);
    if (items.empty() || !m_parent)
        return;
    CKvMenuEx menu;
    for (const auto& [id, text] : items)
        menu.AddItem(id, text);
    const int chosen = menu.TrackMenu(CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON,
                                      globalPos, m_parent);
    if (chosen > 0 && m_manager)
        m_manager->PostNotify(kMsgListImageList, this, qint64(index) * 65536 + chosen);
}

bool CKvADListBox::OnMouseMessage(int message, const QPoint& point)
{
    if (!m_visible || !m_enabled)
        return false;
    const bool inside = Contains(point);
    const int hit = inside ? HitItem(point) : -1;
    bool changed = false;
    if (message == kMouseMove) {
        if (hit != m_hot) {
            m_hot = hit;
            changed = true;
            if (hit >= 0)
                ShowImageTip(hit);
            else
                ShowToolTip(false);
        }
        if (m_parent) {
            if (hit >= 0)
                m_parent->setCursor(Qt::PointingHandCursor);
            else if (changed)
                m_parent->unsetCursor();
        }
        return changed;
    }
    // Any press is a decision: the picture tip is in the way of what follows.
    ShowToolTip(false);
    if (!inside) {
        if (message == kLButtonUp)
            m_pressed = -1;
        return false;
    }
    switch (message) {
    case kLButtonDown:
        if (PrevButtonRect().contains(point)) {
            SetPage(m_page - 1, false);
            return true;
        }
        if (NextButtonRect().contains(point)) {
            SetPage(m_page + 1, false);
            return true;
        }
        m_pressed = hit;
        return false;
    case kLButtonUp:
        if (hit >= 0 && hit == m_pressed) {
            m_clicked = hit;
            PostCommand();
        }
        m_pressed = -1;
        return false;
    case kRButtonUp:
        if (hit >= 0 && m_parent)
            OpenContextMenu(hit, m_parent->mapToGlobal(point));
        return false;
    default:
        return false;
    }
}

void CKvADListBox::DrawPageButton(QPainter& painter, const QRect& rect, const KvSkinImage& skin, bool enabled,
                                  bool next)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    if (!skin.IsNull()) {
        // A strip of four frames when it is at least twice as wide as tall. The
        // target in logical pixels (from the 1x picture), the source in the pixels
        // of the picture drawn.
        const QSize size = skin.Size();
        const bool strip = size.width() >= 2 * size.height();
        const int frameWidth = strip ? size.width() / 4 : size.width();
        const QImage& image = skin.For(painter);
        const int framePixels = strip ? image.width() / 4 : image.width();
        const QRect source(strip && !enabled ? 3 * framePixels : 0, 0, framePixels, image.height());
        const QRect target(rect.x() + (rect.width() - frameWidth) / 2, rect.y() + (rect.height() - size.height()) / 2,
                           frameWidth, size.height());
        painter.drawImage(target, image, source);
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(enabled ? ColorFromRef(colors.clrText) : ShiftColorRef(colors.clrDlgBK, 30), 2);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    const QPointF c = QRectF(rect).center();
    const double d = next ? 1 : -1;
    const QPointF chevron[] = {c + QPointF(-3 * d, -6), c + QPointF(3 * d, 0), c + QPointF(-3 * d, 6)};
    painter.drawPolyline(chevron, 3);
    painter.restore();
}

void CKvADListBox::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::TextAntialiasing);
    DrawPageButton(painter, PrevButtonRect(), m_prevImage, m_page > 0, false);
    DrawPageButton(painter, NextButtonRect(), m_nextImage, m_page + 1 < PageCount(), true);

    QFont title(QStringLiteral("Arial"));
    title.setPixelSize(12);
    const QFontMetrics metrics(title);
    painter.setFont(title);
    const int perPage = ItemsPerPage();
    for (int slot = 0; slot < perPage; ++slot) {
        const int index = m_page * perPage + slot;
        if (index >= GetItemCount())
            break;
        const tagKvADListBoxItem& item = *m_items[size_t(index)];
        const QRect box = ItemRect(slot);
        const QRect picture(box.left(), box.top(), box.width(), std::max(0, box.height() - kTitleHeight));
        const QImage& image = item.thumbnail.isNull() ? m_fallback.For(painter) : item.thumbnail;
        const QSize imageSize = item.thumbnail.isNull() ? m_fallback.Size() : item.thumbnail.size();
        QPainterPath clip;
        clip.addRoundedRect(QRectF(picture), 4, 4);
        painter.save();
        painter.setClipPath(clip, Qt::IntersectClip);
        if (!image.isNull()) {
            // Fill the frame, cropping the picture rather than distorting it.
            const QSize scaled = imageSize.scaled(picture.size(), Qt::KeepAspectRatioByExpanding);
            const QRect target(picture.center().x() - scaled.width() / 2 + 1,
                               picture.center().y() - scaled.height() / 2 + 1, scaled.width(), scaled.height());
            painter.drawImage(target, image);
        } else {
            painter.fillRect(picture, ShiftColorRef(colors.clrCtrlBK, -10));
        }
        if (index == m_hot)
            painter.fillRect(picture, QColor(255, 255, 255, 28));
        painter.restore();
        if (!m_playMark.IsNull()) {
            const QSize mark = m_playMark.Size().boundedTo(picture.size());
            painter.drawImage(QRect(picture.center().x() - mark.width() / 2 + 1,
                                    picture.center().y() - mark.height() / 2 + 1, mark.width(), mark.height()),
                              m_playMark.For(painter));
        }
        painter.setPen(index == m_hot ? ShiftColorRef(colors.clrDlgEdge, 60) : ColorFromRef(colors.clrDlgEdge));
        painter.setBrush(Qt::NoBrush);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawRoundedRect(QRectF(picture).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        painter.restore();
        const QString text = item.szText3.isEmpty() && item.pExtra ? *item.pExtra : item.szText3;
        painter.setPen(index == m_hot ? ShiftColorRef(colors.clrText, 40) : ColorFromRef(colors.clrText));
        painter.drawText(QRect(box.left(), picture.bottom() + 1, box.width(), kTitleHeight),
                         Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                         metrics.elidedText(text, Qt::ElideRight, box.width()));
    }
    painter.restore();
    if (!m_enabled)
        painter.fillRect(rect, ColorFromRef(colors.clrDlgBK, 150));
}
