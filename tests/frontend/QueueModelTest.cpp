// The queue's rows as values, with no widget: what an edit does to a row, what moves
// with a row, and what a job is built from.

#include "frontend/KvQueueModel.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

KvQueueModel ThreeRows()
{
    KvQueueModel model;
    model.Add(KvQueueModel::NewItem("/v/a.mp4", 60.026, true, 640, 360));
    model.Add(KvQueueModel::NewItem("/m/b.flac", 20.0, false, 0, 0));
    model.Add(KvQueueModel::NewItem("/v/c.mkv", 5.0, true, 1920, 1080,
                                    {{"1: eng, AAC stereo", 1}, {"2: deu, AC-3 5.1", 2}}));
    return model;
}

} // namespace

TEST(QueueModel, EditsAreCheckedAgainstTheRowAndATakenOneMakesItReadyAgain)
{
    KvQueueModel model = ThreeRows();
    std::vector<int> changed;
    model.SetListener([&changed](int row) { changed.push_back(row); });
    EXPECT_EQ(model.CellText(kColDuration, 0), "60.03");
    EXPECT_EQ(model.CellText(kColEnd, 0), "60.03");
    EXPECT_EQ(model.CellText(kColStart, 0), "0.00");
    EXPECT_EQ(model.CellText(kColVolume, 0), "1.00");

    model.SetState(0, KvRowState::Failed);
    model.SetReason(0, "The disk is full.");
    EXPECT_EQ(model.CellText(kColState, 0), "Failed");
    // Refused: a comma, past the length, End before Start. Nothing of the row changes.
    EXPECT_TRUE(model.Edit(kColStart, 0, "1,5").contains("write it with a dot, as 1.5"));
    EXPECT_FALSE(model.Edit(kColEnd, 0, "61").isEmpty());
    EXPECT_EQ(model.At(0).state, KvRowState::Failed);
    EXPECT_EQ(model.At(0).reason, "The disk is full.");

    // Taken: shown as written, carried as a number, the row back to Ready.
    changed.clear();
    EXPECT_EQ(model.Edit(kColStart, 0, " 1.5 "), QString());
    EXPECT_EQ(model.CellText(kColStart, 0), "1.5");
    EXPECT_EQ(model.At(0).start, 1.5);
    EXPECT_EQ(model.At(0).state, KvRowState::Ready);
    EXPECT_TRUE(model.At(0).reason.isEmpty());
    EXPECT_EQ(changed, std::vector<int>{0});
    EXPECT_FALSE(model.Edit(kColEnd, 0, "1.5").isEmpty()) << "End must stay after the new Start";
    EXPECT_FALSE(model.Edit(kColDuration, 0, "5").isEmpty()) << "the length is the file's, not the user's";

    model.SetState(0, KvRowState::Running, 42.5);
    EXPECT_EQ(model.CellText(kColState, 0), "42.500%");
    model.SetState(0, KvRowState::FinishedShort);
    EXPECT_EQ(model.CellText(kColState, 0), "Finish \u26A0");
}

TEST(QueueModel, RowsMoveWithTheirValuesAndJobsAreBuiltFromThem)
{
    KvQueueModel model = ThreeRows();
    ASSERT_EQ(model.Edit(kColSpeed, 2, "1.25"), QString());
    EXPECT_TRUE(model.ChooseTrack(2, "2: deu, AC-3 5.1"));
    EXPECT_FALSE(model.ChooseTrack(2, "3: fra")) << "a track the file does not have";
    const qint64 serial = model.Serial(2);

    EXPECT_FALSE(model.MoveDown(2));
    EXPECT_TRUE(model.MoveUp(2));
    EXPECT_TRUE(model.MoveUp(1));
    EXPECT_FALSE(model.MoveUp(0));
    EXPECT_EQ(model.FindSerial(serial), 0);
    const tagKvJobRow job = model.At(0).JobRow();
    EXPECT_EQ(job.file, L"/v/c.mkv");
    EXPECT_EQ(job.speed, 1.25);
    EXPECT_EQ(job.audioStream, 2);
    EXPECT_EQ(model.CellText(kColSpeed, 0), "1.25");
    EXPECT_EQ(model.CellText(kColTrack, 0), "2: deu, AC-3 5.1");
    // The first track is never named, so jobs of files nobody chose for stay as they were.
    ASSERT_TRUE(model.ChooseTrack(0, "1: eng, AAC stereo"));
    EXPECT_EQ(model.At(0).JobRow().audioStream, -1);
    EXPECT_EQ(model.At(1).JobRow().duration, 60.03) << "the length the user sees";

    EXPECT_TRUE(model.Remove(1));
    EXPECT_FALSE(model.Remove(5));
    EXPECT_EQ(model.Count(), 2);
    EXPECT_EQ(model.At(1).source, "/m/b.flac");
}

TEST(QueueModel, AMeasuredLengthMovesAnEndAtTheOldLengthOrPastTheNewOne)
{
    KvQueueModel model = ThreeRows();
    ASSERT_EQ(model.Edit(kColEnd, 0, "30"), QString());
    model.SetMeasuredLength(1, 6.214); // row 1's End was at its declared 20 s
    model.SetMeasuredLength(0, 45.0);  // row 0's End, 30 s, lies within the new length
    EXPECT_EQ(model.CellText(kColDuration, 1), "6.21");
    EXPECT_EQ(model.At(1).end, 6.21);
    EXPECT_EQ(model.CellText(kColEnd, 1), "6.21");
    EXPECT_EQ(model.CellText(kColEnd, 0), "30");
    model.SetMeasuredLength(0, 12.0); // now it lies past it
    EXPECT_EQ(model.CellText(kColEnd, 0), "12.00");
    model.SetMeasuredLength(0, -1.0);
    EXPECT_EQ(model.At(0).Length(), 12.0) << "no length is no measurement";

    model.SetState(1, KvRowState::Finished);
    model.SetReason(1, "tip");
    model.ResetAllToReady();
    EXPECT_EQ(model.At(1).state, KvRowState::Ready);
    EXPECT_TRUE(model.At(1).reason.isEmpty());
}
