#include "UiTestSupport.h"

#include "ui/KvEditCtrl.h"
#include "ui/KvListCtrl.h"
#include "ui/KvListCtrlListWnd.h"
#include "ui/KvComboBoxList.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int kListId = 26;

// A list of three columns (text, editable, progress) in a dialog.
struct ListFixture
{
    SkinFolder skin;
    CKvListCtrl* list = nullptr;
    TestDialog dialog{[this](CKvUIManager& manager) {
        list = new CKvListCtrl;
        list->Move(10, 40, 380, 200);
        manager.AddControl(kListId, list, kTypeListCtrl);
        list->InsertColumn(CKvListCtrl::KindText, 120, QStringLiteral("File"));
        list->InsertColumn(CKvListCtrl::KindEdit, 100, QStringLiteral("Start"));
        list->InsertColumn(CKvListCtrl::KindProgress, 100, QStringLiteral("State"));
    }};
    QSignalSpy* notes = nullptr;

    ListFixture()
    {
        dialog.OnInitDialog();
        notes = new QSignalSpy(dialog.Manager(), &CKvUIManager::notification);
    }
    ~ListFixture() { delete notes; }

    std::vector<std::pair<int, qint64>> Notes(int message) const
    {
        std::vector<std::pair<int, qint64>> found;
        for (const QList<QVariant>& arguments : *notes) {
            if (arguments.at(0).toInt() == message)
                found.emplace_back(message, arguments.at(2).toLongLong());
        }
        return found;
    }
    QPoint CellCenter(int column, int row) const { return list->CellRect(column, row).center(); }
};

} // namespace

TEST(KvListCtrl, AccessorsCheckTheirBoundsAndProgressIsClamped)
{
    ListFixture f;
    EXPECT_EQ(f.list->AddRow(QStringLiteral("a.mp4"), 7), 0);
    EXPECT_EQ(f.list->AddRow(QStringLiteral("b.mp4"), 8), 1);
    EXPECT_EQ(f.list->GetRowCount(), 2);
    EXPECT_EQ(f.list->GetCellText(0, 1), QStringLiteral("b.mp4"));
    EXPECT_EQ(f.list->GetCellText(1, 1), QString());
    EXPECT_EQ(f.list->GetRowData(1), 8);
    EXPECT_EQ(f.list->Cell(2, 1)->nData, 8) << "every cell carries the row data";

    f.list->SetProgress(2, 0, 150);
    EXPECT_EQ(f.list->GetProgress(2, 0), 100);
    f.list->SetProgress(2, 0, -5);
    EXPECT_EQ(f.list->GetProgress(2, 0), 0);
    f.list->SetProgress(2, 0, 42);
    EXPECT_EQ(f.list->GetProgress(2, 0), 42);

    // Outside the table: setters do nothing, getters give nothing.
    f.list->SetCellText(3, 0, QStringLiteral("x"));
    f.list->SetCellText(0, 2, QStringLiteral("x"));
    f.list->SetCellText(-1, 0, QStringLiteral("x"));
    f.list->SetProgress(2, 5, 50);
    EXPECT_EQ(f.list->GetCellText(0, 2), QString());
    EXPECT_EQ(f.list->GetCellText(9, 0), QString());
    EXPECT_EQ(f.list->GetProgress(2, -1), 0);
    EXPECT_EQ(f.list->GetRowCount(), 2);

    // A column added later gets a cell in every existing row.
    f.list->InsertColumn(CKvListCtrl::KindText, 50, QStringLiteral("Extra"));
    EXPECT_EQ(f.list->Column(3)->items.size(), 2u);
    EXPECT_EQ(f.list->Column(3)->nIndex, 3);
}

TEST(KvListCtrl, MovingRowsKeepsTheMovedRowSelected)
{
    ListFixture f;
    for (const char* name : {"a", "b", "c"})
        f.list->AddRow(QString::fromLatin1(name));
    f.list->SetCellText(2, 0, QStringLiteral("Finish"));
    f.list->SetSelectedRow(0);
    ASSERT_EQ(f.Notes(kMsgSelectedRowChanged).size(), 1u);

    EXPECT_FALSE(f.list->MoveRowUp(0)) << "the first row cannot go up";
    EXPECT_EQ(f.list->GetCellText(0, 0), QStringLiteral("a"));
    EXPECT_EQ(f.list->GetSelectedRow(), 0);

    EXPECT_TRUE(f.list->MoveRowDown(0));
    EXPECT_EQ(f.list->GetCellText(0, 0), QStringLiteral("b"));
    EXPECT_EQ(f.list->GetCellText(0, 1), QStringLiteral("a"));
    EXPECT_EQ(f.list->GetCellText(2, 1), QStringLiteral("Finish")) << "every column moves";
    EXPECT_EQ(f.list->GetSelectedRow(), 1);
    EXPECT_EQ(f.list->Cell(1, 1)->nRow, 1);
    EXPECT_TRUE(f.list->Cell(1, 1)->bSelected);
    EXPECT_FALSE(f.list->Cell(1, 0)->bSelected);

    EXPECT_FALSE(f.list->MoveRowDown(2)) << "the last row cannot go down";
    EXPECT_TRUE(f.list->MoveRowUp(1));
    EXPECT_EQ(f.list->GetCellText(0, 0), QStringLiteral("a"));

    f.list->DeleteRow(0);
    EXPECT_EQ(f.list->GetRowCount(), 2);
    EXPECT_EQ(f.list->GetSelectedRow(), -1);
    EXPECT_EQ(f.Notes(kMsgSelectedRowChanged).back().second, -1);
    f.list->SetSelectedRow(1);
    f.list->DeleteRow(0);
    EXPECT_EQ(f.list->GetSelectedRow(), 0) << "the selection follows its row";
    f.list->DeleteAllRows();
    EXPECT_EQ(f.list->GetRowCount(), 0);
    EXPECT_EQ(f.list->GetSelectedRow(), -1);
}

TEST(KvListCtrl, ClickSelectsTheRowAndNotifiesOnlyOnChange)
{
    ListFixture f;
    ASSERT_TRUE(ShowActive(f.dialog));
    f.list->AddRow(QStringLiteral("a"));
    f.list->AddRow(QStringLiteral("b"));
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.CellCenter(0, 1));
    EXPECT_EQ(f.list->GetSelectedRow(), 1);
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.CellCenter(2, 1));
    const auto changes = f.Notes(kMsgSelectedRowChanged);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].second, 1);
    EXPECT_EQ(f.dialog.Manager()->FocusControl(), f.list);
}

TEST(KvListCtrl, InPlaceEditingNotifiesOnlyWhenTheTextChanged)
{
    ListFixture f;
    ASSERT_TRUE(ShowActive(f.dialog));
    f.list->AddRow(QStringLiteral("a"));
    f.list->AddRow(QStringLiteral("b"));
    f.list->SetCellText(1, 1, QStringLiteral("00:00:01"));

    // Opening and leaving unchanged: no notification.
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.CellCenter(1, 1));
    CKvEditCtrl* edit = f.list->EditWindow();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("00:00:01"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(f.list->EditWindow(), nullptr);
    EXPECT_TRUE(f.Notes(kMsgCellTextChanged).empty());

    // Changing the text: written back, one notification with column and row.
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.CellCenter(0, 1));
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.CellCenter(1, 1));
    edit = f.list->EditWindow();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("00:00:05"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(f.list->GetCellText(1, 1), QStringLiteral("00:00:05"));
    auto changed = f.Notes(kMsgCellTextChanged);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].second, 1 * 65536 + 1);

    // An empty cell that gets text counts as changed; Escape keeps the old text.
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.CellCenter(1, 0));
    edit = f.list->EditWindow();
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QStringLiteral("7"));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(f.list->GetCellText(1, 0), QString());
    EXPECT_EQ(f.Notes(kMsgCellTextChanged).size(), 1u);
    f.list->BeginEdit(1, 0);
    QTest::keyClicks(f.list->EditWindow(), QStringLiteral("7"));
    f.list->EndEdit(true);
    changed = f.Notes(kMsgCellTextChanged);
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[1].second, 1 * 65536 + 0);
    EXPECT_EQ(f.list->GetCellText(1, 0), QStringLiteral("7"));
}

// The keyboard alone reaches every cell: the arrows choose the row and the cell, F2
// edits the cell chosen (not the row's first), the Menu key and Shift+F10 ask for the
// row's menu.
TEST(KvListCtrl, KeysChooseTheCellThatF2EditsAndAskForTheRowMenu)
{
    ListFixture f;
    ASSERT_TRUE(ShowActive(f.dialog));
    f.list->AddRow(QStringLiteral("a"));
    f.list->AddRow(QStringLiteral("b"));
    f.list->SetCellText(1, 1, QStringLiteral("1.5"));
    f.dialog.Manager()->SetFocusControl(f.list, kTypeListCtrl);
    auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(&f.dialog, key, modifiers); };

    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(f.list->GetSelectedRow(), 1);
    press(Qt::Key_F2);
    EXPECT_EQ(f.list->EditWindow(), nullptr) << "the File cell is not editable";
    press(Qt::Key_Right);
    press(Qt::Key_F2);
    ASSERT_NE(f.list->EditWindow(), nullptr);
    EXPECT_EQ(f.list->EditWindow()->text(), QStringLiteral("1.5"));
    QTest::keyClick(f.list->EditWindow(), Qt::Key_Escape);
    press(Qt::Key_Right);
    press(Qt::Key_Right); // stays on the last cell
    press(Qt::Key_Left);
    press(Qt::Key_F2);
    ASSERT_NE(f.list->EditWindow(), nullptr) << "back on the Start cell";
    QTest::keyClick(f.list->EditWindow(), Qt::Key_Escape);

    press(Qt::Key_Menu);
    press(Qt::Key_F10, Qt::ShiftModifier);
    const auto asked = f.Notes(kMsgListContextKey);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].second, 1);
    EXPECT_TRUE(f.dialog.Manager()->FocusCueVisible()) << "keys used: the list shows its focus";
}

TEST(KvListCtrl, CheckBoxesAndHeaderClicks)
{
    ListFixture f;
    ASSERT_TRUE(ShowActive(f.dialog));
    f.list->SetColumnCheckBox(0, true);
    f.list->AddRow(QStringLiteral("a"));
    f.list->AddRow(QStringLiteral("b"));

    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.list->CheckBoxRect(0, 1).center());
    EXPECT_TRUE(f.list->GetCellCheck(0, 1));
    ASSERT_EQ(f.Notes(kMsgCheckToggled).size(), 1u);
    EXPECT_EQ(f.Notes(kMsgCheckToggled)[0].second, 0);
    ASSERT_EQ(f.Notes(kMsgCellCheckClicked).size(), 1u);
    EXPECT_EQ(f.Notes(kMsgCellCheckClicked)[0].second, 0 * 65536 + 1);
    // The same cell again toggles back.
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, f.list->CheckBoxRect(0, 1).center());
    EXPECT_FALSE(f.list->GetCellCheck(0, 1));

    // Header clicks only when enabled, and never on a locked column.
    const QPoint header = f.list->HeaderRect(0).center();
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, header);
    EXPECT_FALSE(f.list->Column(0)->bHeaderCheck);
    f.list->EnableHeaderClick(true);
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, header);
    EXPECT_TRUE(f.list->Column(0)->bHeaderCheck);
    EXPECT_TRUE(f.list->GetCellCheck(0, 0));
    EXPECT_TRUE(f.list->GetCellCheck(0, 1));
    f.list->LockColumn(0, true);
    QTest::mouseClick(&f.dialog, Qt::LeftButton, {}, header);
    EXPECT_TRUE(f.list->Column(0)->bHeaderCheck);
}

TEST(KvListCtrl, DraggingADividerResizesTheColumn)
{
    ListFixture f;
    ASSERT_TRUE(ShowActive(f.dialog));
    const QRect header = f.list->HeaderRect(0);
    const QPoint divider(header.left() + header.width(), header.center().y());
    EXPECT_EQ(f.list->HitDivider(divider), 0);
    QTest::mousePress(&f.dialog, Qt::LeftButton, {}, divider);
    QTest::mouseMove(&f.dialog, divider + QPoint(30, 0));
    QTest::mouseRelease(&f.dialog, Qt::LeftButton, {}, divider + QPoint(30, 0));
    EXPECT_EQ(f.list->Column(0)->nWidth, 150);
    EXPECT_FALSE(f.dialog.Manager()->HasCapture());
}

TEST(KvListCtrl, ChoiceCellOpensItsListAndTakesTheChoice)
{
    SkinFolder skin;
    CKvListCtrl* list = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        list = new CKvListCtrl;
        list->Move(10, 40, 380, 200);
        manager.AddControl(kListId, list, kTypeListCtrl);
        list->InsertColumn(CKvListCtrl::KindChoice, 150, QStringLiteral("Track"));
    });
    ASSERT_TRUE(ShowActive(dialog));
    QSignalSpy notes(dialog.Manager(), &CKvUIManager::notification);
    list->AddRow(QStringLiteral("Track 1"));
    list->SetCellChoices(0, 0, {{QStringLiteral("Track 1"), 1}, {QStringLiteral("Track 2"), 2}});
    const QPoint cell = list->CellRect(0, 0).center();
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, cell); // selects
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, cell); // opens the list
    CKvListCtrlListWnd* popup = list->ChoiceWindow();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(20, CKvComboBoxList::kRowHeight + 5));
    EXPECT_EQ(list->GetCellText(0, 0), QStringLiteral("Track 2"));
    bool notified = false;
    for (const auto& arguments : notes)
        notified |= arguments.at(0).toInt() == kMsgCellTextChanged;
    EXPECT_TRUE(notified);
}

TEST(KvListCtrl, ScrollBarThumbDragsTheRowsIntoView)
{
    ListFixture f;
    ASSERT_TRUE(ShowActive(f.dialog));
    for (int i = 0; i < 40; ++i)
        f.list->AddRow(QStringLiteral("row %1").arg(i));
    ASSERT_TRUE(f.list->HasVScroll());
    EXPECT_FALSE(f.list->HasHScroll()) << "320 pixels of columns fit in the list";
    const QRect thumb = f.list->VThumbRect();
    const int range = f.list->ContentSize().height() - f.list->ViewRect().height();
    QTest::mousePress(&f.dialog, Qt::LeftButton, {}, thumb.center());
    QTest::mouseMove(&f.dialog, thumb.center() + QPoint(0, 500));
    QTest::mouseRelease(&f.dialog, Qt::LeftButton, {}, thumb.center() + QPoint(0, 500));
    EXPECT_EQ(f.list->ScrollY(), range);
    EXPECT_FALSE(f.dialog.Manager()->HasCapture());
    // The rows moved with the view: the point under the mouse is a later row.
    EXPECT_EQ(f.list->HitItem(f.list->ViewRect().topLeft() + QPoint(5, 5)), range / CKvListCtrl::kRowHeight);

    // Selecting by key scrolls the row back into view.
    QTest::keyClick(&f.dialog, Qt::Key_Home);
    EXPECT_EQ(f.list->GetSelectedRow(), 0);
    EXPECT_EQ(f.list->ScrollY(), 0);
}

TEST(KvListCtrl, DrawsSelectionProgressAndTheDisabledVeil)
{
    ListFixture f;
    CKvUIManager::Colors() = tagKvUiColors{};
    f.list->AddRow(QStringLiteral("a"));
    f.list->AddRow(QStringLiteral("b"));
    f.list->SetProgress(2, 1, 100);
    f.dialog.Manager()->Compose();
    const CKvUIManager& manager = *f.dialog.Manager();
    const QRect bar = f.list->CellRect(2, 1);
    const QColor empty = PixelAt(manager, bar.left() + 8, bar.top() + 6);
    f.list->SetProgress(2, 1, 0, true);
    EXPECT_NE(PixelAt(manager, bar.left() + 8, bar.top() + 6), empty) << "a full bar is filled";

    const QPoint inRow = f.list->CellRect(0, 0).topLeft() + QPoint(3, 2);
    const QColor before = PixelAt(manager, inRow.x(), inRow.y());
    f.list->SetSelectedRow(0);
    EXPECT_NE(PixelAt(manager, inRow.x(), inRow.y()), before);
    f.list->Enable(false);
    f.dialog.Manager()->Compose();
    const QColor veiled = PixelAt(manager, inRow.x(), inRow.y());
    EXPECT_NE(veiled, before);
    EXPECT_FALSE(f.list->OnMouseMessage(kLButtonDown, f.list->CellRect(0, 1).center()));
    EXPECT_EQ(f.list->GetSelectedRow(), 0);
}

// The progress cell: the amber fill, its text within the bar (dark over the amber,
// light beside it), and all of it unveiled while the list is locked.
TEST(KvListCtrl, ProgressCellsAreAmberReadableAndStayClearOfTheVeil)
{
    ListFixture f;
    CKvUIManager::Colors() = tagKvUiColors{};
    f.list->AddRow(QStringLiteral("a"));
    f.list->SetCellText(2, 0, QStringLiteral(" 50.000%"));
    f.list->SetProgress(2, 0, 50);
    const CKvUIManager& manager = *f.dialog.Manager();
    const QRect cell = f.list->CellRect(2, 0);
    auto inspect = [&](bool enabled) {
        f.list->Enable(enabled, false);
        f.dialog.Manager()->Compose();
        // Amber at the left end of the fill, in its middle row.
        EXPECT_EQ(PixelAt(manager, cell.left() + 7, cell.center().y()), AccentColor()) << enabled;
        // The text stays inside the bar: the cell's top and bottom three rows carry none.
        const QColor background = PixelAt(manager, cell.left() + 1, cell.top() + 1);
        for (int x = cell.left() + 4; x < cell.right() - 4; ++x) {
            for (int y : {cell.top(), cell.top() + 1, cell.bottom() - 1, cell.bottom()})
                ASSERT_EQ(PixelAt(manager, x, y), background) << enabled << " " << x << "," << y;
        }
        // The text is there, on both sides of the fill's end: in the dialog colour over
        // the amber, in the text colour beside it.
        const tagKvUiColors& colors = CKvUIManager::Colors();
        auto near = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 40;
        };
        int dark = 0;
        int light = 0;
        for (int x = cell.left() + 4; x < cell.right() - 4; ++x) {
            for (int y = cell.top() + 5; y < cell.bottom() - 4; ++y) {
                const QColor pixel = PixelAt(manager, x, y);
                dark += x < cell.center().x() && near(pixel, ColorFromRef(colors.clrDlgBK));
                light += x > cell.center().x() && near(pixel, ColorFromRef(colors.clrText));
            }
        }
        EXPECT_GT(dark, 5) << enabled;
        EXPECT_GT(light, 5) << enabled;
    };
    inspect(true);
    inspect(false);
}

// With fill on, the shown columns share the list's width in proportion and follow it
// when it grows; a dragged divider sets the new proportions.
TEST(KvListCtrl, FilledColumnsShareTheWidthAndFollowTheList)
{
    ListFixture f;
    auto sum = [&f] {
        int width = 0;
        for (int column = 0; column < f.list->GetColumnCount(); ++column)
            width += f.list->Column(column)->bShow ? f.list->Column(column)->nWidth : 0;
        return width;
    };
    EXPECT_EQ(sum(), 320) << "off: the columns keep their widths";
    f.list->SetFillWidth(true);
    EXPECT_EQ(sum(), 378);
    f.list->Move(10, 40, 980, 200);
    EXPECT_EQ(sum(), 978);
    EXPECT_NEAR(f.list->Column(0)->nWidth, 120 * 978 / 320, 1);
    EXPECT_FALSE(f.list->HasHScroll());
    // Rows that need a vertical bar leave it its room.
    for (int row = 0; row < 12; ++row)
        f.list->AddRow(QStringLiteral("row"));
    EXPECT_EQ(sum(), 978 - CKvWindow::kScrollBarSize);
    EXPECT_FALSE(f.list->HasHScroll());
    f.list->ShowColumn(1, false);
    EXPECT_EQ(sum(), 978 - CKvWindow::kScrollBarSize);
    f.list->ShowColumn(1, true);
    // Narrower than the columns' own widths: they keep them and scroll.
    f.list->Move(10, 40, 200, 200);
    EXPECT_EQ(sum(), 320);
    EXPECT_EQ(f.list->HitColumn(f.CellCenter(1, 0)), 1);
    EXPECT_EQ(f.list->HitColumn(QPoint(0, 0)), -1);
}
