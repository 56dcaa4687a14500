#pragma once

// "Audio Settings": edits the current option record. Only the audio choices are on
// the window (the format, the Windows Media codec and format, and the bit rate or the
// format's one quality number, sample rate and channels); the video values of the record travel through the dialog
// unchanged except where the format defaults set them, so the engine sees a complete
// record. The record changes only when the dialog closes with OK. Below them the
// front end's own "Parallel Conversions" (how many rows Render converts at once) and
// "Output Names" (the pattern Render names its outputs after), saved with the
// front-end settings on OK. A pattern that does not parse is refused with a message,
// and the window stays open.

#include "ui/KvDialogBase.h"

#include <QString>

class CKvButton;
class CKvCheck;
class CKvComboBox;
class CKvEdit;
class CKvStatic;

namespace velmora {
struct KvAudioFormat;
class KvFrontEndState;
class KvHelpPanel;
}

class CKvMovieSettingsDlg : public CKvDialogBase
{
    Q_OBJECT

public:
    static constexpr int kWidth = 590;
    static constexpr int kHeight = 600;

    // Control identifiers.
    static constexpr int kHelpId = 24;
    static constexpr int kFormatLabelId = 37;
    static constexpr int kFormatId = 38;
    static constexpr int kWmaCodecLabelId = 40;
    static constexpr int kWmaFormatLabelId = 41;
    static constexpr int kWmaCodecId = 43;
    static constexpr int kWmaFormatId = 44;
    static constexpr int kBitrateLabelId = 50;
    static constexpr int kBitrateId = 51;
    static constexpr int kSampleRateLabelId = 52;
    static constexpr int kSampleRateId = 53;
    static constexpr int kChannelsLabelId = 54;
    static constexpr int kChannelsId = 55;
    static constexpr int kAdvancedId = 56;
    static constexpr int kParallelLabelId = 57;
    static constexpr int kParallelId = 58;
    static constexpr int kNamesLabelId = 59;
    static constexpr int kNamesId = 60;
    static constexpr int kCheckOutputLabelId = 61;
    static constexpr int kCheckOutputId = 62;
    static constexpr int kKeepFoldersLabelId = 63;
    static constexpr int kKeepFoldersId = 64;
    static constexpr int kSkipConvertedLabelId = 65;
    static constexpr int kSkipConvertedId = 66;
    static constexpr int kSplitFilesLabelId = 67;
    static constexpr int kSplitFilesId = 68;
    static constexpr int kLoudnessLabelId = 69;
    static constexpr int kLoudnessId = 70;
    static constexpr int kLoudnessByAlbumId = 71;

    // Size modes of the record.
    static constexpr int kSizePriority = 0;
    static constexpr int kBitratePriority = 1;
    static constexpr int kQualityPriority = 2;

    explicit CKvMovieSettingsDlg(velmora::KvFrontEndState& state, QWidget* parent = nullptr);
    ~CKvMovieSettingsDlg() override;

    // Runs the dialog modally: 1 after OK, 0 otherwise.
    int Run();

    void OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnCommand(int id) override;

    // The number a combo item starts with ("128 Kbps" -> 128, "44100 Hz" -> 44100);
    // -1 when the text does not start with one.
    static int LeadingNumber(const QString& text);
    // The help text for a client point (empty outside the rows).
    QString HelpTextAt(const QPoint& point) const;
    QString HelpText() const;

    CKvComboBox* Combo(int id) const;
    CKvEdit* NamesEdit() const { return m_names; }
    CKvCheck* CheckOutputBox() const { return m_checkOutput; }
    CKvCheck* KeepFoldersBox() const { return m_keepFolders; }
    CKvCheck* SkipConvertedBox() const { return m_skipConverted; }
    CKvComboBox* SplitFilesBox() const { return m_splitFiles; }
    CKvComboBox* LoudnessBox() const { return m_loudness; }
    CKvCheck* LoudnessByAlbumBox() const { return m_loudnessByAlbum; }
    CKvStatic* Label(int id) const;
    CKvButton* AdvancedButton() const { return m_advanced; }
    int SizeMode() const { return m_sizeMode; }
    int QualityItem() const { return m_qualityItem; }

protected:
    void CreateControls() override;
    void LayoutControls() override;
    void DrawFrame(QPainter& painter) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsWmaChosen() const;
    // The entry of the chosen format when it is one of the formats beyond MP3 and WMA.
    const velmora::KvAudioFormat* ChosenAudioFormat() const;
    void LoadRecord();
    // The MP3 lists, showing the record's values (stereo where it keeps the source's
    // channels).
    void FillMp3Lists();
    // The lists of format: bit rates or its quality values, "Same as source" beside the
    // rates and channels it can carry; Original keeps everything as it is.
    void FillFormatLists(const velmora::KvAudioFormat& format, int kbps, int quality, int sampleRate, int channels);
    void FillBitrates(int sampleRate, int wantedKbps);
    void FillWindowsMediaLists();
    void FillWmaFormats();
    void ApplyFormatDefaults();
    void UpdateEnabling();
    void SetHelp(const QString& text);
    static void SelectByNumber(CKvComboBox* combo, int value);
    static void SelectByData(CKvComboBox* combo, qint64 value);

    velmora::KvFrontEndState& m_state;
    int m_presetAtStart = 0;
    int m_runResult = 0;
    int m_shownFormat = -1; // the format item whose defaults the fields now hold
    bool m_listsOfFormat = false; // the lists hold a format's values, not MP3's

    CKvComboBox* m_format = nullptr;
    CKvComboBox* m_wmaCodec = nullptr;
    CKvComboBox* m_wmaFormat = nullptr;
    CKvComboBox* m_bitrate = nullptr;
    CKvComboBox* m_sampleRate = nullptr;
    CKvComboBox* m_channels = nullptr;
    CKvComboBox* m_parallel = nullptr;
    CKvEdit* m_names = nullptr;
    CKvCheck* m_checkOutput = nullptr;
    CKvCheck* m_keepFolders = nullptr;
    CKvCheck* m_skipConverted = nullptr;
    CKvComboBox* m_splitFiles = nullptr;
    CKvComboBox* m_loudness = nullptr;
    CKvCheck* m_loudnessByAlbum = nullptr;
    CKvButton* m_advanced = nullptr;
    velmora::KvHelpPanel* m_help = nullptr;

    // The values of the controls that are never placed on the window: they carry the
    // record's video settings through the dialog.
    int m_sizeMode = kBitratePriority;
    QString m_fileSize;
    QString m_videoBitrate;
    QString m_widthText;
    QString m_heightText;
    int m_qualityItem = 0;
    bool m_forceResize = false;
    bool m_flipVideo = false;
    bool m_deinterlace = false;
    bool m_smoothing = false;
    int m_overlayQuality = 0;
    int m_wmvCodec = -1; // no Windows Media video codec is offered
};
