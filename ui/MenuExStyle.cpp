#include "ui/MenuExStyle.h"

#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

namespace velmora {

namespace {

// Left and right padding of the text inside the area right of the icon column.
constexpr int kTextPadding = 5;
// Extra room at the right of an item that opens a submenu, for its arrow.
constexpr int kArrowWidth = 12;
// Gap that keeps a label and its accelerator apart.
constexpr int kAcceleratorGap = 30;
constexpr int kPlainGap = 2 * kTextPadding;

struct ItemText
{
    QString label;
    QString accelerator;
    bool hasTab = false;
};

ItemText SplitText(const QString& text)
{
    ItemText parts;
    const qsizetype tab = text.indexOf(u'\t');
    parts.hasTab = tab >= 0;
    parts.label = parts.hasTab ? text.left(tab) : text;
    if (parts.hasTab)
        parts.accelerator = text.mid(tab + 1);
    return parts;
}

const tagKvUiColors& Scheme()
{
    return CKvUIManager::Colors();
}

} // namespace

MenuExStyle::MenuExStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
}

MenuExStyle* MenuExStyle::Instance()
{
    static MenuExStyle* instance = nullptr;
    if (!instance) {
        instance = new MenuExStyle;
        instance->setParent(qApp);
        QObject::connect(instance, &QObject::destroyed, [] { instance = nullptr; });
    }
    return instance;
}

QFont MenuExStyle::MenuFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(CKvMenuEx::kFontPixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

QSize MenuExStyle::MeasureItem(const QString& text, bool separator, bool subMenu)
{
    if (separator)
        return QSize(CKvMenuEx::kIconColumnWidth + 2, CKvMenuEx::kSeparatorHeight);
    const QFontMetrics metrics(MenuFont());
    const ItemText parts = SplitText(text);
    int width = CKvMenuEx::kIconColumnWidth + metrics.horizontalAdvance(VisibleText(parts.label));
    if (parts.hasTab)
        width += metrics.horizontalAdvance(parts.accelerator) + kAcceleratorGap;
    else
        width += kPlainGap;
    if (subMenu)
        width += kArrowWidth;
    return QSize(width, CKvMenuEx::kItemHeight);
}

int MenuExStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_MenuPanelWidth:
        return 1; // the one-colour frame
    case PM_MenuHMargin:
    case PM_MenuVMargin:
    case PM_MenuDesktopFrameWidth:
    case PM_MenuTearoffHeight:
    case PM_MenuScrollerHeight:
        return 0;
    case PM_SubMenuOverlap:
        return 0;
    case PM_SmallIconSize:
        return 16;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int MenuExStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                           QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_Menu_AllowActiveAndDisabled:
        return 0; // keyboard and mouse pass over disabled items
    case SH_Menu_SpaceActivatesItem:
    case SH_Menu_MouseTracking:
    case SH_UnderlineShortcut:
        return 1;
    case SH_Menu_KeyboardSearch:
    case SH_Menu_FlashTriggeredItem:
    case SH_Menu_FadeOutOnHide:
    case SH_Menu_Scrollable:
    case SH_Menu_SupportsSections:
    case SH_Menu_Mask:
        return 0;
    case SH_Menu_SubMenuPopupDelay:
        return 250;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

QSize MenuExStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                                    const QWidget* widget) const
{
    if (type == CT_Menu)
        return contentsSize;
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuItem || !item)
        return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);

    const bool separator = item->menuItemType == QStyleOptionMenuItem::Separator;
    const bool subMenu = item->menuItemType == QStyleOptionMenuItem::SubMenu;
    QSize size = MeasureItem(item->text, separator, subMenu);
    // The menu adds the widest accelerator once for the whole accelerator
    // column, so it is taken out of the item's own width here.
    const ItemText parts = SplitText(item->text);
    if (!separator && parts.hasTab)
        size.rwidth() -= QFontMetrics(MenuFont()).horizontalAdvance(parts.accelerator);
    return size;
}

void MenuExStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const
{
    switch (element) {
    case PE_PanelMenu:
        painter->fillRect(option->rect, ColorFromRef(Scheme().clrDlgBK));
        return;
    case PE_FrameMenu: {
        painter->save();
        painter->setPen(ColorFromRef(Scheme().clrDlgEdge));
        painter->setBrush(Qt::NoBrush);
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    default:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void MenuExStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    switch (element) {
    case CE_MenuEmptyArea:
        painter->fillRect(option->rect, ColorFromRef(Scheme().clrDlgBK));
        return;
    case CE_MenuItem:
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            DrawMenuItem(*item, *painter);
            return;
        }
        break;
    case CE_MenuScroller:
    case CE_MenuTearoff:
        return;
    default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void MenuExStyle::DrawMenuItem(const QStyleOptionMenuItem& item, QPainter& painter) const
{
    const tagKvUiColors& scheme = Scheme();
    const QRect rect = item.rect;
    const int column = CKvMenuEx::kIconColumnWidth;
    const bool separator = item.menuItemType == QStyleOptionMenuItem::Separator;
    const bool subMenu = item.menuItemType == QStyleOptionMenuItem::SubMenu;
    const bool enabled = item.state & State_Enabled;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);

    // The icon column is a shade darker than the item area beside it.
    painter.fillRect(QRect(rect.left() + column, rect.top(), rect.width() - column, rect.height()),
                     ColorFromRef(scheme.clrCtrlBK, 200));
    painter.fillRect(QRect(rect.left(), rect.top(), column, rect.height()), ColorFromRef(scheme.clrDlgBK, 150));

    if (separator) {
        const int left = column > 25 ? 2 : column;
        painter.fillRect(QRect(rect.left() + left, rect.top() + 2, rect.width() - left - 2, rect.height() - 4),
                         ColorFromRef(scheme.clrDlgEdge, 55));
        painter.restore();
        return;
    }

    if ((item.state & State_Selected) && enabled) {
        const int margin = subMenu ? 3 : 1;
        const QRect frame(QPoint(rect.left() + margin, rect.top() + 1),
                          QPoint(rect.right() - margin, rect.bottom() - 1));
        painter.fillRect(frame.adjusted(1, 1, -1, -1), ColorFromRef(scheme.clrDlgEdge, 50));
        painter.setPen(ColorFromRef(scheme.clrDlgEdge));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
    }

    // Disabled text keeps the hue of the text but recedes.
    const QColor textColor = ColorFromRef(scheme.clrText, enabled ? 255 : 100);
    const QRect columnRect(rect.left(), rect.top(), column, rect.height());

    if (!item.icon.isNull()) {
        // At the menu's own device pixel ratio (its screen's, not the primary one's).
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const QPixmap pixmap = item.icon.pixmap(QSize(16, 16), ratio, enabled ? QIcon::Normal : QIcon::Disabled);
        const QSize shown = pixmap.deviceIndependentSize().toSize().boundedTo(QSize(16, 16));
        const QRect target(QPoint(columnRect.left() + (column - shown.width()) / 2,
                                  columnRect.top() + (columnRect.height() - shown.height()) / 2),
                           shown);
        painter.drawPixmap(target, pixmap);
    } else if (item.checkType != QStyleOptionMenuItem::NotCheckable && item.checked) {
        // The same two-stroke tick as the list control's check boxes, centred in the column.
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPen pen(textColor, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        const QPointF origin(columnRect.left() + 6, columnRect.top() + 8);
        QPainterPath tick;
        tick.moveTo(origin + QPointF(1, 4));
        tick.lineTo(origin + QPointF(4.5, 8));
        tick.lineTo(origin + QPointF(12, 1));
        painter.drawPath(tick);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }

    const ItemText parts = SplitText(item.text);
    const int right = rect.right() + 1 - kTextPadding - (subMenu ? kArrowWidth : 0);
    const QRect textRect(QPoint(rect.left() + column + kTextPadding, rect.top()), QPoint(right - 1, rect.bottom()));
    painter.setFont(MenuFont());
    painter.setPen(textColor);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic | Qt::TextSingleLine,
                     parts.label);
    if (!parts.accelerator.isEmpty())
        painter.drawText(textRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, parts.accelerator);

    if (subMenu) {
        // A small chevron pointing to where the submenu opens.
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(textColor, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF tip(rect.right() + 1 - kTextPadding - 3, rect.center().y() + 0.5);
        const QPointF points[] = {tip + QPointF(-3.5, -4), tip, tip + QPointF(-3.5, 4)};
        painter.drawPolyline(points, 3);
    }
    painter.restore();
}

} // namespace velmora
