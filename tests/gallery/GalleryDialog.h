#pragma once

// A skinned dialog that holds every control of the toolkit in each of its
// looks (normal, hover, pressed, disabled), the lists filled with sample rows,
// and, composed into its snapshot, an open menu with a submenu and their
// shadows, a tool tip and the picture tip of a notice: the whole toolkit in one
// picture.

#include "ui/KvDialogBase.h"

#include <QImage>
#include <QRect>

#include <memory>

class CKvADListBox;
class CKvButton;
class CKvMenuEx;

namespace velmora {

class GalleryDialog : public CKvDialogBase
{
    Q_OBJECT

public:
    explicit GalleryDialog(QWidget* parent = nullptr);
    ~GalleryDialog() override;

    // The dialog as shown, with the menus and the tool tip drawn where they open.
    QImage Snapshot();

protected:
    void CreateControls() override;
    void DrawFrame(QPainter& painter) override;

private:
    // Registers control at rect under a fresh identifier.
    template <class T>
    T* Place(T* control, int typeCode, const QRect& rect);
    // One row: a label, then the same controls once per look.
    template <class Make>
    void StateRow(const QString& label, int height, Make make);
    void CreateLists();
    void CreateMenus();
    QImage MenuPicture();
    // The notice strip's second item hovered, with its picture tip drawn above it.
    void DrawNoticeTip(QPainter& painter);

    int m_nextId = 100;
    int m_rowTop = 0;
    CKvButton* m_tipOwner = nullptr;
    CKvADListBox* m_notices = nullptr;
    QRect m_menuArea;
    std::unique_ptr<CKvMenuEx> m_menu;
    std::unique_ptr<CKvMenuEx> m_viewMenu;
};

} // namespace velmora
