#pragma once

// The program's own message box: a skinned dialog with a text and one of three
// button sets, returning the same codes as the system message box. The size
// follows the text: wider for long texts, as tall as the wrapped text needs, but
// never more than 80% of the screen either way; a longer text scrolls inside the
// box (wheel, scroll bar, arrow and page keys). Lines break between words, and a
// word too long for a line breaks inside; a line that is one long path is shortened
// in its middle instead, keeping the file name at its end in view.

#include "ui/KvDialogBase.h"

#include <QString>

#include <functional>

class CKvButton;
class CKvWindow;

class CKvMessageDlg : public CKvDialogBase
{
    Q_OBJECT

public:
    // Button sets.
    static constexpr int kStyleOk = 0;
    static constexpr int kStyleOkCancel = 1;
    static constexpr int kStyleYesNo = 4;
    // Results.
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;
    static constexpr int kIdYes = 6;
    static constexpr int kIdNo = 7;
    // Control ids besides the base's OK (1), Cancel (2) and close button (2).
    static constexpr int kLabelId = 48;
    // Client size of the template before the text is measured.
    static constexpr int kTemplateWidth = 360;
    static constexpr int kTemplateHeight = 150;
    static constexpr int kWideTextLength = 256;
    static constexpr int kWideExtra = 120;
    // The box keeps within this share of the screen's free area, in per cent.
    static constexpr int kMaxScreenShare = 80;
    // Height of the box besides the text: caption strip, margins, buttons.
    static constexpr int kChromeHeight = 100;

    CKvMessageDlg(const QString& caption, const QString& text, int style, QWidget* parent = nullptr);
    ~CKvMessageDlg() override;

    // Runs the dialog modally and returns the pressed button's code.
    int Run();
    int MessageResult() const { return m_messageResult; }
    QString Text() const { return m_text; }
    int Style() const { return m_style; }
    // The text as shown (long paths shortened in the middle).
    QString ShownText() const { return m_shownText; }
    // The text's box; it scrolls when the text is taller than the box.
    CKvWindow* TextBox() const;
    bool TextScrolls() const;

    void OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnCommand(int id) override;

protected:
    void CreateControls() override;
    void LayoutControls() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString m_caption;
    QString m_text;
    QString m_shownText;
    int m_style = kStyleOk;
    int m_messageResult = kIdCancel;
    int m_labelHeight = 0;
    CKvWindow* m_label = nullptr;
    CKvButton* m_yesButton = nullptr;
    CKvButton* m_noButton = nullptr;
};

namespace velmora {

// Shows a message with the caption "Tips" (or the caller's caption) and returns the
// pressed button's code.
int KvMessageBox(const QString& text, int style = CKvMessageDlg::kStyleOk, QWidget* parent = nullptr);
int KvMessageBox(const QString& caption, const QString& text, int style, QWidget* parent = nullptr);

// Tests: while a hook is set, KvMessageBox asks it instead of opening a window and
// returns its answer. An empty function removes the hook.
using KvMessageHook = std::function<int(const QString& caption, const QString& text, int style)>;
void SetMessageHookForTesting(KvMessageHook hook);

} // namespace velmora
