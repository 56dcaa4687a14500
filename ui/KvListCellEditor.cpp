#include "ui/KvListCellEditor.h"

#include "ui/KvComboBoxList.h"
#include "ui/KvListCtrl.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QWidget>

#include <algorithm>
#include <utility>

using namespace velmora;

CKvListCellEditor::CKvListCellEditor(CKvListCtrl& list)
    : m_list(list)
{
}

CKvListCellEditor::~CKvListCellEditor()
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

void CKvListCellEditor::CloseChoiceList()
{
    if (m_choiceWnd)
        m_choiceWnd->close();
}

void CKvListCellEditor::BeginEdit(int column, int row)
{
    const tagKvListCtrlItemData* cell = m_list.Cell(column, row);
    if (!cell || !m_list.m_parent)
        return;
    if (m_edit) {
        if (m_editColumn == column && m_editRow == row)
            return;
        EndEdit(true);
    }
    m_list.EnsureVisible(QRect(m_list.ColumnLeft(column), row * CKvListCtrl::kRowHeight, m_list.m_columns[size_t(column)]->nWidth, CKvListCtrl::kRowHeight));
    const QRect box = m_list.CellRect(column, row).intersected(m_list.ViewRect()).adjusted(1, 1, -1, -1);
    if (box.isEmpty())
        return;

    auto* edit = new CKvEditCtrl(m_list.m_parent);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, ShiftColorRef(colors.clrCtrlBK, -10));
    palette.setColor(QPalette::Text, ColorFromRef(colors.clrText));
    palette.setColor(QPalette::Highlight, ShiftColorRef(colors.clrDlgEdge, 20));
    palette.setColor(QPalette::HighlightedText, ColorFromRef(colors.clrText));
    edit->setPalette(palette);
    edit->setFont(m_list.m_cellFont);
    edit->setTextMargins(CKvListCtrl::kCellPadding - 3, 0, 0, 0);
    edit->setGeometry(box);
    edit->setText(cell->szText);
    edit->selectAll();
    m_edit = edit;
    m_editColumn = column;
    m_editRow = row;
    m_editOldText = cell->szText;
    QObject::connect(edit, &CKvEditCtrl::editingEnded, edit, [this, edit](bool committed) {
        if (m_edit == edit)
            EndEdit(committed);
    });
    edit->show();
    edit->setFocus(Qt::OtherFocusReason);
}

void CKvListCellEditor::EndEdit(bool commit)
{
    if (!m_edit)
        return;
    CKvEditCtrl* edit = m_edit.data();
    m_edit.clear();
    const QString text = edit->text();
    const int column = std::exchange(m_editColumn, -1);
    const int row = std::exchange(m_editRow, -1);
    edit->disconnect();
    // The list keeps the keys: the window takes the focus back before the box goes,
    // or Qt would pass it on to the next control as if TAB had been pressed.
    const bool hadFocus = edit->hasFocus();
    if (m_list.m_parent && (m_list.m_focus || hadFocus))
        m_list.m_parent->setFocus(Qt::OtherFocusReason);
    edit->hide();
    edit->deleteLater();
    if (!commit || !m_list.Cell(column, row))
        return;
    // Only a real change counts: an untouched cell must not look edited.
    if (text == m_editOldText)
        return;
    m_list.MutableCell(column, row)->szText = text;
    m_list.Redraw(true);
    if (m_list.m_manager)
        m_list.m_manager->SendNotify(kMsgCellTextChanged, &m_list, CKvListCtrl::CellParam(column, row));
}

void CKvListCellEditor::OpenChoiceList(int column, int row)
{
    const tagKvListCtrlItemData* cell = m_list.Cell(column, row);
    if (!cell || cell->combo.empty() || !m_list.m_parent)
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
    const QRect rect = m_list.CellRect(column, row);
    auto* popup = new CKvListCtrlListWnd(m_list.m_parent, column, row);
    const int height = std::min(int(entries.size()) * CKvComboBoxList::kRowHeight + 2, 8 * CKvComboBoxList::kRowHeight + 2);
    popup->List()->SetFontId(m_list.m_fontId);
    popup->List()->Move(0, 0, rect.width(), height);
    popup->SetEntries(entries, current);
    QObject::connect(popup, &CKvComboBoxWnd::chosen, popup, [this, column, row](int index) {
        const tagKvListCtrlItemData* data = m_list.Cell(column, row);
        if (!data || index < 0 || index >= int(data->combo.size()))
            return;
        const QString text = data->combo[size_t(index)].szText;
        if (text == data->szText)
            return;
        m_list.MutableCell(column, row)->szText = text;
        m_list.Redraw(true);
        if (m_list.m_manager)
            m_list.m_manager->SendNotify(kMsgCellTextChanged, &m_list, CKvListCtrl::CellParam(column, row));
    });
    m_choiceWnd = popup;
    popup->Popup(m_list.m_parent->mapToGlobal(QPoint(rect.left(), rect.top() + rect.height())), QSize(rect.width(), height));
}
