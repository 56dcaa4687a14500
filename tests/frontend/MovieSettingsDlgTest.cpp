// The output settings: the "Audio Settings" dialog's OK and Cancel, its lists and
// help, the "Advanced" H.264 dialog, the initial WMA choice and the profile file the
// engine's WMA output loads.

#include "MediaTestSupport.h"

#include "common/KvAudioFormats.h"
#include "common/KvOptionRecord.h"
#include "common/KvWmProfile.h"
#include "frontend/KvAudioChoice.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvH264SettingsDlg.h"
#include "frontend/KvJobWmProfile.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvMovieSettingsDlg.h"
#include "project/KvDecoderSettings.h"
#include "project/KvSideFiles.h"
#include "ui/KvCheck.h"
#include "ui/KvComboBox.h"
#include "ui/KvEdit.h"
#include "ui/KvStatic.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

using namespace velmora;
using namespace velmora::fetest;

namespace {

struct DialogFixture
{
    ProgramScope program;
    KvFrontEndState& state = KvFrontEndState::Instance();
    std::unique_ptr<CKvMovieSettingsDlg> dialog;

    DialogFixture()
    {
        ApplyInitialWindowsMediaChoice(state.CurrentRecord());
    }

    CKvMovieSettingsDlg& Open()
    {
        dialog = std::make_unique<CKvMovieSettingsDlg>(state);
        dialog->SetFadeEnabled(false);
        dialog->show();
        QApplication::processEvents();
        return *dialog;
    }

    // Chooses an entry as the user does: the list reports it and the command arrives
    // from the event loop.
    void Choose(int comboId, int index)
    {
        dialog->Combo(comboId)->OnListChoice(index);
        QApplication::processEvents();
    }

    int IndexOf(int comboId, const QString& text) const
    {
        CKvComboBox* combo = dialog->Combo(comboId);
        for (int i = 0; i < combo->GetCount(); ++i) {
            if (combo->GetItemText(i) == text)
                return i;
        }
        return -1;
    }
};

bool SameRecord(const tagKvOptionRecord& a, const tagKvOptionRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(MovieSettingsDlg, OpensOnTheInitialWmaChoiceWithTheMp3ControlsDisabled)
{
    DialogFixture f;
    const tagKvOptionRecord& record = f.state.CurrentRecord();
    EXPECT_EQ(record.nOutputType, kKvOutputWma);
    EXPECT_EQ(record.nWmaCodec, 0);
    WmAudioFormat format;
    ASSERT_TRUE(ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, format));
    EXPECT_NE(format.description.find(L"128 kbps"), std::wstring::npos);

    CKvMovieSettingsDlg& dialog = f.Open();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Audio Settings"));
    EXPECT_EQ(dialog.size(), QSize(590, 600));
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kFormatId)->GetCaption(), QStringLiteral("WMA"));
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kWmaCodecId)->GetCaption(), QStringLiteral("Windows Media Audio 9.2"));
    EXPECT_TRUE(dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId)->GetCaption().contains(QLatin1String("128 kbps")));
    // The preset's 128 kbit/s, 48000 Hz, stereo find their items.
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kBitrateId)->GetCaption(), QStringLiteral("128 Kbps"));
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kSampleRateId)->GetCaption(), QStringLiteral("48000 Hz"));
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kChannelsId)->GetCaption(), QStringLiteral("2 (Stereo)"));
    for (int id : {CKvMovieSettingsDlg::kWmaCodecId, CKvMovieSettingsDlg::kWmaFormatId})
        EXPECT_TRUE(dialog.Combo(id)->IsEnabled()) << id;
    for (int id : {CKvMovieSettingsDlg::kBitrateId, CKvMovieSettingsDlg::kSampleRateId, CKvMovieSettingsDlg::kChannelsId})
        EXPECT_FALSE(dialog.Combo(id)->IsEnabled()) << id;
    EXPECT_FALSE(dialog.Label(CKvMovieSettingsDlg::kBitrateLabelId)->IsEnabled());
    EXPECT_FALSE(dialog.AdvancedButton()->IsEnabled());

    // Every format offered is constant bit rate, not 5.1, and carries its position.
    CKvComboBox* formats = dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId);
    const std::vector<WmAudioFormat> known = WmAudioFormats(0, 0);
    ASSERT_GT(formats->GetCount(), 0);
    for (int i = 0; i < formats->GetCount(); ++i) {
        const qint64 value = formats->GetItemData(i);
        ASSERT_LT(size_t(value), known.size());
        EXPECT_EQ(formats->GetItemText(i), QString::fromStdWString(known[size_t(value)].description));
        EXPECT_FALSE(formats->GetItemText(i).contains(QLatin1String("VBR")));
    }
}

TEST(MovieSettingsDlg, ChoosingMp3AndOkStoresTheAudioChoices)
{
    DialogFixture f;
    CKvMovieSettingsDlg& dialog = f.Open();
    f.Choose(CKvMovieSettingsDlg::kFormatId, 0);
    EXPECT_TRUE(dialog.Combo(CKvMovieSettingsDlg::kBitrateId)->IsEnabled());
    EXPECT_FALSE(dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId)->IsEnabled());
    EXPECT_TRUE(dialog.AdvancedButton()->IsEnabled());
    f.Choose(CKvMovieSettingsDlg::kBitrateId, f.IndexOf(CKvMovieSettingsDlg::kBitrateId, QStringLiteral("192 Kbps")));
    f.Choose(CKvMovieSettingsDlg::kSampleRateId, f.IndexOf(CKvMovieSettingsDlg::kSampleRateId, QStringLiteral("44100 Hz")));
    f.Choose(CKvMovieSettingsDlg::kChannelsId, 0);
    dialog.OnOK();

    const tagKvOptionRecord& record = f.state.CurrentRecord();
    EXPECT_EQ(record.nOutputType, kKvOutputMp3);
    EXPECT_STREQ(OutputExtension(record.nOutputType), ".mp3");
    EXPECT_EQ(record.nAudioBitrate, 192);
    EXPECT_EQ(record.nSampleRate, 44100);
    EXPECT_EQ(record.nChannels, 0);
    EXPECT_EQ(record.nSizeMode, CKvMovieSettingsDlg::kQualityPriority);
    EXPECT_EQ(record.nQuality, 25);
    EXPECT_EQ(record.nWmvCodec, -1); // no video codec is offered
    EXPECT_EQ(f.state.OutputWidth(), record.nWidth);
    // OK writes the deinterlacing switch and the smoothing flag.
    EXPECT_EQ(ReadDecoderSettings(f.program.Path()).isDeinterlace.value_or(-1), 0);
    int smoothing = -1;
    EXPECT_TRUE(LoadSmoothing(f.program.Path(), smoothing));
    EXPECT_EQ(smoothing, 0);
}

TEST(MovieSettingsDlg, CancelAfterSwitchingLeavesTheRecordUnchanged)
{
    DialogFixture f;
    const tagKvOptionRecord before = f.state.CurrentRecord();
    CKvMovieSettingsDlg& dialog = f.Open();
    f.Choose(CKvMovieSettingsDlg::kFormatId, 0);
    f.Choose(CKvMovieSettingsDlg::kBitrateId, 0);
    dialog.OnCancel();
    EXPECT_TRUE(SameRecord(f.state.CurrentRecord(), before));
    EXPECT_EQ(f.state.CurrentPresetIndex(), kKvDefaultPreset);
    EXPECT_EQ(dialog.result(), CKvDialogBase::kResultCancel);
}

TEST(MovieSettingsDlg, OkOnWmaStoresTheChosenFormatValue)
{
    DialogFixture f;
    tagKvOptionRecord& record = f.state.CurrentRecord();
    record.nWidth = 1001;
    record.nHeight = 70;
    CKvMovieSettingsDlg& dialog = f.Open();
    const int last = dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId)->GetCount() - 1;
    f.Choose(CKvMovieSettingsDlg::kWmaFormatId, last);
    const qint64 value = dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId)->GetItemData(last);
    // Choosing "WMA" again keeps that choice; leaving WMA and coming back restores the
    // 128 kbps default, and the user's last pick then stands again.
    f.Choose(CKvMovieSettingsDlg::kFormatId, 1);
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId)->GetCurSel(), last);
    f.Choose(CKvMovieSettingsDlg::kFormatId, 0);
    f.Choose(CKvMovieSettingsDlg::kFormatId, 1);
    EXPECT_TRUE(dialog.Combo(CKvMovieSettingsDlg::kWmaFormatId)->GetCaption().contains(QLatin1String("128 kbps")));
    f.Choose(CKvMovieSettingsDlg::kWmaFormatId, last);
    dialog.OnOK();

    EXPECT_EQ(record.nOutputType, kKvOutputWma);
    EXPECT_EQ(record.nWmaFormat, value);
    EXPECT_EQ(record.nSizeMode, CKvMovieSettingsDlg::kBitratePriority);
    EXPECT_EQ(record.nWidth, 1000);
    EXPECT_EQ(record.nHeight, 80);
    EXPECT_EQ(f.state.OutputHeight(), 80);
}

// The MP3 lists offer only what the encoder writes: the bit rates of the MPEG version
// the sample rate belongs to (checked against libmp3lame by encoding every pair), and
// a stored record outside them shows, and on OK stores, what will really be written.
TEST(MovieSettingsDlg, Mp3BitRatesFollowTheSampleRateAndAStoredRecordShowsWhatWillBeWritten)
{
    struct Case
    {
        int storedRate;
        int storedKbps;
        const char* shownRate;
        const char* shownKbps;
        const char* first; // the bit-rate list's ends
        const char* last;
    };
    const Case cases[] = {
        {8000, 640, "8000 Hz", "64 Kbps", "8 Kbps", "64 Kbps"},        // MPEG-2.5
        {12000, 32, "12000 Hz", "32 Kbps", "8 Kbps", "64 Kbps"},
        {22050, 320, "22050 Hz", "160 Kbps", "8 Kbps", "160 Kbps"},    // MPEG-2
        {16000, 144, "16000 Hz", "144 Kbps", "8 Kbps", "160 Kbps"},
        {44100, 8, "44100 Hz", "32 Kbps", "32 Kbps", "320 Kbps"},      // MPEG-1
        {48000, 100, "48000 Hz", "96 Kbps", "32 Kbps", "320 Kbps"},    // between two items: the lower
        {96000, 640, "48000 Hz", "320 Kbps", "32 Kbps", "320 Kbps"},   // no MP3 rate above 48000
    };
    for (const Case& c : cases) {
        DialogFixture f;
        tagKvOptionRecord& record = f.state.CurrentRecord();
        record.nOutputType = kKvOutputMp3;
        record.nSampleRate = c.storedRate;
        record.nAudioBitrate = c.storedKbps;
        CKvMovieSettingsDlg& dialog = f.Open();
        CKvComboBox* rates = dialog.Combo(CKvMovieSettingsDlg::kSampleRateId);
        CKvComboBox* bitrates = dialog.Combo(CKvMovieSettingsDlg::kBitrateId);
        EXPECT_EQ(rates->GetCount(), 9) << c.storedRate;
        EXPECT_EQ(rates->GetCaption(), QLatin1String(c.shownRate)) << c.storedRate;
        EXPECT_EQ(bitrates->GetCaption(), QLatin1String(c.shownKbps)) << c.storedRate;
        EXPECT_EQ(bitrates->GetItemText(0), QLatin1String(c.first)) << c.storedRate;
        EXPECT_EQ(bitrates->GetItemText(bitrates->GetCount() - 1), QLatin1String(c.last)) << c.storedRate;
        dialog.OnOK();
        EXPECT_EQ(QStringLiteral("%1 Hz").arg(record.nSampleRate), QLatin1String(c.shownRate));
        EXPECT_EQ(QStringLiteral("%1 Kbps").arg(record.nAudioBitrate), QLatin1String(c.shownKbps));
    }

    // Moving from 48000 to 8000 Hz takes 320 kbit/s down to the highest that stays legal.
    DialogFixture f;
    f.state.CurrentRecord().nOutputType = kKvOutputMp3;
    f.state.CurrentRecord().nAudioBitrate = 320;
    CKvMovieSettingsDlg& dialog = f.Open();
    f.Choose(CKvMovieSettingsDlg::kSampleRateId, f.IndexOf(CKvMovieSettingsDlg::kSampleRateId, QStringLiteral("8000 Hz")));
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kBitrateId)->GetCaption(), QStringLiteral("64 Kbps"));
    f.Choose(CKvMovieSettingsDlg::kSampleRateId, f.IndexOf(CKvMovieSettingsDlg::kSampleRateId, QStringLiteral("44100 Hz")));
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kBitrateId)->GetCaption(), QStringLiteral("64 Kbps"));
}

// Each format offers only what its encoder takes; Original offers nothing and says why,
// and going back to MP3 brings back the MP3 lists.
TEST(MovieSettingsDlg, EachFormatOffersOnlyWhatItCarries)
{
    DialogFixture f;
    f.state.CurrentRecord().nOutputType = kKvOutputMp3;
    f.state.CurrentRecord().nSampleRate = 44100;
    CKvMovieSettingsDlg& dialog = f.Open();
    CKvComboBox* bitrate = dialog.Combo(CKvMovieSettingsDlg::kBitrateId);
    CKvComboBox* rates = dialog.Combo(CKvMovieSettingsDlg::kSampleRateId);
    CKvComboBox* channels = dialog.Combo(CKvMovieSettingsDlg::kChannelsId);
    CKvStatic* bitrateLabel = dialog.Label(CKvMovieSettingsDlg::kBitrateLabelId);
    const auto choose = [&](const char* format) {
        const int index = f.IndexOf(CKvMovieSettingsDlg::kFormatId, QString::fromLatin1(format));
        ASSERT_GE(index, 0) << format;
        f.Choose(CKvMovieSettingsDlg::kFormatId, index);
    };

    choose("Original (kept as it is)");
    for (CKvComboBox* combo : {bitrate, rates, channels}) {
        EXPECT_EQ(combo->GetCaption(), QStringLiteral("kept as it is"));
        EXPECT_FALSE(combo->IsEnabled());
    }

    choose("FLAC (lossless)");
    EXPECT_EQ(bitrateLabel->GetCaption(), QStringLiteral("Compression Level"));
    EXPECT_EQ(bitrate->GetCount(), 9);
    EXPECT_EQ(bitrate->GetCaption(), QStringLiteral("5"));
    EXPECT_EQ(rates->GetCaption(), QStringLiteral("Same as source"));
    EXPECT_EQ(rates->GetItemText(rates->GetCount() - 1), QStringLiteral("192000 Hz"));
    EXPECT_EQ(channels->GetCaption(), QStringLiteral("Same as source"));
    EXPECT_TRUE(bitrate->IsEnabled() && rates->IsEnabled() && channels->IsEnabled());

    choose("Opus");
    EXPECT_EQ(bitrateLabel->GetCaption(), QStringLiteral("Audio Bitrate"));
    EXPECT_EQ(bitrate->GetCaption(), QStringLiteral("128 Kbps"));
    EXPECT_EQ(bitrate->GetItemText(0), QStringLiteral("6 Kbps"));
    EXPECT_EQ(bitrate->GetItemText(bitrate->GetCount() - 1), QStringLiteral("510 Kbps"));
    ASSERT_EQ(rates->GetCount(), 1);
    EXPECT_EQ(rates->GetCaption(), QStringLiteral("48000 Hz"));

    choose("MP3 (variable bit rate)");
    EXPECT_EQ(bitrateLabel->GetCaption(), QStringLiteral("VBR Quality"));
    EXPECT_EQ(bitrate->GetItemText(0), QStringLiteral("V0 (best)"));
    EXPECT_EQ(rates->GetItemText(rates->GetCount() - 1), QStringLiteral("48000 Hz"));

    choose("MP3");
    EXPECT_EQ(bitrateLabel->GetCaption(), QStringLiteral("Audio Bitrate"));
    EXPECT_EQ(rates->GetCount(), 9);
    EXPECT_EQ(rates->GetCaption(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(channels->GetCount(), 2);
    EXPECT_EQ(channels->GetCaption(), QStringLiteral("2 (Stereo)"));

    // An AAC record at a bit rate between the listed ones shows and keeps it.
    f.state.CurrentRecord().nOutputType = kKvOutputAac;
    f.state.CurrentRecord().nAudioBitrate = 100;
    CKvMovieSettingsDlg& again = f.Open();
    EXPECT_EQ(again.Combo(CKvMovieSettingsDlg::kBitrateId)->GetCaption(), QStringLiteral("100 Kbps"));
    again.OnOK();
    EXPECT_EQ(f.state.CurrentRecord().nAudioBitrate, 100);
}

// While the dialog fades out it takes nothing more: OK then a quick Cancel (or Esc)
// keeps the OK, with the record written and the result OK.
TEST(MovieSettingsDlg, TheFirstChoiceStandsWhileTheDialogFadesOut)
{
    DialogFixture f;
    tagKvOptionRecord& record = f.state.CurrentRecord();
    auto dialog = std::make_unique<CKvMovieSettingsDlg>(f.state);
    dialog->show();
    QApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->Opacity() == 255; }, 2000));
    dialog->Combo(CKvMovieSettingsDlg::kFormatId)->OnListChoice(0);
    QApplication::processEvents();
    dialog->OnOK();
    EXPECT_TRUE(dialog->IsClosing());
    dialog->OnCancel();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    dialog->ForwardCommand(CKvDialogBase::kResultCancel);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 3000));
    EXPECT_EQ(dialog->result(), CKvDialogBase::kResultOk);
    EXPECT_EQ(record.nOutputType, kKvOutputMp3);
    EXPECT_EQ(f.state.CurrentPresetIndex(), kKvDefaultPreset);
}

TEST(MovieSettingsDlg, ItemNumbersAndHoverHelp)
{
    EXPECT_EQ(CKvMovieSettingsDlg::LeadingNumber(QStringLiteral("128 Kbps")), 128);
    EXPECT_EQ(CKvMovieSettingsDlg::LeadingNumber(QStringLiteral("44100 Hz")), 44100);
    EXPECT_EQ(CKvMovieSettingsDlg::LeadingNumber(QStringLiteral("2 (Stereo)")), 2);
    EXPECT_EQ(CKvMovieSettingsDlg::LeadingNumber(QStringLiteral("Kbps")), -1);

    DialogFixture f;
    CKvMovieSettingsDlg& dialog = f.Open();
    QTest::mouseMove(&dialog, QPoint(250, 180));
    QApplication::processEvents();
    EXPECT_TRUE(dialog.HelpText().startsWith(QLatin1String("Here we can set the Audio Bitrate")));
    EXPECT_EQ(dialog.HelpTextAt(QPoint(20, 83)), QStringLiteral("Audio Format")); // 3 px above the label
    EXPECT_EQ(dialog.HelpTextAt(QPoint(480, 240)),
              QStringLiteral("Here we can set the number of the Audio Channels of the target video."));
    EXPECT_EQ(dialog.HelpTextAt(QPoint(5, 240)), QString()); // outside the 10-pixel margin
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 270)).startsWith(QLatin1String("How many files Render converts")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 300)).contains(QLatin1String("{chapter}")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 330)).startsWith(QLatin1String("Plays every file back")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 360)).contains(QLatin1String("same sub-folders")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 390)).contains(QLatin1String(".velmora-manifest.jsonl")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 420)).contains(QLatin1String("one row per track")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(250, 450)).contains(QLatin1String("EBU R128")));
    QTest::mouseMove(&dialog, QPoint(250, 477));
    QApplication::processEvents();
    EXPECT_EQ(dialog.HelpText(), QString());

    // The picture, for looking at: VELMORA_SCREENSHOT_DIR names where it goes.
    const QString shots = qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QTest::mouseMove(&dialog, QPoint(250, 148));
        QApplication::processEvents();
        dialog.Manager()->Paint();
        QDir().mkpath(shots);
        dialog.grab().save(shots + QStringLiteral("/audio-settings.png"));
        f.Choose(CKvMovieSettingsDlg::kFormatId, 0);
        QTest::mouseMove(&dialog, QPoint(250, 178));
        QApplication::processEvents();
        dialog.Manager()->Paint();
        dialog.grab().save(shots + QStringLiteral("/audio-settings-mp3.png"));
        QTest::mouseMove(&dialog, QPoint(40, 300));
        QApplication::processEvents();
        dialog.Manager()->Paint();
        dialog.grab().save(shots + QStringLiteral("/audio-settings-names.png"));
    }
}

// "Parallel Conversions" starts at the processor cores, and a choice made there is
// what the next start of the window uses.
TEST(MovieSettingsDlg, ParallelConversionsAndTheOutputCheckAreKeptForTheNextStart)
{
    DialogFixture f;
    const int cores = KvFrontEndState::DefaultParallelConversions();
    EXPECT_EQ(f.state.ParallelConversions(), cores);
    CKvMovieSettingsDlg& dialog = f.Open();
    EXPECT_EQ(dialog.Combo(CKvMovieSettingsDlg::kParallelId)->GetCaption(), QString::number(cores));
    f.Choose(CKvMovieSettingsDlg::kParallelId, f.IndexOf(CKvMovieSettingsDlg::kParallelId, QStringLiteral("1")));
    // "Check Every Output" is on until turned off, and then stays off.
    ASSERT_TRUE(dialog.CheckOutputBox()->IsChecked());
    dialog.CheckOutputBox()->OnClick(QPoint(2, 2));
    dialog.OnOK();
    EXPECT_EQ(f.state.ParallelConversions(), 1);
    EXPECT_FALSE(f.state.CheckEveryOutput());

    f.state.Reset(f.program.Path());
    EXPECT_EQ(f.state.ParallelConversions(), cores);
    EXPECT_TRUE(f.state.CheckEveryOutput());
    ASSERT_TRUE(f.state.LoadFrontEndSettings());
    EXPECT_EQ(f.state.ParallelConversions(), 1);
    EXPECT_FALSE(f.state.CheckEveryOutput());
    // A hand-edited file cannot ask for more than the queue takes.
    test::WriteFileBytes(f.program.Work() + "skin/frontend.ini", "[Queue]\nParallelConversions=500\n");
    ASSERT_TRUE(f.state.LoadFrontEndSettings());
    EXPECT_EQ(f.state.ParallelConversions(), KvFrontEndState::kMaxParallelConversions);
}

// "Output Names" refuses a pattern it cannot use with a word and keeps the window
// open; one it can use is what the next start of the window names outputs by.
TEST(MovieSettingsDlg, OutputNamesAreCheckedOnOkAndKeptForTheNextStart)
{
    DialogFixture f;
    QStringList messages;
    SetMessageHookForTesting([&messages](const QString&, const QString& text, int) {
        messages << text;
        return CKvMessageDlg::kIdOk;
    });
    const auto unhook = qScopeGuard([] { SetMessageHookForTesting({}); });
    CKvMovieSettingsDlg& dialog = f.Open();
    EXPECT_EQ(dialog.NamesEdit()->GetCaption(), QStringLiteral("(output{n}){name}"));
    QTest::mouseMove(dialog.NamesEdit()->EditWindow(), QPoint(30, 8));
    QApplication::processEvents();
    EXPECT_TRUE(dialog.HelpText().contains(QLatin1String("{title}"))) << "the help shows over the field too";

    dialog.NamesEdit()->SetCaption(QStringLiteral("{artist} - {year}"));
    dialog.OnOK();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QLatin1String("unknown placeholder \"{year}\""))) << messages[0].toStdString();
    EXPECT_FALSE(dialog.IsClosing());
    EXPECT_EQ(f.state.OutputNamePattern().Text(), KvOutputNamePattern::kDefaultText);

    // Text an ini file treats specially comes back as it was.
    const QString chosen = QString::fromUtf8("{artist}, {title}; \xC3\xBC=#\\");
    dialog.NamesEdit()->SetCaption(chosen);
    dialog.OnOK();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(f.state.OutputNamePattern().Text(), chosen.toStdWString());
    f.state.Reset(f.program.Path());
    ASSERT_TRUE(f.state.LoadFrontEndSettings());
    EXPECT_EQ(f.state.OutputNamePattern().Text(), chosen.toStdWString());
    // A hand-edited pattern that does not parse leaves the one in use.
    test::WriteFileBytes(f.program.Work() + "skin/frontend.ini", "[Queue]\nNamePattern={name\n");
    ASSERT_TRUE(f.state.LoadFrontEndSettings());
    EXPECT_EQ(f.state.OutputNamePattern().Text(), chosen.toStdWString());
}

// The command line's settings become the record the dialog writes for the same
// choices, byte for byte, from the same start.
struct DialogChoice
{
    const char* name;
    int startType;        // the record's type when the dialog opens; -1: the first WMA choice
    KvAudioChoice choice; // what the command line names
    const char* format;   // what the user picks in the dialog ("MP3"/"WMA"/"FLAC (lossless)")
    const char* rate;     // list items, or nullptr
    const char* kbps;     // the bit-rate row's item (a format's quality where it has one)
    int channelItem;      // -1: not touched
    const char* wmaFormat; // WMA format item, or nullptr
};

void PrintTo(const DialogChoice& c, std::ostream* os)
{
    *os << c.name;
}

// A record of a format beyond MP3 and WMA as the dialog leaves it: the source's rate
// and channels.
void StartFrom(tagKvOptionRecord& record, int type)
{
    if (type < 0)
        return;
    record.nOutputType = type;
    if (FindAudioFormat(type)) {
        record.nSampleRate = kKvRateOfSource;
        record.nChannels = kKvChannelsOfSource;
    }
}

class AudioChoiceTest : public ::testing::TestWithParam<DialogChoice>
{
};

TEST_P(AudioChoiceTest, StoresWhatTheDialogStores)
{
    const DialogChoice& c = GetParam();
    tagKvOptionRecord viaDialog {};
    {
        DialogFixture f;
        StartFrom(f.state.CurrentRecord(), c.startType);
        CKvMovieSettingsDlg& dialog = f.Open();
        f.Choose(CKvMovieSettingsDlg::kFormatId, f.IndexOf(CKvMovieSettingsDlg::kFormatId, QString::fromLatin1(c.format)));
        if (c.rate)
            f.Choose(CKvMovieSettingsDlg::kSampleRateId, f.IndexOf(CKvMovieSettingsDlg::kSampleRateId, QString::fromLatin1(c.rate)));
        if (c.kbps)
            f.Choose(CKvMovieSettingsDlg::kBitrateId, f.IndexOf(CKvMovieSettingsDlg::kBitrateId, QString::fromLatin1(c.kbps)));
        if (c.channelItem >= 0)
            f.Choose(CKvMovieSettingsDlg::kChannelsId, c.channelItem);
        if (c.wmaFormat)
            f.Choose(CKvMovieSettingsDlg::kWmaFormatId, f.IndexOf(CKvMovieSettingsDlg::kWmaFormatId, QString::fromLatin1(c.wmaFormat)));
        dialog.OnOK();
        viaDialog = f.state.CurrentRecord();
    }
    DialogFixture g;
    StartFrom(g.state.CurrentRecord(), c.startType);
    QString error;
    ASSERT_TRUE(ApplyAudioChoice(g.state, c.choice, error)) << error.toStdString();
    EXPECT_TRUE(SameRecord(g.state.CurrentRecord(), viaDialog));
    EXPECT_EQ(g.state.OutputWidth(), viaDialog.nWidth);
    // A record that kept the source's rate and channels becomes an MP3 of the mix's,
    // never one of the lowest MPEG-2.5 rate.
    if (viaDialog.nOutputType == kKvOutputMp3) {
        EXPECT_GE(viaDialog.nSampleRate, 8000);
        EXPECT_TRUE(viaDialog.nChannels == 0 || viaDialog.nChannels == 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    MovieSettingsDlg, AudioChoiceTest,
    ::testing::Values(
        DialogChoice{"Mp3Named", -1, {false, 192, 44100, 1}, "MP3", "44100 Hz", "192 Kbps", 0, nullptr},
        DialogChoice{"Mp3AsShown", -1, {false, 0, 0, 0}, "MP3", nullptr, nullptr, -1, nullptr},
        DialogChoice{"Mp3RateOnly", -1, {false, 0, 22050, 0}, "MP3", "22050 Hz", nullptr, -1, nullptr},
        DialogChoice{"WmaAsShown", -1, {true, 0, 0, 0}, "WMA", nullptr, nullptr, -1, nullptr},
        DialogChoice{"WmaMono", -1, {true, 64, 0, 1}, "WMA", nullptr, nullptr, -1, "64 kbps, 44 kHz, mono CBR"},
        DialogChoice{"WmaFromMp3", kKvOutputMp3, {true, 0, 48000, 0}, "WMA", nullptr, nullptr, -1, "128 kbps, 48 kHz, stereo CBR"},
        DialogChoice{"FlacLevel8FromMp3", kKvOutputMp3, {false, 0, 0, 0, kKvOutputFlac, false, true, 8}, "FLAC (lossless)",
                     nullptr, "8 (smallest)", -1, nullptr},
        DialogChoice{"OpusMono", -1, {false, 96, 0, 1, kKvOutputOpus}, "Opus", nullptr, "96 Kbps", 1, nullptr},
        DialogChoice{"Wav24At96k", kKvOutputFlac, {false, 0, 96000, 0, kKvOutputWav, false, true, 24},
                     "WAV (uncompressed)", "96000 Hz", "24 bit", -1, nullptr},
        DialogChoice{"OriginalFromWma", -1, {false, 0, 0, 0, kKvOutputOriginal}, "Original (kept as it is)", nullptr,
                     nullptr, -1, nullptr},
        DialogChoice{"VorbisAsShown", kKvOutputVorbis, {false, 0, 0, 0, kKvOutputVorbis}, "Ogg Vorbis", nullptr, nullptr,
                     -1, nullptr},
        DialogChoice{"AacAt22050", kKvOutputAlac, {false, 0, 22050, 0, kKvOutputAac}, "AAC (.m4a)", "22050 Hz", nullptr,
                     -1, nullptr},
        DialogChoice{"Mp3FromFlac", kKvOutputFlac, {false, 0, 0, 0}, "MP3", nullptr, nullptr, -1, nullptr},
        DialogChoice{"WmaFromOpus", kKvOutputOpus, {true, 0, 0, 0}, "WMA", nullptr, nullptr, -1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AudioChoice, RefusesWhatTheFormatCannotCarryAndNamesWhatItCan)
{
    struct Case
    {
        KvAudioChoice choice;
        const char* says;
    };
    const Case cases[] = {
        {{false, 0, 44000, 0}, "MP3 sample rates are 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 Hz"},
        {{false, 320, 22050, 0}, "At 22050 Hz the bit rates are 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 kbps. "
                                 "320 kbps needs a sample rate of 32000, 44100, 48000 Hz."},
        {{false, 8, 0, 0}, "MP3 at 48000 Hz has no bit rate of 8 kbps"},
        {{true, 320, 44100, 0}, "No WMA format has 320 kbps, 44100 Hz. The WMA formats are: 320 kbps 48000 Hz stereo;"},
        {{true, 0, 16000, 2}, "No WMA format has 16000 Hz, stereo."},
    };
    for (const Case& c : cases) {
        ProgramScope program;
        KvFrontEndState& state = KvFrontEndState::Instance();
        ApplyInitialWindowsMediaChoice(state.CurrentRecord());
        const tagKvOptionRecord before = state.CurrentRecord();
        QString error;
        EXPECT_FALSE(ApplyAudioChoice(state, c.choice, error)) << c.says;
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.says))) << error.toStdString();
        EXPECT_TRUE(SameRecord(state.CurrentRecord(), before)) << c.says;
    }
}

TEST(H264SettingsDlg, BFramesFollowTheProfileAndOkSavesTheChoices)
{
    ProgramScope program;
    KvFrontEndState& state = KvFrontEndState::Instance();
    CKvH264SettingsDlg dialog(state);
    dialog.SetFadeEnabled(false);
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Advanced"));
    EXPECT_EQ(dialog.Combo(CKvH264SettingsDlg::kPFrameId)->GetCaption(), QStringLiteral("7 P Frames"));
    EXPECT_EQ(dialog.Combo(CKvH264SettingsDlg::kBFrameId)->GetCaption(), QStringLiteral("1 B Frames"));
    EXPECT_TRUE(dialog.Combo(CKvH264SettingsDlg::kBFrameId)->IsEnabled());
    dialog.Combo(CKvH264SettingsDlg::kProfileId)->OnListChoice(1);
    QApplication::processEvents();
    EXPECT_FALSE(dialog.Combo(CKvH264SettingsDlg::kBFrameId)->IsEnabled());
    dialog.Combo(CKvH264SettingsDlg::kPFrameId)->OnListChoice(2);
    QApplication::processEvents();

    const QPoint overP = dialog.Combo(CKvH264SettingsDlg::kPFrameId)->Rect().center();
    EXPECT_TRUE(dialog.HelpTextAt(overP).contains(
        QLatin1String("\r\n\r\nNo. of P Frames: represents the number of P frames between 2 successive I frames. \r\n")));
    EXPECT_TRUE(dialog.HelpTextAt(QPoint(15, 55)).startsWith(QLatin1String("We recommend the Main Profile")));

    const QString shots = qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        QTest::mouseMove(&dialog, overP);
        QApplication::processEvents();
        dialog.Manager()->Paint();
        QDir().mkpath(shots);
        dialog.grab().save(shots + QStringLiteral("/advanced.png"));
    }

    dialog.OnOK();
    tagKvH264Settings saved;
    saved.nBFrameIndex = 9;
    ASSERT_TRUE(LoadH264Settings(program.Path(), saved));
    EXPECT_EQ(saved.nProfileIndex, 1);
    EXPECT_EQ(saved.nPFrameIndex, 2);
    EXPECT_EQ(saved.nBFrameIndex, 1);
}

TEST(JobWmProfile, WritesTheChosenWmaFormatAndNothingForMp3)
{
    ProgramScope program;
    KvFrontEndState& state = KvFrontEndState::Instance();
    tagKvOptionRecord& record = state.CurrentRecord();
    const std::string path = program.Tmp() + "wmv.prx";

    record.nOutputType = kKvOutputMp3;
    EXPECT_EQ(WriteJobWmProfile(state, path), 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));

    ApplyInitialWindowsMediaChoice(record);
    QString failure;
    ASSERT_EQ(WriteJobWmProfile(state, path, &failure), 1) << failure.toStdString();
    const std::string bytes = test::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("<\0", 2)); // UTF-16 LE without a mark
    WmProfileStream stream;
    ASSERT_TRUE(ParseWmProfile(bytes, stream));
    EXPECT_EQ(stream.wFormatTag, kWaveFormatWmaStandard);
    EXPECT_EQ(stream.nBitrate, 128000);
    WmAudioFormat chosen;
    ASSERT_TRUE(ResolveWmAudioFormat(record.nWmaCodec, record.nWmaFormat, chosen));
    EXPECT_EQ(stream.nSampleRate, chosen.nSampleRate);
    EXPECT_EQ(stream.nChannels, chosen.nChannels);

    // A format the layer does not know, and a folder that is not there, both fail.
    record.nWmaFormat = kWmaPassesFactor + 3;
    EXPECT_EQ(WriteJobWmProfile(state, path, &failure), 0);
    EXPECT_EQ(failure, QStringLiteral("Add Audio Stream To Profile Fialed"));
    ApplyInitialWindowsMediaChoice(record);
    EXPECT_EQ(WriteJobWmProfile(state, program.Path() + "missing/wmv.prx", &failure), 0);
    record.nWmaCodec = -1;
    EXPECT_EQ(WriteJobWmProfile(state, path), 0);
}
