#pragma once

#include "ui/KvImageTipWnd.h"
#include "ui/KvWindow.h"

#include "ui/KvSkinImage.h"

#include <QImage>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

struct tagKvADListBoxItem
{
    int nIndex = 0;
    int nValue1 = 0;
    int nValue2 = 0;
    QString szText1; // each text up to 259 characters; the first names the
    QString szText2; // item's picture, the third is its title
    QString szText3;
    std::unique_ptr<QString> pExtra; // an optional further text
    QImage thumbnail;               // null: the fallback thumbnail is drawn
};

// A paged strip of image items (the online notices): a thumbnail with a play
// mark and a title per item, page buttons at both ends, a hand cursor over the
// items and a context menu chosen by the menu mode. A click on an item posts
// the command; ClickedItem() tells which item it was. Resting the mouse on an
// item shows its picture, title and further text in a picture tip.
class CKvADListBox : public CKvWindow
{
public:
    static constexpr int kMaxText = 259;
    static constexpr int kPageButtonWidth = 24;
    static constexpr int kItemWidth = 150;
    // The largest side of the picture an item keeps: room for a high-DPI screen and
    // the picture tip, a small fraction of what a full-size picture would hold.
    static constexpr int kThumbnailSide = 512;

    CKvADListBox();
    ~CKvADListBox() override;

    bool OnMouseMessage(int message, const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;
    int HitItem(const QPoint& point) const override;
    // Hiding is all a list of pictures does with its tool tip: the picture tip goes.
    void ShowToolTip(bool show) override;

    int AddItem(int value1, int value2, const QString& text1, const QString& text2,
                const QString& text3, const QString& extra = QString());
    void SetItemImage(int index, const QImage& image, bool redraw = true);
    void DeleteItem(int index);
    void DeleteAllItems();
    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    const tagKvADListBoxItem* Item(int index) const;

    int ItemsPerPage() const;
    int PageCount() const;
    int Page() const { return m_page; }
    void SetPage(int page, bool redraw = true);
    void SetMenuMode(int mode) { m_menuMode = mode; }
    int MenuMode() const { return m_menuMode; }
    int ClickedItem() const { return m_clicked; }
    // The context menu of a mode as (identifier, text) pairs; 0 is a separator.
    static std::vector<std::pair<int, QString>> MenuItems(int mode);
    // Runs the context menu for an item and posts kMsgListImageList.
    void OpenContextMenu(int index, const QPoint& globalPos);

    QRect PrevButtonRect() const;
    QRect NextButtonRect() const;
    QRect ItemRect(int slot) const; // slot on the current page, client coordinates
    CKvImageTipWnd* ImageTipWindow() const { return m_imageTip.data(); }

private:
    void ShowImageTip(int index);
    void DrawPageButton(QPainter& painter, const QRect& rect, const velmora::KvSkinImage& image, bool enabled, bool next);

    std::vector<std::unique_ptr<tagKvADListBoxItem>> m_items;
    int m_page = 0;
    int m_menuMode = 0;
    int m_hot = -1;
    int m_pressed = -1;
    int m_clicked = -1;
    velmora::KvSkinImage m_fallback;
    velmora::KvSkinImage m_prevImage;
    velmora::KvSkinImage m_nextImage;
    velmora::KvSkinImage m_playMark;
    QPointer<CKvImageTipWnd> m_imageTip;
};
