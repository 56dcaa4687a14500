#pragma once

#include "ui/KvEditCtrl.h"
#include "ui/KvListCellEditor.h"
#include "ui/KvListCtrlListWnd.h"
#include "ui/KvWindow.h"

#include <QFont>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CKvListHeader;
class CKvMenuEx;

struct tagKvListCtrlItemComboData
{
    QString szText;
    qint64 nData = 0;
};

struct tagKvListCtrlItemData
{
    QString szText;
    uint32_t clrText = 0;
    int nRow = 0;
    int nHeight = 22;
    int nKind = 0;
    int bCheck = 0;
    int nProgress = 0; // 0..100
    int bSelected = 0;
    qint64 nData = 0;  // the row data given to AddRow
    std::vector<tagKvListCtrlItemComboData> combo;
};

struct tagKvListCtrlColumnData
{
    QString szHeader;
    int nWidth = 0;
    int nKind = 0;
    int bShow = 1;
    int bHeaderCheck = 0;
    int bLocked = 0;
    int nIndex = 0;
    int bCheckBox = 0; // cells of this column carry a check box
    int nElide = Qt::ElideRight; // where a text too long for its cell loses characters
    int bOffered = 1;  // listed in the header's "&View" menu
    int nBaseWidth = 0; // the width the column has before the list fills its width
    std::vector<std::unique_ptr<tagKvListCtrlItemData>> items;
};

// The table of the media list: columns of cells with a header, selection by
// row, scroll bars, check boxes, text over a progress bar, in-place editing
// (kind 2) and in-cell choice lists (kind 5). The progress cells stay readable
// while the list is disabled: they show what a running job does.
class CKvListCtrl : public CKvWindow
{
public:
    enum Kind { KindText = 0, KindEdit = 2, KindProgress = 4, KindChoice = 5 };
    static constexpr int kHeaderHeight = 25;
    static constexpr int kRowHeight = 22;
    static constexpr int kCheckBoxSize = 15;
    static constexpr int kCellPadding = 6; // between a cell's edge and its text
    static constexpr int kMinColumnWidth = 10;
    static constexpr double kBarInset = 3.5; // a progress bar inside its cell, every side

    CKvListCtrl();
    ~CKvListCtrl() override;

    bool OnMouseMessage(int message, const QPoint& point) override;
    bool OnKey(const QKeyEvent& event) override;
    bool OnWheel(int delta, const QPoint& point) override;
    void KillFocus() override;
    void Enable(bool enable, bool redraw = true) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;
    QSize ContentSize() const override;
    QRect ViewRect() const override;
    int HitItem(const QPoint& point) const override;
    void DrawItems(QPainter& painter, const QRect& view) override;
    bool OnItemMouse(int message, const QPoint& point) override;

    int InsertColumn(int kind, int width, const QString& header);
    int AddRow(const QString& text, qint64 data = 0);
    // The same at row at (0 to GetRowCount()): the rows from there on move down one.
    int InsertRow(int at, const QString& text, qint64 data = 0);
    void SetCellText(int column, int row, const QString& text, bool redraw = false);
    QString GetCellText(int column, int row) const;
    void SetProgress(int column, int row, int value, bool redraw = false);
    int GetProgress(int column, int row) const;
    void SetCellCheck(int column, int row, bool checked, bool redraw = false);
    bool GetCellCheck(int column, int row) const;
    void SetCellColor(int column, int row, uint32_t colorRef, bool redraw = false);
    void SetCellChoices(int column, int row, const std::vector<tagKvListCtrlItemComboData>& choices);
    qint64 GetRowData(int row) const;
    int GetRowCount() const;
    int GetColumnCount() const { return static_cast<int>(m_columns.size()); }
    const tagKvListCtrlColumnData* Column(int column) const;
    const tagKvListCtrlItemData* Cell(int column, int row) const;
    int GetSelectedRow() const { return m_selectedRow; }
    void SetSelectedRow(int row, bool redraw = true);
    bool MoveRowUp(int row);
    bool MoveRowDown(int row);
    void DeleteRow(int row);
    void DeleteAllRows();

    void ShowColumn(int column, bool show, bool redraw = true);
    void SetColumnCheckBox(int column, bool checkBox);
    void SetColumnElide(int column, Qt::TextElideMode mode);
    // The width a column has before the list fills its width (InsertColumn's width).
    void SetColumnBaseWidth(int column, int width);
    int ColumnBaseWidth(int column) const;
    // Whether the header's "&View" menu lists the column (all are, at first).
    void SetColumnOffered(int column, bool offered);
    // With fill on, the shown columns widen in proportion to their widths when the
    // list is wider than they are, so no empty band is left at the right.
    void SetFillWidth(bool fill);
    bool FillsWidth() const { return m_fillWidth; }
    void LockColumn(int column, bool locked);
    void EnableHeaderClick(bool enable) { m_headerClick = enable; }
    // Cells use a 20-pixel line of the application's face unless told otherwise.
    void SetCellFont(const QFont& font) { m_cellFont = font; }
    const QFont& CellFont() const { return m_cellFont; }

    // In-place editing of a cell of kind 2; EndEdit writes the text back.
    void BeginEdit(int column, int row) { m_editor->BeginEdit(column, row); }
    void EndEdit(bool commit = true) { m_editor->EndEdit(commit); }
    CKvEditCtrl* EditWindow() const { return m_editor->EditWindow(); }
    void OpenChoiceList(int column, int row) { m_editor->OpenChoiceList(column, row); }
    CKvListCtrlListWnd* ChoiceWindow() const { return m_editor->ChoiceWindow(); }
    // What assistive technology reads for a cell: the reader's words where it gives
    // any (the front end's for a row's state, say), else the cell's text.
    using CellReader = std::function<QString(int column, int row)>;
    void SetAccessibleCellReader(CellReader reader) { m_cellReader = std::move(reader); }
    QString AccessibleCellText(int column, int row) const;

    // The notification parameter of a cell: column * 65536 + row.
    static qint64 CellParam(int column, int row);

    // Geometry, in client coordinates, for drawing, tests and dialogs.
    QRect CellRect(int column, int row) const;
    QRect HeaderRect(int column) const;
    QRect CheckBoxRect(int column, int row) const;
    // Column whose right divider lies under the point, or -1.
    int HitDivider(const QPoint& point) const;
    // Column of the cell under the point, or -1.
    int HitColumn(const QPoint& point) const;
    void Move(int x, int y, int width, int height, bool redraw = false) override;

protected:
    int HeaderHeight() const override { return kHeaderHeight; }

private:
    friend class CKvListCtrlPainter;
    friend class CKvListCellEditor;
    friend class CKvListHeader;

    struct CellPos
    {
        int column = -1;
        int row = -1;
    };

    tagKvListCtrlItemData* MutableCell(int column, int row);
    CellPos HitCell(const QPoint& point) const;
    int ColumnLeft(int column) const; // content x of the column's left edge
    void OnLeftDown(const QPoint& point);
    void SelectCell(const CellPos& cell);
    void RenumberRows();
    void Redraw(bool redraw);
    void FitColumns();

    std::vector<std::unique_ptr<tagKvListCtrlColumnData>> m_columns;
    int m_selectedRow = -1;
    CellPos m_current;
    QFont m_headerFont;
    QFont m_cellFont;
    QFont m_progressFont;
    bool m_headerClick = false;
    bool m_fillWidth = false;
    std::unique_ptr<CKvListCellEditor> m_editor;
    std::unique_ptr<CKvListHeader> m_header;
    CellReader m_cellReader;
};
