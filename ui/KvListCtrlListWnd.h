#pragma once

#include "ui/KvComboBoxWnd.h"

// The in-cell choice list of a list control cell of kind 5.
class CKvListCtrlListWnd : public CKvComboBoxWnd
{
    Q_OBJECT

public:
    CKvListCtrlListWnd(QWidget* owner, int column, int row);

    int Column() const { return m_column; }
    int Row() const { return m_row; }

private:
    int m_column;
    int m_row;
};
