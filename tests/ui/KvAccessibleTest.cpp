#include "UiTestSupport.h"

#include "ui/KvAccessible.h"
#include "ui/KvButton.h"
#include "ui/KvCheck.h"
#include "ui/KvComboBox.h"
#include "ui/KvEdit.h"
#include "ui/KvListCtrl.h"
#include "ui/KvProgress.h"
#include "ui/KvStatic.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

struct Seen
{
    QAccessible::Event type;
    QAccessibleInterface* iface;
};

std::vector<Seen>* g_seen = nullptr;

void Record(QAccessibleEvent* event)
{
    if (g_seen)
        g_seen->push_back({event->type(), event->accessibleInterface()});
}

// Listens as assistive technology would, recording every event, while it lives.
class Listener
{
public:
    Listener()
    {
        g_seen = &m_seen;
        SetAccessibleEventSinkForTesting(Record);
    }
    ~Listener()
    {
        SetAccessibleEventSinkForTesting(nullptr);
        g_seen = nullptr;
    }
    bool Saw(QAccessible::Event type, QAccessibleInterface* iface) const
    {
        for (const Seen& seen : m_seen) {
            if (seen.type == type && seen.iface == iface)
                return true;
        }
        return false;
    }
    void Clear() { m_seen.clear(); }

private:
    std::vector<Seen> m_seen;
};

std::vector<std::pair<QAccessible::Role, QString>> RolesAndNames(QAccessibleInterface* iface)
{
    std::vector<std::pair<QAccessible::Role, QString>> seen;
    for (int i = 0; i < iface->childCount(); ++i)
        seen.emplace_back(iface->child(i)->role(), iface->child(i)->text(QAccessible::Name));
    return seen;
}

} // namespace

TEST(KvAccessible, DialogListsItsShownControlsInTabOrderNamedAfterTheirLabelsAndPressesThem)
{
    SkinFolder skin;
    CKvStatic* label = nullptr;
    CKvComboBox* combo = nullptr;
    CKvEdit* edit = nullptr;
    CKvButton* add = nullptr;
    CKvButton* hidden = nullptr;
    CKvCheck* check = nullptr;
    CKvProgress* progress = nullptr;
    auto dialog = std::make_unique<TestDialog>([&](CKvUIManager& manager) {
        label = new CKvStatic;
        label->SetCaption(QStringLiteral("&Volume"));
        manager.AddControl(10, label, kTypeStatic);
        combo = new CKvComboBox;
        manager.AddControl(11, combo, kTypeComboBox);
        combo->AddString(QStringLiteral("Low"));
        combo->AddString(QStringLiteral("High"));
        combo->SetCurSel(1, false);
        combo->SetAccessibleLabel(label);
        edit = new CKvEdit;
        manager.AddControl(12, edit, kTypeEdit);
        edit->SetCaption(QStringLiteral("{name}"));
        edit->SetAccessibleName(QStringLiteral("Output Names"));
        add = new CKvButton;
        add->SetToolTip(QStringLiteral("Add..."));
        manager.AddControl(13, add, kTypeButton);
        hidden = new CKvButton;
        hidden->SetCaption(QStringLiteral("Hidden"));
        hidden->Show(false, false);
        manager.AddControl(14, hidden, kTypeButton);
        check = new CKvCheck;
        check->SetCaption(QStringLiteral("On"));
        check->SetToolTip(QStringLiteral("Plays every output back"));
        manager.AddControl(15, check, kTypeCheck);
        progress = new CKvProgress;
        progress->SetPos(42.0, false);
        manager.AddControl(16, progress, kTypeProgress);
    });
    ASSERT_TRUE(ShowActive(*dialog));
    CKvUIManager& manager = *dialog->Manager();
    label->Move(10, 10, 80, 22);
    combo->Move(100, 10, 120, 22);
    edit->Move(100, 40, 120, 22);
    add->Move(10, 70, 40, 40);
    check->Move(100, 70, 120, 22);
    progress->Move(10, 120, 200, 20);

    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(dialog.get());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Dialog);
    // The hidden button is left out; the edit field is its real text field.
    const std::vector<std::pair<QAccessible::Role, QString>> expected = {
        {QAccessible::StaticText, QStringLiteral("Volume")}, {QAccessible::ComboBox, QStringLiteral("Volume")},
        {QAccessible::EditableText, QStringLiteral("Output Names")}, {QAccessible::Button, QStringLiteral("Add...")},
        {QAccessible::CheckBox, QStringLiteral("On")},       {QAccessible::ProgressBar, QString()},
    };
    EXPECT_EQ(RolesAndNames(window), expected);
    ASSERT_EQ(window->childCount(), 6);
    EXPECT_EQ(window->child(2)->object(), edit->EditWindow());
    for (int i = 0; i < window->childCount(); ++i) {
        EXPECT_EQ(window->indexOfChild(window->child(i)), i);
        EXPECT_EQ(window->child(i)->parent(), window) << i;
    }
    EXPECT_EQ(window->child(4)->text(QAccessible::Description), QStringLiteral("Plays every output back"));
    EXPECT_EQ(window->child(3)->rect(), QRect(dialog->mapToGlobal(QPoint(10, 70)), QSize(40, 40)));
    const QAccessible::Id addId = QAccessible::uniqueId(window->child(3));
    EXPECT_EQ(QAccessible::uniqueId(window->child(3)), addId) << "asked again, the same interface";

    // The combo box's value is its text; its name follows the label's words.
    QAccessibleInterface* comboIface = window->child(1);
    EXPECT_EQ(comboIface->text(QAccessible::Value), QStringLiteral("High"));
    combo->SetCurSel(0, false);
    EXPECT_EQ(comboIface->text(QAccessible::Value), QStringLiteral("Low"));
    label->SetCaption(QStringLiteral("Loudness"));
    EXPECT_EQ(comboIface->text(QAccessible::Name), QStringLiteral("Loudness"));
    const auto labels = comboIface->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first, window->child(0));

    QAccessibleInterface* progressIface = window->child(5);
    ASSERT_NE(progressIface->valueInterface(), nullptr);
    EXPECT_DOUBLE_EQ(progressIface->valueInterface()->currentValue().toDouble(), 42.0);
    EXPECT_EQ(progressIface->text(QAccessible::Value), QStringLiteral("42%"));

    // Pressing works as a click does, once the caller has its answer; a disabled
    // button does nothing.
    QSignalSpy commands(&manager, &CKvUIManager::command);
    QAccessibleInterface* addIface = window->child(3);
    ASSERT_NE(addIface->actionInterface(), nullptr);
    addIface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(commands.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(commands.count(), 1, 1000);
    EXPECT_EQ(commands.at(0).at(0).toInt(), 13);
    add->Enable(false, false);
    EXPECT_TRUE(addIface->state().disabled);
    addIface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTest::qWait(50);
    EXPECT_EQ(commands.count(), 1);

    QAccessibleInterface* checkIface = window->child(4);
    EXPECT_TRUE(checkIface->state().checkable);
    EXPECT_FALSE(checkIface->state().checked);
    checkIface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE_WITH_TIMEOUT(commands.count(), 2, 1000);
    EXPECT_TRUE(check->IsChecked());
    EXPECT_TRUE(checkIface->state().checked);

    {
        // What listening assistive technology hears.
        Listener listener;
        manager.SetFocusControl(check, kTypeCheck);
        EXPECT_TRUE(listener.Saw(QAccessible::Focus, checkIface));
        EXPECT_EQ(window->focusChild(), checkIface);
        EXPECT_TRUE(checkIface->state().focused);
        check->SetCheck(false);
        EXPECT_TRUE(listener.Saw(QAccessible::StateChanged, checkIface));
        progress->SetPos(60.0, false);
        EXPECT_TRUE(listener.Saw(QAccessible::ValueChanged, progressIface));
        listener.Clear();
        progress->SetPos(60.0, false);
        EXPECT_FALSE(listener.Saw(QAccessible::ValueChanged, progressIface)) << "no change, no event";
    }

    // The interfaces go with their controls.
    dialog.reset();
    EXPECT_EQ(QAccessible::accessibleInterface(addId), nullptr);
}

TEST(KvAccessible, ListControlIsATableOfItsShownColumnsWhoseCellsFollowTheRows)
{
    SkinFolder skin;
    CKvListCtrl* list = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        list = new CKvListCtrl;
        manager.AddControl(20, list, kTypeListCtrl);
    });
    ASSERT_TRUE(ShowActive(dialog));
    list->SetAccessibleName(QStringLiteral("Media files"));
    list->Move(0, 0, 400, 200);
    list->InsertColumn(CKvListCtrl::KindText, 150, QStringLiteral("&File"));
    list->InsertColumn(CKvListCtrl::KindText, 50, QStringLiteral("Hidden"));
    list->InsertColumn(CKvListCtrl::KindProgress, 150, QStringLiteral("State"));
    list->ShowColumn(1, false, false);
    for (const char* file : {"a.mp4", "b.mp4", "c.mp4"})
        list->AddRow(QString::fromLatin1(file));
    list->SetCellText(2, 0, QStringLiteral("Ready"));
    list->SetCellText(2, 1, QStringLiteral("42.500%"));
    list->SetProgress(2, 1, 42);
    list->SetCellText(2, 2, QStringLiteral("Failed"));
    // The reader's words win over the cell's text; where it has none, the text stands.
    list->SetAccessibleCellReader([list](int column, int row) {
        if (column != 2 || row == 0)
            return QString();
        return row == 1 ? QStringLiteral("Converting %1%").arg(list->GetProgress(column, row))
                        : QStringLiteral("Failed: the disk is full");
    });

    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&dialog);
    ASSERT_EQ(window->childCount(), 1);
    QAccessibleInterface* tableIface = window->child(0);
    EXPECT_EQ(tableIface->role(), QAccessible::Table);
    EXPECT_EQ(tableIface->text(QAccessible::Name), QStringLiteral("Media files"));
    QAccessibleTableInterface* table = tableIface->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->columnCount(), 2) << "the hidden column is left out";
    EXPECT_EQ(table->columnDescription(0), QStringLiteral("File"));
    EXPECT_EQ(table->columnDescription(1), QStringLiteral("State"));
    // Headers first among the children, then the cells row by row.
    EXPECT_EQ(tableIface->childCount(), 8);
    EXPECT_EQ(tableIface->child(0)->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(tableIface->child(1)->text(QAccessible::Name), QStringLiteral("State"));

    std::vector<QString> states;
    for (int row = 0; row < 3; ++row) {
        QAccessibleInterface* cell = table->cellAt(row, 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->role(), QAccessible::Cell);
        EXPECT_EQ(cell->parent(), tableIface);
        EXPECT_EQ(tableIface->indexOfChild(cell), 2 + row * 2 + 1);
        EXPECT_EQ(tableIface->child(2 + row * 2 + 1), cell);
        ASSERT_NE(cell->tableCellInterface(), nullptr);
        EXPECT_EQ(cell->tableCellInterface()->rowIndex(), row);
        EXPECT_EQ(cell->tableCellInterface()->columnIndex(), 1);
        EXPECT_EQ(cell->tableCellInterface()->columnHeaderCells().value(0), tableIface->child(1));
        states.push_back(cell->text(QAccessible::Name));
    }
    EXPECT_EQ(states, (std::vector<QString>{QStringLiteral("Ready"), QStringLiteral("Converting 42%"),
                                            QStringLiteral("Failed: the disk is full")}));
    EXPECT_EQ(table->cellAt(2, 0)->text(QAccessible::Name), QStringLiteral("c.mp4"));
    EXPECT_EQ(table->cellAt(3, 0), nullptr);
    EXPECT_EQ(table->cellAt(0, 2), nullptr);
    EXPECT_EQ(table->cellAt(0, 0)->rect(), QRect(dialog.mapToGlobal(list->CellRect(0, 0).topLeft()),
                                                 list->CellRect(0, 0).size()));

    // Selecting a row over the table is a click on it.
    EXPECT_TRUE(table->selectRow(1));
    EXPECT_EQ(list->GetSelectedRow(), 1);
    EXPECT_EQ(table->selectedRows(), QList<int>{1});
    EXPECT_TRUE(table->cellAt(1, 0)->state().selected);

    // A cell stands for its place: after a move it reads the row now there, and the
    // cells of a row that went are let go.
    QAccessibleInterface* last = table->cellAt(2, 0);
    const QAccessible::Id lastId = QAccessible::uniqueId(last);
    QAccessibleInterface* first = table->cellAt(0, 0);
    list->MoveRowDown(0);
    EXPECT_EQ(first->text(QAccessible::Name), QStringLiteral("b.mp4"));
    list->DeleteRow(2);
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(QAccessible::accessibleInterface(lastId), nullptr);
    EXPECT_EQ(tableIface->childCount(), 6);
    list->DeleteAllRows();
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(tableIface->childCount(), 2);
}
