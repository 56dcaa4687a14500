#include "ui/KvListCtrl.h"

#include "ui/KvComboBoxList.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvListCtrlListWnd.h"
#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <utility>

using namespace velmora;

namespace {

constexpr int kCellPadding = 6;
constexpr int kDividerGrip = 3;
constexpr int kMinColumnWidth = 10;
// The progress bar sits this far inside its cell on every side.
constexpr double kBarInset = 3.5;

// The sizes the list is described with are line heights (a 20-pixel cell
// font fills 20 pixels from ascent to descent), so pick the largest pixel
// size whose line still fits.
QFont FontWithLineHeight(const QString& family, int lineHeight)
{
    QFont font(family);
    int size = lineHeight;
    font.setPixelSize(size);
    while (size > 6 && QFontMetrics(font).height() > lineHeight) {
        --size;
        font.setPixelSize(size);
    }
    return font;
}

qint64 CellParam(int column, int row)
{
    return qint64(column) * 65536 + row;
}

} // namespace

CKvListCtrl::CKvListCtrl()
    : m_headerFont(FontWithLineHeight(QStringLiteral("Arial"), 16))
    , m_cellFont(FontWithLineHeight(QApplication::font().family(), 20))
    , m_progressFont(FontWithLineHeight(QApplication::font().family(), kRowHeight - int(2 * kBarInset) - 1))
{
}

CKvListCtrl::~CKvListCtrl()
{
    if (m_edit) {
        m_edit->disconnect();
        delete m_edit.data();
    }
    if (m_choiceWnd) {
        m_choiceWnd->disconnect();
        delete m_choiceWnd.data();
    }
}

// ---- table -------------------------------------------------------------------

int CKvListCtrl::InsertColumn(int kind, int width, const QString& header)
{
    auto column = std::make_unique<tagKvListCtrlColumnData>();
    column->szHeader = header;
    column->nWidth = width;
    column->nKind = kind;
    column->nBaseWidth = width;
    column->nIndex = GetColumnCount();
    // A column added to a filled table gets an empty cell in every row, so
    // that rows stay the same index in every column.
    const int rows = GetRowCount();
    for (int row = 0; row < rows; ++row) {
        auto cell = std::make_unique<tagKvListCtrlItemData>();
        cell->clrText = CKvUIManager::Colors().clrText;
        cell->nRow = row;
        cell->nKind = kind;
        cell->nData = GetRowData(row);
        column->items.push_back(std::move(cell));
    }
    m_columns.push_back(std::move(column));
    m_viewMenuItems << header;
    FitColumns();
    return GetColumnCount() - 1;
}

int CKvListCtrl::AddRow(const QString& text, qint64 data)
{
    if (m_columns.empty())
        return -1;
    const int row = GetRowCount();
    for (auto& column : m_columns) {
        auto cell = std::make_unique<tagKvListCtrlItemData>();
        cell->clrText = CKvUIManager::Colors().clrText;
        cell->nRow = row;
        cell->nKind = column->nKind;
        cell->nData = data;
        if (column->nIndex == 0)
            cell->szText = text;
        column->items.push_back(std::move(cell));
    }
    // A vertical scroll bar may have come: the columns share what is left.
    FitColumns();
    return row;
}

const tagKvListCtrlColumnData* CKvListCtrl::Column(int column) const
{
    return column >= 0 && column < GetColumnCount() ? m_columns[size_t(column)].get() : nullptr;
}

const tagKvListCtrlItemData* CKvListCtrl::Cell(int column, int row) const
{
    const tagKvListCtrlColumnData* data = Column(column);
    if (!data || row < 0 || row >= int(data->items.size()))
        return nullptr;
    return data->items[size_t(row)].get();
}

tagKvListCtrlItemData* CKvListCtrl::MutableCell(int column, int row)
{
    return const_cast<tagKvListCtrlItemData*>(Cell(column, row));
}

void CKvListCtrl::Redraw(bool redraw)
{
    RedrawIfShown(redraw);
}

void CKvListCtrl::SetCellText(int column, int row, const QString& text, bool redraw)
{
    if (tagKvListCtrlItemData* cell = MutableCell(column, row)) {
        cell->szText = text;
        Redraw(redraw);
    }
}

QString CKvListCtrl::GetCellText(int column, int row) const
{
    const tagKvListCtrlItemData* cell = Cell(column, row);
    return cell ? cell->szText : QString();
}

void CKvListCtrl::SetProgress(int column, int row, int value, bool redraw)
{
    if (tagKvListCtrlItemData* cell = MutableCell(column, row)) {
        cell->nProgress = std::clamp(value, 0, 100);
        Redraw(redraw);
    }
}

int CKvListCtrl::GetProgress(int column, int row) const
{
    const tagKvListCtrlItemData* cell = Cell(column, row);
    return cell ? cell->nProgress : 0;
}

void CKvListCtrl::SetCellCheck(int column, int row, bool checked, bool redraw)
{
    if (tagKvListCtrlItemData* cell = MutableCell(column, row)) {
        cell->bCheck = checked ? 1 : 0;
        Redraw(redraw);
    }
}

bool CKvListCtrl::GetCellCheck(int column, int row) const
{
    const tagKvListCtrlItemData* cell = Cell(column, row);
    return cell && cell->bCheck;
}

void CKvListCtrl::SetCellColor(int column, int row, uint32_t colorRef, bool redraw)
{
    if (tagKvListCtrlItemData* cell = MutableCell(column, row)) {
        cell->clrText = colorRef;
        Redraw(redraw);
    }
}

void CKvListCtrl::SetCellChoices(int column, int row, const std::vector<tagKvListCtrlItemComboData>& choices)
{
    if (tagKvListCtrlItemData* cell = MutableCell(column, row))
        cell->combo = choices;
}

qint64 CKvListCtrl::GetRowData(int row) const
{
    const tagKvListCtrlItemData* cell = Cell(0, row);
    return cell ? cell->nData : 0;
}

int CKvListCtrl::GetRowCount() const
{
    return m_columns.empty() ? 0 : int(m_columns.front()->items.size());
}

void CKvListCtrl::SetSelectedRow(int row, bool redraw)
{
    if (row < -1 || row >= GetRowCount())
        return;
    for (auto& column : m_columns) {
        for (auto& cell : column->items)
            cell->bSelected = cell->nRow == row ? 1 : 0;
    }
    const bool changed = row != m_selectedRow;
    m_selectedRow = row;
    if (row < 0)
        m_current = CellPos{};
    else if (m_current.row != row)
        m_current = CellPos{m_current.column >= 0 ? m_current.column : 0, row};
    if (row >= 0)
        EnsureVisible(QRect(ScrollX(), row * kRowHeight, 1, kRowHeight));
    Redraw(redraw);
    if (changed && m_manager)
        m_manager->SendNotify(kMsgSelectedRowChanged, this, row);
}

void CKvListCtrl::RenumberRows()
{
    for (auto& column : m_columns) {
        for (size_t row = 0; row < column->items.size(); ++row)
            column->items[row]->nRow = int(row);
    }
}

bool CKvListCtrl::MoveRowUp(int row)
{
    if (row <= 0 || row >= GetRowCount())
        return false;
    EndEdit(true);
    for (auto& column : m_columns)
        std::swap(column->items[size_t(row)], column->items[size_t(row - 1)]);
    RenumberRows();
    m_selectedRow = -2; // the moved row is selected afresh below
    SetSelectedRow(row - 1, true);
    return true;
}

bool CKvListCtrl::MoveRowDown(int row)
{
    if (row < 0 || row + 1 >= GetRowCount())
        return false;
    EndEdit(true);
    for (auto& column : m_columns)
        std::swap(column->items[size_t(row)], column->items[size_t(row + 1)]);
    RenumberRows();
    m_selectedRow = -2;
    SetSelectedRow(row + 1, true);
    return true;
}

void CKvListCtrl::DeleteRow(int row)
{
    if (row < 0 || row >= GetRowCount())
        return;
    EndEdit(false);
    if (m_choiceWnd)
        m_choiceWnd->close();
    for (auto& column : m_columns)
        column->items.erase(column->items.begin() + row);
    RenumberRows();
    FitColumns();
    if (m_selectedRow == row) {
        m_selectedRow = -1;
        m_current = CellPos{};
        if (m_manager)
            m_manager->SendNotify(kMsgSelectedRowChanged, this, -1);
    } else if (m_selectedRow > row) {
        --m_selectedRow;
        m_current.row = m_selectedRow;
    }
    SetScroll(ScrollX(), ScrollY());
    Redraw(true);
}

void CKvListCtrl::DeleteAllRows()
{
    EndEdit(false);
    if (m_choiceWnd)
        m_choiceWnd->close();
    for (auto& column : m_columns)
        column->items.clear();
    FitColumns();
    const bool hadSelection = m_selectedRow >= 0;
    m_selectedRow = -1;
    m_current = CellPos{};
    SetScroll(ScrollX(), 0);
    Redraw(true);
    if (hadSelection && m_manager)
        m_manager->SendNotify(kMsgSelectedRowChanged, this, -1);
}

void CKvListCtrl::ShowColumn(int column, bool show, bool redraw)
{
    if (column < 0 || column >= GetColumnCount())
        return;
    m_columns[size_t(column)]->bShow = show ? 1 : 0;
    FitColumns();
    SetScroll(ScrollX(), ScrollY());
    Redraw(redraw);
}

void CKvListCtrl::SetColumnCheckBox(int column, bool checkBox)
{
    if (column >= 0 && column < GetColumnCount())
        m_columns[size_t(column)]->bCheckBox = checkBox ? 1 : 0;
}

void CKvListCtrl::SetColumnElide(int column, Qt::TextElideMode mode)
{
    if (column >= 0 && column < GetColumnCount())
        m_columns[size_t(column)]->nElide = mode;
}

void CKvListCtrl::SetColumnBaseWidth(int column, int width)
{
    if (column < 0 || column >= GetColumnCount())
        return;
    tagKvListCtrlColumnData& data = *m_columns[size_t(column)];
    data.nBaseWidth = std::max(kMinColumnWidth, width);
    data.nWidth = data.nBaseWidth;
    FitColumns();
}

int CKvListCtrl::ColumnBaseWidth(int column) const
{
    return column >= 0 && column < GetColumnCount() ? m_columns[size_t(column)]->nBaseWidth : 0;
}

void CKvListCtrl::SetColumnOffered(int column, bool offered)
{
    if (column >= 0 && column < GetColumnCount())
        m_columns[size_t(column)]->bOffered = offered ? 1 : 0;
}

void CKvListCtrl::SetFillWidth(bool fill)
{
    m_fillWidth = fill;
    if (!fill) {
        for (auto& column : m_columns)
            column->nWidth = column->nBaseWidth;
    }
    FitColumns();
}

void CKvListCtrl::Move(int x, int y, int width, int height, bool redraw)
{
    CKvWindow::Move(x, y, width, height, redraw);
    FitColumns();
}

void CKvListCtrl::FitColumns()
{
    // Not while a divider is dragged: the column under the mouse keeps its width.
    if (!m_fillWidth || m_resizeColumn >= 0)
        return;
    int base = 0;
    for (const auto& column : m_columns) {
        if (column->bShow)
            base += column->nBaseWidth;
    }
    if (base <= 0)
        return;
    // Filled columns never need a horizontal bar, so only the vertical one takes room.
    const bool vertical = GetRowCount() * kRowHeight > m_height - kHeaderHeight;
    const int available = m_width - 2 - (vertical ? kScrollBarSize : 0);
    int before = 0;
    int used = 0;
    for (auto& column : m_columns) {
        if (!column->bShow)
            continue;
        if (available <= base) {
            column->nWidth = column->nBaseWidth;
            continue;
        }
        // Each column ends where its share of the running total ends, so the widths
        // add up to the whole width without a rounding gap.
        before += column->nBaseWidth;
        const int right = int(qint64(before) * available / base);
        column->nWidth = std::max(kMinColumnWidth, right - used);
        used = right;
    }
}

void CKvListCtrl::LockColumn(int column, bool locked)
{
    if (column >= 0 && column < GetColumnCount())
        m_columns[size_t(column)]->bLocked = locked ? 1 : 0;
}

// ---- geometry ----------------------------------------------------------------

QSize CKvListCtrl::ContentSize() const
{
    int width = 0;
    for (const auto& column : m_columns) {
        if (column->bShow)
            width += column->nWidth;
    }
    return QSize(width, GetRowCount() * kRowHeight);
}

QRect CKvListCtrl::ViewRect() const
{
    // Inside the one-pixel border.
    QRect view = CKvWindow::ViewRect();
    view.setLeft(view.left() + 1);
    return view;
}

int CKvListCtrl::ColumnLeft(int column) const
{
    int x = 0;
    for (int i = 0; i < column && i < GetColumnCount(); ++i) {
        if (m_columns[size_t(i)]->bShow)
            x += m_columns[size_t(i)]->nWidth;
    }
    return x;
}

QRect CKvListCtrl::HeaderRect(int column) const
{
    const tagKvListCtrlColumnData* data = Column(column);
    if (!data || !data->bShow)
        return QRect();
    const QRect view = ViewRect();
    return QRect(view.left() + ColumnLeft(column) - ScrollX(), m_y, data->nWidth, kHeaderHeight);
}

QRect CKvListCtrl::CellRect(int column, int row) const
{
    const tagKvListCtrlColumnData* data = Column(column);
    if (!data || !data->bShow || row < 0 || row >= GetRowCount())
        return QRect();
    const QRect view = ViewRect();
    return QRect(view.left() + ColumnLeft(column) - ScrollX(), view.top() + row * kRowHeight - ScrollY(),
                 data->nWidth, kRowHeight);
}

QRect CKvListCtrl::CheckBoxRect(int column, int row) const
{
    const QRect cell = CellRect(column, row);
    if (cell.isEmpty() || !m_columns[size_t(column)]->bCheckBox)
        return QRect();
    return QRect(cell.left() + 4, cell.top() + (cell.height() - kCheckBoxSize) / 2, kCheckBoxSize, kCheckBoxSize);
}

int CKvListCtrl::HitDivider(const QPoint& point) const
{
    if (point.y() < m_y || point.y() >= m_y + kHeaderHeight || !Contains(point))
        return -1;
    for (int column = 0; column < GetColumnCount(); ++column) {
        const QRect header = HeaderRect(column);
        if (!header.isEmpty() && std::abs(point.x() - (header.left() + header.width())) <= kDividerGrip)
            return column;
    }
    return -1;
}

CKvListCtrl::CellPos CKvListCtrl::HitCell(const QPoint& point) const
{
    const QRect view = ViewRect();
    if (!view.contains(point))
        return CellPos{};
    const int row = (point.y() - view.top() + ScrollY()) / kRowHeight;
    if (row >= GetRowCount())
        return CellPos{};
    for (int column = 0; column < GetColumnCount(); ++column) {
        const QRect cell = CellRect(column, row);
        if (!cell.isEmpty() && point.x() >= cell.left() && point.x() < cell.left() + cell.width())
            return CellPos{column, row};
    }
    return CellPos{};
}

int CKvListCtrl::HitColumn(const QPoint& point) const
{
    return HitCell(point).column;
}

int CKvListCtrl::HitItem(const QPoint& point) const
{
    return HitCell(point).row;
}

// ---- input -------------------------------------------------------------------

bool CKvListCtrl::OnMouseMessage(int message, const QPoint& point)
{
    if (!m_visible || !m_enabled)
        return false;
    if (m_resizeColumn >= 0) {
        tagKvListCtrlColumnData& column = *m_columns[size_t(m_resizeColumn)];
        if (message == kMouseMove) {
            column.nWidth = std::max(kMinColumnWidth, m_resizeStartWidth + point.x() - m_resizeStartX);
            m_resizeX = HeaderRect(m_resizeColumn).left() + column.nWidth;
            return true;
        }
        if (message == kLButtonUp) {
            m_resizeColumn = -1;
            m_resizeX = -1;
            // The widths as the user left them are the new proportions to fill with.
            for (auto& shown : m_columns) {
                if (shown->bShow)
                    shown->nBaseWidth = shown->nWidth;
            }
            FitColumns();
            if (m_manager)
                m_manager->SetCapture(false);
            if (m_parent)
                m_parent->unsetCursor();
            SetScroll(ScrollX(), ScrollY());
            return true;
        }
        return false;
    }
    // The edit box does not scroll with the rows: finish editing first.
    if (message == kLButtonDown && HitScrollBar(point) != PartNone)
        EndEdit(true);
    return CKvWindow::OnMouseMessage(message, point);
}

bool CKvListCtrl::OnWheel(int delta, const QPoint& point)
{
    EndEdit(true);
    return CKvWindow::OnWheel(delta, point);
}

bool CKvListCtrl::OnItemMouse(int message, const QPoint& point)
{
    const bool inside = Contains(point);
    const bool captured = m_manager && m_manager->HasCapture();
    switch (message) {
    case kMouseMove:
        if (m_parent && !captured) {
            if (inside && HitDivider(point) >= 0) {
                m_parent->setCursor(Qt::SizeHorCursor);
                m_dividerCursor = true;
            } else if (m_dividerCursor) {
                m_parent->unsetCursor();
                m_dividerCursor = false;
            }
        }
        return false;
    case kLButtonDown:
        if (!inside)
            return false;
        OnLeftDown(point);
        return true;
    case kLButtonDblClk:
        if (!inside || point.y() < m_y + kHeaderHeight)
            return false;
        if (m_manager) {
            const CellPos cell = HitCell(point);
            if (cell.row >= 0)
                m_manager->SendNotify(kMsgListDblClk, this, cell.row);
            else
                m_manager->SendNotify(kMsgListEmptyDblClk, this, -1);
        }
        return false;
    case kRButtonUp:
        if (!inside)
            return false;
        if (point.y() < m_y + kHeaderHeight) {
            OpenViewMenu(point);
            return true;
        }
        if (m_manager) {
            const CellPos cell = HitCell(point);
            if (cell.row >= 0 && cell.row != m_selectedRow)
                SetSelectedRow(cell.row, false);
            m_manager->SendNotify(kMsgListContext, this, cell.row);
        }
        return true;
    default:
        return false;
    }
}

void CKvListCtrl::OpenViewMenu(const QPoint& point)
{
    if (m_columns.empty() || !m_parent)
        return;
    CKvMenuEx menu;
    CKvMenuEx view;
    for (int i = 0; i < GetColumnCount(); ++i) {
        if (!m_columns[size_t(i)]->bOffered)
            continue;
        view.AddItem(i + 1, m_viewMenuItems.value(i));
        view.CheckItem(i + 1, m_columns[size_t(i)]->bShow != 0);
    }
    menu.AddSubMenu(view, QStringLiteral("&View"));
    if (m_manager)
        m_manager->SendNotify(kMsgListHeaderContext, this, reinterpret_cast<qint64>(&menu));
    const int chosen = menu.TrackMenu(CKvMenuEx::TPM_RETURNCMD | CKvMenuEx::TPM_NONOTIFY | CKvMenuEx::TPM_RIGHTBUTTON,
                                      m_parent->mapToGlobal(point), m_parent);
    if (chosen >= 1 && chosen <= GetColumnCount() && m_columns[size_t(chosen - 1)]->bOffered) {
        const int column = chosen - 1;
        ShowColumn(column, !m_columns[size_t(column)]->bShow, true);
    }
}

void CKvListCtrl::ToggleHeaderCheck(int column)
{
    tagKvListCtrlColumnData& data = *m_columns[size_t(column)];
    data.bHeaderCheck = data.bHeaderCheck ? 0 : 1;
    for (auto& cell : data.items)
        cell->bCheck = data.bHeaderCheck;
    if (m_manager)
        m_manager->SendNotify(kMsgCheckToggled, this, column);
}

void CKvListCtrl::OnLeftDown(const QPoint& point)
{
    if (m_manager)
        m_manager->SetFocusControl(this, m_typeCode);

    const bool captured = m_manager && m_manager->HasCapture();
    const int divider = HitDivider(point);
    if (divider >= 0 && !captured) {
        EndEdit(true);
        m_resizeColumn = divider;
        m_resizeStartX = point.x();
        m_resizeStartWidth = m_columns[size_t(divider)]->nWidth;
        m_resizeX = HeaderRect(divider).left() + m_resizeStartWidth;
        if (m_manager)
            m_manager->SetCapture(true);
        if (m_parent)
            m_parent->setCursor(Qt::SizeHorCursor);
        return;
    }
    if (point.y() < m_y + kHeaderHeight) {
        if (!m_headerClick)
            return;
        for (int column = 0; column < GetColumnCount(); ++column) {
            if (HeaderRect(column).contains(point)) {
                if (!m_columns[size_t(column)]->bLocked)
                    ToggleHeaderCheck(column);
                break;
            }
        }
        return;
    }

    const CellPos cell = HitCell(point);
    bool checkHit = false;
    if (cell.row < 0) {
        EndEdit(true);
    } else {
        checkHit = CheckBoxRect(cell.column, cell.row).contains(point);
        const int kind = m_columns[size_t(cell.column)]->nKind;
        if (cell.column != m_current.column || cell.row != m_current.row) {
            EndEdit(true);
            SelectCell(cell);
            if (checkHit) {
                tagKvListCtrlItemData* data = MutableCell(cell.column, cell.row);
                data->bCheck = data->bCheck ? 0 : 1;
                if (m_manager)
                    m_manager->SendNotify(kMsgCheckToggled, this, cell.column);
            }
            if (kind == KindEdit && !checkHit)
                BeginEdit(cell.column, cell.row);
        } else if (checkHit) {
            tagKvListCtrlItemData* data = MutableCell(cell.column, cell.row);
            data->bCheck = data->bCheck ? 0 : 1;
            if (m_manager)
                m_manager->SendNotify(kMsgCheckToggled, this, cell.column);
        } else if (kind == KindChoice) {
            EndEdit(true);
            OpenChoiceList(cell.column, cell.row);
        } else if (kind == KindEdit) {
            if (!m_edit)
                BeginEdit(cell.column, cell.row);
        } else {
            EndEdit(true);
        }
    }

    if (m_current.row != m_selectedRow)
        SetSelectedRow(m_current.row, false);
    if (checkHit && m_manager)
        m_manager->SendNotify(kMsgCellCheckClicked, this, CellParam(cell.column, cell.row));
}

void CKvListCtrl::SelectCell(const CellPos& cell)
{
    for (auto& column : m_columns) {
        for (auto& item : column->items)
            item->bSelected = item->nRow == cell.row ? 1 : 0;
    }
    m_current = cell;
}

bool CKvListCtrl::OnKey(const QKeyEvent& event)
{
    if (event.type() != QEvent::KeyPress || !m_focus || !m_enabled || !m_visible)
        return false;
    const int rows = GetRowCount();
    switch (event.key()) {
    case Qt::Key_Up:
        if (rows > 0)
            SetSelectedRow(std::max(0, m_selectedRow - 1), true);
        return true;
    case Qt::Key_Down:
        if (rows > 0)
            SetSelectedRow(std::min(rows - 1, m_selectedRow + 1), true);
        return true;
    case Qt::Key_Home:
        if (rows > 0)
            SetSelectedRow(0, true);
        return true;
    case Qt::Key_End:
        if (rows > 0)
            SetSelectedRow(rows - 1, true);
        return true;
    case Qt::Key_F2:
        if (m_current.row >= 0 && m_current.column >= 0
            && m_columns[size_t(m_current.column)]->nKind == KindEdit)
            BeginEdit(m_current.column, m_current.row);
        return true;
    default:
        return false;
    }
}

void CKvListCtrl::KillFocus()
{
    CKvWindow::KillFocus();
    // The edit box is a window of its own: focus moving into it is no reason
    // to stop editing.
    if (m_edit && m_edit->hasFocus())
        return;
    EndEdit(true);
}

void CKvListCtrl::Enable(bool enable, bool redraw)
{
    if (!enable) {
        EndEdit(true);
        if (m_choiceWnd)
            m_choiceWnd->close();
    }
    CKvWindow::Enable(enable, redraw);
}

// ---- in-place editing and in-cell lists ----------------------------------------

void CKvListCtrl::BeginEdit(int column, int row)
{
    const tagKvListCtrlItemData* cell = Cell(column, row);
    if (!cell || !m_parent)
        return;
    if (m_edit) {
        if (m_editCell.column == column && m_editCell.row == row)
            return;
        EndEdit(true);
    }
    EnsureVisible(QRect(ColumnLeft(column), row * kRowHeight, m_columns[size_t(column)]->nWidth, kRowHeight));
    const QRect box = CellRect(column, row).intersected(ViewRect()).adjusted(1, 1, -1, -1);
    if (box.isEmpty())
        return;

    auto* edit = new CKvEditCtrl(m_parent);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, ShiftColorRef(colors.clrCtrlBK, -10));
    palette.setColor(QPalette::Text, ColorFromRef(colors.clrText));
    palette.setColor(QPalette::Highlight, ShiftColorRef(colors.clrDlgEdge, 20));
    palette.setColor(QPalette::HighlightedText, ColorFromRef(colors.clrText));
    edit->setPalette(palette);
    edit->setFont(m_cellFont);
    edit->setTextMargins(kCellPadding - 3, 0, 0, 0);
    edit->setGeometry(box);
    edit->setText(cell->szText);
    edit->selectAll();
    m_edit = edit;
    m_editCell = CellPos{column, row};
    m_editOldText = cell->szText;
    QObject::connect(edit, &CKvEditCtrl::editingEnded, edit, [this, edit](bool committed) {
        if (m_edit == edit)
            EndEdit(committed);
    });
    edit->show();
    edit->setFocus(Qt::OtherFocusReason);
}

void CKvListCtrl::EndEdit(bool commit)
{
    if (!m_edit)
        return;
    CKvEditCtrl* edit = m_edit.data();
    m_edit.clear();
    const QString text = edit->text();
    const CellPos cell = m_editCell;
    m_editCell = CellPos{};
    edit->disconnect();
    edit->hide();
    edit->deleteLater();
    if (m_parent && m_focus)
        m_parent->setFocus(Qt::OtherFocusReason);
    if (!commit || !Cell(cell.column, cell.row))
        return;
    // Only a real change counts: an untouched cell must not look edited.
    if (text == m_editOldText)
        return;
    MutableCell(cell.column, cell.row)->szText = text;
    Redraw(true);
    if (m_manager)
        m_manager->SendNotify(kMsgCellTextChanged, this, CellParam(cell.column, cell.row));
}

void CKvListCtrl::OpenChoiceList(int column, int row)
{
    const tagKvListCtrlItemData* cell = Cell(column, row);
    if (!cell || cell->combo.empty() || !m_parent)
        return;
    if (m_choiceWnd)
        m_choiceWnd->close();
    QStringList entries;
    int current = -1;
    for (size_t i = 0; i < cell->combo.size(); ++i) {
        entries << cell->combo[i].szText;
        if (cell->combo[i].szText == cell->szText)
            current = int(i);
    }
    const QRect rect = CellRect(column, row);
    auto* popup = new CKvListCtrlListWnd(m_parent, column, row);
    const int height = std::min(int(entries.size()) * CKvComboBoxList::kRowHeight + 2, 8 * CKvComboBoxList::kRowHeight + 2);
    popup->List()->SetFontId(m_fontId);
    popup->List()->Move(0, 0, rect.width(), height);
    popup->SetEntries(entries, current);
    QObject::connect(popup, &CKvComboBoxWnd::chosen, popup, [this, column, row](int index) {
        const tagKvListCtrlItemData* data = Cell(column, row);
        if (!data || index < 0 || index >= int(data->combo.size()))
            return;
        const QString text = data->combo[size_t(index)].szText;
        if (text == data->szText)
            return;
        MutableCell(column, row)->szText = text;
        Redraw(true);
        if (m_manager)
            m_manager->SendNotify(kMsgCellTextChanged, this, CellParam(column, row));
    });
    m_choiceWnd = popup;
    popup->Popup(m_parent->mapToGlobal(QPoint(rect.left(), rect.top() + rect.height())), QSize(rect.width(), height));
}

// ---- drawing -----------------------------------------------------------------

void CKvListCtrl::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    SetScroll(ScrollX(), ScrollY());
    painter.fillRect(rect, ColorFromRef(colors.clrCtrlBK));

    DrawHeader(painter);
    const QRect view = ViewRect();
    painter.save();
    painter.setClipRect(view, Qt::IntersectClip);
    DrawItems(painter, view);
    painter.restore();
    DrawScrollBars(painter);

    if (m_resizeColumn >= 0 && m_resizeX >= 0) {
        painter.save();
        painter.setClipRect(QRect(rect.left(), rect.top(), view.right() - rect.left() + 1, rect.height()));
        painter.setPen(ColorFromRef(colors.clrDlgEdge));
        painter.drawLine(m_resizeX, rect.top(), m_resizeX, rect.bottom());
        painter.restore();
    }

    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));

    if (!m_toolTipText.isEmpty()) {
        QFont hint(QStringLiteral("Arial"));
        hint.setPixelSize(14);
        hint.setItalic(true);
        const int left = view.left() + ContentSize().width() - ScrollX() + 10;
        const QRect box(left, view.top() + 10, view.right() - left, view.bottom() - view.top() - 10);
        if (box.width() > 0 && box.height() > 0) {
            painter.save();
            painter.setClipRect(box, Qt::IntersectClip);
            painter.setFont(hint);
            painter.setPen(ColorFromRef(colors.clrText));
            painter.setRenderHint(QPainter::TextAntialiasing);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_toolTipText);
            painter.restore();
        }
    }
    if (!m_enabled) {
        painter.fillRect(rect, ColorFromRef(colors.clrDlgBK, 150));
        // A locked list still shows how far its jobs have come: the progress cells
        // are drawn again above the veil.
        painter.save();
        painter.setClipRect(view, Qt::IntersectClip);
        painter.setFont(m_cellFont);
        for (int column = 0; column < GetColumnCount(); ++column) {
            const tagKvListCtrlColumnData& data = *m_columns[size_t(column)];
            if (!data.bShow || data.nKind != KindProgress)
                continue;
            for (int row = std::max(0, ScrollY() / kRowHeight); row < GetRowCount(); ++row) {
                const QRect cell = CellRect(column, row);
                if (cell.top() > view.bottom())
                    break;
                DrawCell(painter, data, *data.items[size_t(row)], cell);
            }
        }
        painter.restore();
    }
}

void CKvListCtrl::DrawHeader(QPainter& painter)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRect band(m_x + 1, m_y + 1, m_width - 2, kHeaderHeight - 1);
    QLinearGradient gradient(band.topLeft(), band.bottomLeft());
    gradient.setColorAt(0, ShiftColorRef(colors.clrCtrlBK, 12));
    gradient.setColorAt(1, ShiftColorRef(colors.clrCtrlBK, -6));
    painter.fillRect(band, gradient);

    painter.save();
    painter.setClipRect(band, Qt::IntersectClip);
    painter.setFont(m_headerFont);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (int column = 0; column < GetColumnCount(); ++column) {
        const QRect header = HeaderRect(column);
        if (header.isEmpty())
            continue;
        QRect text = header.adjusted(kCellPadding, 0, -kCellPadding, 0);
        const tagKvListCtrlColumnData& data = *m_columns[size_t(column)];
        if (data.bCheckBox) {
            const QRect box(header.left() + 4, header.top() + (kHeaderHeight - kCheckBoxSize) / 2, kCheckBoxSize,
                            kCheckBoxSize);
            DrawCheckBox(painter, box, data.bHeaderCheck != 0, ColorFromRef(colors.clrText));
            text.setLeft(box.right() + 1 + 4);
        }
        painter.setPen(ColorFromRef(colors.clrText));
        const QFontMetrics metrics(m_headerFont);
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         metrics.elidedText(data.szHeader, Qt::ElideRight, text.width()));
        painter.setPen(ColorFromRef(colors.clrDlgEdge, 160));
        const int divider = header.left() + header.width() - 1;
        painter.drawLine(divider, header.top() + 4, divider, header.bottom() - 4);
    }
    painter.restore();
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawLine(m_x, m_y + kHeaderHeight - 1, m_x + m_width - 1, m_y + kHeaderHeight - 1);
}

void CKvListCtrl::DrawItems(QPainter& painter, const QRect& view)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.setFont(m_cellFont);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int rows = GetRowCount();
    const int contentRight = view.left() + ContentSize().width() - ScrollX();
    for (int row = std::max(0, ScrollY() / kRowHeight); row < rows; ++row) {
        const int top = view.top() + row * kRowHeight - ScrollY();
        if (top > view.bottom())
            break;
        const QRect rowRect(view.left(), top, std::min(view.width(), contentRight - view.left()), kRowHeight);
        if (row == m_selectedRow)
            painter.fillRect(rowRect, m_focus ? ShiftColorRef(colors.clrDlgEdge, 10) : ColorFromRef(colors.clrDlgEdge, 190));
        else if (row % 2 == 1)
            painter.fillRect(rowRect, ShiftColorRef(colors.clrCtrlBK, 5));
        for (int column = 0; column < GetColumnCount(); ++column) {
            const QRect cell = CellRect(column, row);
            if (cell.isEmpty() || cell.left() > view.right() || cell.right() < view.left())
                continue;
            DrawCell(painter, *m_columns[size_t(column)], *m_columns[size_t(column)]->items[size_t(row)], cell);
        }
    }
}

void CKvListCtrl::DrawCell(QPainter& painter, const tagKvListCtrlColumnData& column,
                           const tagKvListCtrlItemData& cell, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QRect text = rect.adjusted(kCellPadding, 0, -kCellPadding, 0);
    const QColor color = ColorFromRef(cell.clrText);
    if (column.bCheckBox) {
        const QRect box(rect.left() + 4, rect.top() + (rect.height() - kCheckBoxSize) / 2, kCheckBoxSize,
                        kCheckBoxSize);
        DrawCheckBox(painter, box, cell.bCheck != 0, color);
        text.setLeft(box.right() + 1 + 4);
    }
    if (column.nKind == KindProgress) {
        DrawProgressCell(painter, cell, rect);
        return;
    }
    if (column.nKind == KindChoice && !cell.combo.empty()) {
        // A small chevron tells that the cell offers a list; a cell with nothing to
        // choose from shows none.
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(ColorFromRef(colors.clrText, 160), 1.4);
        painter.setPen(pen);
        const QPointF c(rect.right() - 9, rect.center().y() + 0.5);
        const QPointF chevron[] = {c + QPointF(-3.5, -1.5), c + QPointF(0, 2), c + QPointF(3.5, -1.5)};
        painter.drawPolyline(chevron, 3);
        painter.restore();
        text.setRight(rect.right() - 16);
    }
    if (cell.szText.isEmpty())
        return;
    painter.setPen(color);
    const QFontMetrics metrics(painter.font());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(cell.szText, Qt::TextElideMode(column.nElide), std::max(0, text.width())));
}

void CKvListCtrl::DrawProgressCell(QPainter& painter, const tagKvListCtrlItemData& cell, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const QRectF bar = QRectF(rect).adjusted(kBarInset, kBarInset, -kBarInset, -kBarInset);
    QRectF fill = bar.adjusted(1.5, 1.5, -1.5, -1.5);
    fill.setWidth(fill.width() * cell.nProgress / 100.0);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(ShiftColorRef(colors.clrCtrlBK, -15));
    painter.drawRoundedRect(bar, 3, 3);
    if (cell.nProgress > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(AccentColor());
        painter.drawRoundedRect(fill, 2, 2);
    }
    if (!cell.szText.isEmpty()) {
        // The text is sized to the bar; over the amber it turns dark to stay readable.
        painter.setFont(m_progressFont);
        const QFontMetrics metrics(m_progressFont);
        const QString text = metrics.elidedText(cell.szText, Qt::ElideRight, std::max(0, int(bar.width()) - 4));
        const QRect textRect = bar.toAlignedRect();
        const QRect filled = cell.nProgress > 0 ? fill.toAlignedRect() : QRect();
        painter.save();
        painter.setClipRegion(QRegion(textRect).subtracted(QRegion(filled)), Qt::IntersectClip);
        painter.setPen(ColorFromRef(cell.clrText));
        painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
        painter.restore();
        if (!filled.isEmpty()) {
            painter.setClipRect(filled, Qt::IntersectClip);
            painter.setPen(ColorFromRef(colors.clrDlgBK));
            painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
        }
    }
    painter.restore();
}

void CKvListCtrl::DrawCheckBox(QPainter& painter, const QRect& box, bool checked, const QColor& color)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.fillRect(box, ColorFromRef(colors.clrCtrlBK));
    painter.setPen(color);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    if (checked) {
        QColor tick = color;
        tick.setAlpha(m_enabled ? 255 : 50);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(tick, 2));
        const QPoint origin = box.topLeft();
        painter.drawLine(origin + QPoint(2, 4), origin + QPoint(5, 8));
        painter.drawLine(origin + QPoint(4, 8), origin + QPoint(14, 1));
    }
    painter.restore();
}
