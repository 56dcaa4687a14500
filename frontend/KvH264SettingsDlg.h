#pragma once

// "Advanced": the H.264 encoder choices (profile, P frames, B frames) kept in
// "skin/h264.dat". OK stores the three indices in the front-end state and saves the
// file; Cancel changes nothing.

#include "ui/KvDialogBase.h"

#include <QString>

class CKvComboBox;

namespace velmora {
class KvFrontEndState;
class KvHelpPanel;
}

class CKvH264SettingsDlg : public CKvDialogBase
{
    Q_OBJECT

public:
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 270;

    static constexpr int kProfileId = 16;
    static constexpr int kPFrameId = 17;
    static constexpr int kBFrameId = 18;
    static constexpr int kHelpId = 19;

    explicit CKvH264SettingsDlg(velmora::KvFrontEndState& state, QWidget* parent = nullptr);
    ~CKvH264SettingsDlg() override;

    // Runs the dialog modally: 1 after OK, 0 otherwise.
    int Run();

    void OnInitDialog() override;
    void OnOK() override;
    void OnCommand(int id) override;

    // The help for a client point (empty outside the three combos).
    QString HelpTextAt(const QPoint& point) const;
    QString HelpText() const;
    CKvComboBox* Combo(int id) const;

protected:
    void CreateControls() override;
    void LayoutControls() override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void UpdateEnabling();
    void SetHelp(const QString& text);

    velmora::KvFrontEndState& m_state;
    int m_runResult = 0;
    CKvComboBox* m_profile = nullptr;
    CKvComboBox* m_pFrames = nullptr;
    CKvComboBox* m_bFrames = nullptr;
    velmora::KvHelpPanel* m_help = nullptr;
};
