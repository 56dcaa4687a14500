#include "ui/KvAccessible.h"

#include "ui/KvButton.h"
#include "ui/KvCheck.h"
#include "ui/KvComboBox.h"
#include "ui/KvComboBoxWnd.h"
#include "ui/KvDialogBase.h"
#include "ui/KvEdit.h"
#include "ui/KvLinkButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvMenuButton.h"
#include "ui/KvProgress.h"
#include "ui/KvRadio.h"
#include "ui/KvSlider.h"
#include "ui/KvStatic.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"
#include "ui/KvWindow.h"

#include <QAccessibleTableModelChangeEvent>
#include <QSet>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <map>
#include <utility>

using namespace velmora;

namespace {

// Controls the window lists: the kinds the manager draws, without the tool tip.
bool IsListed(int typeCode)
{
    return typeCode >= 0 && typeCode <= kTypeLast && typeCode != kTypeListOnly && typeCode != kTypeToolTip;
}

// A control's rectangle on the screen.
QRect ScreenRect(const CKvButton* control, const QRect& clientRect)
{
    QWidget* window = control->ParentWindow();
    if (!window || clientRect.isEmpty())
        return QRect();
    return QRect(window->mapToGlobal(clientRect.topLeft()), clientRect.size());
}

QWindow* TopWindowOf(const CKvButton* control)
{
    QWidget* window = control->ParentWindow();
    return window ? window->window()->windowHandle() : nullptr;
}

QAccessibleInterface* WindowInterfaceOf(const CKvButton* control)
{
    QWidget* window = control->ParentWindow();
    return window ? QAccessible::queryAccessibleInterface(window) : nullptr;
}

// Does what a click on control does once the assistive technology's call has
// returned: a control may open a menu that runs its own event loop.
void ActivateLater(CKvButton* control)
{
    QPointer<CKvUIManager> manager = control->Manager();
    if (!manager) {
        control->Activate();
        return;
    }
    QMetaObject::invokeMethod(
        manager.data(),
        [manager, control] {
            // The control may have gone meanwhile: only one its manager still holds.
            for (int i = 0; manager && i < manager->ControlCount(); ++i) {
                if (manager->ControlAt(i) == control) {
                    control->Activate();
                    return;
                }
            }
        },
        Qt::QueuedConnection);
}

// A windowless control: its role, name, state and place; a press action for those a
// click works; a value for sliders, progress bars and combo boxes.
class ControlInterface : public QAccessibleInterface,
                         public QAccessibleActionInterface,
                         public QAccessibleValueInterface,
                         public QAccessibleTextInterface
{
public:
    explicit ControlInterface(CKvButton* control) : m_control(control) {}

    bool isValid() const override { return m_control != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return TopWindowOf(m_control); }
    QAccessibleInterface* parent() const override { return WindowInterfaceOf(m_control); }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QRect rect() const override { return ScreenRect(m_control, m_control->Rect()); }

    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        QList<QPair<QAccessibleInterface*, QAccessible::Relation>> related;
        if (const CKvButton* label = m_control->AccessibleLabel(); label && (match & QAccessible::Label)) {
            if (QAccessibleInterface* iface = AccessibleInterfaceOf(const_cast<CKvButton*>(label)))
                related.append({iface, QAccessible::Label});
        }
        return related;
    }

    QAccessible::Role role() const override
    {
        const CKvButton* c = m_control;
        if (dynamic_cast<const CKvRadio*>(c))
            return QAccessible::RadioButton;
        if (dynamic_cast<const CKvCheck*>(c))
            return QAccessible::CheckBox;
        if (dynamic_cast<const CKvComboBox*>(c))
            return QAccessible::ComboBox;
        if (dynamic_cast<const CKvMenuButton*>(c))
            return QAccessible::ButtonMenu;
        if (dynamic_cast<const CKvLinkButton*>(c))
            return QAccessible::Link;
        if (dynamic_cast<const CKvStatic*>(c))
            return QAccessible::StaticText;
        if (dynamic_cast<const CKvSlider*>(c))
            return QAccessible::Slider;
        if (dynamic_cast<const CKvProgress*>(c))
            return QAccessible::ProgressBar;
        if (dynamic_cast<const CKvListCtrl*>(c))
            return QAccessible::Table;
        if (dynamic_cast<const CKvWindow*>(c))
            return QAccessible::List;
        return QAccessible::Button;
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name: return AccessibleNameOf(m_control);
        case QAccessible::Description: {
            const QString tip = m_control->ToolTipText();
            return tip == AccessibleNameOf(m_control) ? QString() : tip;
        }
        case QAccessible::Value: return ValueText();
        default: return QString();
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QAccessible::State state() const override
    {
        QAccessible::State s;
        const CKvButton* c = m_control;
        s.invisible = !c->IsVisible();
        s.disabled = !c->IsEnabled();
        s.focusable = CKvUIManager::IsTabStopKind(c->TypeCode()) && !dynamic_cast<const CKvStatic*>(c);
        s.focused = c->HasFocus();
        if (auto* check = dynamic_cast<const CKvCheck*>(c)) {
            s.checkable = true;
            s.checked = check->IsChecked();
        } else if (role() == QAccessible::Button || role() == QAccessible::ButtonMenu) {
            s.pressed = c->GetLook() == CKvButton::LookPressed;
        }
        if (auto* combo = dynamic_cast<const CKvComboBox*>(c)) {
            s.hasPopup = true;
            s.expandable = true;
            s.expanded = combo->IsDroppedDown();
            s.collapsed = !combo->IsDroppedDown();
            s.editable = combo->IsEditable();
        }
        if (dynamic_cast<const CKvMenuButton*>(c))
            s.hasPopup = true;
        if (dynamic_cast<const CKvStatic*>(c) || dynamic_cast<const CKvProgress*>(c))
            s.readOnly = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface && !ActionNames().isEmpty())
            return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::ValueInterface
            && (dynamic_cast<CKvSlider*>(m_control) || dynamic_cast<CKvProgress*>(m_control)))
            return static_cast<QAccessibleValueInterface*>(this);
        // A combo box's choice is words, which AT-SPI carries only as text: a screen
        // reader reads it there ("Format, combo box, MP3").
        if (type == QAccessible::TextInterface && dynamic_cast<CKvComboBox*>(m_control))
            return static_cast<QAccessibleTextInterface*>(this);
        return nullptr;
    }

    // QAccessibleTextInterface: the combo box's shown choice, read only.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override
    {
        const QString shown = ValueText();
        start = std::clamp(start, 0, int(shown.size()));
        end = end < 0 ? int(shown.size()) : std::clamp(end, start, int(shown.size()));
        return shown.mid(start, end - start);
    }
    int characterCount() const override { return int(ValueText().size()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return QString();
    }

    // QAccessibleActionInterface
    QStringList actionNames() const override { return ActionNames(); }
    void doAction(const QString& action) override
    {
        if (!ActionNames().contains(action) || !m_control->IsEnabled() || !m_control->IsVisible())
            return;
        if (action == setFocusAction()) {
            if (CKvUIManager* manager = m_control->Manager())
                manager->SetFocusControl(m_control, m_control->TypeCode());
            return;
        }
        ActivateLater(m_control);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    // QAccessibleValueInterface
    QVariant currentValue() const override
    {
        if (auto* slider = dynamic_cast<const CKvSlider*>(m_control))
            return slider->Pos();
        if (auto* progress = dynamic_cast<const CKvProgress*>(m_control))
            return progress->Pos();
        return QVariant();
    }
    void setCurrentValue(const QVariant& value) override
    {
        // Only the user's thumb moves; a progress bar shows what the program does.
        if (auto* slider = dynamic_cast<CKvSlider*>(m_control)) {
            if (!slider->IsEnabled())
                return;
            const int before = slider->Pos();
            slider->SetPos(value.toInt(), true);
            if (slider->Pos() != before) {
                if (CKvUIManager* manager = slider->Manager())
                    manager->PostCommand(slider->Id());
            }
        }
    }
    QVariant maximumValue() const override
    {
        if (auto* slider = dynamic_cast<const CKvSlider*>(m_control))
            return slider->MaxPos();
        if (auto* progress = dynamic_cast<const CKvProgress*>(m_control))
            return progress->MaxPos();
        return QVariant();
    }
    QVariant minimumValue() const override
    {
        if (auto* slider = dynamic_cast<const CKvSlider*>(m_control))
            return slider->MinPos();
        if (auto* progress = dynamic_cast<const CKvProgress*>(m_control))
            return progress->MinPos();
        return QVariant();
    }
    QVariant minimumStepSize() const override { return dynamic_cast<const CKvSlider*>(m_control) ? QVariant(1) : QVariant(); }

protected:
    QStringList ActionNames() const
    {
        const CKvButton* c = m_control;
        if (dynamic_cast<const CKvStatic*>(c) || dynamic_cast<const CKvProgress*>(c))
            return {};
        if (dynamic_cast<const CKvComboBox*>(c))
            return {showMenuAction(), setFocusAction()};
        if (dynamic_cast<const CKvSlider*>(c) || dynamic_cast<const CKvWindow*>(c))
            return CKvUIManager::IsTabStopKind(c->TypeCode()) ? QStringList{setFocusAction()} : QStringList{};
        if (dynamic_cast<const CKvMenuButton*>(c))
            return {showMenuAction()};
        return {pressAction()};
    }

    QString ValueText() const
    {
        if (auto* combo = dynamic_cast<const CKvComboBox*>(m_control))
            return combo->GetCaption();
        if (auto* slider = dynamic_cast<const CKvSlider*>(m_control))
            return QString::number(slider->Pos());
        if (auto* progress = dynamic_cast<const CKvProgress*>(m_control)) {
            const double span = progress->MaxPos() - progress->MinPos();
            const double percent = span > 0.0 ? (progress->Pos() - progress->MinPos()) * 100.0 / span : 0.0;
            return QString::number(qRound(percent)) + u'%';
        }
        return QString();
    }

    CKvButton* m_control;
};

class TableInterface;

// A cell of the list control, or (row -1) the header of its column. It stands for a
// column of the list, not a place: hidden columns are left out of the table and the
// cell finds its table column when asked.
class CellInterface : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    CellInterface(CKvListCtrl* list, int column, int row) : m_list(list), m_column(column), m_row(row) {}

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return TopWindowOf(m_list); }
    QAccessibleInterface* parent() const override { return AccessibleInterfaceOf(m_list); }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect cell = m_row < 0 ? m_list->HeaderRect(m_column) : m_list->CellRect(m_column, m_row);
        return ScreenRect(m_list, cell.intersected(m_list->Rect()));
    }
    QAccessible::Role role() const override { return m_row < 0 ? QAccessible::ColumnHeader : QAccessible::Cell; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        if (t == QAccessible::Name) {
            if (m_row < 0)
                return VisibleText(m_list->Column(m_column)->szHeader);
            return m_list->AccessibleCellText(m_column, m_row);
        }
        return QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.disabled = !m_list->IsEnabled();
        s.invisible = !m_list->IsVisible() || rect().isEmpty();
        if (m_row >= 0) {
            s.selectable = true;
            s.selected = m_list->GetSelectedRow() == m_row;
            const tagKvListCtrlColumnData* column = m_list->Column(m_column);
            if (column->bCheckBox) {
                s.checkable = true;
                s.checked = m_list->GetCellCheck(m_column, m_row);
            }
            s.editable = column->nKind == CKvListCtrl::KindEdit;
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface && m_row >= 0 ? static_cast<QAccessibleTableCellInterface*>(this)
                                                                     : nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override { return isValid() && m_row >= 0 && m_list->GetSelectedRow() == m_row; }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override;
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return AccessibleInterfaceOf(m_list); }

    int Column() const { return m_column; }
    int Row() const { return m_row; }

private:
    CKvListCtrl* m_list;
    int m_column;
    int m_row;
};

// The list control: a table of its shown columns, the column headers first among
// its children, then the cells row by row.
class TableInterface : public ControlInterface, public QAccessibleTableInterface
{
public:
    explicit TableInterface(CKvListCtrl* list) : ControlInterface(list), m_list(list) {}
    ~TableInterface() override
    {
        for (const auto& [key, id] : m_cells)
            QAccessible::deleteAccessibleInterface(id);
    }

    // The columns the table shows, as columns of the list.
    std::vector<int> Shown() const
    {
        std::vector<int> shown;
        for (int column = 0; column < m_list->GetColumnCount(); ++column) {
            if (m_list->Column(column)->bShow)
                shown.push_back(column);
        }
        return shown;
    }

    // The cell interface of a list column and row (row -1: the header), made once.
    QAccessibleInterface* Cell(int column, int row) const
    {
        const auto key = std::make_pair(row, column);
        auto found = m_cells.find(key);
        if (found != m_cells.end()) {
            if (QAccessibleInterface* cell = QAccessible::accessibleInterface(found->second))
                return cell;
        }
        auto* cell = new CellInterface(m_list, column, row);
        m_cells[key] = QAccessible::registerAccessibleInterface(cell);
        return cell;
    }
    // The cell interface if one was made.
    QAccessibleInterface* ExistingCell(int column, int row) const
    {
        auto found = m_cells.find(std::make_pair(row, column));
        return found == m_cells.end() ? nullptr : QAccessible::accessibleInterface(found->second);
    }
    // Deletes the cell interfaces of the rows from firstRow on.
    void ForgetRowsFrom(int firstRow)
    {
        for (auto it = m_cells.begin(); it != m_cells.end();) {
            if (it->first.first >= firstRow) {
                QAccessible::deleteAccessibleInterface(it->second);
                it = m_cells.erase(it);
            } else {
                ++it;
            }
        }
    }

    int childCount() const override
    {
        const int columns = int(Shown().size());
        return columns * (m_list->GetRowCount() + 1);
    }
    QAccessibleInterface* child(int index) const override
    {
        const std::vector<int> shown = Shown();
        const int columns = int(shown.size());
        if (index < 0 || columns == 0 || index >= childCount())
            return nullptr;
        return Cell(shown[size_t(index % columns)], index / columns - 1);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (const auto& [key, id] : m_cells) {
            if (QAccessible::accessibleInterface(id) != child)
                continue;
            const auto* cell = static_cast<const CellInterface*>(child);
            const int column = cell->columnIndex();
            if (column < 0 || !cell->isValid())
                return -1;
            return (cell->Row() + 1) * int(Shown().size()) + column;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        if (!m_list->ParentWindow())
            return nullptr;
        const QPoint point = m_list->ParentWindow()->mapFromGlobal(QPoint(x, y));
        for (int column : Shown()) {
            if (m_list->HeaderRect(column).contains(point))
                return Cell(column, -1);
        }
        const int row = m_list->HitItem(point);
        const int column = m_list->HitColumn(point);
        if (row < 0 || column < 0 || !m_list->Column(column)->bShow)
            return nullptr;
        return Cell(column, row);
    }
    QAccessibleInterface* focusChild() const override
    {
        const int row = m_list->GetSelectedRow();
        const std::vector<int> shown = Shown();
        if (row < 0 || shown.empty())
            return nullptr;
        return Cell(shown.front(), row);
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return ControlInterface::interface_cast(type);
    }

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        const std::vector<int> shown = Shown();
        if (row < 0 || row >= m_list->GetRowCount() || column < 0 || column >= int(shown.size()))
            return nullptr;
        return Cell(shown[size_t(column)], row);
    }
    int selectedCellCount() const override { return m_list->GetSelectedRow() >= 0 ? columnCount() : 0; }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QList<QAccessibleInterface*> cells;
        const int row = m_list->GetSelectedRow();
        for (int column = 0; row >= 0 && column < columnCount(); ++column)
            cells << cellAt(row, column);
        return cells;
    }
    QString columnDescription(int column) const override
    {
        const std::vector<int> shown = Shown();
        return column >= 0 && column < int(shown.size()) ? VisibleText(m_list->Column(shown[size_t(column)])->szHeader)
                                                          : QString();
    }
    QString rowDescription(int) const override { return QString(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return m_list->GetSelectedRow() >= 0 ? 1 : 0; }
    int columnCount() const override { return int(Shown().size()); }
    int rowCount() const override { return m_list->GetRowCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        return m_list->GetSelectedRow() >= 0 ? QList<int>{m_list->GetSelectedRow()} : QList<int>{};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return row >= 0 && row == m_list->GetSelectedRow(); }
    // Selecting a row is what a click on it does: the dialog hears of the change.
    bool selectRow(int row) override
    {
        if (row < 0 || row >= m_list->GetRowCount() || !m_list->IsEnabled())
            return false;
        m_list->SetSelectedRow(row, true);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override
    {
        if (row < 0 || row != m_list->GetSelectedRow())
            return false;
        m_list->SetSelectedRow(-1, true);
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override {}

private:
    CKvListCtrl* m_list;
    // (row, list column) -> identifier; row -1 for the headers.
    mutable std::map<std::pair<int, int>, QAccessible::Id> m_cells;
};

bool CellInterface::isValid() const
{
    return m_list && m_column < m_list->GetColumnCount() && m_list->Column(m_column)->bShow
           && m_row < m_list->GetRowCount();
}

int CellInterface::columnIndex() const
{
    if (!isValid())
        return -1;
    int index = 0;
    for (int column = 0; column < m_column; ++column) {
        if (m_list->Column(column)->bShow)
            ++index;
    }
    return index;
}

QList<QAccessibleInterface*> CellInterface::columnHeaderCells() const
{
    if (!isValid())
        return {};
    auto* table = static_cast<TableInterface*>(AccessibleInterfaceOf(m_list));
    return {table->Cell(m_column, -1)};
}

AccessibleEventSink& Sink()
{
    static AccessibleEventSink sink = nullptr;
    return sink;
}

// Whether anyone hears the events: making interfaces for them is wasted otherwise.
bool Listening()
{
    return QAccessible::isActive() || Sink();
}

void Send(QAccessibleEvent& event)
{
    if (AccessibleEventSink sink = Sink())
        sink(&event);
    else
        QAccessible::updateAccessibility(&event);
}

QAccessibleInterface* WindowFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CKvDialogBase")) {
        auto* dialog = static_cast<CKvDialogBase*>(object);
        return new CKvAccessibleWindow(dialog, dialog->Manager(), QAccessible::Dialog);
    }
    if (className == QLatin1String("CKvComboBoxWnd")) {
        auto* popup = static_cast<CKvComboBoxWnd*>(object);
        return new CKvAccessibleWindow(popup, popup->Manager(), QAccessible::Window);
    }
    return nullptr;
}

} // namespace

namespace velmora {

void SetAccessibleEventSinkForTesting(AccessibleEventSink sink)
{
    Sink() = sink;
}

void InstallAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(WindowFactory);
        return true;
    }();
    (void)installed;
}

QAccessibleInterface* AccessibleInterfaceOf(CKvButton* control)
{
    if (!control)
        return nullptr;
    if (auto* edit = dynamic_cast<CKvEdit*>(control); edit && !dynamic_cast<CKvComboBox*>(control))
        return edit->EditWindow() ? QAccessible::queryAccessibleInterface(edit->EditWindow()) : nullptr;
    if (control->AccessibleId() != 0) {
        if (QAccessibleInterface* known = QAccessible::accessibleInterface(control->AccessibleId()))
            return known;
    }
    QAccessibleInterface* made = nullptr;
    if (auto* list = dynamic_cast<CKvListCtrl*>(control))
        made = new TableInterface(list);
    else
        made = new ControlInterface(control);
    control->SetAccessibleId(QAccessible::registerAccessibleInterface(made));
    return made;
}

void ReleaseAccessibleInterface(CKvButton* control)
{
    if (!control || control->AccessibleId() == 0)
        return;
    const QAccessible::Id id = control->AccessibleId();
    control->SetAccessibleId(0);
    QAccessible::deleteAccessibleInterface(id);
}

QString AccessibleNameOf(const CKvButton* control)
{
    if (!control)
        return QString();
    if (!control->AccessibleName().isEmpty())
        return control->AccessibleName();
    if (const CKvButton* label = control->AccessibleLabel()) {
        const QString caption = VisibleText(label->GetCaption()).trimmed();
        if (!caption.isEmpty())
            return caption;
    }
    // An edit field's or a combo box's caption is its value, never its name.
    if (!dynamic_cast<const CKvEdit*>(control) && !dynamic_cast<const CKvProgress*>(control)) {
        const QString caption = VisibleText(control->GetCaption()).trimmed();
        if (!caption.isEmpty())
            return caption;
    }
    return control->ToolTipText();
}

void NotifyAccessibleFocus(CKvButton* control)
{
    if (!Listening() || !control)
        return;
    // A real text field announces its own focus.
    if (dynamic_cast<CKvEdit*>(control) && !dynamic_cast<CKvComboBox*>(control))
        return;
    if (QAccessibleInterface* iface = AccessibleInterfaceOf(control)) {
        QAccessibleEvent event(iface, QAccessible::Focus);
        Send(event);
    }
}

void NotifyAccessibleState(CKvButton* control, const QAccessible::State& changed)
{
    if (!Listening() || !control)
        return;
    if (QAccessibleInterface* iface = AccessibleInterfaceOf(control); iface && !iface->object()) {
        QAccessibleStateChangeEvent event(iface, changed);
        Send(event);
    }
}

void NotifyAccessibleValue(CKvButton* control)
{
    if (!Listening() || !control)
        return;
    QAccessibleInterface* iface = AccessibleInterfaceOf(control);
    if (!iface || iface->object())
        return;
    if (QAccessibleValueInterface* value = iface->valueInterface()) {
        QAccessibleValueChangeEvent event(iface, value->currentValue());
        Send(event);
    } else {
        QAccessibleEvent event(iface, QAccessible::ValueChanged);
        Send(event);
    }
}

void NotifyAccessibleName(CKvButton* control)
{
    if (!Listening() || !control)
        return;
    if (QAccessibleInterface* iface = AccessibleInterfaceOf(control); iface && !iface->object()) {
        QAccessibleEvent event(iface, QAccessible::NameChanged);
        Send(event);
    }
}

void NotifyAccessibleShown(CKvButton* control, bool shown)
{
    if (!Listening() || !control || !control->Manager())
        return;
    if (QAccessibleInterface* iface = AccessibleInterfaceOf(control); iface && !iface->object()) {
        QAccessibleEvent event(iface, shown ? QAccessible::ObjectShow : QAccessible::ObjectHide);
        Send(event);
    }
}

void NotifyAccessibleCell(CKvListCtrl* list, int column, int row)
{
    if (!Listening() || !list || list->AccessibleId() == 0)
        return;
    auto* table = static_cast<TableInterface*>(QAccessible::accessibleInterface(list->AccessibleId()));
    if (!table)
        return;
    if (QAccessibleInterface* cell = table->ExistingCell(column, row)) {
        QAccessibleEvent event(cell, QAccessible::NameChanged);
        Send(event);
    }
}

void NotifyAccessibleRows(CKvListCtrl* list)
{
    if (!list || list->AccessibleId() == 0)
        return;
    auto* table = static_cast<TableInterface*>(QAccessible::accessibleInterface(list->AccessibleId()));
    if (!table)
        return;
    // Cells stand for places: those past the end go; the others read their new row.
    table->ForgetRowsFrom(list->GetRowCount());
    if (!Listening())
        return;
    QAccessibleTableModelChangeEvent event(table, QAccessibleTableModelChangeEvent::ModelReset);
    Send(event);
}

CKvAccessibleWindow::CKvAccessibleWindow(QWidget* window, CKvUIManager* manager, QAccessible::Role role)
    : QAccessibleWidget(window, role)
    , m_manager(manager)
{
}

std::vector<QAccessibleInterface*> CKvAccessibleWindow::Children() const
{
    std::vector<QAccessibleInterface*> children;
    QSet<const QWidget*> covered;
    if (m_manager) {
        // In the order TAB walks them, so reading and tabbing agree.
        for (int i : m_manager->TabSequence()) {
            CKvButton* control = m_manager->ControlAt(i);
            if (auto* edit = dynamic_cast<CKvEdit*>(control); edit && edit->EditWindow()) {
                covered.insert(edit->EditWindow());
                // A label may have changed its words since.
                edit->UpdateAccessibleName();
            }
            if (!IsListed(m_manager->TypeAt(i)) || !control->IsVisible())
                continue;
            // A caption with no words yet (a help panel before it has any) is nothing to read.
            if (dynamic_cast<CKvStatic*>(control) && AccessibleNameOf(control).isEmpty())
                continue;
            if (QAccessibleInterface* iface = AccessibleInterfaceOf(control))
                children.push_back(iface);
        }
    }
    for (QObject* object : widget()->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (!child || child->isWindow() || child->isHidden() || covered.contains(child))
            continue;
        if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child))
            children.push_back(iface);
    }
    return children;
}

int CKvAccessibleWindow::childCount() const
{
    return int(Children().size());
}

QAccessibleInterface* CKvAccessibleWindow::child(int index) const
{
    const std::vector<QAccessibleInterface*> children = Children();
    return index >= 0 && index < int(children.size()) ? children[size_t(index)] : nullptr;
}

int CKvAccessibleWindow::indexOfChild(const QAccessibleInterface* child) const
{
    const std::vector<QAccessibleInterface*> children = Children();
    for (size_t i = 0; i < children.size(); ++i) {
        if (children[i] == child)
            return int(i);
    }
    return -1;
}

QAccessibleInterface* CKvAccessibleWindow::childAt(int x, int y) const
{
    // From the last: real child widgets, listed after the controls, lie above them.
    const std::vector<QAccessibleInterface*> children = Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if ((*it)->rect().contains(x, y))
            return *it;
    }
    return nullptr;
}

QAccessibleInterface* CKvAccessibleWindow::focusChild() const
{
    if (m_manager) {
        if (CKvButton* focus = m_manager->FocusControl()) {
            if (QAccessibleInterface* iface = AccessibleInterfaceOf(focus))
                return iface;
        }
    }
    return QAccessibleWidget::focusChild();
}

} // namespace velmora
