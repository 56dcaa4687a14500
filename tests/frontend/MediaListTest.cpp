// The media list: adding files with their media information, the one message about
// skipped files, checked edits of Start and End in a comma-decimal locale, rows and
// their extra data staying together through moves and removals, and the sound of a
// Windows Media file extracted once however often it is added.

#include "MediaTestSupport.h"

#include "common/KvText.h"
#include "frontend/KvMediaList.h"
#include "project/KvWavIndex.h"
#include "support/SoundTracks.h"
#include "ui/KvAccessible.h"
#include "ui/KvDialogBase.h"
#include "ui/KvEditCtrl.h"
#include "ui/KvListCtrl.h"
#include "ui/KvToolTipWnd.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTimer>

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <memory>

using namespace velmora;
using namespace velmora::fetest;
using velmora::test::ShellQuote;
using velmora::test::WriteFileBytes;

namespace {

// A dialog holding only the list, wired as the main window wires it: the list's cell
// edits reach the controller.
class ListHost : public CKvDialogBase
{
public:
    CKvListCtrl* list = nullptr;

    void CreateControls() override
    {
        list = new CKvListCtrl;
        list->Move(10, 40, 980, 400);
        Manager()->AddControl(26, list, kTypeListCtrl);
    }
};

struct ListFixture
{
    ProgramScope program;
    ListHost host;
    std::unique_ptr<KvMediaList> media;
    QStringList messages;

    ListFixture()
    {
        host.SetFadeEnabled(false);
        host.resize(1000, 460);
        host.OnInitDialog();
        media = std::make_unique<KvMediaList>(host.list, program.Path());
        media->CreateColumns();
        media->SetMessageSink([this](const QString& text) { messages << text; });
        QObject::connect(host.Manager(), &CKvUIManager::notification, &host,
                         [this](int message, CKvButton*, qint64 param) {
                             if (message == kMsgCellTextChanged)
                                 media->OnCellTextChanged(param);
                         });
    }

    QString Cell(int column, int row) const { return host.list->GetCellText(column, row); }

    // Types text into the cell through the list's own in-place editor.
    void Edit(int column, int row, const QString& text)
    {
        host.list->BeginEdit(column, row);
        ASSERT_NE(host.list->EditWindow(), nullptr);
        host.list->EditWindow()->setText(text);
        host.list->EndEdit(true);
    }

    int AddOne(const std::string& path) { return media->AddFiles({QString::fromStdString(path)}); }
};

// Switches the process to a locale that writes a decimal comma, as a German desktop
// does, for the life of the object.
struct CommaLocale
{
    std::string previous = std::setlocale(LC_ALL, nullptr);
    bool active = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    CommaLocale() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    ~CommaLocale()
    {
        std::setlocale(LC_ALL, previous.c_str());
        QLocale::setDefault(QLocale::c());
    }
};

} // namespace

TEST(MediaList, ColumnsAreCreatedWithTheirHeadersWidthsKindsAndVisibility)
{
    ListFixture f;
    const char* headers[] = {"File", "State", "Duration", "Start", "End", "Sync Audio", "Volume", "Speed",
                             "New Width", "New Height", "Crop X", "Crop Y", "Crop W", "Crop H", "Has Video",
                             "Has Audio", "Source W", "Source H", "Track"};
    const int widths[] = {360, 240, 110, 110, 110, 100, 60, 60, 100, 100, 60, 60, 60, 60, 60, 60, 60, 60, 170};
    ASSERT_EQ(f.host.list->GetColumnCount(), kMediaColumnCount);
    for (int column = 0; column < kMediaColumnCount; ++column) {
        const tagKvListCtrlColumnData* data = f.host.list->Column(column);
        EXPECT_EQ(data->szHeader, QString::fromLatin1(headers[column])) << column;
        EXPECT_EQ(data->nBaseWidth, widths[column]) << column;
        EXPECT_EQ(data->bShow, column < kColSyncAudio ? 1 : 0) << column;
        // The header's View menu offers what a user can read: File to Speed, and Track.
        EXPECT_EQ(data->bOffered, column <= kColSpeed || column == kColTrack ? 1 : 0) << column;
    }
    EXPECT_EQ(f.host.list->Column(kColFile)->nElide, Qt::ElideMiddle);
    // The shown columns fill the list's width, in proportion to their widths.
    int shown = 0;
    for (int column = 0; column < kColSyncAudio; ++column)
        shown += f.host.list->Column(column)->nWidth;
    EXPECT_EQ(shown, f.host.list->Rect().width() - 2);
    EXPECT_GT(f.host.list->Column(kColFile)->nWidth, 360);
    EXPECT_EQ(f.host.list->Column(kColState)->nKind, CKvListCtrl::KindProgress);
    EXPECT_EQ(f.host.list->Column(kColStart)->nKind, CKvListCtrl::KindEdit);
    EXPECT_EQ(f.host.list->Column(kColDuration)->nKind, CKvListCtrl::KindText);

    const QString filter = KvMediaList::FileFilter();
    EXPECT_TRUE(filter.startsWith(QLatin1String("Media Files (*.avi *.ogg")));
    for (const char* pattern : {"*.wmv", "*.asf", "*.mkv", "*.mp3", "*.amr", "*.flac", "*.opus", "*.m4b", "*.spx", "*.cue)"})
        EXPECT_TRUE(filter.contains(QLatin1String(pattern))) << pattern;
    EXPECT_TRUE(filter.endsWith(QLatin1String(";;All Files (*)")));
    EXPECT_EQ(filter.count(QLatin1String("*.ogg ")), 1) << "each pattern once";
}

TEST(MediaList, AddFillsEveryColumnAndReportsTheSkippedFilesInOneMessage)
{
    const MediaSet& m = Media();
    ListFixture f;
    const QStringList files = {QString::fromStdString(m.videoWithSound), QString::fromStdString(m.notMedia),
                               QString::fromStdString(m.audioOnly), QString::fromStdString(m.videoNoSound),
                               QString::fromStdString(m.spacedNonAscii),
                               QString::fromStdString(m.folder + "gone.mp4")};
    EXPECT_EQ(f.media->AddFiles(files), 3) << f.messages.join(u'|').toStdString();
    ASSERT_EQ(f.media->RowCount(), 3);

    // A video with sound: every column as the row is born.
    EXPECT_EQ(f.Cell(kColFile, 0), files[0]);
    EXPECT_EQ(f.Cell(kColState, 0), QStringLiteral("Ready"));
    EXPECT_EQ(f.host.list->GetProgress(kColState, 0), 0);
    EXPECT_NEAR(ParseDouble(f.Cell(kColDuration, 0).toStdString()), 2.0, 0.1);
    EXPECT_EQ(f.Cell(kColStart, 0), QStringLiteral("0.00"));
    EXPECT_EQ(f.Cell(kColEnd, 0), f.Cell(kColDuration, 0));
    // One sound track: nothing to choose.
    const char* expected[] = {"0.00", "1.00", "1.00", "160", "120", "0", "0", "160", "120", "1", "1", "160", "120", ""};
    for (int column = kColSyncAudio; column < kMediaColumnCount; ++column)
        EXPECT_EQ(f.Cell(column, 0), QString::fromLatin1(expected[column - kColSyncAudio])) << column;

    // Audio only: no picture, so every size column reads 0.
    EXPECT_EQ(f.Cell(kColFile, 1), files[2]);
    EXPECT_EQ(f.Cell(kColHasVideo, 1), QStringLiteral("0"));
    EXPECT_EQ(f.Cell(kColHasAudio, 1), QStringLiteral("1"));
    for (int column : {kColNewWidth, kColNewHeight, kColCropW, kColCropH, kColSourceW, kColSourceH})
        EXPECT_EQ(f.Cell(column, 1), QStringLiteral("0")) << column;
    EXPECT_NEAR(ParseDouble(f.Cell(kColDuration, 1).toStdString()), 1.5, 0.1);

    // Spaces and non-ASCII letters survive into the cell and the job row.
    EXPECT_EQ(f.Cell(kColFile, 2), files[4]);
    EXPECT_EQ(f.media->JobRow(2).file, files[4].toStdWString());

    ASSERT_EQ(f.messages.size(), 1);
    ASSERT_EQ(f.media->LastSkipped().size(), 3u);
    EXPECT_EQ(f.media->LastSkipped()[0].reason, QStringLiteral("cannot be read"));
    EXPECT_EQ(f.media->LastSkipped()[1].reason, QStringLiteral("no sound track"));
    EXPECT_EQ(f.media->LastSkipped()[2].reason, QStringLiteral("cannot be read"));
    // Grouped by reason, in the order the reasons came up.
    EXPECT_TRUE(f.messages[0].startsWith(QStringLiteral("3 files were not added.\n\nCannot be read:\n") + files[1]
                                         + u'\n' + files[5] + QStringLiteral("\n\nNo sound track:\n") + files[3]))
        << f.messages[0].toStdString();

    // Nothing skipped: no message at all; a relative name becomes the full path.
    f.messages.clear();
    const QString relative = QDir::current().relativeFilePath(QString::fromStdString(m.audioOnly));
    EXPECT_EQ(f.media->AddFiles({relative}), 1);
    EXPECT_TRUE(f.messages.isEmpty());
    EXPECT_EQ(f.Cell(kColFile, 3), QString::fromStdString(m.audioOnly));
}

// A file of sound alone whose header promises more than it holds: the row is there at
// once, and its Duration (and an End at it) become what it holds once measured.
TEST(MediaList, TheLengthOfSoundAloneFillsInAsItIsMeasured)
{
    test::TempFolder folder("velmora-measure");
    ASSERT_TRUE(MakeMedia("-f lavfi -i sine=f=440:d=20 -c:a flac", folder.Path() + "whole.flac"));
    const std::string bytes = test::ReadFileBytes(folder.Path() + "whole.flac");
    const std::string cut = folder.Path() + "cut.flac";
    test::WriteFileBytes(cut, bytes.substr(0, bytes.size() / 4));
    ListFixture f;
    ASSERT_EQ(f.AddOne(cut), 1);
    ASSERT_EQ(f.AddOne(cut), 1);
    f.Edit(kColEnd, 1, QStringLiteral("2.50"));
    ASSERT_TRUE(WaitForMeasuredLengths(*f.media));
    const double measured = ParseDouble(f.Cell(kColDuration, 0).toStdString());
    EXPECT_GT(measured, 4.0);
    EXPECT_LT(measured, 6.0) << "the header's 20 s";
    EXPECT_EQ(f.Cell(kColEnd, 0), f.Cell(kColDuration, 0));
    EXPECT_EQ(f.Cell(kColDuration, 1), f.Cell(kColDuration, 0));
    EXPECT_EQ(f.Cell(kColEnd, 1), QStringLiteral("2.50")) << "a trimmed End within the real length stays";
    // A row removed while its file is measured takes nothing with it.
    ASSERT_EQ(f.AddOne(cut), 1);
    f.host.list->SetSelectedRow(2, false);
    EXPECT_TRUE(f.media->Remove());
    EXPECT_TRUE(WaitForMeasuredLengths(*f.media));
    EXPECT_EQ(f.media->RowCount(), 2);
}

TEST(MediaList, StartAndEndTakeOnlyCLocaleNumbersThatKeepEndAfterStart)
{
    const MediaSet& m = Media();
    CommaLocale comma;
    ASSERT_TRUE(comma.active) << "de_DE.UTF-8 is not installed";
    ListFixture f;
    ASSERT_EQ(f.AddOne(m.videoWithSound), 1);
    // Numbers are written in the C locale whatever the desktop's locale.
    EXPECT_TRUE(f.Cell(kColDuration, 0).contains(u'.'));
    const QString end = f.Cell(kColEnd, 0);

    struct Case
    {
        int column;
        const char* typed;
        const char* start; // the cells afterwards
        const char* end;   // nullptr: the original End
    };
    const Case cases[] = {
        {kColStart, "abc", "0.00", nullptr},   // not a number
        {kColStart, "0,5", "0.00", nullptr},   // the locale's comma is not the C locale's point
        {kColStart, "0.5x", "0.00", nullptr},  // trailing rubbish
        {kColStart, "", "0.00", nullptr},      // empty
        {kColStart, "0.5", "0.5", nullptr},    // accepted
        {kColStart, "9", "0.5", nullptr},      // beyond End
        {kColEnd, "0.5", "0.5", nullptr},      // End at Start
        {kColEnd, "0.2", "0.5", nullptr},      // End before Start
        {kColEnd, "1.25", "0.5", "1.25"},      // accepted
        {kColStart, " 1 ", "1", "1.25"},       // blanks around a number are fine
        {kColEnd, "nan", "1", "1.25"},         // not a finite number
    };
    for (const Case& c : cases) {
        f.Edit(c.column, 0, QString::fromLatin1(c.typed));
        EXPECT_EQ(f.Cell(kColStart, 0), QString::fromLatin1(c.start)) << c.typed;
        EXPECT_EQ(f.Cell(kColEnd, 0), c.end ? QString::fromLatin1(c.end) : end) << c.typed;
    }
    EXPECT_NEAR(f.media->RowLength(0), 0.25, 1e-9);

    // An accepted edit sets a finished row back to "Ready"; a refused one leaves it.
    f.media->SetState(0, KvRowState::Finished);
    f.Edit(kColStart, 0, QStringLiteral("x"));
    EXPECT_EQ(f.media->StateText(0), QStringLiteral("Finish"));
    f.Edit(kColStart, 0, QStringLiteral("0.75"));
    EXPECT_EQ(f.media->StateText(0), QStringLiteral("Ready"));
    EXPECT_EQ(f.media->Progress(0), 0);
}

TEST(MediaList, MovesAndRemovalsKeepEachRowWithItsOwnData)
{
    const MediaSet& m = Media();
    ListFixture f;
    const QStringList files = {QString::fromStdString(m.videoWithSound), QString::fromStdString(m.audioOnly),
                               QString::fromStdString(m.spacedNonAscii)};
    ASSERT_EQ(f.media->AddFiles(files), 3);
    f.Edit(kColStart, 0, QStringLiteral("0.4"));
    f.media->SetRowToolTip(0, QStringLiteral("tip of the first"));

    // No selection: none of the four commands changes anything.
    ASSERT_EQ(f.host.list->GetSelectedRow(), -1);
    EXPECT_FALSE(f.media->Remove());
    EXPECT_FALSE(f.media->RemoveAll());
    EXPECT_FALSE(f.media->MoveUp());
    EXPECT_FALSE(f.media->MoveDown());
    EXPECT_EQ(f.media->RowCount(), 3);

    f.host.list->SetSelectedRow(0);
    EXPECT_FALSE(f.media->MoveUp()); // already first
    EXPECT_TRUE(f.media->MoveDown());
    EXPECT_TRUE(f.media->MoveDown());
    EXPECT_FALSE(f.media->MoveDown()); // now last
    EXPECT_EQ(f.host.list->GetSelectedRow(), 2);
    EXPECT_EQ(f.media->FilePath(0), files[1]);
    EXPECT_EQ(f.media->FilePath(1), files[2]);
    EXPECT_EQ(f.media->FilePath(2), files[0]);
    EXPECT_EQ(f.media->RowToolTip(2), QStringLiteral("tip of the first"));
    EXPECT_TRUE(f.media->RowToolTip(0).isEmpty());
    EXPECT_EQ(f.media->JobRow(2).start, 0.4);
    EXPECT_EQ(f.media->JobRow(2).file, files[0].toStdWString());

    // A refused edit of the moved row restores that row's own last value.
    f.Edit(kColStart, 2, QStringLiteral("oops"));
    EXPECT_EQ(f.Cell(kColStart, 2), QStringLiteral("0.4"));
    f.Edit(kColEnd, 0, QStringLiteral("-1"));
    EXPECT_EQ(f.Cell(kColEnd, 0), f.Cell(kColDuration, 0));

    f.host.list->SetSelectedRow(1);
    EXPECT_TRUE(f.media->MoveUp());
    EXPECT_EQ(f.media->FilePath(0), files[2]);
    EXPECT_TRUE(f.media->Remove());
    EXPECT_EQ(f.media->RowCount(), 2);
    EXPECT_EQ(f.media->FilePath(0), files[1]);
    EXPECT_EQ(f.media->RowToolTip(1), QStringLiteral("tip of the first"));
    EXPECT_FALSE(f.media->Remove()); // the selection went with the row

    f.host.list->SetSelectedRow(0);
    EXPECT_TRUE(f.media->RemoveAll());
    EXPECT_EQ(f.media->RowCount(), 0);
}

TEST(MediaList, QueueStatesProgressTextAndResetToReady)
{
    const MediaSet& m = Media();
    CommaLocale comma;
    ListFixture f;
    ASSERT_EQ(f.media->AddFiles({QString::fromStdString(m.audioOnly), QString::fromStdString(m.audioOnly)}), 2);
    EXPECT_EQ(KvMediaList::ProgressText(42.5), QStringLiteral("42.500%"));
    EXPECT_EQ(KvMediaList::ProgressText(7.25), QStringLiteral("7.250%"));
    f.media->SetState(0, KvRowState::Running, 42.5);
    f.media->SetState(1, KvRowState::Failed);
    f.media->SetRowToolTip(1, QStringLiteral("the engine stopped"));
    EXPECT_EQ(f.media->Progress(0), 42);
    f.media->ResetAllToReady();
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(f.media->StateText(row), QStringLiteral("Ready"));
        EXPECT_EQ(f.media->Progress(row), 0);
        EXPECT_TRUE(f.media->RowToolTip(row).isEmpty());
    }
    // The tip of a failed row shows while the pointer is over that row only.
    f.media->SetRowToolTip(1, QStringLiteral("the engine stopped"));
    auto visibleTip = [&f]() -> QString {
        for (CKvToolTipWnd* tip : f.host.findChildren<CKvToolTipWnd*>()) {
            if (tip->isVisible())
                return tip->Text();
        }
        return QString();
    };
    const QPoint overRow1 = f.host.list->CellRect(kColState, 1).center();
    f.media->UpdateToolTipAt(overRow1.x(), overRow1.y());
    EXPECT_EQ(visibleTip(), QStringLiteral("the engine stopped"));
    const QPoint overRow0 = f.host.list->CellRect(kColState, 0).center();
    f.media->UpdateToolTipAt(overRow0.x(), overRow0.y());
    EXPECT_EQ(visibleTip(), QString());
    // Over the File column the tip is the whole path, which the cell may shorten.
    const QPoint overFile1 = f.host.list->CellRect(kColFile, 1).center();
    f.media->UpdateToolTipAt(overFile1.x(), overFile1.y());
    EXPECT_EQ(visibleTip(), f.media->FilePath(1) + QStringLiteral("\nthe engine stopped"));
    const QPoint overFile0 = f.host.list->CellRect(kColFile, 0).center();
    f.media->UpdateToolTipAt(overFile0.x(), overFile0.y());
    EXPECT_EQ(visibleTip(), f.media->FilePath(0));
    f.media->UpdateToolTipAt(-1, -1);
    EXPECT_EQ(visibleTip(), QString());

    // End beyond the length converts up to the length; Start within 0.1 s of End is
    // pulled back, so the length never reaches 0 through the limits.
    EXPECT_NEAR(f.media->RowLength(0), ParseDouble(f.Cell(kColDuration, 0).toStdString()), 1e-9);
    EXPECT_EQ(f.media->RowLength(5), 0);
}

TEST(MediaList, AScreenReaderReadsEachRowsStateAsTheWindowShowsIt)
{
    const MediaSet& m = Media();
    ListFixture f;
    const QString file = QString::fromStdString(m.audioOnly);
    ASSERT_EQ(f.media->AddFiles({file, file, file, file, file, file}), 6);
    f.media->ShowRowStarted(1, QStringLiteral("/tmp/out.mp3"));
    f.media->SetState(1, KvRowState::Running, 42.5);
    f.media->ShowRowEnded(2, false, QStringLiteral("the disk is full"), QStringLiteral("No space left on device"));
    f.media->ShowRowEnded(3, true, QString(), QString());
    f.media->ShowRowEnded(4, true, QStringLiteral("the source ended at 1.2 s"), QString());
    f.media->ShowRowEnded(5, true, QString(), QStringLiteral("-16 LUFS missed by 2.0 LU"));
    EXPECT_EQ(f.media->RowToolTip(5), QStringLiteral("-16 LUFS missed by 2.0 LU."));

    QAccessibleInterface* table = AccessibleInterfaceOf(f.host.list);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    QAccessibleTableInterface* grid = table->tableInterface();
    EXPECT_EQ(grid->rowCount(), 6);
    // File, State, Duration, Start and End; the hidden columns are not read out.
    EXPECT_EQ(grid->columnCount(), 5);
    EXPECT_EQ(grid->columnDescription(kColState), QStringLiteral("State"));
    std::vector<QString> states;
    for (int row = 0; row < 6; ++row)
        states.push_back(grid->cellAt(row, kColState)->text(QAccessible::Name));
    EXPECT_EQ(states, (std::vector<QString>{QStringLiteral("Ready"), QStringLiteral("Converting 42%"),
                                            QStringLiteral("Failed: The disk is full."), QStringLiteral("Finish"),
                                            QStringLiteral("Finish, but: The source ended at 1.2 s."),
                                            QStringLiteral("Finish: -16 LUFS missed by 2.0 LU.")}));
    EXPECT_EQ(grid->cellAt(0, kColFile)->text(QAccessible::Name), f.Cell(kColFile, 0));
    // The words follow the row as it runs on.
    f.media->SetState(1, KvRowState::Running, 97.0);
    EXPECT_EQ(grid->cellAt(1, kColState)->text(QAccessible::Name), QStringLiteral("Converting 97%"));
}

TEST(MediaList, AWindowsMediaFileAddedTwiceIsExtractedOnce)
{
    const MediaSet& m = Media();
    ASSERT_FALSE(m.wmv.empty());
    ListFixture f;
    EXPECT_EQ(f.AddOne(m.wmv), 1);
    EXPECT_EQ(CountFiles(f.program.Tmp(), ".wav"), 1);
    const WavIndexLookup first = LookupWavIndex(f.program.Path(), Utf8ToWide(m.wmv));
    ASSERT_EQ(first.state, WavIndexState::kPresent);

    EXPECT_EQ(f.AddOne(m.wmv), 1);
    EXPECT_EQ(f.media->RowCount(), 2);
    EXPECT_EQ(CountFiles(f.program.Tmp(), ".wav"), 1);
    EXPECT_EQ(LookupWavIndex(f.program.Path(), Utf8ToWide(m.wmv)).wav, first.wav);

    // The WAV is gone (tmp/ emptied behind our back): the next addition extracts again
    // and the index follows the new file.
    std::remove(WideToUtf8(first.wav).c_str());
    EXPECT_EQ(f.AddOne(m.wmv), 1);
    const WavIndexLookup again = LookupWavIndex(f.program.Path(), Utf8ToWide(m.wmv));
    EXPECT_EQ(again.state, WavIndexState::kPresent);
    EXPECT_EQ(CountFiles(f.program.Tmp(), ".wav"), 1);
}

// A film with an English and a German track offers both in its Track cell; the choice
// reaches the job, and a Windows Media film gets the chosen track extracted too.
TEST(MediaList, AFileWithSeveralSoundTracksOffersThemInItsTrackCell)
{
    const MediaSet& m = Media();
    const std::string film = m.folder + "two tracks.mkv";
    const std::string wmv = m.folder + "two tracks.wmv";
    ASSERT_TRUE(std::filesystem::exists(film) || test::MakeTwoTrackFilm(film, "-c:v mpeg4 -c:a:0 aac -c:a:1 ac3"));
    ASSERT_TRUE(std::filesystem::exists(wmv) || test::MakeTwoTrackFilm(wmv, "-c:v wmv2 -c:a wmav2", 2));
    ListFixture f;
    EXPECT_FALSE(f.host.list->Column(kColTrack)->bShow);
    EXPECT_EQ(f.AddOne(m.videoWithSound), 1);
    EXPECT_FALSE(f.host.list->Column(kColTrack)->bShow) << "nothing to choose yet";
    ASSERT_EQ(f.media->AddFiles({QString::fromStdString(film), QString::fromStdString(wmv)}), 2);
    EXPECT_TRUE(f.host.list->Column(kColTrack)->bShow);
    EXPECT_FALSE(f.host.list->HasHScroll()) << "the other columns made room for it";

    EXPECT_EQ(f.Cell(kColTrack, 0), QString());
    EXPECT_TRUE(f.host.list->Cell(kColTrack, 0)->combo.empty());
    EXPECT_EQ(f.Cell(kColTrack, 1), QStringLiteral("1: eng, AAC stereo"));
    ASSERT_EQ(f.host.list->Cell(kColTrack, 1)->combo.size(), 2u);
    EXPECT_EQ(f.host.list->Cell(kColTrack, 1)->combo[1].szText, QStringLiteral("2: deu, AC-3 5.1"));
    EXPECT_EQ(f.media->JobRow(1).audioStream, -1); // the first track is not named

    // Choosing the German track, as the cell's list does it.
    f.media->SetState(1, KvRowState::Finished);
    f.host.list->SetCellText(kColTrack, 1, QStringLiteral("2: deu, AC-3 5.1"));
    f.media->OnCellTextChanged(kColTrack * 65536 + 1);
    EXPECT_EQ(f.media->JobRow(1).audioStream, 2);
    EXPECT_EQ(f.media->StateText(1), KvMediaList::StateReady());

    // The Windows Media film: its first track was extracted when it was added, the
    // German one when it is chosen, each into a WAV of its own.
    const std::wstring wmvPath = Utf8ToWide(wmv);
    const WavIndexLookup first = LookupWavIndex(f.program.Path(), wmvPath);
    ASSERT_EQ(first.state, WavIndexState::kPresent);
    EXPECT_EQ(LookupWavIndex(f.program.Path(), wmvPath, 2).state, WavIndexState::kNotListed);
    f.host.list->SetCellText(kColTrack, 2, f.host.list->Cell(kColTrack, 2)->combo[1].szText);
    f.media->OnCellTextChanged(kColTrack * 65536 + 2);
    const WavIndexLookup german = LookupWavIndex(f.program.Path(), wmvPath, 2);
    ASSERT_EQ(german.state, WavIndexState::kPresent);
    EXPECT_NEAR(test::FileToneFrequency(WideToUtf8(german.wav)), test::kGermanTone, 5.0);
    EXPECT_NEAR(test::FileToneFrequency(WideToUtf8(first.wav)), test::kEnglishTone, 5.0);
}

// Every editable cell a user can show takes a plain C-form number within its range,
// and a refused value says why instead of changing or reverting in silence.
TEST(MediaList, EditableCellsCheckTheirValueAndSayWhatIsWrong)
{
    struct Case
    {
        int column;
        const char* typed;
        const char* problem; // a part of the message; nullptr: accepted
    };
    // The row: Start 1, End 5, a file of 10 s.
    const Case cases[] = {
        {kColStart, "0", nullptr},
        {kColStart, "4.99", nullptr},
        {kColStart, "5", "up to End (5.00)"},
        {kColStart, "-0.1", "from 0"},
        {kColStart, "1,5", "write it with a dot, as 1.5"},
        {kColStart, "1e1", "is not a number"},
        {kColStart, "0x10", "is not a number"},
        {kColStart, "", "needs a number"},
        {kColEnd, "10", nullptr},
        {kColEnd, "10.01", "at most the length of the file (10.00)"},
        {kColEnd, "1", "after Start (1.00)"},
        {kColSyncAudio, "-10", nullptr},
        {kColSyncAudio, "10.5", "between -10.00 and 10.00"},
        {kColVolume, "0", nullptr},
        {kColVolume, "10", nullptr},
        {kColVolume, "11", "from 0 (silent) to 10"},
        {kColSpeed, "0.1", nullptr},
        {kColSpeed, "abc", "Speed: \"abc\" is not a number"},
        {kColSpeed, "0.05", "from 0.1 to 10"},
        {kColSpeed, "1.", nullptr},
        {kColSpeed, ".5", nullptr},
    };
    for (const Case& c : cases) {
        const QString problem = KvMediaList::CheckCellValue(c.column, QString::fromLatin1(c.typed), 1.0, 5.0, 10.0);
        if (!c.problem)
            EXPECT_TRUE(problem.isEmpty()) << c.column << " " << c.typed << ": " << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.problem))) << c.column << " " << c.typed << ": "
                                                                      << problem.toStdString();
    }

    // Through the list's editor: a refused Speed keeps its value and shows why at the
    // cell; the next accepted edit takes the tip away.
    const MediaSet& m = Media();
    ListFixture f;
    ASSERT_EQ(f.AddOne(m.videoWithSound), 1);
    f.host.list->ShowColumn(kColSpeed, true);
    f.host.show();
    QApplication::processEvents();
    f.media->SetState(0, KvRowState::Finished);
    f.Edit(kColSpeed, 0, QStringLiteral("abc"));
    EXPECT_EQ(f.Cell(kColSpeed, 0), QStringLiteral("1.00"));
    EXPECT_EQ(f.media->StateText(0), QStringLiteral("Finish"));
    EXPECT_TRUE(f.media->LastEditProblem().contains(QLatin1String("not a number")));
    ASSERT_NE(f.media->ProblemTip(), nullptr);
    EXPECT_TRUE(f.media->ProblemTip()->isVisible());
    EXPECT_EQ(f.media->ProblemTip()->Text(), f.media->LastEditProblem());
    f.Edit(kColSpeed, 0, QStringLiteral("1,5"));
    EXPECT_EQ(f.Cell(kColSpeed, 0), QStringLiteral("1.00"));
    EXPECT_TRUE(f.media->LastEditProblem().contains(QLatin1String("1.5")));
    f.Edit(kColSpeed, 0, QStringLiteral("1.5"));
    EXPECT_EQ(f.Cell(kColSpeed, 0), QStringLiteral("1.5"));
    EXPECT_EQ(f.media->JobRow(0).speed, 1.5);
    EXPECT_EQ(f.media->StateText(0), QStringLiteral("Ready"));
    EXPECT_FALSE(f.media->ProblemTip()->isVisible());
    EXPECT_TRUE(f.media->LastEditProblem().isEmpty());
}

// Files handed in while an add extracts a Windows Media file (its events run) do not
// start a second add inside the first: they follow the first add's files, and all
// that was skipped is in one message.
TEST(MediaList, FilesHandedInDuringAnAddWaitForItAndShareItsMessage)
{
    const MediaSet& m = Media();
    // Long enough that its extraction runs the event loop for a while.
    const std::string longWmv = m.folder + "long.wmv";
    ASSERT_TRUE(std::filesystem::exists(longWmv)
                || MakeMedia("-f lavfi -i sine=frequency=300:sample_rate=44100 -t 300 -c:a wmav2", longWmv));
    ListFixture f;
    int nestedResult = -1;
    bool nestedWhileAdding = false;
    QTimer::singleShot(0, &f.host, [&] {
        nestedWhileAdding = f.media->IsAdding();
        nestedResult = f.media->AddFiles({QString::fromStdString(m.audioOnly), QString::fromStdString(m.notMedia)});
    });
    const int added = f.media->AddFiles({QString::fromStdString(longWmv), QString::fromStdString(m.videoNoSound)});
    ASSERT_TRUE(nestedWhileAdding) << "the extraction ran no events; the case was not exercised";
    EXPECT_EQ(nestedResult, 0);
    EXPECT_EQ(added, 2);
    ASSERT_EQ(f.media->RowCount(), 2);
    EXPECT_EQ(f.media->FilePath(0), QString::fromStdString(longWmv));
    EXPECT_EQ(f.media->FilePath(1), QString::fromStdString(m.audioOnly));
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_TRUE(f.messages[0].contains(QString::fromStdString(m.videoNoSound)));
    EXPECT_TRUE(f.messages[0].contains(QString::fromStdString(m.notMedia)));
    EXPECT_FALSE(f.media->IsAdding());
}

// A file with chapters is offered for splitting once per Add as the setting says, and
// becomes its tracks in its own place, each row carrying its trims and tags into its
// job; a sheet added is its tracks at once, and one that names no file is left out
// with the reason.
TEST(MediaList, AFileOfManyTracksSplitsInPlaceAsTheSettingSays)
{
    const MediaSet& m = Media();
    const std::string book = m.folder + "split-book.mkv";
    const std::string meta = m.folder + "split-meta.txt";
    WriteFileBytes(meta, ";FFMETADATA1\ntitle=Book\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2500\ntitle=Two\n");
    ASSERT_TRUE(std::filesystem::exists(book)
                || MakeMedia("-f lavfi -i sine=frequency=440:duration=2.5 -i " + ShellQuote(meta)
                                 + " -map 0 -map_metadata 1 -map_chapters 1 -c:a flac",
                             book));
    ListFixture f;
    auto policy = KvFrontEndState::SplitFiles::Ask;
    QStringList asked;
    bool answer = false;
    f.media->SetSplitPolicy([&] { return policy; });
    f.media->SetQuestionSink([&](const QString& question) {
        asked << question;
        return answer;
    });

    // Ask, answered No: the file stays whole, its menu can split it later.
    ASSERT_EQ(f.media->AddFiles({QString::fromStdString(m.audioOnly), QString::fromStdString(book)}), 2);
    ASSERT_EQ(asked.size(), 1) << "one question for the Add";
    EXPECT_TRUE(asked[0].contains(QLatin1String("split-book.mkv holds 2 tracks"))) << asked[0].toStdString();
    ASSERT_EQ(f.media->RowCount(), 2);
    EXPECT_EQ(f.media->Model().At(1).splitCount, 2);
    EXPECT_EQ(f.media->Model().At(0).splitCount, 0);

    ASSERT_EQ(f.media->AddFiles({QString::fromStdString(m.videoWithSound)}), 1);
    EXPECT_EQ(asked.size(), 1) << "an Add with nothing to split asks nothing";
    ASSERT_EQ(f.media->SplitRow(1), 2);
    ASSERT_EQ(f.media->RowCount(), 4);
    EXPECT_EQ(f.media->FilePath(0), QString::fromStdString(m.audioOnly));
    EXPECT_EQ(f.Cell(kColFile, 1), QString::fromStdString(book) + QStringLiteral(" · 01 One"));
    EXPECT_EQ(f.Cell(kColFile, 2), QString::fromStdString(book) + QStringLiteral(" · 02 Two"));
    EXPECT_EQ(f.media->FilePath(3), QString::fromStdString(m.videoWithSound)) << "the tracks took the file's place";
    const tagKvJobRow second = f.media->Model().At(2).JobRow();
    EXPECT_NEAR(second.start, 1.0, 1e-9);
    EXPECT_NEAR(second.end, 2.5, 0.001);
    ASSERT_TRUE(second.track.has_value());
    EXPECT_EQ(second.track->title, L"Two");
    EXPECT_EQ(second.track->album, L"Book");
    EXPECT_EQ(second.track->track, L"2/2");
    EXPECT_EQ(f.media->SplitRow(2), 0) << "a track does not split again";

    // Always: split as it is added, without a question; Never: kept whole.
    policy = KvFrontEndState::SplitFiles::Always;
    ASSERT_EQ(f.media->AddFiles({QString::fromStdString(book)}), 1);
    EXPECT_EQ(f.media->RowCount(), 6);
    policy = KvFrontEndState::SplitFiles::Never;
    ASSERT_EQ(f.media->AddFiles({QString::fromStdString(book)}), 1);
    EXPECT_EQ(f.media->RowCount(), 7);
    EXPECT_EQ(asked.size(), 1);

    // A sheet is its tracks; one whose file is missing is refused with the reason.
    const std::string wav = m.folder + "split-rip.wav";
    ASSERT_TRUE(std::filesystem::exists(wav) || MakeMedia("-f lavfi -i sine=frequency=330:duration=3", wav));
    WriteFileBytes(m.folder + "split-rip.cue", "FILE \"split-rip.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                               "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
    WriteFileBytes(m.folder + "split-gone.cue", "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    f.messages.clear();
    EXPECT_EQ(f.media->AddFiles({QString::fromStdString(m.folder + "split-rip.cue"),
                                 QString::fromStdString(m.folder + "split-gone.cue")}),
              1);
    ASSERT_EQ(f.media->RowCount(), 9);
    EXPECT_EQ(f.Cell(kColFile, 8), QString::fromStdString(wav) + QStringLiteral(" · 02 Track 2"));
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_TRUE(f.messages[0].contains(QLatin1String("the sheet's FILE \"gone.wav\" is not beside it")))
        << f.messages[0].toStdString();
}
