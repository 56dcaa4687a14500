#include "ui/KvListCtrl.h"

#include "ui/KvAccessible.h"
#include "ui/KvListHeader.h"
#include "ui/KvListCtrlPainter.h"
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

constexpr int kDividerGrip = 3;

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

} // namespace

CKvListCtrl::CKvListCtrl()
    : m_headerFont(FontWithLineHeight(QStringLiteral("Arial"), 16))
    , m_cellFont(FontWithLineHeight(QApplication::font().family(), 20))
    , m_progressFont(FontWithLineHeight(QApplication::font().family(), kRowHeight - int(2 * kBarInset) - 1))
    , m_editor(std::make_unique<CKvListCellEditor>(*this))
    , m_header(std::make_unique<CKvListHeader>(*this))
{
}

CKvListCtrl::~CKvListCtrl() = default;

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
    m_header->AddViewMenuItem(header);
    FitColumns();
    return GetColumnCount() - 1;
}

int CKvListCtrl::AddRow(const QString& text, qint64 data)
{
    return InsertRow(GetRowCount(), text, data);
}

int CKvListCtrl::InsertRow(int at, const QString& text, qint64 data)
{
    if (m_columns.empty() || at < 0 || at > GetRowCount())
        return -1;
    const int row = at;
    const bool appended = row == GetRowCount();
    if (!appended)
        EndEdit(true);
    for (auto& column : m_columns) {
        auto cell = std::make_unique<tagKvListCtrlItemData>();
        cell->clrText = CKvUIManager::Colors().clrText;
        cell->nRow = row;
        cell->nKind = column->nKind;
        cell->nData = data;
        if (column->nIndex == 0)
            cell->szText = text;
        column->items.insert(column->items.begin() + row, std::move(cell));
    }
    if (!appended) {
        RenumberRows();
        if (m_selectedRow >= row) {
            ++m_selectedRow;
            m_current.row = m_selectedRow;
        }
    }
    // A vertical scroll bar may have come: the columns share what is left.
    FitColumns();
    NotifyAccessibleRows(this);
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
        const bool changed = cell->szText != text;
        cell->szText = text;
        Redraw(redraw);
        if (changed)
            NotifyAccessibleCell(this, column, row);
    }
}

QString CKvListCtrl::AccessibleCellText(int column, int row) const
{
    if (!Cell(column, row))
        return QString();
    if (m_cellReader) {
        const QString words = m_cellReader(column, row);
        if (!words.isEmpty())
            return words;
    }
    return GetCellText(column, row);
}

QString CKvListCtrl::GetCellText(int column, int row) const
{
    const tagKvListCtrlItemData* cell = Cell(column, row);
    return cell ? cell->szText : QString();
}

void CKvListCtrl::SetProgress(int column, int row, int value, bool redraw)
{
    if (tagKvListCtrlItemData* cell = MutableCell(column, row)) {
        const int progress = std::clamp(value, 0, 100);
        const bool changed = cell->nProgress != progress;
        cell->nProgress = progress;
        Redraw(redraw);
        if (changed)
            NotifyAccessibleCell(this, column, row);
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
    NotifyAccessibleRows(this);
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
    NotifyAccessibleRows(this);
    return true;
}

void CKvListCtrl::DeleteRow(int row)
{
    if (row < 0 || row >= GetRowCount())
        return;
    EndEdit(false);
    m_editor->CloseChoiceList();
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
    NotifyAccessibleRows(this);
}

void CKvListCtrl::DeleteAllRows()
{
    EndEdit(false);
    m_editor->CloseChoiceList();
    for (auto& column : m_columns)
        column->items.clear();
    FitColumns();
    const bool hadSelection = m_selectedRow >= 0;
    m_selectedRow = -1;
    m_current = CellPos{};
    SetScroll(ScrollX(), 0);
    Redraw(true);
    NotifyAccessibleRows(this);
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
    NotifyAccessibleRows(this);
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
    if (!m_fillWidth || m_header->IsResizing())
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
    if (m_header->IsResizing())
        return m_header->OnResizeMouse(message, point);
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
        if (!captured)
            m_header->ShowDividerCursor(inside && HitDivider(point) >= 0);
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
            m_header->OpenViewMenu(point);
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

void CKvListCtrl::OnLeftDown(const QPoint& point)
{
    if (m_manager)
        m_manager->SetFocusControl(this, m_typeCode);

    if (m_header->OnLeftDown(point))
        return;

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
            if (!EditWindow())
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
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (m_current.row >= 0) {
            // To the next shown column that way; at the last one the cell stays.
            const int step = event.key() == Qt::Key_Left ? -1 : 1;
            for (int column = m_current.column + step; column >= 0 && column < GetColumnCount(); column += step) {
                const QRect cell = CellRect(column, m_current.row);
                if (cell.isEmpty())
                    continue;
                m_current.column = column;
                EnsureVisible(cell.translated(ScrollX() - ViewRect().left(), ScrollY() - ViewRect().top()));
                break;
            }
            Redraw(true);
        }
        return true;
    case Qt::Key_F2:
        if (m_current.row >= 0 && m_current.column >= 0
            && m_columns[size_t(m_current.column)]->nKind == KindEdit)
            BeginEdit(m_current.column, m_current.row);
        return true;
    case Qt::Key_Menu:
        if (m_selectedRow >= 0 && m_manager)
            m_manager->SendNotify(kMsgListContextKey, this, m_selectedRow);
        return true;
    case Qt::Key_F10:
        if (!(event.modifiers() & Qt::ShiftModifier))
            return false;
        if (m_selectedRow >= 0 && m_manager)
            m_manager->SendNotify(kMsgListContextKey, this, m_selectedRow);
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
    if (EditWindow() && EditWindow()->hasFocus())
        return;
    EndEdit(true);
}

void CKvListCtrl::Enable(bool enable, bool redraw)
{
    if (!enable) {
        EndEdit(true);
        m_editor->CloseChoiceList();
    }
    CKvWindow::Enable(enable, redraw);
}

// ---- in-place editing and in-cell lists ----------------------------------------

// ---- drawing -----------------------------------------------------------------

void CKvListCtrl::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    SetScroll(ScrollX(), ScrollY());
    painter.fillRect(rect, ColorFromRef(colors.clrCtrlBK));

    CKvListCtrlPainter(*this).DrawHeader(painter);
    const QRect view = ViewRect();
    painter.save();
    painter.setClipRect(view, Qt::IntersectClip);
    DrawItems(painter, view);
    painter.restore();
    DrawScrollBars(painter);

    if (const int resizeX = m_header->ResizeX(); resizeX >= 0) {
        painter.save();
        painter.setClipRect(QRect(rect.left(), rect.top(), view.right() - rect.left() + 1, rect.height()));
        painter.setPen(ColorFromRef(colors.clrDlgEdge));
        painter.drawLine(resizeX, rect.top(), resizeX, rect.bottom());
        painter.restore();
    }

    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    if (ShowsFocusCue()) {
        DrawFocusCue(painter, rect, 1.0);
        // The cell that F2 edits and the arrows move from.
        const QRect cell = CellRect(m_current.column, m_current.row);
        if (m_current.row >= 0 && m_current.column >= 0 && !cell.isEmpty()) {
            painter.save();
            painter.setClipRect(view);
            DrawFocusCue(painter, cell, 1.0);
            painter.restore();
        }
    }

    CKvListCtrlPainter drawer(*this);
    drawer.DrawHint(painter, view, m_toolTipText);
    if (!m_enabled)
        drawer.DrawVeil(painter, rect, view);
}

void CKvListCtrl::DrawItems(QPainter& painter, const QRect& view)
{
    CKvListCtrlPainter(*this).DrawItems(painter, view);
}

qint64 CKvListCtrl::CellParam(int column, int row)
{
    return qint64(column) * 65536 + row;
}
