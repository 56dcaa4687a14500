// What the queue decides without a window: whether a target folder can take the
// outputs, how big an output will be, and how failed rows are summed up.

#include "MediaTestSupport.h"

#include "common/KvAudioFormats.h"
#include "common/KvOptionRecord.h"
#include "common/KvWmProfile.h"
#include "frontend/KvQueueReport.h"
#include "frontend/KvTargetFolder.h"
#include "support/TempFolder.h"

#include <QDir>

#include <cerrno>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

TEST(TargetFolder, RefusesWhatCannotTakeAnOutputAndSaysWhy)
{
    TempFolder folder;
    const QString dir = QString::fromStdString(folder.Path());
    WriteFileBytes(folder.Path() + "file", "x");
    struct Case
    {
        QString folder;
        qint64 needed;
        qint64 free; // -1: ask the disk
        const char* says; // nullptr: accepted
    };
    const Case cases[] = {
        {dir, 1000, -1, nullptr},
        {dir, 5000, 5000, nullptr},
        {dir, 5001, 5000, "has 5 KB free, but a converted file needs about 5 KB"},
        {dir, 3 * 1024 * 1024, 0, "has 0 KB free, but a converted file needs about 3.0 MB"},
        {dir + "missing", 1, -1, "does not exist"},
        {dir + "file", 1, -1, "is not a folder"},
        {QStringLiteral("/proc"), 1, -1, "cannot be written (it takes no new files)"},
    };
    for (const Case& c : cases) {
        const QString problem = CheckTargetFolder(c.folder, c.needed, c.free);
        if (!c.says)
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.says))) << problem.toStdString();
    }
    // The check leaves nothing behind in the folder.
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"file"});
}

TEST(TargetFolder, EstimatesAnOutputFromItsLengthAndTheBitRateThatWillBeWritten)
{
    tagKvOptionRecord record = MakeFrontEndPresetTable()[kKvDefaultPreset];
    record.nOutputType = kKvOutputMp3;
    record.nSampleRate = 8000;
    record.nAudioBitrate = 640; // written as 64 kbit/s at 8000 Hz
    EXPECT_EQ(OutputBitrate(record), 64000);
    EXPECT_EQ(EstimateOutputBytes(100.0, record), 800000 + 64 * 1024);
    EXPECT_EQ(EstimateOutputBytes(0.0, record), 0);

    record.nOutputType = kKvOutputWma;
    record.nWmaCodec = 0;
    record.nWmaFormat = 0;
    WmAudioFormat format;
    ASSERT_TRUE(ResolveWmAudioFormat(0, 0, format));
    EXPECT_EQ(OutputBitrate(record), format.nBitrate);
    record.nWmaCodec = 9; // no such codec: nothing to estimate
    EXPECT_EQ(OutputBitrate(record), 0);

    // The other formats by what they are, not by the MP3 bit rate the record still holds.
    record.nOutputType = kKvOutputWav;
    record.nSampleRate = kKvRateOfSource;
    record.nChannels = kKvChannelsOfSource;
    record.nAudioQuality = 0;
    EXPECT_EQ(OutputBitrate(record), 44100 * 2 * 16);
    record.nOutputType = kKvOutputOpus;
    record.nAudioBitrate = 96;
    EXPECT_EQ(OutputBitrate(record), 96000);
    record.nOutputType = kKvOutputOriginal;
    EXPECT_EQ(OutputBitrate(record), 0);
}

TEST(QueueReport, FailureCodesAndASummaryGroupedByReason)
{
    // The engine's code, never its words: a system error number is sorted the same
    // whatever language the system speaks, and codes an older or newer engine writes
    // still read as a failure.
    EXPECT_EQ(EngineFailureReason(FailureOfOutputError(-ENOSPC)), FailureReason(KvFailure::DiskFull));
    EXPECT_EQ(EngineFailureReason(FailureOfOutputError(EDQUOT)), FailureReason(KvFailure::DiskFull));
    EXPECT_EQ(EngineFailureReason(FailureOfOutputError(-EROFS)), FailureReason(KvFailure::FolderNotWritable));
    EXPECT_EQ(EngineFailureReason(FailureOfOutputError(-EIO)), FailureReason(KvFailure::ConversionFailed));
    EXPECT_EQ(EngineFailureReason(JobFailureFromCode(4)), FailureReason(KvFailure::NotDecodable));
    EXPECT_EQ(EngineFailureReason(JobFailureFromCode(0)), FailureReason(KvFailure::ConversionFailed));
    EXPECT_EQ(EngineFailureReason(JobFailureFromCode(77)), FailureReason(KvFailure::ConversionFailed));

    EXPECT_EQ(FailureSummary({}), QString());
    EXPECT_EQ(FailureSummary({{"/a/one.mp4", FailureReason(KvFailure::EngineStopped)}}),
              "One file could not be converted.\n\nThe conversion program stopped before it finished:\none.mp4"
              "\n\nPoint at a failed row in the list to see more.");
    const QString grouped = FailureSummary({{"/a/one.mp4", "reason a"},
                                            {"/b/two.mkv", "reason b"},
                                            {"/c/three.wav", "reason a"}});
    EXPECT_TRUE(grouped.startsWith("3 files could not be converted.\n\nReason a:\none.mp4\nthree.wav\n\nReason b:\ntwo.mkv"))
        << grouped.toStdString();

    // Rows converted only in part are no failures, but are listed under their own heading.
    const KvQueueShort shortened{0, "/d/cut.mp4", ShortOutputReason(6.214, 60.034), 6.214};
    EXPECT_EQ(shortened.reason, "the source ends at 6.21 s; its header says 60.03 s");
    EXPECT_EQ(FailureSummary({}, {shortened}),
              "One file was converted only in part.\n\nConverted only in part (the source ends before its header "
              "says):\ncut.mp4\n\nPoint at its row in the list to see more.");
    const QString both = FailureSummary({{"/a/one.mp4", "reason a"}}, {shortened});
    EXPECT_TRUE(both.startsWith("One file could not be converted.\n\nReason a:\none.mp4\n\nConverted only in part"))
        << both.toStdString();
}
