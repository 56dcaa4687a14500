#pragma once

// In-place changes of the skinned list's cells: the edit box over a cell of kind 2
// and the in-cell choice list of kind 5. A change the user makes is written into the
// cell and announced (kMsgCellTextChanged, column * 65536 + row); an untouched cell
// announces nothing.

#include "ui/KvEditCtrl.h"
#include "ui/KvListCtrlListWnd.h"

#include <QPointer>
#include <QString>

class CKvListCtrl;

class CKvListCellEditor
{
public:
    explicit CKvListCellEditor(CKvListCtrl& list);
    ~CKvListCellEditor();
    CKvListCellEditor(const CKvListCellEditor&) = delete;
    CKvListCellEditor& operator=(const CKvListCellEditor&) = delete;

    void BeginEdit(int column, int row);
    // Writes the text back when commit and it changed.
    void EndEdit(bool commit);
    CKvEditCtrl* EditWindow() const { return m_edit.data(); }

    void OpenChoiceList(int column, int row);
    void CloseChoiceList();
    CKvListCtrlListWnd* ChoiceWindow() const { return m_choiceWnd.data(); }

private:
    CKvListCtrl& m_list;
    QPointer<CKvEditCtrl> m_edit;
    int m_editColumn = -1;
    int m_editRow = -1;
    QString m_editOldText;
    QPointer<CKvListCtrlListWnd> m_choiceWnd;
};
