#pragma once

// The look of CKvMenuEx: a proxy style that draws every menu item in the
// colour scheme (icon column, selection frame, separators, checks, submenu
// arrows, text with its accelerator right-aligned) and gives items the fixed
// heights the menu button relies on when it places a menu. Everything that is
// not a menu part is left to the base style.

#include <QFont>
#include <QProxyStyle>
#include <QString>

class QStyleOptionMenuItem;

namespace velmora {

class MenuExStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // The one instance every CKvMenuEx shares; owned by the application.
    static MenuExStyle* Instance();

    // The menu font: Arial, 12 pixels, regular.
    static QFont MenuFont();
    // Size of an item with text (which may hold a TAB and accelerator text),
    // a separator, or an item that opens a submenu. The width covers the
    // whole text; a menu lines accelerators up in one column.
    static QSize MeasureItem(const QString& text, bool separator, bool subMenu = false);

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                           const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;

private:
    MenuExStyle();

    void DrawMenuItem(const QStyleOptionMenuItem& item, QPainter& painter) const;
};

} // namespace velmora
