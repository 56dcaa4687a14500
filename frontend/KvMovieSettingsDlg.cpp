#include "frontend/KvMovieSettingsDlg.h"

#include "common/KvAudioFormats.h"
#include "common/KvMp3Rates.h"
#include "common/KvOptionRecord.h"
#include "common/KvWmProfile.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvH264SettingsDlg.h"
#include "frontend/KvHelpPanel.h"
#include "frontend/KvMessageDlg.h"
#include "project/KvDecoderSettings.h"
#include "project/KvSideFiles.h"
#include "ui/KvCheck.h"
#include "ui/KvComboBox.h"
#include "ui/KvEdit.h"
#include "ui/KvStatic.h"
#include "ui/KvTextButton.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

using namespace velmora;

namespace {

constexpr int kRowHeight = 22;
constexpr int kLabelLeft = 11;
// The short fields are wider than the classic 85 pixels: "Same as source" and the drop
// button do not fit into 85 in this font; the format list holds the longest names.
constexpr int kShortField = 130;
constexpr int kFormatField = 180;
// Labels are drawn centred in their box, so they share the field's top to sit on the
// same baseline as the field's text.
constexpr int kLabelRaise = 2;
// The label text starts clear of the frame line it would otherwise touch.
constexpr int kLabelIndent = 10;
constexpr int kDropHeight = 160;


// The rows of the window: the label's identifier, its text, its top, and the help
// shown while the pointer is over the row.
struct RowSpec
{
    int labelId;
    const char* label;
    int labelTop;
    const char* help;
};

const RowSpec kRows[] = {
    {CKvMovieSettingsDlg::kFormatLabelId, "Format", 85, "Audio Format"},
    {CKvMovieSettingsDlg::kWmaCodecLabelId, "WMA Code", 115, "Windows Media Audio Code"},
    {CKvMovieSettingsDlg::kWmaFormatLabelId, "WMA Format", 145, "Windows Media Audio Format"},
    {CKvMovieSettingsDlg::kBitrateLabelId, "Audio Bitrate", 175,
     "Here we can set the Audio Bitrate of target video, higher Audio Bitrate, higher Audio Quality and "
     "Larger size."},
    {CKvMovieSettingsDlg::kSampleRateLabelId, "Audio Sample Rate", 205,
     "Here we can set the Audio Sample Rate(in samples/sec, Hz) of the target video."},
    {CKvMovieSettingsDlg::kChannelsLabelId, "Audio Channels", 235,
     "Here we can set the number of the Audio Channels of the target video."},
    {CKvMovieSettingsDlg::kParallelLabelId, "Parallel Conversions", 265,
     "How many files Render converts at the same time. More files at once use more processor cores and "
     "finish sooner; 1 converts one file after another."},
    {CKvMovieSettingsDlg::kNamesLabelId, "Output Names", 295,
     "How Render names the files: {name} the file's name without extension, {n} the output number (001, "
     "002, ...), {title}, {artist} and {album} from the file's tags, {track} its track number (01, 02, ...), "
     "{chapter} a split track's title. A taken name gets the next number; without {n}, "
     "\" (2)\", \" (3)\" and so on. The default is (output{n}){name}."},
    {CKvMovieSettingsDlg::kCheckOutputLabelId, "Check Every Output", 325,
     "Plays every file back once it is written, before it gets its name: a file that does not play to its "
     "end fails its row instead of passing as finished. It costs a few per cent of the time."},
    {CKvMovieSettingsDlg::kKeepFoldersLabelId, "Keep Folder Structure", 355,
     "Files found in a folder you added or dropped are written under the same sub-folders of the target "
     "folder, so a library keeps its shape."},
    {CKvMovieSettingsDlg::kSkipConvertedLabelId, "Skip Files Already Converted", 385,
     "Files that an earlier Render into the same target folder converted with the same settings, and whose "
     "outputs are still there, are passed over. A file that changed since converts again. What this needs is "
     "kept in the hidden file .velmora-manifest.jsonl of the target folder."},
    {CKvMovieSettingsDlg::kSplitFilesLabelId, "Split Files with Chapters", 415,
     "Audiobooks, concerts and album rips hold many tracks: chapters, or a CUE sheet beside the file. Ask "
     "offers to split them into one row per track each time you add such files; Always splits them, Never "
     "keeps them whole. A row's menu can split it at any time."},
    {CKvMovieSettingsDlg::kLoudnessLabelId, "Loudness", 445,
     "Brings every output to the same loudness (EBU R128): a target in LUFS is met with one gain for the whole "
     "file, measured first and kept under a true peak of -1 dBTP (-14 suits streaming, -23 broadcast). "
     "ReplayGain Tags leaves the sound as it is and tells players how loud it is. By Album measures the files of "
     "one album (their album tag, else their folder) together and gives them one gain, so its quiet songs stay "
     "quiet. Off keeps the sound as it is."},
};

// The choices of "Loudness": their item data is the target (LUFS), 1 for ReplayGain
// tags, 0 for off.
constexpr int kLoudnessReplayGain = 1;

// The choices of "Parallel Conversions": 1 up to twice the processor cores (at least 4).
int MostParallelConversions()
{
    return std::min(KvFrontEndState::kMaxParallelConversions,
                    std::max(4, 2 * KvFrontEndState::DefaultParallelConversions()));
}

// The quality list of the (unplaced) quality combo: "1" to "49".
constexpr int kQualityItems = 49;
constexpr int kMp3DefaultQualityItem = 24;

// The bit rates offered for a format with a range of them (the record's own value is
// added where it lies between).
constexpr int kBitrateSteps[] = {6,   8,   12,  16,  24,  32,  40,  48,  56,  64,  80,
                                 96,  112, 128, 160, 192, 224, 256, 320, 384, 448, 510};

const QString kSameAsSource = QStringLiteral("Same as source");
const QString kKeptAsItIs = QStringLiteral("kept as it is");

// What the bit-rate row is called for a format: its quality number's name where it
// has one.
QString BitrateRowLabel(const KvAudioFormat* format)
{
    if (format == nullptr || format->maxKbps > 0 || format->qualityName == nullptr)
        return QStringLiteral("Audio Bitrate");
    switch (format->outputType) {
    case kKvOutputFlac:
        return QStringLiteral("Compression Level");
    case kKvOutputWav:
        return QStringLiteral("Bits per Sample");
    case kKvOutputMp3Vbr:
        return QStringLiteral("VBR Quality");
    default:
        return QStringLiteral("Audio Quality");
    }
}

// The text of one of a format's quality values.
QString QualityText(const KvAudioFormat& format, int value)
{
    const bool lowest = value == format.minQuality;
    const bool highest = value == format.maxQuality;
    switch (format.outputType) {
    case kKvOutputFlac:
        return QString::number(value) + (lowest ? QStringLiteral(" (fastest)") : highest ? QStringLiteral(" (smallest)") : QString());
    case kKvOutputWav:
        return value == 0 ? kSameAsSource : QStringLiteral("%1 bit").arg(value);
    case kKvOutputMp3Vbr:
        return QStringLiteral("V%1").arg(value) + (lowest ? QStringLiteral(" (best)") : highest ? QStringLiteral(" (smallest)") : QString());
    default:
        return QString::number(value) + (lowest ? QStringLiteral(" (smallest)") : highest ? QStringLiteral(" (best)") : QString());
    }
}

} // namespace

CKvMovieSettingsDlg::CKvMovieSettingsDlg(KvFrontEndState& state, QWidget* parent)
    : CKvDialogBase(parent)
    , m_state(state)
    , m_presetAtStart(state.CurrentPresetIndex())
{
    setWindowTitle(QStringLiteral("Audio Settings"));
    resize(kWidth, kHeight);
}

CKvMovieSettingsDlg::~CKvMovieSettingsDlg() = default;

int CKvMovieSettingsDlg::Run()
{
    m_runResult = 0;
    exec();
    return m_runResult;
}

void CKvMovieSettingsDlg::CreateControls()
{
    CKvDialogBase::CreateControls();
    CKvUIManager* manager = Manager();

    for (const RowSpec& row : kRows) {
        auto* label = new CKvStatic;
        label->SetCaption(QString::fromLatin1(row.label));
        label->SetAlignment(CKvButton::AlignLeft);
        manager->AddControl(row.labelId, label, kTypeStatic);
    }

    auto combo = [manager](int id) {
        auto* box = new CKvComboBox;
        box->SetDropHeight(kDropHeight);
        manager->AddControl(id, box, kTypeComboBox);
        return box;
    };
    m_format = combo(kFormatId);
    m_format->AddString(QStringLiteral("MP3"), kKvOutputMp3);
    m_format->AddString(QStringLiteral("WMA"), kKvOutputWma);
    for (const KvAudioFormat& format : AudioFormats())
        m_format->AddString(QString::fromLatin1(format.label), format.outputType);
    m_format->SetDropHeight(m_format->GetCount() * 22 + 2);

    m_advanced = new CKvTextButton(QStringLiteral("Advanced"));
    manager->AddControl(kAdvancedId, m_advanced, kTypeTextButton);

    m_wmaCodec = combo(kWmaCodecId);
    m_wmaFormat = combo(kWmaFormatId);
    // Only what the chosen format can carry: for MP3 the bit rates follow the sample
    // rate. The lists are filled when the record is loaded.
    m_bitrate = combo(kBitrateId);
    m_sampleRate = combo(kSampleRateId);
    m_channels = combo(kChannelsId);
    m_parallel = combo(kParallelId);
    for (int count = 1; count <= MostParallelConversions(); ++count)
        m_parallel->AddString(QString::number(count), count);

    m_names = new CKvEdit;
    manager->AddControl(kNamesId, m_names, kTypeEdit);
    // The field is a widget of its own: the pointer over it never reaches this window.
    if (m_names->EditWindow())
        m_names->EditWindow()->installEventFilter(this);

    m_checkOutput = new CKvCheck;
    m_checkOutput->SetCaption(QStringLiteral("On"));
    manager->AddControl(kCheckOutputId, m_checkOutput, kTypeCheck);
    m_keepFolders = new CKvCheck;
    m_keepFolders->SetCaption(QStringLiteral("On"));
    manager->AddControl(kKeepFoldersId, m_keepFolders, kTypeCheck);
    m_skipConverted = new CKvCheck;
    m_skipConverted->SetCaption(QStringLiteral("On"));
    manager->AddControl(kSkipConvertedId, m_skipConverted, kTypeCheck);
    m_splitFiles = combo(kSplitFilesId);
    m_splitFiles->AddString(QStringLiteral("Ask"), int(KvFrontEndState::SplitFiles::Ask));
    m_splitFiles->AddString(QStringLiteral("Always"), int(KvFrontEndState::SplitFiles::Always));
    m_splitFiles->AddString(QStringLiteral("Never"), int(KvFrontEndState::SplitFiles::Never));
    m_splitFiles->SetDropHeight(3 * 22 + 2);
    m_loudness = combo(kLoudnessId);
    m_loudness->AddString(QStringLiteral("Off"), 0);
    for (int target : KvFrontEndState::kLoudnessTargets)
        m_loudness->AddString(QStringLiteral("%1 LUFS").arg(target), target);
    m_loudness->AddString(QStringLiteral("ReplayGain Tags"), kLoudnessReplayGain);
    m_loudness->SetDropHeight(6 * 22 + 2);
    m_loudnessByAlbum = new CKvCheck;
    m_loudnessByAlbum->SetCaption(QStringLiteral("By Album"));
    manager->AddControl(kLoudnessByAlbumId, m_loudnessByAlbum, kTypeCheck);
    m_loudnessByAlbum->SetAccessibleName(QStringLiteral("Loudness by Album"));

    // Each field is named after the label of its row.
    const std::pair<int, CKvButton*> labelled[] = {
        {kFormatLabelId, m_format},         {kWmaCodecLabelId, m_wmaCodec},   {kWmaFormatLabelId, m_wmaFormat},
        {kBitrateLabelId, m_bitrate},       {kSampleRateLabelId, m_sampleRate}, {kChannelsLabelId, m_channels},
        {kParallelLabelId, m_parallel},     {kNamesLabelId, m_names},         {kCheckOutputLabelId, m_checkOutput},
        {kKeepFoldersLabelId, m_keepFolders}, {kSkipConvertedLabelId, m_skipConverted},
        {kSplitFilesLabelId, m_splitFiles}, {kLoudnessLabelId, m_loudness},
    };
    for (const auto& [labelId, field] : labelled)
        field->SetAccessibleLabel(Label(labelId));

    m_help = new KvHelpPanel;
    manager->AddControl(kHelpId, m_help, kTypeStatic);
    m_help->SetFontId(KvHelpPanel::kFontId);
}

void CKvMovieSettingsDlg::LayoutControls()
{
    CKvDialogBase::LayoutControls();
    const int w = width();
    const int h = height();
    const int labelWidth = w / 3 - kLabelLeft;
    const int fieldLeft = w / 3 + 5;
    const int longField = 2 * w / 3 - 53;
    for (const RowSpec& row : kRows) {
        if (CKvStatic* label = Label(row.labelId))
            label->Move(kLabelLeft + kLabelIndent, row.labelTop - kLabelRaise, labelWidth - kLabelIndent, kRowHeight);
    }
    if (!m_format)
        return;
    m_format->Move(fieldLeft, 83, kFormatField, kRowHeight);
    m_advanced->Move(fieldLeft + kFormatField + 10, 83, longField - kFormatField - 10, kRowHeight);
    m_wmaCodec->Move(fieldLeft, 113, longField, kRowHeight);
    m_wmaFormat->Move(fieldLeft, 143, longField, kRowHeight);
    m_bitrate->Move(fieldLeft, 173, kShortField, kRowHeight);
    m_sampleRate->Move(fieldLeft, 203, kShortField, kRowHeight);
    m_channels->Move(fieldLeft, 233, kShortField, kRowHeight);
    m_parallel->Move(fieldLeft, 263, kShortField, kRowHeight);
    m_names->Move(fieldLeft, 293, longField, kRowHeight);
    m_checkOutput->Move(fieldLeft, 323, kShortField, kRowHeight);
    m_keepFolders->Move(fieldLeft, 353, kShortField, kRowHeight);
    m_skipConverted->Move(fieldLeft, 383, kShortField, kRowHeight);
    m_splitFiles->Move(fieldLeft, 413, kShortField, kRowHeight);
    m_loudness->Move(fieldLeft, 443, kShortField, kRowHeight);
    m_loudnessByAlbum->Move(fieldLeft + kShortField + 12, 443, longField - kShortField - 12, kRowHeight);
    m_help->Move(kLabelLeft, 484, w - 22, h - 524);
}

void CKvMovieSettingsDlg::DrawFrame(QPainter& painter)
{
    CKvDialogBase::DrawFrame(painter);
    const tagKvUiColors& colors = CKvUIManager::Colors();
    const int w = width();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(ColorFromRef(colors.clrDlgEdge));
    painter.drawRect(QRect(10, 40, w - 22, 434));
    painter.setPen(ColorFromRef(colors.clrDlgEdge, 100));
    painter.drawRect(QRect(11, 41, w - 24, 432));
    painter.restore();
}

void CKvMovieSettingsDlg::OnInitDialog()
{
    if (QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = parentWidget() ? parentWidget()->frameGeometry() : screen->availableGeometry();
        move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    CKvDialogBase::OnInitDialog();
    LoadRecord();
    // The keys start on the first choice; Enter anywhere but on a button is OK.
    Manager()->SetFocusControl(m_format, kTypeComboBox);
    Manager()->Invalidate();
}

void CKvMovieSettingsDlg::LoadRecord()
{
    const tagKvOptionRecord& record = m_state.CurrentRecord();
    m_sizeMode = record.nSizeMode;
    m_fileSize = QString::number(record.nFileSizeMB);
    m_videoBitrate = QString::number(record.nVideoBitrate);
    m_widthText = QString::number(record.nWidth);
    m_heightText = QString::number(record.nHeight);
    m_qualityItem = std::clamp(record.nQuality - 1, 0, kQualityItems - 1);
    m_forceResize = record.bForceResize != 0;
    m_flipVideo = record.bFlipVideo != 0;
    m_deinterlace = ReadDecoderSettings(m_state.ProgramFolder()).isDeinterlace.value_or(0) != 0;
    int smoothing = 0;
    LoadSmoothing(m_state.ProgramFolder(), smoothing);
    m_smoothing = smoothing != 0;
    m_overlayQuality = record.nOverlayQuality;

    // A record of a type this window does not offer shows MP3, as it always has.
    SelectByData(m_format, FindAudioFormat(record.nOutputType) || record.nOutputType == kKvOutputWma
                               ? record.nOutputType
                               : kKvOutputMp3);
    m_shownFormat = m_format->GetCurSel();
    if (const KvAudioFormat* format = ChosenAudioFormat())
        FillFormatLists(*format, record.nAudioBitrate, record.nAudioQuality, record.nSampleRate, record.nChannels);
    else
        FillMp3Lists();
    m_listsOfFormat = ChosenAudioFormat() != nullptr;
    SelectByData(m_parallel, std::min(m_state.ParallelConversions(), MostParallelConversions()));
    m_names->SetCaption(QString::fromStdWString(m_state.OutputNamePattern().Text()));
    m_checkOutput->SetCheck(m_state.CheckEveryOutput(), false);
    m_keepFolders->SetCheck(m_state.KeepFolderStructure(), false);
    m_skipConverted->SetCheck(m_state.SkipConverted(), false);
    SelectByData(m_splitFiles, int(m_state.SplitFilesOnAdd()));
    const KvFrontEndState::Loudness loudness = m_state.OutputLoudness();
    SelectByData(m_loudness, loudness.mode == KvFrontEndState::LoudnessMode::Off          ? 0
                             : loudness.mode == KvFrontEndState::LoudnessMode::ReplayGain ? kLoudnessReplayGain
                                                                                          : loudness.target);
    m_loudnessByAlbum->SetCheck(loudness.byAlbum, false);

    FillWindowsMediaLists();
    UpdateEnabling();
}

void CKvMovieSettingsDlg::FillMp3Lists()
{
    const tagKvOptionRecord& record = m_state.CurrentRecord();
    Label(kBitrateLabelId)->SetCaption(BitrateRowLabel(nullptr));
    m_sampleRate->ResetContent();
    for (int rate : Mp3SampleRates())
        m_sampleRate->AddString(QStringLiteral("%1 Hz").arg(rate), rate);
    m_sampleRate->SetDropHeight(kDropHeight);
    m_channels->ResetContent();
    m_channels->AddString(QStringLiteral("1 (Mono)"), 0);
    m_channels->AddString(QStringLiteral("2 (Stereo)"), 1);
    m_channels->SetDropHeight(2 * 22 + 2);
    // A record the encoder cannot write as it stands shows what will be written.
    const int sampleRate = LegalMp3SampleRate(record.nSampleRate);
    SelectByNumber(m_sampleRate, sampleRate);
    FillBitrates(sampleRate, record.nAudioBitrate);
    m_channels->SetCurSel(record.nChannels == kKvChannelsOfSource ? 1
                              : record.nChannels >= 0 && record.nChannels < m_channels->GetCount() ? record.nChannels
                                                                                                    : -1,
                          false);
}

void CKvMovieSettingsDlg::FillFormatLists(const KvAudioFormat& format, int kbps, int quality, int sampleRate, int channels)
{
    Label(kBitrateLabelId)->SetCaption(BitrateRowLabel(&format));
    m_bitrate->ResetContent();
    m_sampleRate->ResetContent();
    m_channels->ResetContent();
    if (format.outputType == kKvOutputOriginal) {
        // Nothing to choose: the sound track's packets are copied.
        m_bitrate->AddString(kKeptAsItIs, 0);
        m_sampleRate->AddString(kKeptAsItIs, kKvRateOfSource);
        m_channels->AddString(kKeptAsItIs, kKvChannelsOfSource);
        for (CKvComboBox* combo : {m_bitrate, m_sampleRate, m_channels}) {
            combo->SetCurSel(0, false);
            combo->SetDropHeight(22 + 2);
        }
        return;
    }
    if (format.maxKbps > 0) {
        std::vector<int> offered;
        std::copy_if(std::begin(kBitrateSteps), std::end(kBitrateSteps), std::back_inserter(offered),
                     [&format](int step) { return step >= format.minKbps && step <= format.maxKbps; });
        if (kbps >= format.minKbps && kbps <= format.maxKbps && !std::binary_search(offered.begin(), offered.end(), kbps))
            offered.insert(std::upper_bound(offered.begin(), offered.end(), kbps), kbps);
        for (int value : offered)
            m_bitrate->AddString(QStringLiteral("%1 Kbps").arg(value), value);
        SelectByData(m_bitrate, kbps >= format.minKbps && kbps <= format.maxKbps ? kbps : format.defaultKbps);
    } else if (format.qualityName != nullptr) {
        if (format.outputType == kKvOutputWav) {
            for (int bits : {0, 16, 24})
                m_bitrate->AddString(QualityText(format, bits), bits);
        } else {
            for (int value = format.minQuality; value <= format.maxQuality; ++value)
                m_bitrate->AddString(QualityText(format, value), value);
        }
        SelectByData(m_bitrate, IsAudioQuality(format, quality) ? quality : format.defaultQuality);
    } else {
        // ALAC: lossless, with nothing to set.
        m_bitrate->AddString(QStringLiteral("lossless"), 0);
        m_bitrate->SetCurSel(0, false);
    }
    m_bitrate->SetDropHeight(std::min(kDropHeight, m_bitrate->GetCount() * 22 + 2));

    // Opus is always 48 kHz; every other format can keep the rate of the sound it is given.
    if (format.outputType != kKvOutputOpus)
        m_sampleRate->AddString(kSameAsSource, kKvRateOfSource);
    for (int rate : format.sampleRates)
        m_sampleRate->AddString(QStringLiteral("%1 Hz").arg(rate), rate);
    m_sampleRate->SetDropHeight(std::min(kDropHeight, m_sampleRate->GetCount() * 22 + 2));
    SelectByData(m_sampleRate, format.outputType == kKvOutputOpus ? 48000 : sampleRate);

    m_channels->AddString(kSameAsSource, kKvChannelsOfSource);
    m_channels->AddString(QStringLiteral("1 (Mono)"), 0);
    m_channels->AddString(QStringLiteral("2 (Stereo)"), 1);
    m_channels->SetDropHeight(3 * 22 + 2);
    SelectByData(m_channels, channels);
}

void CKvMovieSettingsDlg::FillBitrates(int sampleRate, int wantedKbps)
{
    m_bitrate->ResetContent();
    for (int kbps : Mp3Bitrates(sampleRate))
        m_bitrate->AddString(QStringLiteral("%1 Kbps").arg(kbps));
    SelectByNumber(m_bitrate, LegalMp3Bitrate(wantedKbps, sampleRate));
}

void CKvMovieSettingsDlg::FillWindowsMediaLists()
{
    const tagKvOptionRecord& record = m_state.CurrentRecord();
    m_wmaCodec->ResetContent();
    for (const WmCodecInfo& codec : WmAudioCodecs()) {
        const QString name = QString::fromStdWString(codec.name);
        if (name.contains(QLatin1String("Windows Media Audio")))
            m_wmaCodec->AddString(name);
    }
    if (m_wmaCodec->GetCount() > 0)
        m_wmaCodec->SetCurSel(std::clamp(record.nWmaCodec, 0, m_wmaCodec->GetCount() - 1), false);
    // No Windows Media video codec is offered, so the video codec stays unchosen.
    m_wmvCodec = -1;
    FillWmaFormats();
}

void CKvMovieSettingsDlg::FillWmaFormats()
{
    m_wmaFormat->ResetContent();
    const int codec = m_wmaCodec->GetCurSel();
    if (codec < 0)
        return;
    const bool lossless = m_wmaCodec->GetItemText(codec).contains(QLatin1String("Lossless"));
    for (int passes = 0; passes <= 2; ++passes) {
        const std::vector<WmAudioFormat> formats = WmAudioFormats(codec, passes);
        for (size_t position = 0; position < formats.size(); ++position) {
            const QString description = QString::fromStdWString(formats[position].description);
            if (description.contains(QLatin1String("5.1")))
                continue;
            if (!lossless && description.contains(QLatin1String("VBR")))
                continue;
            m_wmaFormat->AddString(description, qint64(passes) * kWmaPassesFactor + qint64(position));
        }
    }
    SelectByData(m_wmaFormat, m_state.CurrentRecord().nWmaFormat);
    if (m_wmaFormat->GetCurSel() < 0 && m_wmaFormat->GetCount() > 0)
        m_wmaFormat->SetCurSel(0, false);
}

void CKvMovieSettingsDlg::ApplyFormatDefaults()
{
    if (IsWmaChosen()) {
        m_sizeMode = kBitratePriority;
        m_videoBitrate = m_state.CurrentPresetIndex() > 3 ? QStringLiteral("2500") : QStringLiteral("6000");
        for (int i = 0; i < m_wmaCodec->GetCount(); ++i) {
            const QString name = m_wmaCodec->GetItemText(i);
            if (name.contains(QLatin1String("Windows Media Audio 9.")) && !name.contains(QLatin1String("Lossless"))) {
                m_wmaCodec->SetCurSel(i, false);
                break;
            }
        }
        FillWmaFormats();
        for (int i = 0; i < m_wmaFormat->GetCount(); ++i) {
            if (m_wmaFormat->GetItemText(i).contains(QLatin1String("128 kbps"))) {
                m_wmaFormat->SetCurSel(i, false);
                break;
            }
        }
    } else {
        m_sizeMode = kQualityPriority;
        m_qualityItem = kMp3DefaultQualityItem;
    }
    // A format of its own starts at its defaults; MP3 and WMA show the record's MP3
    // values, as they always have.
    if (const KvAudioFormat* format = ChosenAudioFormat())
        FillFormatLists(*format, format->defaultKbps, format->defaultQuality, kKvRateOfSource, kKvChannelsOfSource);
    else if (m_listsOfFormat)
        FillMp3Lists();
    m_listsOfFormat = ChosenAudioFormat() != nullptr;
}

void CKvMovieSettingsDlg::UpdateEnabling()
{
    const bool wma = IsWmaChosen();
    for (int id : {kWmaCodecLabelId, kWmaFormatLabelId})
        Label(id)->Enable(wma, false);
    m_wmaCodec->Enable(wma, false);
    m_wmaFormat->Enable(wma, false);
    for (int id : {kBitrateLabelId, kSampleRateLabelId, kChannelsLabelId})
        Label(id)->Enable(!wma, false);
    // Original keeps everything as it is and ALAC has no bit rate: their rows say so.
    const KvAudioFormat* format = ChosenAudioFormat();
    const bool original = format && format->outputType == kKvOutputOriginal;
    const bool bitrateRow = !wma && !original && !(format && format->maxKbps == 0 && format->qualityName == nullptr);
    m_bitrate->Enable(bitrateRow, false);
    m_sampleRate->Enable(!wma && !original, false);
    m_channels->Enable(!wma && !original, false);
    if (wma)
        m_sizeMode = kBitratePriority;
    // The H.264 choices matter only to the outputs that carry H.264 or MPEG audio
    // beside it; of the two formats here that is MP3.
    const int type = int(m_format->GetItemData(m_format->GetCurSel()));
    m_advanced->Enable(type == 0 || type == 1 || type == 2 || type == 6 || type == 12 || type == 13, false);
    Manager()->Invalidate();
    update();
}

const KvAudioFormat* CKvMovieSettingsDlg::ChosenAudioFormat() const
{
    return m_format && m_format->GetCurSel() >= 0 ? FindAudioFormat(int(m_format->GetItemData(m_format->GetCurSel())))
                                                  : nullptr;
}

bool CKvMovieSettingsDlg::IsWmaChosen() const
{
    return m_format && m_format->GetCurSel() >= 0 && m_format->GetItemData(m_format->GetCurSel()) == kKvOutputWma;
}

void CKvMovieSettingsDlg::OnCommand(int id)
{
    switch (id) {
    case kFormatId:
        // Choosing the format already shown keeps the user's codec and format choices.
        if (m_format->GetCurSel() == m_shownFormat)
            break;
        m_shownFormat = m_format->GetCurSel();
        ApplyFormatDefaults();
        UpdateEnabling();
        break;
    case kSampleRateId: {
        if (ChosenAudioFormat())
            break;
        // Another MPEG version may allow other bit rates: keep the nearest to the
        // one chosen.
        const int rate = LeadingNumber(m_sampleRate->GetItemText(m_sampleRate->GetCurSel()));
        const int chosen = LeadingNumber(m_bitrate->GetItemText(m_bitrate->GetCurSel()));
        if (rate > 0) {
            FillBitrates(rate, chosen > 0 ? chosen : m_state.CurrentRecord().nAudioBitrate);
            Manager()->Invalidate();
            update();
        }
        break;
    }
    case kWmaCodecId:
        FillWmaFormats();
        Manager()->Invalidate();
        update();
        break;
    case kAdvancedId: {
        CKvH264SettingsDlg advanced(m_state, this);
        advanced.Run();
        break;
    }
    default:
        CKvDialogBase::OnCommand(id);
        break;
    }
}

void CKvMovieSettingsDlg::OnOK()
{
    // The first choice stands: an OK after Cancel (or the other way round) while
    // the window fades out changes nothing.
    if (IsClosing())
        return;
    // Nothing changes while the pattern cannot be used: the user mends it or cancels.
    KvOutputNamePattern names;
    std::string namesProblem;
    if (!names.Parse(m_names->GetCaption().toStdWString(), &namesProblem)) {
        KvMessageBox(QStringLiteral("Output Names: %1.").arg(QString::fromStdString(namesProblem)),
                     CKvMessageDlg::kStyleOk, this);
        m_names->SetFocus();
        return;
    }
    const std::string& folder = m_state.ProgramFolder();
    WriteDecoderDeinterlace(folder, m_deinterlace ? 1 : 0);

    tagKvOptionRecord& record = m_state.CurrentRecord();
    record.nSizeMode = m_sizeMode;
    if (!m_fileSize.isEmpty())
        record.nFileSizeMB = m_fileSize.toInt();
    if (!m_videoBitrate.isEmpty())
        record.nVideoBitrate = m_videoBitrate.toInt();
    if (!m_widthText.isEmpty())
        record.nWidth = m_widthText.toInt();
    if (!m_heightText.isEmpty())
        record.nHeight = m_heightText.toInt();
    record.nWidth = RoundAndClampWidth(record.nWidth);
    record.nHeight = RoundAndClampHeight(record.nHeight);
    record.nQuality = m_qualityItem + 1;
    record.bForceResize = m_forceResize ? 1 : 0;
    record.bFlipVideo = m_flipVideo ? 1 : 0;
    record.nOverlayQuality = m_overlayQuality;
    if (m_format->GetCurSel() >= 0)
        record.nOutputType = int(m_format->GetItemData(m_format->GetCurSel()));
    m_state.SetOutputSize(record.nWidth, record.nHeight);
    record.nWmvCodec = m_wmvCodec;
    record.nWmaCodec = m_wmaCodec->GetCurSel();
    record.nWmaFormat = m_wmaFormat->GetCurSel() >= 0 ? int(m_wmaFormat->GetItemData(m_wmaFormat->GetCurSel())) : 0;
    SaveSmoothing(folder, m_smoothing ? 1 : 0);
    const auto chosen = [](CKvComboBox* combo, int& field) {
        if (combo->GetCurSel() >= 0)
            field = int(combo->GetItemData(combo->GetCurSel()));
    };
    if (const KvAudioFormat* format = ChosenAudioFormat()) {
        if (format->maxKbps > 0)
            chosen(m_bitrate, record.nAudioBitrate);
        chosen(m_sampleRate, record.nSampleRate);
        chosen(m_channels, record.nChannels);
        record.nAudioQuality = format->qualityName != nullptr && m_bitrate->GetCurSel() >= 0
            ? int(m_bitrate->GetItemData(m_bitrate->GetCurSel()))
            : format->defaultQuality;
    } else {
        if (m_bitrate->GetCurSel() >= 0)
            record.nAudioBitrate = LeadingNumber(m_bitrate->GetItemText(m_bitrate->GetCurSel()));
        chosen(m_sampleRate, record.nSampleRate);
        chosen(m_channels, record.nChannels);
    }
    bool frontEndChanged = names.Text() != m_state.OutputNamePattern().Text();
    m_state.SetOutputNamePattern(names);
    if (m_parallel->GetCurSel() >= 0 && m_parallel->GetItemData(m_parallel->GetCurSel()) != m_state.ParallelConversions()) {
        m_state.SetParallelConversions(int(m_parallel->GetItemData(m_parallel->GetCurSel())));
        frontEndChanged = true;
    }
    if (m_checkOutput->IsChecked() != m_state.CheckEveryOutput()) {
        m_state.SetCheckEveryOutput(m_checkOutput->IsChecked());
        frontEndChanged = true;
    }
    if (m_keepFolders->IsChecked() != m_state.KeepFolderStructure()) {
        m_state.SetKeepFolderStructure(m_keepFolders->IsChecked());
        frontEndChanged = true;
    }
    if (m_skipConverted->IsChecked() != m_state.SkipConverted()) {
        m_state.SetSkipConverted(m_skipConverted->IsChecked());
        frontEndChanged = true;
    }
    if (m_splitFiles->GetCurSel() >= 0
        && m_splitFiles->GetItemData(m_splitFiles->GetCurSel()) != int(m_state.SplitFilesOnAdd())) {
        m_state.SetSplitFilesOnAdd(KvFrontEndState::SplitFiles(m_splitFiles->GetItemData(m_splitFiles->GetCurSel())));
        frontEndChanged = true;
    }
    if (m_loudness->GetCurSel() >= 0) {
        const int chosen = int(m_loudness->GetItemData(m_loudness->GetCurSel()));
        KvFrontEndState::Loudness loudness = m_state.OutputLoudness();
        loudness.mode = chosen == 0                     ? KvFrontEndState::LoudnessMode::Off
                        : chosen == kLoudnessReplayGain ? KvFrontEndState::LoudnessMode::ReplayGain
                                                        : KvFrontEndState::LoudnessMode::Normalise;
        if (chosen < 0)
            loudness.target = chosen;
        loudness.byAlbum = m_loudnessByAlbum->IsChecked();
        if (!(loudness == m_state.OutputLoudness())) {
            m_state.SetOutputLoudness(loudness);
            frontEndChanged = true;
        }
    }
    if (frontEndChanged)
        m_state.SaveFrontEndSettings();

    m_runResult = 1;
    CKvDialogBase::OnOK();
}

void CKvMovieSettingsDlg::OnCancel()
{
    if (IsClosing())
        return;
    m_state.SetCurrentPreset(m_presetAtStart);
    m_runResult = 0;
    CKvDialogBase::OnCancel();
}

int CKvMovieSettingsDlg::LeadingNumber(const QString& text)
{
    const QString word = text.section(u' ', 0, 0);
    bool ok = false;
    const int value = word.toInt(&ok);
    return ok ? value : -1;
}

void CKvMovieSettingsDlg::SelectByNumber(CKvComboBox* combo, int value)
{
    combo->SetCurSel(-1, false);
    for (int i = 0; i < combo->GetCount(); ++i) {
        if (LeadingNumber(combo->GetItemText(i)) == value) {
            combo->SetCurSel(i, false);
            return;
        }
    }
}

void CKvMovieSettingsDlg::SelectByData(CKvComboBox* combo, qint64 value)
{
    combo->SetCurSel(-1, false);
    for (int i = 0; i < combo->GetCount(); ++i) {
        if (combo->GetItemData(i) == value) {
            combo->SetCurSel(i, false);
            return;
        }
    }
}

QString CKvMovieSettingsDlg::HelpTextAt(const QPoint& point) const
{
    for (const RowSpec& row : kRows) {
        const QRect area(10, row.labelTop - 3, width() - 20, kRowHeight + 3);
        if (area.contains(point))
            return QString::fromLatin1(row.help);
    }
    return QString();
}

QString CKvMovieSettingsDlg::HelpText() const
{
    return m_help ? m_help->GetCaption() : QString();
}

void CKvMovieSettingsDlg::SetHelp(const QString& text)
{
    if (!m_help || m_help->GetCaption() == text)
        return;
    m_help->SetCaption(text, false);
    Manager()->RedrawControl(m_help);
}

void CKvMovieSettingsDlg::mouseMoveEvent(QMouseEvent* event)
{
    CKvDialogBase::mouseMoveEvent(event);
    SetHelp(HelpTextAt(event->position().toPoint()));
}

void CKvMovieSettingsDlg::leaveEvent(QEvent* event)
{
    CKvDialogBase::leaveEvent(event);
    SetHelp(QString());
}

bool CKvMovieSettingsDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (m_names && watched == m_names->EditWindow() && event->type() == QEvent::Enter)
        SetHelp(HelpTextAt(m_names->EditWindow()->geometry().center()));
    return CKvDialogBase::eventFilter(watched, event);
}

CKvComboBox* CKvMovieSettingsDlg::Combo(int id) const
{
    return Manager()->Find<CKvComboBox>(id, kTypeComboBox);
}

CKvStatic* CKvMovieSettingsDlg::Label(int id) const
{
    return Manager()->Find<CKvStatic>(id, kTypeStatic);
}
