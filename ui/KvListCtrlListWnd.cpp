#include "ui/KvListCtrlListWnd.h"

CKvListCtrlListWnd::CKvListCtrlListWnd(QWidget* owner, int column, int row)
    : CKvComboBoxWnd(owner)
    , m_column(column)
    , m_row(row)
{
}
