#include "UiTestSupport.h"

#include "ui/KvButton.h"
#include "ui/KvComboBox.h"
#include "ui/KvEdit.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvProgress.h"
#include "ui/KvStatic.h"
#include "ui/KvUIManager.h"

#include <QTest>

#include <gtest/gtest.h>

#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

// The dialogs load "skin/mainwnd.xml" under the program folder.
void WriteSkin(const SkinFolder& skin, const QString& body)
{
    skin.Write("skin/mainwnd.xml", ("<?xml version=\"1.0\"?>\n<skin>\n" + body + "\n</skin>\n").toUtf8());
}

} // namespace

TEST(KvUIManager, SkinWithTwoBackgroundsUsesTheFirst)
{
    SkinFolder skin;
    skin.SaveImage("skin/bg/first.png", SkinFolder::Filled(8, 8, Qt::red));
    skin.SaveImage("skin/bg/second.png", SkinFolder::Filled(8, 8, Qt::blue));
    WriteSkin(skin, "<background>skin/bg/first.png</background>\n<background>skin/bg/second.png</background>");
    TestDialog dialog;
    dialog.OnInitDialog();
    dialog.Manager()->Compose();
    // Below the title strip and inside the border, only the background shows.
    EXPECT_EQ(PixelAt(*dialog.Manager(), 200, 200), QColor(Qt::red));
}

TEST(KvUIManager, UnreadableFirstBackgroundStillCountsAsTheOne)
{
    SkinFolder skin;
    skin.SaveImage("skin/bg/second.png", SkinFolder::Filled(8, 8, Qt::blue));
    WriteSkin(skin, "<background>skin/bg/missing.png</background>\n<background>skin/bg/second.png</background>");
    CKvUIManager::Colors().clrDlgBK = 0x00112233;
    TestDialog dialog;
    dialog.OnInitDialog();
    dialog.Manager()->Compose();
    EXPECT_FALSE(dialog.Manager()->HasBackground());
    EXPECT_EQ(PixelAt(*dialog.Manager(), 200, 200), QColor(0x33, 0x22, 0x11));
    CKvUIManager::Colors() = tagKvUiColors{};
}

TEST(KvUIManager, LoadsControlsFontsAndToolTipsFromTheDescription)
{
    SkinFolder skin;
    skin.SaveImage("skin/btn/ok.png", SkinFolder::Strip(20, 20, {Qt::red, Qt::green, Qt::blue, Qt::yellow}));
    WriteSkin(skin, R"(
<font id="3" size="13" bold="1"><name>Arial</name></font>
<font id="9" size="11"><name>A face name far longer than thirty-one characters</name></font>
<button x="10" y="40" width="20" height="20" id="100" state="4" fontid="3">
  <background>skin/btn/ok.png</background>
  <tooltip>first\r\nsecond</tooltip>
  <text>Go</text>
</button>
<sedit x="10" y="70" width="120" height="22" id="101" number="1" fontid="9"><text>42</text></sedit>
<combobox x="10" y="100" width="120" height="150" id="102" edited="0"/>
<progress x="10" y="130" width="120" height="16" id="103" minpos="0" maxpos="10" curpos="4"/>
<static x="10" y="150" width="120" height="16" id="104"><text>Label</text></static>
<unknown x="1" y="1" width="1" height="1" id="105"/>
)");
    TestDialog dialog;
    dialog.OnInitDialog();
    CKvUIManager& manager = *dialog.Manager();

    ASSERT_EQ(manager.ControlCount(), 5);
    CKvButton* button = manager.FindControl(100, kTypeButton);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Rect(), QRect(10, 40, 20, 20));
    EXPECT_EQ(button->FontId(), 3);
    EXPECT_EQ(button->GetCaption(), QStringLiteral("Go"));
    EXPECT_EQ(button->ToolTipText(), QStringLiteral("first\nsecond"));
    EXPECT_EQ(button->Image().size(), QSize(80, 20));
    EXPECT_EQ(manager.FindControl(100, kTypeCheck), nullptr) << "the type code is part of the key";

    auto* edit = manager.Find<CKvEdit>(101, kTypeEdit);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(edit->EditWindow(), nullptr) << "an edit field owns its text field from registration";
    EXPECT_EQ(edit->GetCaption(), QStringLiteral("42"));
    EXPECT_TRUE(edit->IsNumberOnly());
    EXPECT_EQ(edit->FontId(), 9);
    EXPECT_EQ(edit->EditWindow()->font().pixelSize(), 11) << "the field follows the font of the description";

    auto* combo = manager.Find<CKvComboBox>(102, kTypeComboBox);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->DropHeight(), 150);
    EXPECT_FALSE(combo->IsEditable());

    auto* progress = manager.Find<CKvProgress>(103, kTypeProgress);
    ASSERT_NE(progress, nullptr);
    EXPECT_DOUBLE_EQ(progress->Pos(), 4.0);
    EXPECT_DOUBLE_EQ(progress->MaxPos(), 10.0);
    EXPECT_EQ(manager.FindControl(104, kTypeStatic)->FontId(), 6);

    const tagKvFontData* font = CKvUIManager::FindFont(3);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->nSize, 13);
    EXPECT_EQ(font->bBold, 1);
    EXPECT_EQ(font->szName, QStringLiteral("Arial"));
    const tagKvFontData* longName = CKvUIManager::FindFont(9);
    ASSERT_NE(longName, nullptr);
    EXPECT_TRUE(longName->szName.isEmpty());
}

TEST(KvUIManager, MissingSkinFileLeavesCodeCreatedControlsWorking)
{
    SkinFolder skin;
    TestDialog dialog({}, true);
    QWidget notAWindow;
    CKvUIManager other;
    EXPECT_EQ(other.LoadSkin(nullptr, skin.Path() + "skin/mainwnd.xml"), 0);
    EXPECT_EQ(other.LoadSkin(&notAWindow, skin.Path() + "skin/none.xml"), 1);
    dialog.OnInitDialog();
    EXPECT_FALSE(dialog.Manager()->HasBackground());
    EXPECT_NE(dialog.Manager()->FindControl(2, kTypeButton), nullptr);
    EXPECT_NE(dialog.Manager()->FindControl(1, kTypeTextButton), nullptr);
    EXPECT_NE(dialog.Manager()->FindControl(2, kTypeTextButton), nullptr);
}

TEST(KvUIManager, AddControlGivesEachKindItsDefaultFont)
{
    SkinFolder skin;
    QWidget host;
    CKvUIManager manager;
    manager.SetWindow(&host);
    const std::pair<int, int> expected[] = {
        {kTypeCheck, 6}, {kTypeRadio, 6}, {kTypeStatic, 6}, {kTypeCustom23, 6}, {kTypeLinkButton, 3},
        {kTypeListCtrl, 3}, {kTypeButton, 77}, {kTypeMenuButton, 77}, {kTypeCustom15, 77}, {kTypeSlider, 1},
        {kTypeTextButton, 1}, {kTypeProgress, 1},
    };
    for (const auto& [typeCode, font] : expected) {
        auto* control = new CKvButton;
        control->SetFontId(77);
        manager.AddControl(typeCode + 1000, control, typeCode);
        EXPECT_EQ(control->FontId(), font) << "type " << typeCode;
        EXPECT_EQ(control->Manager(), &manager);
        EXPECT_EQ(control->ParentWindow(), &host);
        EXPECT_EQ(control->Id(), typeCode + 1000);
    }
}

TEST(KvUIManager, TabWalksTheControlsAndWraps)
{
    SkinFolder skin;
    CKvButton* first = nullptr;
    CKvButton* second = nullptr;
    CKvButton* hidden = nullptr;
    CKvEdit* edit = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        first = new CKvButton;
        first->Move(10, 40, 30, 30);
        manager.AddControl(1, first, kTypeButton);
        auto* label = new CKvStatic;
        label->Move(10, 80, 100, 20);
        manager.AddControl(2, label, kTypeStatic);
        hidden = new CKvButton;
        hidden->Move(50, 40, 30, 30);
        manager.AddControl(3, hidden, kTypeButton);
        second = new CKvButton;
        second->Move(90, 40, 30, 30);
        manager.AddControl(4, second, kTypeButton);
        edit = new CKvEdit;
        edit->Move(10, 120, 120, 22);
        manager.AddControl(5, edit, kTypeEdit);
    });
    ASSERT_TRUE(ShowActive(dialog));
    hidden->Show(false);
    CKvUIManager& manager = *dialog.Manager();
    // Showing the dialog put the caret in its text field, as dialogs do.
    EXPECT_EQ(manager.FocusControl(), edit);
    manager.SetFocusControl(nullptr, kTypeButton);
    dialog.setFocus();
    ASSERT_EQ(manager.FocusControl(), nullptr);

    QTest::keyClick(&dialog, Qt::Key_Tab);
    EXPECT_EQ(manager.FocusControl(), first);
    EXPECT_TRUE(first->HasFocus());
    QTest::keyClick(&dialog, Qt::Key_Tab);
    EXPECT_EQ(manager.FocusControl(), second);
    EXPECT_FALSE(first->HasFocus());
    QTest::keyClick(&dialog, Qt::Key_Tab);
    EXPECT_EQ(manager.FocusControl(), edit);
    EXPECT_TRUE(edit->EditWindow()->hasFocus()) << "typing goes to the real field";
    // TAB pressed inside the text field moves on as well, and wraps.
    QTest::keyClick(edit->EditWindow(), Qt::Key_Tab);
    EXPECT_EQ(manager.FocusControl(), first);
    EXPECT_FALSE(edit->HasFocus());
    // Shift+TAB walks back, wrapping the other way.
    QTest::keyClick(&dialog, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(manager.FocusControl(), edit);
    QTest::keyClick(edit->EditWindow(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(manager.FocusControl(), second);

    // A dialog's own order comes first; what it leaves out follows as registered.
    manager.SetTabOrder({edit, second});
    manager.SetFocusControl(nullptr, kTypeButton);
    dialog.setFocus();
    std::vector<CKvButton*> walked;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(manager.FocusControl() == edit ? static_cast<QWidget*>(edit->EditWindow()) : &dialog, Qt::Key_Tab);
        walked.push_back(manager.FocusControl());
    }
    EXPECT_EQ(walked, (std::vector<CKvButton*>{edit, second, first, edit}));
}

TEST(KvUIManager, FocusSkipsKindsThatNeverTakeIt)
{
    SkinFolder skin;
    QWidget host;
    CKvUIManager manager;
    manager.SetWindow(&host);
    auto* button = new CKvButton;
    manager.AddControl(1, button, kTypeButton);
    auto* strip = new CKvButton;
    manager.AddControl(2, strip, kTypeHListBox);
    manager.SetFocusControl(button, kTypeButton);
    manager.SetFocusControl(strip, kTypeHListBox);
    EXPECT_FALSE(button->HasFocus()) << "the old control lost the focus";
    EXPECT_FALSE(strip->HasFocus());
    EXPECT_EQ(manager.FocusControl(), nullptr);
}

TEST(KvUIManager, DispatchPassesOverEmbeddedEditsAndUnknownCodes)
{
    SkinFolder skin;
    QWidget host;
    host.resize(200, 100);
    CKvUIManager manager;
    manager.SetWindow(&host);
    CKvButton* controls[3] = {new CKvButton, new CKvButton, new CKvButton};
    const int codes[3] = {kTypeButton, kTypeEmbeddedEdit, 24};
    for (int i = 0; i < 3; ++i) {
        controls[i]->Move(10, 10, 50, 50);
        manager.AddControl(i, controls[i], codes[i]);
    }
    manager.Dispatch(kMouseMove, QPoint(20, 20));
    EXPECT_EQ(controls[0]->GetLook(), CKvButton::LookHover);
    EXPECT_EQ(controls[1]->GetLook(), CKvButton::LookNormal) << "the dialog feeds these itself";
    EXPECT_EQ(controls[2]->GetLook(), CKvButton::LookNormal) << "codes above 23 are left alone";
    EXPECT_EQ(manager.FindControl(2, 24), controls[2]) << "but they are still registered";
}
